// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/graphics.h>

// The module-wide compiled board effect, its parameters and the point
// sampler that redrawn items with the "point" scale filter use.
// Parameter handles of one of the host's base effects that redrawn items
// are drawn with, looked up the first time that effect is used.
struct HostEffectParams {
	gs_effect_t *effect = nullptr;
	gs_eparam_t *image = nullptr;
	gs_eparam_t *base_dimension = nullptr;
	gs_eparam_t *base_dimension_i = nullptr;
	gs_eparam_t *multiplier = nullptr;
};

struct BoardEffect {
	gs_effect_t *effect = nullptr;
	gs_eparam_t *image = nullptr;
	gs_eparam_t *uv_min = nullptr;
	gs_eparam_t *uv_max = nullptr;
	gs_eparam_t *blur_step = nullptr;
	gs_eparam_t *blur_wa = nullptr;
	gs_eparam_t *blur_wb = nullptr;
	gs_eparam_t *blur_wc = nullptr;
	gs_eparam_t *blur_center = nullptr;
	gs_eparam_t *cap_origin = nullptr;
	gs_eparam_t *cap_inv_size = nullptr;
	gs_eparam_t *grid_origin = nullptr;
	gs_eparam_t *grid_dim = nullptr;
	gs_eparam_t *cell_size = nullptr;
	gs_eparam_t *pos_origin = nullptr;
	gs_eparam_t *pos_du = nullptr;
	gs_eparam_t *pos_dv = nullptr;
	gs_eparam_t *hatch_color = nullptr;
	gs_eparam_t *orig = nullptr;
	gs_eparam_t *orig_uv_min = nullptr;
	gs_eparam_t *orig_uv_max = nullptr;
	gs_eparam_t *local_origin = nullptr;
	gs_eparam_t *local_du = nullptr;
	gs_eparam_t *local_dv = nullptr;
	gs_eparam_t *shape_rect = nullptr;
	gs_eparam_t *shape_kind = nullptr;
	gs_eparam_t *feather = nullptr;
	gs_eparam_t *corner_radius = nullptr;
	gs_eparam_t *invert = nullptr;
	gs_eparam_t *cover_color = nullptr;
	gs_eparam_t *cover_alpha = nullptr;
	gs_eparam_t *cover_scale = nullptr;
	gs_samplerstate_t *point_sampler = nullptr;
	HostEffectParams host_effects[6]; // default, bicubic, lanczos, low-res bilinear, area
};

extern BoardEffect board_effect;
extern const char board_effect_text[];

// Both enter and leave the graphics context themselves. Load returns
// whether the effect exists.
bool board_effect_load();
void board_effect_unload();
