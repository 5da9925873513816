// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/graphics.h>
#include <graphics/matrix4.h>
#include <graphics/vec2.h>
#include <obs.h>

#include <cstdint>

#include "render/capture_region.h"

struct DrawSnapshot;
struct FinalPassParams;
struct TexturePool;

// Everything the capture hands to the blur / mosaic passes.
struct ChainInput {
	const DrawSnapshot *snapshot = nullptr;
	uint32_t canvas_width = 0; // W
	uint32_t canvas_height = 0; // H
	uint32_t board_width = 0; // bw
	uint32_t board_height = 0; // bh
	obs_sceneitem_crop crop{}; // the board item's crop
	matrix4 board_to_canvas{}; // M
	float bx0 = 0, by0 = 0, bx1 = 0, by1 = 0; // the board's bounding box on the canvas
	bool mosaic = false; // mosaic mode or emergency
	bool emergency = false;
	// The board has no known item on this canvas (shared, or a private
	// copy): its cover replaces the world matrix instead of undoing it.
	bool cover_replaces_world = false;
	int levels = 0; // L, 0 to 6
	float sigma = 0.0f; // blur, canvas pixels
	float cell = 0.0f; // mosaic cell edge, canvas pixels
	CaptureRegion region{};
	gs_color_format chain_format = GS_RGBA;
	gs_color_space space = GS_CS_SRGB;
	TexturePool *pool = nullptr; // slot 0 holds the capture
	// Copy: the render target itself, read in place of a capture (a copy
	// would wait for everything drawn so far; a pass reading it does not).
	gs_texture_t *target = nullptr;
};

// Halvings, then blur or mosaic reduction; fills params for the final
// composite. False when a pass could not run (nothing is drawn then).
// On a copy the first pass that reads the target stands in for the capture;
// when its texture cannot be made or begun, *first_texture_failed is set.
bool run_chain(const ChainInput &input, FinalPassParams &params, bool *first_texture_failed = nullptr);

// The pure arithmetic of the chain, shared with the tests.

// Clamp box for reading an a x b texture that covers the whole region,
// inset by half a texel so that bilinear reads stay inside the canvas.
struct UvBox {
	vec2 min{}, max{};
};
UvBox region_uv_clamp(const CaptureRegion &region, uint32_t a, uint32_t b);

// The Gaussian's sigma in texels of the smallest level.
float level_sigma(float sigma, int levels);

// Mosaic cells over the bounding box, anchored at the canvas origin.
struct MosaicGrid {
	int32_t gx = 0, gy = 0; // first cell
	int32_t nx = 1, ny = 1; // cells across and down
};
MosaicGrid mosaic_grid(float bx0, float by0, float bx1, float by1, float cell);

// One blur pass's point reads: the centre and `count` texels on either
// side, enough to reach 3.5 sigma and at most 12 (where the Gaussian of 4
// texels ends), weights normalized to sum to one. Ending at 3 sigma would
// change dark edges by up to 3 levels of 8 bits.
struct BlurTaps {
	int count = 1;
	float center = 1.0f;
	float weight[12] = {};
};
BlurTaps blur_taps(float sigma_l);

// Where a blur of sigma_l texels of level `levels` runs. From 2.5 texels on
// it runs one level down: a filtered halving (its two taps per side read
// together at `halve_offset` texels) and a Gaussian of `sigma` texels of
// the smaller level, which with the halving and the bilinear read back up
// adds up to sigma_l. Below that, the picture would change by more than
// two levels, so it blurs in place.
struct BlurPlan {
	bool halve = false;
	int level = 0; // the level the Gaussian runs on
	float halve_offset = 0.0f;
	float sigma = 0.0f; // in texels of that level
};
BlurPlan plan_blur(float sigma_l, int levels);

// A rectangle of texels [x0, x1) x [y0, y1).
struct TexelRect {
	int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// A texture laid over the canvas: its texel (0, 0) starts at canvas
// position (ox, oy) and each texel is `texel` canvas pixels wide.
struct LevelGeometry {
	float ox = 0, oy = 0, texel = 1;
	uint32_t width = 0, height = 0;
};

// The texels of a level that cover the canvas box [x0, x1) x [y0, y1),
// grown by pad texels and kept inside the level.
TexelRect texels_over(const LevelGeometry &level, float x0, float y0, float x1, float y1, int pad);

// Size of the mosaic texture for an nx x ny grid, given the texture it has
// (or null): kept while the grid fits and fills a quarter of it, so a
// fading or moving board does not resize it every frame.
void mosaic_texture_size(gs_texture_t *texture, uint32_t nx, uint32_t ny, uint32_t &width, uint32_t &height);

// Point reads while a cell spans at most 4 texels of the smallest level.
bool reduce_with_points(float cell, int levels);

// The emergency cover's quad over the whole canvas, drawn under the inverse
// of the board's matrix, or in place of the world matrix when the board has
// none or replaces_world is set.
void place_canvas_cover(uint32_t canvas_width, uint32_t canvas_height, const matrix4 &board_to_canvas,
			bool replaces_world, FinalPassParams &params);

// Places the result on the board's quad (or, for the emergency cover, on
// the whole canvas) and fills the shape inputs; image and orig are left to
// the caller.
bool place_composite(const ChainInput &input, FinalPassParams &params);
