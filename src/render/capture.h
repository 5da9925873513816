#pragma once

#include <graphics/matrix4.h>
#include <obs.h>

#include <cstdint>

struct BlurBoard;
struct DrawSnapshot;
struct FinalPassParams;

// Texture format of the chain for the colour space being drawn.
gs_color_format chain_format_for(gs_color_space space);

// Maps a board pixel to its canvas position: the crop, then the item's
// draw transform.
matrix4 board_to_canvas(const matrix4 &board_transform, const obs_sceneitem_crop &crop);

struct CanvasBox {
	float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Canvas bounding box of the part of a bw x bh board that survives the
// crop; false when the crop leaves nothing.
bool visible_bounding_box(const matrix4 &board_to_canvas, const obs_sceneitem_crop &crop, uint32_t bw, uint32_t bh,
			  CanvasBox &box);

// What the current render target shows, for the choice of copy or redraw.
struct TargetView {
	bool has_target = false;
	uint32_t width = 0, height = 0;
	gs_color_format format = GS_UNKNOWN;
	gs_rect viewport{};
	matrix4 world{};
};

// True when the target shows the canvas one to one in a format the chain
// can take, and the board is being drawn with its own transform alone.
bool target_shows_canvas(const TargetView &view, uint32_t canvas_width, uint32_t canvas_height,
			 gs_color_format chain_format, const matrix4 &board_transform);

// First half of the per-frame work: capture the region beneath the board
// into slot 0, then run the chain. True when params can be drawn.
bool capture_and_chain(BlurBoard *board, const DrawSnapshot &snapshot, FinalPassParams &params);
