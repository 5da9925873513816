// SPDX-License-Identifier: GPL-2.0-or-later
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

gs_texrender_t *item_scratch(TexturePool &pool, bool half_float, uint32_t cx, uint32_t cy)
{
	const int first = half_float ? kSlotItem16F : kSlotItem8;
	const gs_color_format format = half_float ? GS_RGBA16F : GS_RGBA;
	int pick = -1;
	for (int i = 0; i < kItemSlots; ++i) {
		gs_texrender_t *render = pool.slots[first + i];
		gs_texture_t *texture = render ? gs_texrender_get_texture(render) : nullptr;
		if (texture && gs_texture_get_width(texture) == cx && gs_texture_get_height(texture) == cy)
			return ensure_slot(pool, first + i, format);
		if (!texture && pick < 0)
			pick = i;
	}
	if (pick < 0) {
		int &next = pool.next_item[half_float ? 1 : 0];
		pick = next;
		next = (next + 1) % kItemSlots;
	}
	return ensure_slot(pool, first + pick, format);
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
