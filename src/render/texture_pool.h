#pragma once

#include <graphics/graphics.h>

#include <array>

enum PoolSlot : int {
	kSlotCapture = 0,
	kSlotLevel1 = 1, // halvings 1 to 6 follow
	kSlotBlurAcross = 7,
	kSlotBlurDown = 8,
	kSlotMosaic = 9,
	kSlotItem8 = 10,
	kSlotItem16F = 11,
	kPoolSlots = 12,
};

// A board's texture renders, kept from frame to frame.
struct TexturePool {
	std::array<gs_texrender_t *, kPoolSlots> slots{};
	gs_color_format chain_format = GS_UNKNOWN;
};

// The slot's texture render in the given format (recreated when the format
// differs); null when the host could not create one.
gs_texrender_t *ensure_slot(TexturePool &pool, int slot, gs_color_format format);

// Destroys slots [first, last] in order and empties them.
void destroy_slots(TexturePool &pool, int first, int last);

// Opens a pass: reset, begin with size and colour space, orthographic
// projection over the target, blending off. False with nothing pushed
// when the target does not begin.
bool begin_pass(gs_texrender_t *render, uint32_t width, uint32_t height, gs_color_space space);
void end_pass(gs_texrender_t *render);
