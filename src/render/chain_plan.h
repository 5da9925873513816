// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The pure arithmetic of the blur and mosaic chain: which level each pass
// draws, which of its texels, and with which filter. No GPU is touched here,
// so the tests can check every plan.

#include <graphics/vec2.h>

#include <cstdint>

#include "render/capture_region.h"

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
	const char *halve_technique = "Halve";
	float sigma = 0.0f; // in texels of that level
};
BlurPlan plan_blur(float sigma_l, int levels);

// The halvings in front of the mosaic's low-pass, which let almost none of
// the finest detail fold back into the smaller level (where a 2 x 2 mean
// lets through what moving text needs to be read back): binomial filters,
// [1 3 3 1] / 8 ("Halve", 4 reads) from the capture and
// [1 7 21 35 35 21 7 1] / 128 ("Halve8", 16 reads) below it, read in
// bilinear pairs at `offset` (and three times it) texels of the level halved.
struct Halving {
	const char *technique;
	float offset;
	float variance; // texels of the level halved, squared
};
Halving low_pass_halving(int to_level);

// The mosaic's Gaussian of sigma canvas pixels after `levels` such
// halvings: at level `levels`, or one further down from 2.5 texels on.
BlurPlan plan_low_pass(float sigma, int levels);

// A rectangle of texels [x0, x1) x [y0, y1).
struct TexelRect {
	int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
	bool empty() const { return x1 <= x0 || y1 <= y0; }
};

// A texture laid over the canvas: its texel (0, 0) starts at canvas
// position (ox, oy) and each texel is `texel` canvas pixels wide.
struct LevelGeometry {
	float ox = 0, oy = 0, texel = 1;
	uint32_t width = 0, height = 0;
};

// Level i of the region: the capture halved i times.
LevelGeometry level_geometry(const CaptureRegion &region, int i);

// The texels of a level that cover the canvas box [x0, x1) x [y0, y1),
// grown by pad texels and kept inside the level.
TexelRect texels_over(const LevelGeometry &level, float x0, float y0, float x1, float y1, int pad);

// Point reads while a cell spans at most 4 texels of the level read.
bool reduce_with_points(float cell, int levels);

// What the chain is given to plan from.
struct PlanInput {
	CaptureRegion region{};
	int levels = 0; // halvings, 0 to 6
	float sigma = 0.0f; // the Gaussian (blur, or the mosaic's low-pass), canvas pixels
	float cell = 0.0f; // mosaic cell edge, canvas pixels
	bool mosaic = false; // mosaic mode or emergency
	float bx0 = 0, by0 = 0, bx1 = 0, by1 = 0; // the board's bounding box on the canvas
	bool copy = false; // level 0 is the render target, read in place
	bool shaped = false; // the composite mixes the untouched capture back in
};

// The separable Gaussian: an optional filtered halving, then across and
// down at the level of `blur`.
struct GaussianPlan {
	bool run = false;
	BlurPlan blur;
	BlurTaps taps;
	// Point taps ("Blur1".."Blur12"), unless the canvas edge cuts the last
	// texel of the blur's level ("Blur", bilinear).
	bool point_taps = true;
	TexelRect halved; // texels of the filtered halving
	TexelRect across; // texels of the first pass
	TexelRect down; // texels of the second pass: what the next step reads
};

struct ChainPlan {
	int levels = 0;
	TexelRect halving[7]{}; // [i]: the texels drawn at level i, 1 to levels
	bool low_pass_halvings = false; // low_pass_halving's rather than 2 x 2 means ("Down")
	// A copy keeps the untouched picture for the shaped composite in slot 0.
	bool keep_capture = false;
	TexelRect capture{};
	GaussianPlan gauss;
	// A blur one level down goes back up to level `levels` for the composite.
	bool back_up = false;
	TexelRect shown{};
	bool mosaic = false;
	MosaicGrid grid;
	bool reduce_points = false;
	int result_level = 0; // the level the composite (blur) or the reduction (mosaic) reads
};
ChainPlan plan_chain(const PlanInput &in);

// The technique of the Gaussian's two passes.
const char *gaussian_technique(const GaussianPlan &gauss);
