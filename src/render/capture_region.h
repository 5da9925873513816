// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

#include "board/strength.h"

// The 64-pixel-aligned canvas rectangle captured in a frame.
struct CaptureRegion {
	int32_t x0 = 0, y0 = 0; // multiples of 64, never negative
	int32_t width = 0, height = 0; // multiples of 64, at least 64
	float valid_x0 = 0, valid_y0 = 0, valid_x1 = 0, valid_y1 = 0; // the part inside the canvas
};

// How far the passes reach and what they capture, from the board's bounding
// box on the canvas. Pure arithmetic, shared by the capture and the tests.
struct Reach {
	bool ok = false; // false: nothing to draw this frame
	int levels = 0; // halvings before the passes, 0 to 6
	float sigma = 0.0f; // the blur, or the mosaic's low-pass
	float cell = 0.0f;
	float rx0 = 0, ry0 = 0, rx1 = 0, ry1 = 0; // region before clamping
};

// The Gaussian low-pass in front of the mosaic's cells, canvas pixels: half
// the cell, at least 6, and none for a 1-pixel cell (a fade starts from
// the untouched picture). A cell that is the plain mean of the pixels under
// it aliases fine detail differently at every offset of the grid, so
// content moving beneath gives that detail back across frames.
float mosaic_low_pass_sigma(float cell);

// Mosaic: cell from mosaic_size and level, or from the canvas with the
// emergency cover. Blur: sigma from the radius and level; not ok below 0.05.
Reach mosaic_reach(float bx0, float by0, float bx1, float by1, bool emergency, float mosaic_size, float emergency_size,
		   float level, uint32_t canvas_width, uint32_t canvas_height);
Reach blur_reach(float bx0, float by0, float bx1, float by1, float blur_radius, float level);

// Clamps the reach to the canvas and snaps it outward to 64 pixels. False
// when the region or the bounding box has no part inside the canvas.
bool snap_capture_region(const Reach &reach, float bx0, float by0, float bx1, float by1, uint32_t canvas_width,
			 uint32_t canvas_height, CaptureRegion &region);
