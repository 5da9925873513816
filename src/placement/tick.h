// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

struct BlurBoard;

// The board's video_tick: placement status, fade, shared warning, profiling.
void board_tick(BlurBoard *board, float seconds);
