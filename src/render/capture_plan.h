// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where a board's effect lies on the canvas in one frame and which region
// its passes read: pure arithmetic, tested without a GPU.

#include <graphics/matrix4.h>
#include <obs.h>

#include <cstdint>

#include "render/capture_region.h"

struct DrawSnapshot;

struct CanvasBox {
	float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Canvas bounding box of the part of a bw x bh board that survives the
// crop; false when the crop leaves nothing.
bool visible_bounding_box(const matrix4 &board_to_canvas, const obs_sceneitem_crop &crop, uint32_t bw, uint32_t bh,
			  CanvasBox &box);

// Where the board's item sits this frame: the canvas it is drawn on, the
// item's draw transform and its crop.
struct BoardOnCanvas {
	uint32_t canvas_width = 0;
	uint32_t canvas_height = 0;
	matrix4 transform{};
	obs_sceneitem_crop crop{};
};

enum class CapturePlanStatus {
	Capture, // run the passes over region
	Nothing, // nothing to hide: too weak, cropped away or off the canvas
	BadPosition, // the board's place is not a number: cover it instead
};

struct CapturePlan {
	CapturePlanStatus status = CapturePlanStatus::Nothing;
	matrix4 board_to_canvas{};
	CanvasBox box; // what the effect covers: the board, or the whole canvas
	bool mosaic = false; // mosaic mode or emergency
	Reach reach;
	CaptureRegion region;
};

// The emergency cover and an inverted board span the whole canvas whatever
// the board's crop;
// otherwise the board's visible box, which must lie on the canvas.
CapturePlan plan_capture(const DrawSnapshot &snapshot, const BoardOnCanvas &where, uint32_t board_width,
			 uint32_t board_height);
