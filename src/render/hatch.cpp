// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/hatch.h"

#include <graphics/vec4.h>
#include <obs.h>

#include "board/blur_board.h"
#include "render/board_effect.h"

namespace {

// Without the board's own effect: the host's solid effect, opaque.
void draw_solid(float w, float h)
{
	gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID);
	gs_eparam_t *color = gs_effect_get_param_by_name(solid, "color");
	vec4 fill;
	vec4_set(&fill, 0.12f, 0.12f, 0.12f, 1.0f);
	gs_effect_set_vec4(color, &fill);
	while (gs_effect_loop(solid, "Solid"))
		gs_draw_quadf(nullptr, 0, w, h);
}

// The stripes in the quad's own pixels: each band spans 24 of them along
// x + y, so they scale with the item.
void draw_stripes(float w, float h)
{
	BoardEffect &fx = board_effect;
	vec2 origin, du, dv;
	vec2_set(&origin, 0.0f, 0.0f);
	vec2_set(&du, w, 0.0f);
	vec2_set(&dv, 0.0f, h);
	gs_effect_set_vec2(fx.pos_origin, &origin);
	gs_effect_set_vec2(fx.pos_du, &du);
	gs_effect_set_vec2(fx.pos_dv, &dv);
	// Dark red bands over the effect's dark grey fill, both opaque.
	vec4 color;
	vec4_set(&color, 0.55f, 0.04f, 0.04f, 1.0f);
	gs_effect_set_vec4(fx.hatch_color, &color);
	while (gs_effect_loop(fx.effect, "Hatch"))
		gs_draw_quadf(nullptr, 0, w, h);
}

} // namespace

void draw_hatch_quad(float w, float h)
{
	if (!(w > 0.0f) || !(h > 0.0f))
		return;
	gs_blend_state_push();
	gs_enable_blending(false);
	if (board_effect.effect)
		draw_stripes(w, h);
	else
		draw_solid(w, h);
	gs_blend_state_pop();
}

void draw_hatch_target()
{
	gs_rect viewport;
	gs_get_viewport(&viewport);
	const float w = (float)viewport.cx, h = (float)viewport.cy;
	gs_projection_push();
	gs_ortho(0.0f, w, 0.0f, h, -100.0f, 100.0f);
	gs_matrix_push();
	gs_matrix_identity();
	draw_hatch_quad(w, h);
	gs_matrix_pop();
	gs_projection_pop();
}

void draw_hatch(BlurBoard *board)
{
	draw_hatch_quad((float)board->width.load(), (float)board->height.load());
}
