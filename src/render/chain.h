// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/graphics.h>
#include <graphics/matrix4.h>
#include <graphics/vec2.h>
#include <obs.h>

#include <cstdint>

#include "board/settings.h"
#include "render/capture_region.h"
#include "render/chain_plan.h"

struct DrawSnapshot;
struct FinalPassParams;
struct TexturePool;

// Everything the capture hands to the blur / mosaic passes: what their plan
// takes (its copy and shaped the chain works out itself), and more.
struct ChainInput : PlanInput {
	const DrawSnapshot *snapshot = nullptr;
	// The canvas's size, and the board's own (its source's) size, in pixels.
	uint32_t canvas_width = 0;
	uint32_t canvas_height = 0;
	uint32_t board_width = 0;
	uint32_t board_height = 0;
	obs_sceneitem_crop crop{}; // the board item's crop
	matrix4 board_to_canvas{}; // the board's pixels to the canvas's
	bool emergency = false;
	// The board has no known item on this canvas (shared, or a private
	// copy): its emergency cover replaces the world matrix instead of
	// undoing it.
	bool emergency_replaces_world = false;
	gs_color_format chain_format = GS_RGBA;
	gs_color_space space = GS_CS_SRGB;
	TexturePool *pool = nullptr; // slot 0 holds the capture
	// Copy: the render target itself, read in place of a capture (a copy
	// would wait for everything drawn so far; a pass reading it does not).
	gs_texture_t *target = nullptr;
};

// Halvings, then blur or mosaic reduction; fills params for the final
// composite. False when a pass could not run (nothing is drawn then).
// On a copy the first pass that reads the target stands in for the capture;
// when its texture cannot be made or begun, *first_texture_failed is set.
bool run_chain(const ChainInput &input, FinalPassParams &params, bool *first_texture_failed = nullptr);

// Size of the mosaic texture for an nx x ny grid, given the texture it has
// (or null): kept while the grid fits and fills a quarter of it, so a
// fading or moving board does not resize it every frame.
void mosaic_texture_size(gs_texture_t *texture, uint32_t nx, uint32_t ny, uint32_t &width, uint32_t &height);

// The emergency cover's quad over the whole canvas (an inverted board's
// too), drawn under the inverse of the board's matrix, or in place of the
// world matrix when the board has none or replaces_world is set.
void place_emergency_cover(uint32_t canvas_width, uint32_t canvas_height, const matrix4 &board_to_canvas,
			   bool replaces_world, FinalPassParams &params);

// The board's own quad (bw x bh, drawn under the host's transform for the
// item) and the canvas position of each of its texture coordinates.
void place_board_quad(const matrix4 &board_to_canvas, uint32_t board_width, uint32_t board_height,
		      FinalPassParams &params);

// The shape's mask inputs for that quad: the part the crop leaves, as a
// rectangle, a rounded one or the ellipse inside it, with the feather and
// the corner radius in canvas pixels, and whether it is inverted.
void place_shape(const obs_sceneitem_crop &crop, uint32_t board_width, uint32_t board_height, const BoardShape &shape,
		 FinalPassParams &params);

// An inverted board: the quad over the whole canvas (as the emergency
// cover's), the shape still in the board's frame. A board with no area
// has no shape: all of the canvas is hidden.
void place_inverted(const matrix4 &board_to_canvas, uint32_t canvas_width, uint32_t canvas_height, bool replaces_world,
		    const obs_sceneitem_crop &crop, uint32_t board_width, uint32_t board_height,
		    const BoardShape &shape, FinalPassParams &params);

// Places the result on the board's quad (or, for the emergency cover and
// an inverted board, on the whole canvas) and fills the shape inputs;
// image and orig are left to the caller.
bool place_composite(const ChainInput &input, FinalPassParams &params);
