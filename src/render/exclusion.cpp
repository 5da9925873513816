// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/exclusion.h"

#include <graphics/vec4.h>
#include <obs.h>

void destroy_exclusion(ExclusionStencil &stencil)
{
	gs_zstencil_destroy(stencil.buffer);
	stencil = {};
}

namespace {

bool fit_to_target(ExclusionStencil &stencil, gs_texture_t *target)
{
	const uint32_t width = gs_texture_get_width(target), height = gs_texture_get_height(target);
	if (stencil.buffer && stencil.width == width && stencil.height == height)
		return true;
	destroy_exclusion(stencil);
	stencil.buffer = gs_zstencil_create(width, height, GS_Z24_S8);
	stencil.width = width;
	stencil.height = height;
	return stencil.buffer != nullptr;
}

// The rectangle into the stencil alone, with the given operation.
void mark(float x, float y, float w, float h, gs_stencil_op_type op)
{
	gs_stencil_function(GS_STENCIL_BOTH, GS_ALWAYS);
	gs_stencil_op(GS_STENCIL_BOTH, GS_KEEP, GS_KEEP, op);
	gs_enable_stencil_write(true);
	gs_enable_color(false, false, false, false);
	gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID);
	gs_matrix_push();
	gs_matrix_translate3f(x, y, 0.0f);
	while (gs_effect_loop(solid, "Solid"))
		gs_draw_quadf(nullptr, 0, w, h);
	gs_matrix_pop();
	gs_enable_color(true, true, true, true);
}

} // namespace

bool draw_excluding(ExclusionStencil &stencil, float x, float y, float w, float h, void (*draw)(void *), void *data)
{
	gs_texture_t *target = gs_get_render_target();
	if (!target || !fit_to_target(stencil, target))
		return false;
	gs_zstencil_t *previous = gs_get_zstencil_target();
	const gs_color_space space = gs_get_color_space();
	gs_set_render_target_with_color_space(target, stencil.buffer, space);
	gs_enable_stencil_test(true);
	if (!stencil.cleared) {
		vec4 zero;
		vec4_zero(&zero);
		gs_enable_stencil_write(true);
		gs_clear(GS_CLEAR_STENCIL, &zero, 0.0f, 0);
		stencil.cleared = true;
	}
	// The host's stencil reference is 0: the rectangle is raised to 1 and
	// the draw passes where the stencil still equals 0.
	mark(x, y, w, h, GS_INCR);
	gs_stencil_function(GS_STENCIL_BOTH, GS_EQUAL);
	gs_stencil_op(GS_STENCIL_BOTH, GS_KEEP, GS_KEEP, GS_KEEP);
	gs_enable_stencil_write(false);
	draw(data);
	mark(x, y, w, h, GS_ZERO);
	gs_enable_stencil_test(false);
	gs_set_render_target_with_color_space(target, previous, space);
	return true;
}
