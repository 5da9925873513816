#include "render/texture_pool.h"

gs_texrender_t *ensure_slot(TexturePool &pool, int slot, gs_color_format format)
{
	gs_texrender_t *&render = pool.slots[slot];
	if (render && gs_texrender_get_format(render) != format) {
		gs_texrender_destroy(render);
		render = nullptr;
	}
	if (!render)
		render = gs_texrender_create(format, GS_ZS_NONE);
	return render;
}

void destroy_slots(TexturePool &pool, int first, int last)
{
	for (int slot = first; slot <= last; ++slot) {
		gs_texrender_destroy(pool.slots[slot]);
		pool.slots[slot] = nullptr;
	}
}

bool begin_pass(gs_texrender_t *render, uint32_t width, uint32_t height, gs_color_space space)
{
	gs_texrender_reset(render);
	if (!gs_texrender_begin_with_color_space(render, width, height, space))
		return false;
	gs_ortho(0.0f, (float)width, 0.0f, (float)height, -100.0f, 100.0f);
	gs_blend_state_push();
	gs_enable_blending(false);
	return true;
}

void end_pass(gs_texrender_t *render)
{
	gs_blend_state_pop();
	gs_texrender_end(render);
}
