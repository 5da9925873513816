// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/draw_item.h"

#include <graphics/matrix4.h>

#include <cmath>

#include "board/blur_board.h"
#include "render/board_render.h"
#include "render/beneath_scan.h"
#include "render/board_effect.h"
#include "render/item_geometry.h"
#include "render/texture_pool.h"

const BlendRow kBlendRows[kBlendModes] = {
    // normal
    {GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_INVSRCALPHA, GS_BLEND_INVSRCALPHA, GS_BLEND_OP_ADD},
    // additive
    {GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_OP_ADD},
    // subtract
    {GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_OP_REVERSE_SUBTRACT},
    // screen
    {GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_INVSRCCOLOR, GS_BLEND_INVSRCALPHA, GS_BLEND_OP_ADD},
    // multiply
    {GS_BLEND_DSTCOLOR, GS_BLEND_DSTALPHA, GS_BLEND_INVSRCALPHA, GS_BLEND_INVSRCALPHA, GS_BLEND_OP_ADD},
    // lighten
    {GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_OP_MAX},
    // darken
    {GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_ONE, GS_BLEND_OP_MIN},
};

const BlendRow &blend_row(int mode)
{
	if (mode < 0)
		mode = 0;
	if (mode >= kBlendModes)
		mode = kBlendModes - 1;
	return kBlendRows[mode];
}

namespace {

bool wide_space(gs_color_space space)
{
	return space == GS_CS_SRGB_16F || space == GS_CS_709_EXTENDED || space == GS_CS_709_SCRGB;
}

enum class SpaceKind { Sdr, Extended, Scrgb };

SpaceKind kind_of(gs_color_space space)
{
	if (space == GS_CS_709_EXTENDED)
		return SpaceKind::Extended;
	if (space == GS_CS_709_SCRGB)
		return SpaceKind::Scrgb;
	return SpaceKind::Sdr;
}

void draw_direct(obs_source_t *what, const BeneathItem &record)
{
	const bool previous = gs_set_linear_srgb(true);
	gs_matrix_push();
	gs_matrix_mul(&record.transform);
	obs_source_video_render(what);
	gs_matrix_pop();
	gs_set_linear_srgb(previous);
}

// The host's base effects live as long as the host: their handles are
// looked up once, not for every item of every frame.
const HostEffectParams &host_effect_params(gs_effect_t *effect)
{
	HostEffectParams *free_slot = nullptr;
	for (HostEffectParams &params : board_effect.host_effects) {
		if (params.effect == effect)
			return params;
		if (!params.effect && !free_slot)
			free_slot = &params;
	}
	static HostEffectParams overflow;
	HostEffectParams &params = free_slot ? *free_slot : overflow;
	params.effect = effect;
	params.image = gs_effect_get_param_by_name(effect, "image");
	params.base_dimension = gs_effect_get_param_by_name(effect, "base_dimension");
	params.base_dimension_i = gs_effect_get_param_by_name(effect, "base_dimension_i");
	params.multiplier = gs_effect_get_param_by_name(effect, "multiplier");
	return params;
}

void set_vec2(gs_eparam_t *param, float x, float y)
{
	if (!param)
		return;
	vec2 value;
	vec2_set(&value, x, y);
	gs_effect_set_vec2(param, &value);
}

} // namespace

DrawTechnique select_draw_technique(gs_color_space target_space, gs_color_space source_space, bool upscale)
{
	const SpaceKind source = kind_of(source_space);
	const SpaceKind target = kind_of(target_space);
	const float white = obs_get_video_sdr_white_level();

	bool multiply = false;
	bool tonemap = false;
	float multiplier = 1.0f;
	switch (source) {
	case SpaceKind::Sdr:
		if (target == SpaceKind::Scrgb) {
			multiply = true;
			multiplier = white / 80.0f;
		}
		break;
	case SpaceKind::Extended:
		if (target == SpaceKind::Sdr) {
			tonemap = true;
		} else if (target == SpaceKind::Scrgb) {
			multiply = true;
			multiplier = white / 80.0f;
		}
		break;
	case SpaceKind::Scrgb:
		if (target != SpaceKind::Scrgb) {
			multiply = true;
			tonemap = target == SpaceKind::Sdr;
			multiplier = 80.0f / white;
		}
		break;
	}

	static const char *const names[2][2][2] = {
	    // [upscale][multiply][tonemap]
	    {{"Draw", "DrawTonemap"}, {"DrawMultiply", "DrawMultiplyTonemap"}},
	    {{"DrawUpscale", "DrawUpscaleTonemap"}, {"DrawUpscaleMultiply", "DrawUpscaleMultiplyTonemap"}},
	};
	return {names[upscale][multiply][tonemap], multiplier};
}

ItemFilter select_item_filter(obs_scale_type filter, float sx, float sy)
{
	ItemFilter choice;
	if (filter == OBS_SCALE_DISABLE)
		return choice;
	if (filter == OBS_SCALE_POINT) {
		choice.point_sampler = true;
		return choice;
	}
	if (fabsf(sx - 1.0f) <= 0.0001f && fabsf(sy - 1.0f) <= 0.0001f)
		return choice;

	// The scale keeps its sign: a flipped item always takes the low-res path.
	choice.base_dimensions = true;
	if (sx < 0.5f || sy < 0.5f)
		choice.effect = OBS_EFFECT_BILINEAR_LOWRES;
	else if (filter == OBS_SCALE_BICUBIC)
		choice.effect = OBS_EFFECT_BICUBIC;
	else if (filter == OBS_SCALE_LANCZOS)
		choice.effect = OBS_EFFECT_LANCZOS;
	else if (filter == OBS_SCALE_AREA) {
		choice.effect = OBS_EFFECT_AREA;
		choice.upscale = sx >= 1.0f && sy >= 1.0f;
	}
	return choice;
}

namespace {

// The item drawn into a scratch texture of its cropped size, as the host
// draws an item that needs a texture; null when nothing is left to show.
gs_texture_t *render_cropped(BlurBoard *board, const BeneathItem &record, obs_source_t *what, uint32_t width,
			     uint32_t height, gs_color_space source_space)
{
	const uint32_t cx = cropped_size(width, (uint32_t)record.crop.left, (uint32_t)record.crop.right);
	const uint32_t cy = cropped_size(height, (uint32_t)record.crop.top, (uint32_t)record.crop.bottom);
	// Edges that add up to exactly the size leave nothing to show.
	if (!cx || !cy)
		return nullptr;
	gs_texrender_t *scratch = item_scratch(board->render->pool, wide_space(source_space), cx, cy);
	if (!scratch)
		return nullptr;

	gs_texrender_reset(scratch);
	if (!gs_texrender_begin_with_color_space(scratch, cx, cy, source_space))
		return nullptr;
	vec4 clear_color;
	vec4_zero(&clear_color);
	gs_clear(GS_CLEAR_COLOR, &clear_color, 0.0f, 0);
	gs_ortho(0.0f, (float)width, 0.0f, (float)height, -100.0f, 100.0f);
	gs_matrix_scale3f((float)width / (float)cx, (float)height / (float)cy, 1.0f);
	gs_matrix_translate3f(-(float)record.crop.left, -(float)record.crop.top, 0.0f);
	obs_source_video_render(what);
	gs_texrender_end(scratch);
	return gs_texrender_get_texture(scratch);
}

struct ScaleEffect {
	gs_effect_t *effect = nullptr;
	const char *technique = nullptr;
};

// The host's effect that scales the item, its parameters set for the
// texture and the colour spaces; no effect when the host has none.
ScaleEffect set_up_scale_effect(const BeneathItem &record, gs_texture_t *texture, gs_color_space target_space,
				gs_color_space source_space)
{
	const ItemFilter filter = select_item_filter(record.scale_filter, record.scale.x, record.scale.y);
	gs_effect_t *effect = obs_get_base_effect(filter.effect);
	if (!effect)
		return {};
	const HostEffectParams &params = host_effect_params(effect);
	if (filter.point_sampler && params.image)
		gs_effect_set_next_sampler(params.image, board_effect.point_sampler);
	if (filter.base_dimensions) {
		const float tw = (float)gs_texture_get_width(texture);
		const float th = (float)gs_texture_get_height(texture);
		set_vec2(params.base_dimension, tw, th);
		set_vec2(params.base_dimension_i, 1.0f / tw, 1.0f / th);
	}
	const DrawTechnique technique = select_draw_technique(target_space, source_space, filter.upscale);
	if (params.multiplier)
		gs_effect_set_float(params.multiplier, technique.multiplier);
	return {effect, technique.name};
}

// The texture where the item sits, blended as the host blends the item.
void draw_item_texture(const BeneathItem &record, const ScaleEffect &scale, gs_texture_t *texture)
{
	const bool previous = gs_set_linear_srgb(record.blending_method != OBS_BLEND_METHOD_SRGB_OFF);
	gs_matrix_push();
	gs_matrix_mul(&record.transform);

	const BlendRow &blend = blend_row((int)record.blending_mode);
	gs_blend_state_push();
	gs_blend_function_separate((gs_blend_type)blend.src_color, (gs_blend_type)blend.dst_color,
				   (gs_blend_type)blend.src_alpha, (gs_blend_type)blend.dst_alpha);
	gs_blend_op((gs_blend_op_type)blend.op);

	while (gs_effect_loop(scale.effect, scale.technique))
		obs_source_draw(texture, 0, 0, 0, 0, false);

	gs_blend_state_pop();
	gs_matrix_pop();
	gs_set_linear_srgb(previous);
}

} // namespace

void draw_beneath_item(BlurBoard *board, const BeneathItem &record)
{
	obs_source_t *what = record.transition ? record.transition : record.source;
	const uint32_t width = obs_source_get_width(record.source);
	const uint32_t height = obs_source_get_height(record.source);
	if (record.transition)
		obs_transition_set_size(record.transition, width, height);

	if (!record.via_texture) {
		draw_direct(what, record);
		return;
	}
	if (!width || !height)
		return;

	const gs_color_space target_space = gs_get_color_space();
	const gs_color_space source_space = obs_source_get_color_space(record.source, 1, &target_space);
	gs_texture_t *texture = render_cropped(board, record, what, width, height, source_space);
	if (!texture)
		return;
	const ScaleEffect scale = set_up_scale_effect(record, texture, target_space, source_space);
	if (scale.effect)
		draw_item_texture(record, scale, texture);
}
