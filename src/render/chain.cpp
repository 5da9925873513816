// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/chain.h"

#include <graphics/vec3.h>
#include <graphics/vec4.h>

#include <algorithm>
#include <cmath>

#include "render/board_effect.h"
#include "render/draw.h"
#include "render/final_pass.h"
#include "render/item_geometry.h"
#include "render/texture_pool.h"

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

void mosaic_texture_size(gs_texture_t *texture, uint32_t nx, uint32_t ny, uint32_t &width, uint32_t &height)
{
	width = texture ? gs_texture_get_width(texture) : 0;
	height = texture ? gs_texture_get_height(texture) : 0;
	const uint64_t area = uint64_t(width) * height, needed = uint64_t(nx) * ny;
	if (width >= nx && height >= ny && area <= 4 * needed)
		return;
	// A quarter more than now, in steps of 16: a fade changes the grid
	// every frame, the texture only every few.
	auto size = [](uint32_t n) { return (n + n / 4 + 15) / 16 * 16; };
	width = size(nx);
	height = size(ny);
}

bool reduce_with_points(float cell, int levels)
{
	return cell / (float)(1 << levels) <= 4.0f;
}

void place_canvas_cover(uint32_t canvas_width, uint32_t canvas_height, const matrix4 &board_to_canvas,
			bool replaces_world, FinalPassParams &params)
{
	const float W = (float)canvas_width, H = (float)canvas_height;
	// Pushed in front of the host's transform for the board's item, the
	// inverse cancels the item's placement: the quad is the canvas. A board
	// scaled to nothing has no inverse; the canvas is then taken to be
	// where the world matrix is the identity. So is it for a board with no
	// known item (shared, or a private copy), which is replayed only on such
	// canvases: undoing one item's matrix would misplace the cover under the
	// others.
	params.use_transform = true;
	params.reset_transform = replaces_world || !matrix4_inv(&params.transform, &board_to_canvas);
	if (params.reset_transform)
		matrix4_identity(&params.transform);
	params.quad_width = W;
	params.quad_height = H;
	vec2_set(&params.pos_origin, 0.0f, 0.0f);
	vec2_set(&params.pos_du, W, 0.0f);
	vec2_set(&params.pos_dv, 0.0f, H);
}

bool place_composite(const ChainInput &input, FinalPassParams &params)
{
	if (input.emergency) {
		place_canvas_cover(input.canvas_width, input.canvas_height, input.board_to_canvas,
				   input.cover_replaces_world, params);
		return true;
	}

	const float bw = (float)input.board_width, bh = (float)input.board_height;
	const vec3 c0 = map_local_point(input.board_to_canvas, 0.0f, 0.0f);
	const vec3 c1 = map_local_point(input.board_to_canvas, bw, 0.0f);
	const vec3 c2 = map_local_point(input.board_to_canvas, 0.0f, bh);
	params.quad_width = bw;
	params.quad_height = bh;
	vec2_set(&params.pos_origin, c0.x, c0.y);
	vec2_set(&params.pos_du, c1.x - c0.x, c1.y - c0.y);
	vec2_set(&params.pos_dv, c2.x - c0.x, c2.y - c0.y);

	const DrawSnapshot &snap = *input.snapshot;
	if (!snap.is_ellipse && !(snap.feather > 0.0f))
		return true;

	// The shape lives in the board's frame measured in canvas pixels, so
	// a scaled board keeps its feather in canvas pixels.
	const float sx = sqrtf(params.pos_du.x * params.pos_du.x + params.pos_du.y * params.pos_du.y) / bw;
	const float sy = sqrtf(params.pos_dv.x * params.pos_dv.x + params.pos_dv.y * params.pos_dv.y) / bh;
	const obs_sceneitem_crop &crop = input.crop;
	vec2_set(&params.board_size, sx * bw, sy * bh);
	vec4_set(&params.shape_rect, (float)crop.left * sx, (float)crop.top * sy, (bw - (float)crop.right) * sx,
		 (bh - (float)crop.bottom) * sy);
	params.shape_kind = snap.is_ellipse ? 1.0f : 0.0f;
	const float smaller =
	    std::min(params.shape_rect.z - params.shape_rect.x, params.shape_rect.w - params.shape_rect.y);
	params.feather = std::min(snap.feather, smaller * 0.5f);
	params.shaped = true;
	return true;
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
	constexpr float kHalveFrom = 2.5f, kHalveSigma = 0.9f;
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

namespace {

struct Source {
	gs_texture_t *texture = nullptr;
	LevelGeometry geometry;
};

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

// Reads of the source stay inside the canvas part of the region, half a
// source texel in, so bilinear reads never pull in texels beyond it.
void set_source(const Source &src, const CaptureRegion &region)
{
	const LevelGeometry &g = src.geometry;
	const float span_x = g.texel * (float)g.width, span_y = g.texel * (float)g.height;
	vec2 lo, hi;
	vec2_set(&lo, (region.valid_x0 - g.ox + 0.5f * g.texel) / span_x,
		 (region.valid_y0 - g.oy + 0.5f * g.texel) / span_y);
	vec2_set(&hi, (region.valid_x1 - g.ox - 0.5f * g.texel) / span_x,
		 (region.valid_y1 - g.oy - 0.5f * g.texel) / span_y);
	gs_effect_set_texture_srgb(board_effect.image, src.texture);
	gs_effect_set_vec2(board_effect.uv_min, &lo);
	gs_effect_set_vec2(board_effect.uv_max, &hi);
}

// One pass of the chain drawn over only the texels that later passes read:
// the quad covers rect of the target level, and its uv is mapped to where
// those texels lie in the source texture.
bool draw_pass(gs_texrender_t *render, const LevelGeometry &dst, const TexelRect &rect, const Source &src,
	       const CaptureRegion &region, const char *technique, gs_color_space space)
{
	if (!render || !src.texture || rect.x1 <= rect.x0 || rect.y1 <= rect.y0)
		return false;
	if (!begin_pass(render, dst.width, dst.height, space))
		return false;
	set_source(src, region);
	const LevelGeometry &g = src.geometry;
	const float span_x = g.texel * (float)g.width, span_y = g.texel * (float)g.height;
	const float qw = (float)(rect.x1 - rect.x0), qh = (float)(rect.y1 - rect.y0);
	vec2 origin, du, dv;
	vec2_set(&origin, (dst.ox + (float)rect.x0 * dst.texel - g.ox) / span_x,
		 (dst.oy + (float)rect.y0 * dst.texel - g.oy) / span_y);
	vec2_set(&du, qw * dst.texel / span_x, 0.0f);
	vec2_set(&dv, 0.0f, qh * dst.texel / span_y);
	gs_effect_set_vec2(board_effect.pos_origin, &origin);
	gs_effect_set_vec2(board_effect.pos_du, &du);
	gs_effect_set_vec2(board_effect.pos_dv, &dv);
	gs_matrix_push();
	gs_matrix_translate3f((float)rect.x0, (float)rect.y0, 0.0f);
	while (gs_effect_loop(board_effect.effect, technique))
		gs_draw_quadf(nullptr, 0, qw, qh);
	gs_matrix_pop();
	end_pass(render);
	return true;
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

// The passes proper; the caller owns the framebuffer sRGB switch.
bool run_passes(const ChainInput &in, FinalPassParams &params, bool &first_failed)
{
	TexturePool &pool = *in.pool;
	const CaptureRegion &region = in.region;
	const gs_color_format format = in.chain_format;
	const int L = in.levels;
	const LevelGeometry capture = level_geometry(region, 0);
	const LevelGeometry last = level_geometry(region, L);

	params.use_transform = in.emergency;
	params.mosaic = in.mosaic;
	vec2_set(&params.cap_origin, (float)region.x0, (float)region.y0);
	vec2_set(&params.cap_inv_size, 1.0f / (float)region.width, 1.0f / (float)region.height);

	// What the last level must hold: the texels the blur passes or the
	// mosaic reduction read, worked out backwards from the composite.
	const float sigma_l = level_sigma(in.sigma, L);
	const BlurPlan plan = plan_blur(sigma_l, L);
	const BlurTaps taps = blur_taps(plan.sigma);
	const LevelGeometry blur_level = level_geometry(region, plan.level);
	// Cells beyond the canvas are never seen: the grid covers only the
	// board's part inside it, which also bounds its texture's size.
	const MosaicGrid grid =
	    mosaic_grid(std::max(in.bx0, region.valid_x0), std::max(in.by0, region.valid_y0),
			std::min(in.bx1, region.valid_x1), std::min(in.by1, region.valid_y1), in.cell);
	TexelRect shown, blurred, across, first;
	TexelRect need[7];
	if (in.mosaic) {
		const float c = in.cell;
		need[L] = texels_over(last, (float)grid.gx * c, (float)grid.gy * c, (float)(grid.gx + grid.nx) * c,
				      (float)(grid.gy + grid.ny) * c, 1);
	} else {
		// shown: the texels of level L that the composite reads (for a
		// blur one level down at level 0, it reads the smaller level).
		shown = texels_over(last, in.bx0, in.by0, in.bx1, in.by1, 1);
		blurred = !plan.halve ? shown
			  : L > 0     ? to_level(shown, last, blur_level, 1)
				      : texels_over(blur_level, in.bx0, in.by0, in.bx1, in.by1, 1);
		across = grow(blurred, 0, taps.count, blur_level);
		first = grow(across, taps.count, 0, blur_level);
		need[L] = plan.halve ? to_level(first, blur_level, last, 2) : first;
	}
	for (int i = L; i > 0; --i)
		need[i - 1] = to_level(need[i], level_geometry(region, i), level_geometry(region, i - 1), 1);
	// Level 0: the render target itself when copying, else the redrawn
	// capture in slot 0.
	Source current;
	if (in.target) {
		current.texture = in.target;
		current.geometry.width = gs_texture_get_width(in.target);
		current.geometry.height = gs_texture_get_height(in.target);
	} else {
		current.texture = gs_texrender_get_texture(pool.slots[kSlotCapture]);
		current.geometry = capture;
	}
	if (!current.texture)
		return false;

	// The shaped composite mixes the untouched picture back in: a copy
	// needs it in slot 0.
	const bool shaped = !in.emergency && (in.snapshot->is_ellipse || in.snapshot->feather > 0.0f);
	first_failed = in.target != nullptr;
	if (in.target && shaped) {
		gs_texrender_t *render = ensure_slot(pool, kSlotCapture, format);
		const TexelRect rect = texels_over(capture, in.bx0, in.by0, in.bx1, in.by1, 1);
		if (!draw_pass(render, capture, rect, current, region, "Down", in.space))
			return false;
		first_failed = false;
	}

	for (int i = 1; i <= L; ++i) {
		const LevelGeometry level = level_geometry(region, i);
		gs_texrender_t *render = ensure_slot(pool, kSlotLevel1 + i - 1, format);
		if (!draw_pass(render, level, need[i], current, region, "Down", in.space))
			return false;
		first_failed = false;
		current.texture = gs_texrender_get_texture(render);
		current.geometry = level;
		if (!current.texture)
			return false;
	}

	if (in.mosaic) {
		gs_texrender_t *render = ensure_slot(pool, kSlotMosaic, format);
		if (!render)
			return false;
		uint32_t tw = 0, th = 0;
		mosaic_texture_size(gs_texrender_get_texture(render), (uint32_t)grid.nx, (uint32_t)grid.ny, tw, th);
		if (!begin_pass(render, tw, th, in.space))
			return false;
		first_failed = false;
		set_source(current, region);
		const LevelGeometry &g = current.geometry;
		vec2 origin, inv, du, dv;
		vec2_set(&origin, g.ox, g.oy);
		vec2_set(&inv, 1.0f / (g.texel * (float)g.width), 1.0f / (g.texel * (float)g.height));
		gs_effect_set_vec2(board_effect.cap_origin, &origin);
		gs_effect_set_vec2(board_effect.cap_inv_size, &inv);
		// One texel per cell in the top-left nx x ny of the texture.
		vec2_zero(&origin);
		vec2_set(&du, (float)grid.nx / (float)tw, 0.0f);
		vec2_set(&dv, 0.0f, (float)grid.ny / (float)th);
		gs_effect_set_vec2(board_effect.pos_origin, &origin);
		gs_effect_set_vec2(board_effect.pos_du, &du);
		gs_effect_set_vec2(board_effect.pos_dv, &dv);
		vec2_set(&params.grid_origin, (float)grid.gx * in.cell, (float)grid.gy * in.cell);
		vec2_set(&params.grid_dim, (float)tw, (float)th);
		params.cell_size = in.cell;
		gs_effect_set_vec2(board_effect.grid_origin, &params.grid_origin);
		gs_effect_set_vec2(board_effect.grid_dim, &params.grid_dim);
		gs_effect_set_float(board_effect.cell_size, in.cell);
		const char *technique = reduce_with_points(in.cell, L) ? "ReducePoint" : "Reduce";
		while (gs_effect_loop(board_effect.effect, technique))
			gs_draw_quadf(nullptr, 0, (float)grid.nx, (float)grid.ny);
		end_pass(render);
		params.image = gs_texrender_get_texture(render);
		vec2_set(&params.uv_min, 0.5f / (float)tw, 0.5f / (float)th);
		vec2_set(&params.uv_max, ((float)grid.nx - 0.5f) / (float)tw, ((float)grid.ny - 0.5f) / (float)th);
		return true;
	}

	// Half floats hold the blur's linear values without the sRGB decode of
	// every texel of every read, which llvmpipe pays dearly for.
	const gs_color_format blur_format = format == GS_RGBA ? GS_RGBA16F : format;
	if (plan.halve) {
		gs_texrender_t *render = ensure_slot(pool, kSlotBlurHalved, blur_format);
		vec2 step;
		vec2_set(&step, plan.halve_offset / (float)current.geometry.width,
			 plan.halve_offset / (float)current.geometry.height);
		gs_effect_set_vec2(board_effect.blur_step, &step);
		if (!draw_pass(render, blur_level, first, current, region, "Halve", in.space))
			return false;
		first_failed = false;
		current = Source{gs_texrender_get_texture(render), blur_level};
		if (!current.texture)
			return false;
	}

	gs_texrender_t *across_render = ensure_slot(pool, kSlotBlurAcross, blur_format);
	gs_texrender_t *down_render = ensure_slot(pool, kSlotBlurDown, blur_format);
	if (!across_render)
		return false;
	vec4 v;
	const float *w = taps.weight;
	vec4_set(&v, w[0], w[1], w[2], w[3]);
	gs_effect_set_vec4(board_effect.blur_wa, &v);
	vec4_set(&v, w[4], w[5], w[6], w[7]);
	gs_effect_set_vec4(board_effect.blur_wb, &v);
	vec4_set(&v, w[8], w[9], w[10], w[11]);
	gs_effect_set_vec4(board_effect.blur_wc, &v);
	gs_effect_set_float(board_effect.blur_center, taps.center);
	static const char *const techniques[] = {"Blur1", "Blur2", "Blur3", "Blur4",  "Blur5",  "Blur6",
						 "Blur7", "Blur8", "Blur9", "Blur10", "Blur11", "Blur12"};
	// Where the canvas edge cuts the last texel of the blur's level, reads
	// clamped to the edge weigh that texel bilinearly; a point read would
	// take it whole.
	auto on_grid = [&](float edge, float origin) {
		const float t = (edge - origin) / blur_level.texel;
		return t == floorf(t);
	};
	const bool aligned = on_grid(region.valid_x0, blur_level.ox) && on_grid(region.valid_x1, blur_level.ox) &&
			     on_grid(region.valid_y0, blur_level.oy) && on_grid(region.valid_y1, blur_level.oy);
	const char *technique = aligned ? techniques[taps.count - 1] : "Blur";

	// Across: from the blur's level (or the target) into slot 7, over the
	// rows the second pass reads.
	vec2 step;
	vec2_set(&step, 1.0f / (float)current.geometry.width, 0.0f);
	gs_effect_set_vec2(board_effect.blur_step, &step);
	if (!draw_pass(across_render, blur_level, across, current, region, technique, in.space))
		return false;
	first_failed = false;
	Source across_out{gs_texrender_get_texture(across_render), blur_level};
	vec2_set(&step, 0.0f, 1.0f / (float)blur_level.height);
	gs_effect_set_vec2(board_effect.blur_step, &step);
	if (!draw_pass(down_render, blur_level, blurred, across_out, region, technique, in.space))
		return false;
	Source result{gs_texrender_get_texture(down_render), blur_level};

	// A blur one level down goes back up to its own level by a bilinear
	// read, so that the composite upsamples from the same level as before;
	// at level 0 the composite's own read does that.
	if (plan.halve && L > 0) {
		gs_texrender_t *render = ensure_slot(pool, kSlotBlurUp, blur_format);
		if (!draw_pass(render, last, shown, result, region, "Down", in.space))
			return false;
		result = Source{gs_texrender_get_texture(render), last};
	}

	params.image = result.texture;
	const UvBox box = region_uv_clamp(region, result.geometry.width, result.geometry.height);
	params.uv_min = box.min;
	params.uv_max = box.max;
	return true;
}

} // namespace

bool run_chain(const ChainInput &input, FinalPassParams &params, bool *first_texture_failed)
{
	if (!board_effect.effect || !input.pool || !input.snapshot)
		return false;

	const bool previous_srgb = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	bool first_failed = false;
	const bool passes_ok = run_passes(input, params, first_failed);
	if (first_texture_failed)
		*first_texture_failed = !passes_ok && first_failed;
	gs_enable_framebuffer_srgb(previous_srgb);

	if (!passes_ok || !params.image)
		return false;
	if (!place_composite(input, params))
		return false;
	if (params.shaped) {
		params.orig = gs_texrender_get_texture(input.pool->slots[kSlotCapture]);
		const UvBox box =
		    region_uv_clamp(input.region, (uint32_t)input.region.width, (uint32_t)input.region.height);
		params.orig_uv_min = box.min;
		params.orig_uv_max = box.max;
		if (!params.orig)
			return false;
	}
	return true;
}
