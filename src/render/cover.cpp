// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/cover.h"

#include <graphics/vec4.h>
#include <obs.h>

#include "board/blur_board.h"
#include "render/board_render.h"
#include "host/log.h"
#include "render/board_effect.h"
#include "render/final_pass.h"

namespace {

const char *cause_text(CoverCause cause)
{
	switch (cause) {
	case CoverCause::NoEffect:
		return "its effect is not loaded";
	case CoverCause::SceneGone:
		return "the scene that holds it is gone";
	case CoverCause::ItemNotFound:
		return "its scene item was not found";
	case CoverCause::BadPosition:
		return "its position on the canvas is not a number";
	case CoverCause::CaptureTexture:
		return "the texture for the region beneath could not be made";
	case CoverCause::Passes:
		return "a blur or mosaic pass could not run";
	}
	return "unknown";
}

void log_cause_once(BlurBoard *board, CoverCause cause)
{
	const uint32_t bit = (uint32_t)cause;
	if (board->render->cover_logged & bit)
		return;
	board->render->cover_logged |= bit;
	const char *name = obs_source_get_name(board->source);
	log_message(LOG_WARNING, "board '%s' cannot show its effect (%s); it covers its area instead", name ? name : "",
		    cause_text(cause));
}

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

void draw_opaque(float w, float h)
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

} // namespace

void draw_hatch(BlurBoard *board)
{
	draw_opaque((float)board->width.load(), (float)board->height.load());
}

void draw_failure_cover(BlurBoard *board, CoverCause cause, const FinalPassParams &params)
{
	log_cause_once(board, cause);
	if (!push_canvas_transform(params)) {
		draw_hatch(board);
		return;
	}
	draw_opaque(params.quad_width, params.quad_height);
	gs_matrix_pop();
}
