// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/chain_plan.h"

#include <algorithm>
#include <cmath>

UvBox region_uv_clamp(const CaptureRegion &region, uint32_t a, uint32_t b)
{
	const float w = (float)region.width, h = (float)region.height;
	UvBox box;
	vec2_set(&box.min, (region.valid_x0 - (float)region.x0) / w + 0.5f / (float)a,
		 (region.valid_y0 - (float)region.y0) / h + 0.5f / (float)b);
	vec2_set(&box.max, (region.valid_x1 - (float)region.x0) / w - 0.5f / (float)a,
		 (region.valid_y1 - (float)region.y0) / h - 0.5f / (float)b);
	return box;
}

float level_sigma(float sigma, int levels)
{
	const float s = sigma / (float)(1 << levels);
	return std::min(std::max(s, 0.05f), 4.0f);
}

MosaicGrid mosaic_grid(float bx0, float by0, float bx1, float by1, float cell)
{
	MosaicGrid grid;
	grid.gx = (int32_t)floorf(bx0 / cell);
	grid.gy = (int32_t)floorf(by0 / cell);
	grid.nx = std::max((int32_t)ceilf(bx1 / cell) - grid.gx, 1);
	grid.ny = std::max((int32_t)ceilf(by1 / cell) - grid.gy, 1);
	return grid;
}

bool reduce_with_points(float cell, int levels)
{
	return cell / (float)(1 << levels) <= 4.0f;
}

BlurTaps blur_taps(float sigma_l)
{
	BlurTaps taps;
	taps.count = std::min(std::max((int)ceilf(3.5f * sigma_l), 1), 12);
	const double k = -0.5 / ((double)sigma_l * sigma_l);
	double total = 1.0;
	for (int i = 0; i < taps.count; ++i) {
		const double o = i + 1.0;
		taps.weight[i] = (float)exp(o * o * k);
		total += 2.0 * taps.weight[i];
	}
	taps.center = (float)(1.0 / total);
	for (int i = 0; i < taps.count; ++i)
		taps.weight[i] = (float)(taps.weight[i] / total);
	return taps;
}

BlurPlan plan_blur(float sigma_l, int levels)
{
	// Measured over a detailed picture against the blur in place: from 2.5
	// texels on, at most two levels of 8 bits apart; at 2 texels, six.
	constexpr float kHalveFrom = 2.5f;
	constexpr double kHalveSigma = 0.9;
	BlurPlan plan;
	plan.level = levels;
	plan.sigma = sigma_l;
	if (sigma_l < kHalveFrom || levels >= 6)
		return plan;
	// Taps at 0.5 and 1.5 texels on each side of the new texel's centre.
	const double near = exp(-0.125 / (kHalveSigma * kHalveSigma));
	const double far = exp(-1.125 / (kHalveSigma * kHalveSigma));
	const double a = 0.5 * far / (near + far), b = 0.5 - a;
	const double halve_variance = 2.0 * (b * 0.25 + a * 2.25);
	// Reading a texture of half the resolution bilinearly at the texels of
	// this level spreads by 3/4 texel squared.
	const double rest = (double)sigma_l * sigma_l - halve_variance - 0.75;
	plan.halve = true;
	plan.level = levels + 1;
	plan.halve_offset = (float)(0.5 + 2.0 * a);
	plan.sigma = (float)(0.5 * sqrt(std::max(rest, 0.01)));
	return plan;
}

Halving low_pass_halving(int to_level)
{
	if (to_level <= 1)
		return {"Halve", 0.75f, 0.75f};
	return {"Halve8", 0.875f, 1.75f};
}

BlurPlan plan_low_pass(float sigma, int levels)
{
	// What the halvings have already spread, in canvas pixels squared.
	double spread = 0.0;
	for (int i = 1; i <= levels; ++i)
		spread += (double)low_pass_halving(i).variance * (double)(1 << (2 * (i - 1)));
	const double texel = (double)(1 << levels);
	const double rest = std::max((double)sigma * sigma - spread, 0.0025) / (texel * texel);
	BlurPlan plan;
	plan.level = levels;
	plan.sigma = (float)std::min(sqrt(rest), 4.0);
	// From 2.5 texels on, one level down behind another such halving.
	if (plan.sigma < 2.5f || levels >= 6)
		return plan;
	const Halving halving = low_pass_halving(levels + 1);
	plan.halve = true;
	plan.level = levels + 1;
	plan.halve_offset = halving.offset;
	plan.halve_technique = halving.technique;
	// The cells then read that level bilinearly, which spreads by 1/6
	// texel squared.
	plan.sigma = (float)sqrt(std::max((rest - (double)halving.variance) * 0.25 - 1.0 / 6.0, 0.0025));
	return plan;
}

TexelRect texels_over(const LevelGeometry &level, float x0, float y0, float x1, float y1, int pad)
{
	auto lo = [&](float v, float o, uint32_t n) {
		const float t = floorf((v - o) / level.texel) - (float)pad;
		return (int32_t)std::min(std::max(t, 0.0f), (float)n);
	};
	auto hi = [&](float v, float o, uint32_t n) {
		const float t = ceilf((v - o) / level.texel) + (float)pad;
		return (int32_t)std::min(std::max(t, 0.0f), (float)n);
	};
	TexelRect rect;
	rect.x0 = lo(x0, level.ox, level.width);
	rect.y0 = lo(y0, level.oy, level.height);
	rect.x1 = hi(x1, level.ox, level.width);
	rect.y1 = hi(y1, level.oy, level.height);
	return rect;
}

LevelGeometry level_geometry(const CaptureRegion &region, int i)
{
	LevelGeometry g;
	g.ox = (float)region.x0;
	g.oy = (float)region.y0;
	g.texel = (float)(1 << i);
	g.width = (uint32_t)region.width >> i;
	g.height = (uint32_t)region.height >> i;
	return g;
}

const char *gaussian_technique(const GaussianPlan &gauss)
{
	static const char *const techniques[] = {"Blur1", "Blur2", "Blur3", "Blur4",  "Blur5",  "Blur6",
						 "Blur7", "Blur8", "Blur9", "Blur10", "Blur11", "Blur12"};
	return gauss.point_taps ? techniques[gauss.taps.count - 1] : "Blur";
}

namespace {

TexelRect grow(TexelRect r, int dx, int dy, const LevelGeometry &level)
{
	r.x0 = std::max(r.x0 - dx, 0);
	r.y0 = std::max(r.y0 - dy, 0);
	r.x1 = std::min(r.x1 + dx, (int32_t)level.width);
	r.y1 = std::min(r.y1 + dy, (int32_t)level.height);
	return r;
}

// A rectangle of one level as texels of another, grown by pad.
TexelRect to_level(const TexelRect &r, const LevelGeometry &from, const LevelGeometry &to, int pad)
{
	return texels_over(to, from.ox + (float)r.x0 * from.texel, from.oy + (float)r.y0 * from.texel,
			   from.ox + (float)r.x1 * from.texel, from.oy + (float)r.y1 * from.texel, pad);
}

// Where the canvas edge cuts the last texel of the blur's level, reads
// clamped to the edge weigh that texel bilinearly; a point read would take
// it whole.
bool canvas_on_texel_grid(const CaptureRegion &region, const LevelGeometry &level)
{
	auto on_grid = [&](float edge, float origin) {
		const float t = (edge - origin) / level.texel;
		return t == floorf(t);
	};
	return on_grid(region.valid_x0, level.ox) && on_grid(region.valid_x1, level.ox) &&
	       on_grid(region.valid_y0, level.oy) && on_grid(region.valid_y1, level.oy);
}

// The Gaussian that must leave `out` (texels of its own level) filled,
// worked back to the texels of level `levels` that it reads.
GaussianPlan plan_gaussian(const PlanInput &in, const BlurPlan &blur, const TexelRect &out, TexelRect &reads)
{
	GaussianPlan gauss;
	gauss.run = true;
	gauss.blur = blur;
	gauss.taps = blur_taps(blur.sigma);
	const LevelGeometry level = level_geometry(in.region, blur.level);
	gauss.point_taps = canvas_on_texel_grid(in.region, level);
	gauss.down = out;
	gauss.across = grow(out, 0, gauss.taps.count, level);
	const TexelRect first = grow(gauss.across, gauss.taps.count, 0, level);
	if (blur.halve) {
		gauss.halved = first;
		reads = to_level(first, level, level_geometry(in.region, in.levels), 4);
	} else {
		reads = first;
	}
	return gauss;
}

// Below a quarter pixel the low-pass would leave every texel as it is.
constexpr float kLowPassFrom = 0.25f;

// Blur: the composite reads level L (or, for a blur one level down from
// the capture, that smaller level) over the board's bounding box.
TexelRect plan_blur_steps(const PlanInput &in, ChainPlan &plan)
{
	const int L = in.levels;
	const LevelGeometry last = level_geometry(in.region, L);
	const BlurPlan blur = plan_blur(level_sigma(in.sigma, L), L);
	const LevelGeometry level = level_geometry(in.region, blur.level);
	plan.shown = texels_over(last, in.bx0, in.by0, in.bx1, in.by1, 1);
	const TexelRect out = !blur.halve ? plan.shown
			      : L > 0     ? to_level(plan.shown, last, level, 1)
					  : texels_over(level, in.bx0, in.by0, in.bx1, in.by1, 1);
	TexelRect reads;
	plan.gauss = plan_gaussian(in, blur, out, reads);
	plan.back_up = blur.halve && L > 0;
	plan.result_level = plan.back_up ? L : blur.level;
	return reads;
}

// Mosaic: the reduction reads the whole cells, from the low-passed level
// when there is a low-pass, else from level L itself.
TexelRect plan_mosaic_steps(const PlanInput &in, ChainPlan &plan)
{
	const int L = in.levels;
	// Cells beyond the canvas are never seen: the grid covers only the
	// board's part inside it, which also bounds its texture's size.
	const CaptureRegion &r = in.region;
	plan.mosaic = true;
	plan.grid = mosaic_grid(std::max(in.bx0, r.valid_x0), std::max(in.by0, r.valid_y0),
				std::min(in.bx1, r.valid_x1), std::min(in.by1, r.valid_y1), in.cell);
	const float c = in.cell;
	const float x0 = (float)plan.grid.gx * c, y0 = (float)plan.grid.gy * c;
	const float x1 = (float)(plan.grid.gx + plan.grid.nx) * c, y1 = (float)(plan.grid.gy + plan.grid.ny) * c;
	plan.result_level = L;
	plan.reduce_points = reduce_with_points(c, L);
	if (!(in.sigma >= kLowPassFrom))
		return texels_over(level_geometry(r, L), x0, y0, x1, y1, 1);

	const BlurPlan blur = plan_low_pass(in.sigma, L);
	plan.result_level = blur.level;
	// Halved by 2 x 2 means, fine detail would fold into the levels
	// differently at every offset of the text to the texel grid, and the
	// low-pass after them could not take it out again.
	plan.low_pass_halvings = true;
	// A low-passed level is smooth: bilinear reads average it best, except
	// where a cell spans at most 4 texels of a level blurred in place.
	plan.reduce_points = !blur.halve && reduce_with_points(c, blur.level);
	TexelRect reads;
	plan.gauss = plan_gaussian(in, blur, texels_over(level_geometry(r, blur.level), x0, y0, x1, y1, 1), reads);
	return reads;
}

} // namespace

ChainPlan plan_chain(const PlanInput &in)
{
	ChainPlan plan;
	const int L = plan.levels = std::min(std::max(in.levels, 0), 6);
	plan.halving[L] = in.mosaic ? plan_mosaic_steps(in, plan) : plan_blur_steps(in, plan);
	// The low-pass's halvings read up to four texels beyond their own.
	const int pad = plan.low_pass_halvings ? 4 : 1;
	for (int i = L; i > 0; --i)
		plan.halving[i - 1] =
		    to_level(plan.halving[i], level_geometry(in.region, i), level_geometry(in.region, i - 1), pad);
	plan.keep_capture = in.copy && in.shaped;
	if (plan.keep_capture)
		plan.capture = texels_over(level_geometry(in.region, 0), in.bx0, in.by0, in.bx1, in.by1, 1);
	return plan;
}
