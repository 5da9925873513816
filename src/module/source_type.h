// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Registers the blur board source type with the host.
void register_board_source();
