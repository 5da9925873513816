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
#include "render/shape_frame.h"
#include "render/texture_pool.h"

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

namespace {

// A place that is not a number inverts to one: the canvas is then taken to
// be where the world matrix is the identity.
bool finite_matrix(const matrix4 &m)
{
	for (const vec4 *row : {&m.x, &m.y, &m.z, &m.t})
		for (int i = 0; i < 4; ++i)
			if (!std::isfinite(row->ptr[i]))
				return false;
	return true;
}

} // namespace

void place_emergency_cover(uint32_t canvas_width, uint32_t canvas_height, const matrix4 &board_to_canvas,
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
	params.reset_transform =
	    replaces_world || !matrix4_inv(&params.transform, &board_to_canvas) || !finite_matrix(params.transform);
	if (params.reset_transform)
		matrix4_identity(&params.transform);
	params.quad_width = W;
	params.quad_height = H;
	vec2_set(&params.pos_origin, 0.0f, 0.0f);
	vec2_set(&params.pos_du, W, 0.0f);
	vec2_set(&params.pos_dv, 0.0f, H);
}

void place_board_quad(const matrix4 &board_to_canvas, uint32_t board_width, uint32_t board_height,
		      FinalPassParams &params)
{
	const float bw = (float)board_width, bh = (float)board_height;
	const vec3 c0 = map_local_point(board_to_canvas, 0.0f, 0.0f);
	const vec3 c1 = map_local_point(board_to_canvas, bw, 0.0f);
	const vec3 c2 = map_local_point(board_to_canvas, 0.0f, bh);
	params.quad_width = bw;
	params.quad_height = bh;
	vec2_set(&params.pos_origin, c0.x, c0.y);
	vec2_set(&params.pos_du, c1.x - c0.x, c1.y - c0.y);
	vec2_set(&params.pos_dv, c2.x - c0.x, c2.y - c0.y);
}

void place_shape(const obs_sceneitem_crop &crop, uint32_t board_width, uint32_t board_height, const BoardShape &shape,
		 FinalPassParams &params)
{
	// The shape lives in the board's frame measured in canvas pixels, so
	// a scaled board keeps its feather in canvas pixels.
	const float bw = (float)board_width, bh = (float)board_height;
	const float sx = sqrtf(params.pos_du.x * params.pos_du.x + params.pos_du.y * params.pos_du.y) / bw;
	const float sy = sqrtf(params.pos_dv.x * params.pos_dv.x + params.pos_dv.y * params.pos_dv.y) / bh;
	vec2_zero(&params.local_origin);
	vec2_set(&params.local_du, sx * bw, 0.0f);
	vec2_set(&params.local_dv, 0.0f, sy * bh);
	vec4_set(&params.shape_rect, (float)crop.left * sx, (float)crop.top * sy, (bw - (float)crop.right) * sx,
		 (bh - (float)crop.bottom) * sy);
	params.shape_kind = shape.kind == ShapeKind::Ellipse ? 1.0f : shape.kind == ShapeKind::Rounded ? 2.0f : 0.0f;
	const float smaller =
	    std::min(params.shape_rect.z - params.shape_rect.x, params.shape_rect.w - params.shape_rect.y);
	params.feather = std::min(shape.feather, smaller * 0.5f);
	params.corner_radius =
	    shape.kind == ShapeKind::Rounded ? std::max(0.0f, std::min(shape.corner_radius, smaller * 0.5f)) : 0.0f;
	params.invert = shape.invert;
	params.shaped = true;
}

void place_inverted(const matrix4 &board_to_canvas, uint32_t canvas_width, uint32_t canvas_height, bool replaces_world,
		    const obs_sceneitem_crop &crop, uint32_t board_width, uint32_t board_height,
		    const BoardShape &shape, FinalPassParams &params)
{
	place_board_quad(board_to_canvas, board_width, board_height, params);
	place_shape(crop, board_width, board_height, shape, params);
	const UvMap board_pos{params.pos_origin, params.pos_du, params.pos_dv};
	const UvMap board_local{params.local_origin, params.local_du, params.local_dv};
	place_emergency_cover(canvas_width, canvas_height, board_to_canvas, replaces_world, params);
	params.invert = true;
	UvMap local;
	const vec4 &r = params.shape_rect;
	const bool finite_rect = std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z) && std::isfinite(r.w);
	if (finite_rect &&
	    local_map_on_canvas(board_pos, board_local, (float)canvas_width, (float)canvas_height, local)) {
		params.local_origin = local.origin;
		params.local_du = local.du;
		params.local_dv = local.dv;
		return;
	}
	// Every pixel far outside a small plain rectangle: hidden.
	vec2_set(&params.local_origin, -1.0e6f, -1.0e6f);
	vec2_zero(&params.local_du);
	vec2_zero(&params.local_dv);
	vec4_set(&params.shape_rect, 0.0f, 0.0f, 1.0f, 1.0f);
	params.shape_kind = 0.0f;
	params.feather = 0.0f;
	params.corner_radius = 0.0f;
}

bool place_composite(const ChainInput &input, FinalPassParams &params)
{
	if (input.emergency) {
		place_emergency_cover(input.canvas_width, input.canvas_height, input.board_to_canvas,
				      input.emergency_replaces_world, params);
		return true;
	}
	const BoardShape &shape = input.snapshot->shape;
	if (shape.invert) {
		place_inverted(input.board_to_canvas, input.canvas_width, input.canvas_height,
			       input.emergency_replaces_world, input.crop, input.board_width, input.board_height, shape,
			       params);
		return true;
	}
	place_board_quad(input.board_to_canvas, input.board_width, input.board_height, params);
	if (needs_mask(shape))
		place_shape(input.crop, input.board_width, input.board_height, shape, params);
	return true;
}

namespace {

// A texture of the chain (the capture or a pass's output) and where its
// texels lie on the canvas.
struct PassTexture {
	gs_texture_t *texture = nullptr;
	LevelGeometry geometry;
};

// Makes the texture the one a pass reads. Reads stay inside the canvas part
// of the region, half a texel in, so bilinear reads never pull in texels
// beyond it.
void set_pass_input(const PassTexture &input, const CaptureRegion &region)
{
	const LevelGeometry &g = input.geometry;
	const float span_x = g.texel * (float)g.width, span_y = g.texel * (float)g.height;
	vec2 lo, hi;
	vec2_set(&lo, (region.valid_x0 - g.ox + 0.5f * g.texel) / span_x,
		 (region.valid_y0 - g.oy + 0.5f * g.texel) / span_y);
	vec2_set(&hi, (region.valid_x1 - g.ox - 0.5f * g.texel) / span_x,
		 (region.valid_y1 - g.oy - 0.5f * g.texel) / span_y);
	gs_effect_set_texture_srgb(board_effect.image, input.texture);
	gs_effect_set_vec2(board_effect.uv_min, &lo);
	gs_effect_set_vec2(board_effect.uv_max, &hi);
}

// One pass of the chain drawn over only the texels that later passes read:
// the quad covers rect of the target level, and its uv is mapped to where
// those texels lie in the input texture.
bool draw_pass(gs_texrender_t *render, const LevelGeometry &dst, const TexelRect &rect, const PassTexture &input,
	       const CaptureRegion &region, const char *technique, gs_color_space space)
{
	if (!render || !input.texture || rect.empty())
		return false;
	if (!begin_pass(render, dst.width, dst.height, space))
		return false;
	set_pass_input(input, region);
	const LevelGeometry &g = input.geometry;
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

// The passes share the input, the plan and where they have got to.
struct PassRun {
	const ChainInput &in;
	const ChainPlan &plan;
	PassTexture current; // the last pass's output, which the next one reads
	bool first_failed = false; // no pass has yet drawn into a texture of its own
};

// Draws one pass into a slot and makes its output the current texture.
bool draw_into_slot(PassRun &run, int slot, gs_color_format format, int level, const TexelRect &rect,
		    const char *technique)
{
	gs_texrender_t *render = ensure_slot(*run.in.pool, slot, format);
	const LevelGeometry dst = level_geometry(run.in.region, level);
	if (!draw_pass(render, dst, rect, run.current, run.in.region, technique, run.in.space))
		return false;
	run.first_failed = false;
	run.current = PassTexture{gs_texrender_get_texture(render), dst};
	return run.current.texture != nullptr;
}

// Level 0: the render target itself when copying, else the redrawn capture
// in slot 0.
PassTexture level_zero(const ChainInput &in)
{
	PassTexture level;
	if (in.target) {
		level.texture = in.target;
		level.geometry.width = gs_texture_get_width(in.target);
		level.geometry.height = gs_texture_get_height(in.target);
	} else {
		level.texture = gs_texrender_get_texture(in.pool->slots[kSlotCapture]);
		level.geometry = level_geometry(in.region, 0);
	}
	return level;
}

// The shaped composite mixes the untouched picture back in: a copy needs
// it in slot 0.
bool keep_capture(PassRun &run)
{
	if (!run.plan.keep_capture)
		return true;
	const PassTexture target = run.current;
	if (!draw_into_slot(run, kSlotCapture, run.in.chain_format, 0, run.plan.capture, "Down"))
		return false;
	run.current = target;
	return true;
}

// The offset between a pass's taps, in uv.
void set_blur_step(float x, float y)
{
	vec2 s;
	vec2_set(&s, x, y);
	gs_effect_set_vec2(board_effect.blur_step, &s);
}

bool run_halvings(PassRun &run)
{
	for (int i = 1; i <= run.plan.levels; ++i) {
		const Halving halving = run.plan.low_pass_halvings ? low_pass_halving(i) : Halving{"Down", 0, 0};
		const LevelGeometry &g = run.current.geometry;
		set_blur_step(halving.offset / (float)g.width, halving.offset / (float)g.height);
		if (!draw_into_slot(run, kSlotLevel1 + i - 1, run.in.chain_format, i, run.plan.halving[i],
				    halving.technique))
			return false;
	}
	return true;
}

void set_blur_weights(const BlurTaps &taps)
{
	vec4 v;
	const float *w = taps.weight;
	vec4_set(&v, w[0], w[1], w[2], w[3]);
	gs_effect_set_vec4(board_effect.blur_wa, &v);
	vec4_set(&v, w[4], w[5], w[6], w[7]);
	gs_effect_set_vec4(board_effect.blur_wb, &v);
	vec4_set(&v, w[8], w[9], w[10], w[11]);
	gs_effect_set_vec4(board_effect.blur_wc, &v);
	gs_effect_set_float(board_effect.blur_center, taps.center);
}

// Half floats hold the Gaussian's linear values without the sRGB decode of
// every texel of every read, which llvmpipe pays dearly for.
bool run_gaussian(PassRun &run)
{
	const GaussianPlan &gauss = run.plan.gauss;
	if (!gauss.run)
		return true;
	const gs_color_format format = run.in.chain_format == GS_RGBA ? GS_RGBA16F : run.in.chain_format;
	const int level = gauss.blur.level;
	if (gauss.blur.halve) {
		const LevelGeometry &g = run.current.geometry;
		set_blur_step(gauss.blur.halve_offset / (float)g.width, gauss.blur.halve_offset / (float)g.height);
		if (!draw_into_slot(run, kSlotBlurHalved, format, level, gauss.halved, gauss.blur.halve_technique))
			return false;
	}
	set_blur_weights(gauss.taps);
	const char *technique = gaussian_technique(gauss);
	set_blur_step(1.0f / (float)run.current.geometry.width, 0.0f);
	if (!draw_into_slot(run, kSlotBlurAcross, format, level, gauss.across, technique))
		return false;
	set_blur_step(0.0f, 1.0f / (float)run.current.geometry.height);
	if (!draw_into_slot(run, kSlotBlurDown, format, level, gauss.down, technique))
		return false;
	// Back up to level L by a bilinear read, so that the composite
	// upsamples from the same level as an unhalved blur.
	if (run.plan.back_up)
		return draw_into_slot(run, kSlotBlurUp, format, run.plan.levels, run.plan.shown, "Down");
	return true;
}

// One texel per cell in the top-left nx x ny of the mosaic texture, each
// the mean of the (low-passed) picture over its cell.
bool run_reduction(PassRun &run, FinalPassParams &params)
{
	const ChainInput &in = run.in;
	const MosaicGrid &grid = run.plan.grid;
	gs_texrender_t *render = ensure_slot(*in.pool, kSlotMosaic, in.chain_format);
	if (!render)
		return false;
	uint32_t tw = 0, th = 0;
	mosaic_texture_size(gs_texrender_get_texture(render), (uint32_t)grid.nx, (uint32_t)grid.ny, tw, th);
	if (!begin_pass(render, tw, th, in.space))
		return false;
	run.first_failed = false;
	set_pass_input(run.current, in.region);
	const LevelGeometry &g = run.current.geometry;
	vec2 origin, inv, du, dv;
	vec2_set(&origin, g.ox, g.oy);
	vec2_set(&inv, 1.0f / (g.texel * (float)g.width), 1.0f / (g.texel * (float)g.height));
	gs_effect_set_vec2(board_effect.cap_origin, &origin);
	gs_effect_set_vec2(board_effect.cap_inv_size, &inv);
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
	const char *technique = run.plan.reduce_points ? "ReducePoint" : "Reduce";
	while (gs_effect_loop(board_effect.effect, technique))
		gs_draw_quadf(nullptr, 0, (float)grid.nx, (float)grid.ny);
	end_pass(render);
	params.image = gs_texrender_get_texture(render);
	vec2_set(&params.uv_min, 0.5f / (float)tw, 0.5f / (float)th);
	vec2_set(&params.uv_max, ((float)grid.nx - 0.5f) / (float)tw, ((float)grid.ny - 0.5f) / (float)th);
	return true;
}

PlanInput plan_input(const ChainInput &in)
{
	PlanInput p = in;
	p.copy = in.target != nullptr;
	p.shaped = !in.emergency && needs_mask(in.snapshot->shape);
	return p;
}

// The passes proper, as the plan has them; the caller owns the framebuffer
// sRGB switch.
bool run_passes(const ChainInput &in, FinalPassParams &params, bool &first_failed)
{
	const ChainPlan plan = plan_chain(plan_input(in));
	params.use_transform = in.emergency;
	params.mosaic = in.mosaic;
	vec2_set(&params.cap_origin, (float)in.region.x0, (float)in.region.y0);
	vec2_set(&params.cap_inv_size, 1.0f / (float)in.region.width, 1.0f / (float)in.region.height);

	PassRun run{in, plan, level_zero(in), in.target != nullptr};
	const bool ok = run.current.texture && keep_capture(run) && run_halvings(run) && run_gaussian(run) &&
			(plan.mosaic ? run_reduction(run, params) : true);
	first_failed = run.first_failed;
	if (!ok)
		return false;
	if (!plan.mosaic) {
		params.image = run.current.texture;
		const UvBox box = region_uv_clamp(in.region, run.current.geometry.width, run.current.geometry.height);
		params.uv_min = box.min;
		params.uv_max = box.max;
	}
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
