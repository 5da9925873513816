// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/final_pass.h"

#include "render/board_effect.h"
#include "render/cover_mode.h"

bool push_canvas_transform(const FinalPassParams &params)
{
	if (!params.use_transform)
		return false;
	gs_matrix_push();
	if (params.reset_transform)
		gs_matrix_identity();
	else
		gs_matrix_mul(&params.transform);
	return true;
}

void set_quad_and_shape(const FinalPassParams &params)
{
	BoardEffect &fx = board_effect;
	gs_effect_set_vec2(fx.pos_origin, &params.pos_origin);
	gs_effect_set_vec2(fx.pos_du, &params.pos_du);
	gs_effect_set_vec2(fx.pos_dv, &params.pos_dv);
	gs_effect_set_vec2(fx.local_origin, &params.local_origin);
	gs_effect_set_vec2(fx.local_du, &params.local_du);
	gs_effect_set_vec2(fx.local_dv, &params.local_dv);
	gs_effect_set_vec4(fx.shape_rect, &params.shape_rect);
	gs_effect_set_float(fx.shape_kind, params.shape_kind);
	gs_effect_set_float(fx.feather, params.feather);
	gs_effect_set_float(fx.corner_radius, params.corner_radius);
	gs_effect_set_float(fx.invert, params.invert ? 1.0f : 0.0f);
}

void draw_composite_quad(const FinalPassParams &params, const char *technique)
{
	const bool previous_srgb = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	const bool pushed = push_canvas_transform(params);
	while (gs_effect_loop(board_effect.effect, technique))
		gs_draw_quadf(nullptr, 0, params.quad_width, params.quad_height);
	if (pushed)
		gs_matrix_pop();
	gs_enable_framebuffer_srgb(previous_srgb);
}

void draw_final_composite(const FinalPassParams &params)
{
	if (params.cover) {
		draw_cover_composite(params);
		return;
	}
	BoardEffect &fx = board_effect;
	if (!fx.effect || !params.image)
		return;

	gs_effect_set_texture_srgb(fx.image, params.image);
	gs_effect_set_vec2(fx.uv_min, &params.uv_min);
	gs_effect_set_vec2(fx.uv_max, &params.uv_max);
	gs_effect_set_vec2(fx.cap_origin, &params.cap_origin);
	gs_effect_set_vec2(fx.cap_inv_size, &params.cap_inv_size);
	gs_effect_set_vec2(fx.grid_origin, &params.grid_origin);
	gs_effect_set_vec2(fx.grid_dim, &params.grid_dim);
	gs_effect_set_float(fx.cell_size, params.cell_size);
	set_quad_and_shape(params);

	const char *technique = params.mosaic ? "FinalMosaic" : "FinalBlur";
	if (params.shaped) {
		gs_effect_set_texture_srgb(fx.orig, params.orig);
		gs_effect_set_vec2(fx.orig_uv_min, &params.orig_uv_min);
		gs_effect_set_vec2(fx.orig_uv_max, &params.orig_uv_max);
		technique = params.mosaic ? "FinalMosaicShaped" : "FinalBlurShaped";
	}

	// Blending off: the composite replaces what lies under the quad; the
	// shaped techniques mix the untouched capture back in themselves.
	gs_blend_state_push();
	if (!params.blend_as_source)
		gs_enable_blending(false);
	draw_composite_quad(params, technique);
	gs_blend_state_pop();
}
