// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

struct BlurBoard;

// "BlurBoard.Toggle" and "BlurBoard.Emergency"; ids kept in the board.
void register_board_hotkeys(BlurBoard *board);
void unregister_board_hotkeys(BlurBoard *board);

// Writes one setting back through the host, which merges it into the stored
// settings and runs the board's update with the whole object.
void set_bool_setting(BlurBoard *board, const char *key, bool value);
