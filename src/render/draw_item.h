#pragma once

#include <graphics/graphics.h>

#include <cstdint>

struct BlurBoard;
struct BeneathItem;

struct DrawTechnique {
	const char *name;
	float multiplier;
};

// The host's draw technique and multiplier between two colour spaces.
DrawTechnique select_draw_technique(gs_color_space target_space, gs_color_space source_space, bool upscale);

// Draws one item beneath into the current render target, under the current
// projection, directly or through one of the board's scratch renders.
void draw_beneath_item(BlurBoard *board, const BeneathItem &record);
