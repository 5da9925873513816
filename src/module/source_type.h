// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

inline constexpr const char *kBoardTypeId = "korvanta_blur_board";

// Registers the blur board source type with the host.
void register_board_source();
