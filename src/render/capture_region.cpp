// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/capture_region.h"

#include <algorithm>
#include <cmath>

namespace {

// Small text (11-pixel letters) moving under the cells gives its strokes
// back over the frames unless the low-pass is at least this wide.
constexpr float kLowPassFloor = 6.0f;

// floor(log2(x)) limited to the six halvings the pool holds.
int level_count(float x)
{
	const float l = floorf(log2f(x));
	if (!(l > 0.0f))
		return 0;
	return l > 6.0f ? 6 : (int)l;
}

} // namespace

float mosaic_low_pass_sigma(float cell)
{
	const float grown = cell - 1.0f;
	if (!(grown > 0.0f))
		return 0.0f;
	return std::min(grown, std::max(kLowPassFloor, grown * 0.5f));
}

Reach mosaic_reach(float bx0, float by0, float bx1, float by1, bool emergency, float mosaic_size, float emergency_size,
		   float level, uint32_t canvas_width, uint32_t canvas_height)
{
	Reach reach;
	if (emergency) {
		const float shorter = (float)std::min(canvas_width, canvas_height);
		reach.cell = std::max(shorter * emergency_size / 100.0f, 2.0f);
	} else {
		// Cells grow from one pixel to the full size with the square of
		// the level, so a fade starts from the untouched picture.
		reach.cell = mosaic_cell_at(mosaic_size, level);
	}
	if (!(reach.cell >= 1.0f))
		reach.cell = 1.0f;
	// The low-pass runs where its sigma is 2 to 4 texels, as the blur's;
	// the cells are read from a level where they span 4 to 8 texels.
	reach.sigma = mosaic_low_pass_sigma(reach.cell);
	reach.levels = std::max(level_count(reach.cell * 0.25f), level_count(reach.sigma * 0.5f));
	const float c = reach.cell;
	// The low-pass reads 3.5 sigma beyond the cells, plus what its halvings
	// (four texels of each level beyond their own) pull in.
	const float margin = reach.sigma > 0.0f ? ceilf(3.5f * reach.sigma) + (float)(8 << reach.levels) : 0.0f;
	reach.rx0 = floorf(bx0 / c) * c - margin;
	reach.ry0 = floorf(by0 / c) * c - margin;
	reach.rx1 = ceilf(bx1 / c) * c + margin;
	reach.ry1 = ceilf(by1 / c) * c + margin;
	reach.ok = true;
	return reach;
}

Reach blur_reach(float bx0, float by0, float bx1, float by1, float blur_radius, float level)
{
	Reach reach;
	reach.sigma = blur_radius_at(blur_radius, level) * 0.5f;
	if (!(reach.sigma >= 0.05f))
		return reach;
	reach.levels = level_count(reach.sigma * 0.5f);
	// Three sigmas of the Gaussian plus one texel of the smallest level,
	// which the bilinear halvings pull in.
	const float margin = ceilf(3.0f * reach.sigma) + (float)(1 << reach.levels);
	reach.rx0 = bx0 - margin;
	reach.ry0 = by0 - margin;
	reach.rx1 = bx1 + margin;
	reach.ry1 = by1 + margin;
	reach.ok = true;
	return reach;
}

bool snap_capture_region(const Reach &reach, float bx0, float by0, float bx1, float by1, uint32_t canvas_width,
			 uint32_t canvas_height, CaptureRegion &region)
{
	if (!reach.ok)
		return false;
	// A degenerate transform can leave infinities or NaN in the box.
	for (float v : {bx0, by0, bx1, by1, reach.rx0, reach.ry0, reach.rx1, reach.ry1})
		if (!std::isfinite(v))
			return false;
	const float w = (float)canvas_width, h = (float)canvas_height;
	const float rx0 = std::max(0.0f, reach.rx0), ry0 = std::max(0.0f, reach.ry0);
	const float rx1 = std::min(w, reach.rx1), ry1 = std::min(h, reach.ry1);
	if (!(rx1 > rx0) || !(ry1 > ry0))
		return false;
	if (!(std::min(w, bx1) > std::max(0.0f, bx0)) || !(std::min(h, by1) > std::max(0.0f, by0)))
		return false;

	const int32_t x0 = (int32_t)floorf(rx0 * 0.015625f) * 64;
	const int32_t y0 = (int32_t)floorf(ry0 * 0.015625f) * 64;
	const int32_t x1 = (int32_t)ceilf(rx1 * 0.015625f) * 64;
	const int32_t y1 = (int32_t)ceilf(ry1 * 0.015625f) * 64;
	region.x0 = x0;
	region.y0 = y0;
	region.width = x1 - x0;
	region.height = y1 - y0;
	region.valid_x0 = std::max(0.0f, (float)x0);
	region.valid_y0 = std::max(0.0f, (float)y0);
	region.valid_x1 = std::min(w, (float)x1);
	region.valid_y1 = std::min(h, (float)y1);
	return true;
}
