// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Registers the "MistPane: Hide" filter with the host.
void register_hide_filter();
