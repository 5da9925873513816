// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/draw.h"

#include "board/blur_board.h"
#include "render/board_render.h"
#include "render/board_effect.h"
#include "render/capture.h"
#include "render/failure_cover.h"
#include "render/final_pass.h"
#include "render/hatch.h"

namespace {

// Copies what this draw needs under the board's lock. False when the board
// is faded out and has no emergency cover: then there is nothing to hide.
bool take_snapshot(BlurBoard *board, DrawSnapshot &snap)
{
	std::lock_guard<std::mutex> lock(board->mutex);
	if (!board->emergency && !(board->fade_level > 0.0f))
		return false;
	snap.is_mosaic = board->is_mosaic;
	snap.blur_radius = board->blur_radius;
	snap.mosaic_size = board->mosaic_size;
	snap.emergency_size = board->emergency_size;
	snap.emergency = board->emergency;
	snap.fade_level = board->fade_level;
	snap.scene = refs::weak_get_source(board->placement.scene);
	snap.in_group = board->placement.group != nullptr;
	if (snap.in_group)
		snap.group = refs::weak_get_source(board->placement.group);
	snap.force_redraw = board->force_redraw;
	snap.is_ellipse = board->is_ellipse;
	snap.feather = board->feather;
	return true;
}

void draw_cached(BlurBoard *board)
{
	if (board->render->cached_ok)
		draw_final_composite(board->render->cached_params);
	else if (board->render->cached_failed)
		draw_failure_cover(board, board->render->cached_cause, board->render->cached_params);
}

} // namespace

void board_draw(BlurBoard *board)
{
	if (!board || board->render->busy)
		return;

	const PlacementStatus status = board->placement_status.load();
	DrawSnapshot snap;
	const bool hide = take_snapshot(board, snap);
	const TargetView view = read_target_view();
	const gs_color_format chain_format = chain_format_for(gs_get_color_space());
	// The panic cover is drawn by a canvas alone, of whatever size: where it
	// cannot read that canvas, it covers it opaque (its size is the canvas's).
	const bool panic_cover = board->panic_cover.load();
	const bool live = panic_cover ? whole_target_view(view, chain_format)
				      : live_canvas_view(view, chain_format, board->width.load(), board->height.load(),
							 status == PlacementStatus::Placed);
	if (panic_cover && !live) {
		draw_hatch(board);
		return;
	}

	// A board shown by two items cannot tell which one is drawn: stripes,
	// except for the emergency cover on a live canvas, which needs no item.
	if (status == PlacementStatus::Shared && !(hide && snap.emergency && live)) {
		draw_hatch(board);
		return;
	}
	if (!hide)
		return;
	// Not in any public scene and not drawn onto a canvas (its properties
	// preview, say): there is nothing beneath it to hide.
	if (status != PlacementStatus::Placed && !live)
		return;
	if (!board_effect.effect) {
		draw_failure_cover(board, FailureCause::NoEffect, FinalPassParams{});
		return;
	}

	const uint64_t frame_time = obs_get_video_frame_time();
	if (board->render->cache_valid && board->render->cached_frame_time == frame_time) {
		// Every later view of this frame replays the first draw's result.
		draw_cached(board);
		return;
	}

	board->render->busy = true;
	FinalPassParams params;
	const CaptureResult result =
	    capture_and_chain(board, snap, view, status == PlacementStatus::Placed, live, params);
	board->render->cached_params = params;
	board->render->cached_ok = result.outcome == CaptureOutcome::Drawn;
	board->render->cached_failed = result.outcome == CaptureOutcome::Failed;
	board->render->cached_cause = result.cause;
	board->render->cached_frame_time = frame_time;
	board->render->cache_valid = true;
	draw_cached(board);
	board->render->busy = false;
}
