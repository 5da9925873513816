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

bool reduce_with_points(float cell, int levels)
{
	return cell / (float)(1 << levels) <= 4.0f;
}

void place_canvas_cover(uint32_t canvas_width, uint32_t canvas_height, const matrix4 &board_to_canvas,
			FinalPassParams &params)
{
	const float W = (float)canvas_width, H = (float)canvas_height;
	// Pushed in front of the host's transform for the board's item, the
	// inverse cancels the item's placement: the quad is the canvas. A board
	// scaled to nothing has no inverse; the canvas is then taken to be
	// where the world matrix is the identity.
	params.use_transform = true;
	params.reset_transform = !matrix4_inv(&params.transform, &board_to_canvas);
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
		place_canvas_cover(input.canvas_width, input.canvas_height, input.board_to_canvas, params);
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

namespace {

void set_uv_clamp(const CaptureRegion &region, uint32_t a, uint32_t b)
{
	const UvBox box = region_uv_clamp(region, a, b);
	gs_effect_set_vec2(board_effect.uv_min, &box.min);
	gs_effect_set_vec2(board_effect.uv_max, &box.max);
}

void draw_technique(const char *technique, uint32_t width, uint32_t height)
{
	while (gs_effect_loop(board_effect.effect, technique))
		gs_draw_quadf(nullptr, 0, (float)width, (float)height);
}

// One direction of the Gaussian on level L, from source into render.
bool blur_pass(gs_texrender_t *render, gs_texture_t *source, const CaptureRegion &region, uint32_t wL, uint32_t hL,
	       float step_x, float step_y, float sigma_l, gs_color_space space)
{
	if (!source || !begin_pass(render, wL, hL, space))
		return false;
	gs_effect_set_texture_srgb(board_effect.image, source);
	set_uv_clamp(region, wL, hL);
	vec2 step;
	vec2_set(&step, step_x, step_y);
	gs_effect_set_vec2(board_effect.blur_step, &step);
	gs_effect_set_float(board_effect.blur_sigma, sigma_l);
	draw_technique("Blur", wL, hL);
	end_pass(render);
	return true;
}

// The passes proper; the caller owns the framebuffer sRGB switch.
bool run_passes(const ChainInput &in, FinalPassParams &params)
{
	TexturePool &pool = *in.pool;
	const CaptureRegion &region = in.region;
	const gs_color_format format = in.chain_format;
	const int L = in.levels;
	const uint32_t width = (uint32_t)region.width, height = (uint32_t)region.height;

	gs_texture_t *current = gs_texrender_get_texture(pool.slots[kSlotCapture]);
	for (int i = 1; i <= L; ++i) {
		if (!current)
			return false;
		const uint32_t lw = width >> i, lh = height >> i;
		gs_texrender_t *render = ensure_slot(pool, kSlotLevel1 + i - 1, format);
		if (!render || !begin_pass(render, lw, lh, in.space))
			return false;
		gs_effect_set_texture_srgb(board_effect.image, current);
		set_uv_clamp(region, lw * 2, lh * 2);
		draw_technique("Down", lw, lh);
		end_pass(render);
		current = gs_texrender_get_texture(render);
	}
	if (!current)
		return false;

	const uint32_t wL = width >> L, hL = height >> L;
	params.use_transform = in.emergency;
	params.mosaic = in.mosaic;
	vec2_set(&params.cap_origin, (float)region.x0, (float)region.y0);
	vec2_set(&params.cap_inv_size, 1.0f / (float)width, 1.0f / (float)height);

	if (in.mosaic) {
		// Cells beyond the canvas are never seen: the grid covers only the
		// board's part inside it, which also bounds its texture's size.
		const MosaicGrid grid =
		    mosaic_grid(std::max(in.bx0, region.valid_x0), std::max(in.by0, region.valid_y0),
				std::min(in.bx1, region.valid_x1), std::min(in.by1, region.valid_y1), in.cell);
		gs_texrender_t *render = ensure_slot(pool, kSlotMosaic, format);
		if (!render || !begin_pass(render, (uint32_t)grid.nx, (uint32_t)grid.ny, in.space))
			return false;
		gs_effect_set_texture_srgb(board_effect.image, current);
		set_uv_clamp(region, wL, hL);
		gs_effect_set_vec2(board_effect.cap_origin, &params.cap_origin);
		gs_effect_set_vec2(board_effect.cap_inv_size, &params.cap_inv_size);
		vec2_set(&params.grid_origin, (float)grid.gx * in.cell, (float)grid.gy * in.cell);
		vec2_set(&params.grid_dim, (float)grid.nx, (float)grid.ny);
		params.cell_size = in.cell;
		gs_effect_set_vec2(board_effect.grid_origin, &params.grid_origin);
		gs_effect_set_vec2(board_effect.grid_dim, &params.grid_dim);
		gs_effect_set_float(board_effect.cell_size, in.cell);
		draw_technique(reduce_with_points(in.cell, L) ? "ReducePoint" : "Reduce", (uint32_t)grid.nx,
			       (uint32_t)grid.ny);
		end_pass(render);
		params.image = gs_texrender_get_texture(render);
		vec2_set(&params.uv_min, 0.5f / (float)grid.nx, 0.5f / (float)grid.ny);
		vec2_set(&params.uv_max, 1.0f - 0.5f / (float)grid.nx, 1.0f - 0.5f / (float)grid.ny);
		return true;
	}

	const float sigma_l = level_sigma(in.sigma, L);
	gs_texrender_t *across = ensure_slot(pool, kSlotBlurAcross, format);
	gs_texrender_t *down = ensure_slot(pool, kSlotBlurDown, format);
	if (!across || !down)
		return false;

	if (!blur_pass(across, current, region, wL, hL, 1.0f / (float)wL, 0.0f, sigma_l, in.space))
		return false;
	if (!blur_pass(down, gs_texrender_get_texture(across), region, wL, hL, 0.0f, 1.0f / (float)hL, sigma_l,
		       in.space))
		return false;

	params.image = gs_texrender_get_texture(down);
	const UvBox box = region_uv_clamp(region, wL, hL);
	params.uv_min = box.min;
	params.uv_max = box.max;
	return true;
}

} // namespace

bool run_chain(const ChainInput &input, FinalPassParams &params)
{
	if (!board_effect.effect || !input.pool || !input.snapshot)
		return false;

	const bool previous_srgb = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	const bool passes_ok = run_passes(input, params);
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
