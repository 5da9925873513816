// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/board_effect.h"

#include <obs.h>

#include "host/log.h"

BoardEffect board_effect;

namespace {

void find_params(BoardEffect &fx)
{
	gs_effect_t *e = fx.effect;
	fx.image = gs_effect_get_param_by_name(e, "image");
	fx.uv_min = gs_effect_get_param_by_name(e, "uv_min");
	fx.uv_max = gs_effect_get_param_by_name(e, "uv_max");
	fx.blur_step = gs_effect_get_param_by_name(e, "blur_step");
	fx.blur_wa = gs_effect_get_param_by_name(e, "blur_wa");
	fx.blur_wb = gs_effect_get_param_by_name(e, "blur_wb");
	fx.blur_wc = gs_effect_get_param_by_name(e, "blur_wc");
	fx.blur_center = gs_effect_get_param_by_name(e, "blur_center");
	fx.cap_origin = gs_effect_get_param_by_name(e, "cap_origin");
	fx.cap_inv_size = gs_effect_get_param_by_name(e, "cap_inv_size");
	fx.grid_origin = gs_effect_get_param_by_name(e, "grid_origin");
	fx.grid_dim = gs_effect_get_param_by_name(e, "grid_dim");
	fx.cell_size = gs_effect_get_param_by_name(e, "cell_size");
	fx.pos_origin = gs_effect_get_param_by_name(e, "pos_origin");
	fx.pos_du = gs_effect_get_param_by_name(e, "pos_du");
	fx.pos_dv = gs_effect_get_param_by_name(e, "pos_dv");
	fx.hatch_color = gs_effect_get_param_by_name(e, "hatch_color");
	fx.orig = gs_effect_get_param_by_name(e, "orig");
	fx.orig_uv_min = gs_effect_get_param_by_name(e, "orig_uv_min");
	fx.orig_uv_max = gs_effect_get_param_by_name(e, "orig_uv_max");
	fx.local_origin = gs_effect_get_param_by_name(e, "local_origin");
	fx.local_du = gs_effect_get_param_by_name(e, "local_du");
	fx.local_dv = gs_effect_get_param_by_name(e, "local_dv");
	fx.shape_rect = gs_effect_get_param_by_name(e, "shape_rect");
	fx.shape_kind = gs_effect_get_param_by_name(e, "shape_kind");
	fx.feather = gs_effect_get_param_by_name(e, "feather");
	fx.corner_radius = gs_effect_get_param_by_name(e, "corner_radius");
	fx.invert = gs_effect_get_param_by_name(e, "invert");
	fx.cover_color = gs_effect_get_param_by_name(e, "cover_color");
	fx.cover_alpha = gs_effect_get_param_by_name(e, "cover_alpha");
	fx.cover_scale = gs_effect_get_param_by_name(e, "cover_scale");
}

} // namespace

bool board_effect_load()
{
	obs_enter_graphics();
	char *errors = nullptr;
	board_effect.effect = gs_effect_create(board_effect_text, "mistpane-board.effect", &errors);
	if (board_effect.effect)
		find_params(board_effect);
	else
		log_message(LOG_ERROR, "board shader failed to compile: %s", errors ? errors : "(no message)");
	bfree(errors);

	gs_sampler_info point = {};
	board_effect.point_sampler = gs_samplerstate_create(&point);
	obs_leave_graphics();
	return board_effect.effect != nullptr;
}

void board_effect_unload()
{
	obs_enter_graphics();
	gs_effect_destroy(board_effect.effect);
	board_effect.effect = nullptr;
	gs_samplerstate_destroy(board_effect.point_sampler);
	board_effect.point_sampler = nullptr;
	for (HostEffectParams &params : board_effect.host_effects)
		params = HostEffectParams{};
	obs_leave_graphics();
}
