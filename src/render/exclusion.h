// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/graphics.h>

#include <cstdint>

// A stencil buffer the size of the render target, for drawing a source
// everywhere but one rectangle of it: the source keeps the host's own
// draw (its blending, its alpha) outside the rectangle, and nothing of it
// reaches the inside. Left all zero after every use.
struct ExclusionStencil {
	gs_zstencil_t *buffer = nullptr;
	uint32_t width = 0, height = 0;
	bool cleared = false;
};

// Inside the graphics context.
void destroy_exclusion(ExclusionStencil &stencil);

// Calls draw(data) with the rectangle (x, y, w, h), in the coordinates of
// the current transform, kept out of it. False, having drawn nothing, when
// the current target cannot take a stencil (a window's own surface).
bool draw_excluding(ExclusionStencil &stencil, float x, float y, float w, float h, void (*draw)(void *), void *data);
