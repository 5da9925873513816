#pragma once

struct BlurBoard;

// The board's video_render entry.
void board_draw(BlurBoard *board);
