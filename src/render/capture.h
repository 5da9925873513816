// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/matrix4.h>
#include <obs.h>

#include <cstdint>

#include "render/capture_plan.h"
#include "render/failure_cover.h"
#include "render/item_geometry.h"

struct BlurBoard;
struct DrawSnapshot;
struct FinalPassParams;

// Texture format of the chain for the colour space being drawn.
gs_color_format chain_format_for(gs_color_space space);

// What the current render target shows, for the choice of copy or redraw.
struct TargetView {
	gs_texture_t *target = nullptr;
	bool has_target = false;
	uint32_t width = 0, height = 0;
	gs_color_format format = GS_UNKNOWN;
	gs_rect viewport{};
	matrix4 world{};
	// The target is the main canvas's own texture: the program output,
	// whatever scene (public or a private copy) it shows.
	bool main_canvas = false;
	// The target has the main canvas's size (a transition's texture, say).
	bool canvas_sized = false;
};

// Reads the live render target, viewport and world matrix.
TargetView read_target_view();

// The live draw shows a canvas one to one in a format the chain can take:
// the world matrix is then the board's place on that canvas. Besides the
// canvas itself, a canvas-sized target (a transition's texture) counts for
// a board that no public scene places, such as a private copy in studio
// mode: for a placed board the scan tells such a view from one that draws
// the canvas moved. A canvas-sized target may also be the texture of the
// board's own item (a filter or blending on it), which the host clears
// first, so a board that large never counts there.
bool live_canvas_view(const TargetView &view, gs_color_format chain_format, uint32_t board_width, uint32_t board_height,
		      bool placed);

// The target is drawn whole in a format the chain can take: for the panic
// cover, which only a canvas draws, as its last output channel.
bool whole_target_view(const TargetView &view, gs_color_format chain_format);

// True when the target shows the canvas one to one in a format the chain
// can take, and the board is being drawn with its own transform alone.
bool target_shows_canvas(const TargetView &view, uint32_t canvas_width, uint32_t canvas_height,
			 gs_color_format chain_format, const matrix4 &board_transform);

enum class CaptureOutcome {
	Drawn, // params hold a composite
	Nothing, // nothing to hide: too weak, cropped away or off the canvas
	Failed, // should hide and cannot: the failure cover instead
};

struct CaptureResult {
	CaptureOutcome outcome = CaptureOutcome::Nothing;
	FailureCause cause = FailureCause::Passes;
};

// First half of the per-frame work: find the board's place, capture the
// region beneath it into slot 0, then run the chain. placed: the board's
// one public item is in the snapshot's scene; on_canvas: the view is a
// canvas one to one (live_canvas_view), where the world matrix places it.
CaptureResult capture_and_chain(BlurBoard *board, const DrawSnapshot &snapshot, const TargetView &view, bool placed,
				bool on_canvas, FinalPassParams &params);
