// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/draw.h"

#include "board/blur_board.h"
#include "render/board_render.h"
#include "render/board_effect.h"
#include "render/capture.h"
#include "render/cover_mode.h"
#include "render/draw_plan.h"
#include "render/failure_cover.h"
#include "render/final_pass.h"
#include "render/hatch.h"

namespace {

// Copies what this draw needs under the board's lock. False when the board
// is faded out and has no emergency cover: then there is nothing to hide.
// The panic cover always hides, fully: nothing ticks its fade.
bool take_snapshot(BlurBoard *board, DrawSnapshot &snap)
{
	const bool panic = board->panic_cover.load();
	std::lock_guard<std::mutex> lock(board->mutex);
	if (!panic && !board->emergency && !(board->fade_level > 0.0f))
		return false;
	snap.is_mosaic = board->is_mosaic;
	snap.blur_radius = board->blur_radius;
	snap.mosaic_size = board->mosaic_size;
	snap.emergency_size = board->emergency_size;
	snap.emergency = board->emergency;
	snap.fade_level = panic ? 1.0f : board->fade_level;
	snap.scene = refs::weak_get_source(board->placement.scene);
	snap.in_group = board->placement.group != nullptr;
	if (snap.in_group)
		snap.group = refs::weak_get_source(board->placement.group);
	snap.force_redraw = board->force_redraw;
	snap.shape = board->shape;
	snap.is_cover = board->is_cover;
	snap.cover_color = board->cover_color;
	snap.cover_image = board->cover.image;
	return true;
}

// One draw's view of the board: the snapshot, the target and the inputs of
// the choice.
struct DrawCall {
	DrawSnapshot snap;
	TargetView view;
	DrawInputs in;
};

void read_call(BlurBoard *board, DrawCall &call)
{
	DrawInputs &in = call.in;
	in.busy = board->render->busy;
	if (in.busy)
		return;
	in.status = board->placement_status.load();
	in.hides = take_snapshot(board, call.snap);
	in.emergency = in.hides && call.snap.emergency;
	in.cover_mode = in.hides && call.snap.is_cover;
	in.panic_cover = board->panic_cover.load();
	call.view = read_target_view();
	const gs_color_format chain_format = chain_format_for(gs_get_color_space());
	in.live = in.panic_cover ? whole_target_view(call.view, chain_format)
				 : live_canvas_view(call.view, chain_format, board->width.load(), board->height.load(),
						    in.status == PlacementStatus::Placed);
	in.has_effect = board_effect.effect != nullptr;
	const BoardRender &render = *board->render;
	in.cache_fresh = render.cache_valid && render.cached_frame_time == obs_get_video_frame_time();
}

// An inverted board and the emergency cover hide beyond the board's own
// quad: where they cannot tell the canvas's place, their stripes cover the
// whole target.
bool over_target(const DrawCall &call)
{
	return call.in.hides && (call.snap.shape.invert || call.snap.emergency);
}

void draw_cached(BlurBoard *board)
{
	if (board->render->cached_ok)
		draw_final_composite(board->render->cached_params);
	else if (board->render->cached_failed)
		draw_failure_cover(board, board->render->cached_cause, board->render->cached_params);
}

// The first draw of a frame works out the result (capture and chain, or
// the cover's place), keeps it for the frame's other views and draws it.
void draw_first(BlurBoard *board, DrawCall &call, DrawAction action)
{
	BoardRender &render = *board->render;
	render.busy = true;
	const bool placed = call.in.status == PlacementStatus::Placed;
	FinalPassParams params;
	params.fails_over_target = over_target(call);
	const CaptureResult result = action == DrawAction::Cover
					 ? place_cover(board, call.snap, call.view, placed, call.in.live, params)
					 : capture_and_chain(board, call.snap, call.view, placed, call.in.live, params);
	render.cached_params = params;
	// The cover's image stays alive while the frame's views replay it.
	render.cached_cover_image = action == DrawAction::Cover ? call.snap.cover_image : nullptr;
	render.cached_ok = result.outcome == CaptureOutcome::Drawn;
	render.cached_failed = result.outcome == CaptureOutcome::Failed;
	render.cached_cause = result.cause;
	render.cached_frame_time = obs_get_video_frame_time();
	render.cache_valid = true;
	draw_cached(board);
	render.busy = false;
}

} // namespace

void board_draw(BlurBoard *board)
{
	if (!board)
		return;
	DrawCall call;
	read_call(board, call);
	const DrawAction action = plan_draw(call.in);
	switch (action) {
	case DrawAction::Nothing:
		return;
	case DrawAction::Hatch:
		if (over_target(call))
			draw_hatch_target();
		else
			draw_hatch(board);
		return;
	case DrawAction::FailureCover: {
		FinalPassParams params;
		params.fails_over_target = over_target(call);
		draw_failure_cover(board, FailureCause::NoEffect, params);
		return;
	}
	case DrawAction::Replay:
		draw_cached(board);
		return;
	case DrawAction::Cover:
	case DrawAction::Capture:
		draw_first(board, call, action);
		return;
	}
}
