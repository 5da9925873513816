// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "board/placement.h"

// What one call of a board's draw does.
enum class DrawAction {
	Nothing, // nothing to hide here, or the board is already being drawn
	Hatch, // opaque stripes: a shared board, or a panic cover it cannot draw
	FailureCover, // should hide and cannot (no effect)
	Cover, // cover mode's first draw of the frame
	Replay, // a later view of this frame: the first draw's result again
	Capture, // blur, mosaic or emergency cover: capture and run the chain
};

// Everything the choice depends on, read by the draw before it acts.
struct DrawInputs {
	bool busy = false; // the board's first draw of the frame is under way
	PlacementStatus status = PlacementStatus::NotPlaced;
	bool hides = false; // faded in, or the emergency cover is on
	bool emergency = false;
	bool cover_mode = false;
	bool panic_cover = false; // the module's panic board, drawn by a canvas alone
	bool live = false; // the view shows a canvas one to one
	bool has_effect = false;
	bool cache_fresh = false; // the cache holds this video frame's result
};

DrawAction plan_draw(const DrawInputs &in);
