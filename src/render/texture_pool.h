// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/graphics.h>

#include <array>

enum PoolSlot : int {
	kSlotCapture = 0,
	kSlotLevel1 = 1, // halvings 1 to 6 follow
	kSlotBlurAcross = 7,
	kSlotBlurDown = 8,
	kSlotMosaic = 9,
	kSlotItem8 = 10, // four scratch targets for redrawn items, 8 bits
	kSlotItem16F = 14, // and four of half floats
	kItemSlots = 4,
	kSlotBlurHalved = 18, // a small blur's filtered halving, one level down
	kSlotBlurUp = 19, // and its result brought back up to its level
	kPoolSlots = 20,
};

// A board's texture renders, kept from frame to frame.
struct TexturePool {
	std::array<gs_texrender_t *, kPoolSlots> slots{};
	gs_color_format chain_format = GS_UNKNOWN;
	std::array<int, 2> next_item{}; // the item slot to reuse next, per format
};

// The slot's texture render in the given format (recreated when the format
// differs); null when the host could not create one.
gs_texrender_t *ensure_slot(TexturePool &pool, int slot, gs_color_format format);

// A scratch target for an item of cx x cy texels: one that already has that
// size, else an empty one, else the next in turn. Items of a few sizes so
// keep their textures from frame to frame, each exactly its item's size.
gs_texrender_t *item_scratch(TexturePool &pool, bool half_float, uint32_t cx, uint32_t cy);

// Destroys slots [first, last] in order and empties them.
void destroy_slots(TexturePool &pool, int first, int last);

// Opens a pass: reset, begin with size and colour space, orthographic
// projection over the target, blending off. False with nothing pushed
// when the target does not begin.
bool begin_pass(gs_texrender_t *render, uint32_t width, uint32_t height, gs_color_space space);
void end_pass(gs_texrender_t *render);
