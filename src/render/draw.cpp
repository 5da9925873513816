#include "render/draw.h"

#include <graphics/vec4.h>

#include "board/blur_board.h"
#include "render/board_effect.h"
#include "render/capture.h"
#include "render/final_pass.h"

namespace {

// Copies what this draw needs under the board's lock. False when the board
// is faded out and has no emergency cover: then nothing is drawn.
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
	snap.scene = obs_weak_source_get_source(board->placement.scene);
	snap.in_group = board->placement.group != nullptr;
	snap.group = snap.in_group ? obs_weak_source_get_source(board->placement.group) : nullptr;
	snap.force_redraw = board->force_redraw;
	snap.is_ellipse = board->is_ellipse;
	snap.feather = board->feather;
	return true;
}

} // namespace

void draw_hatch(BlurBoard *board)
{
	BoardEffect &fx = board_effect;
	if (!fx.effect)
		return;
	const float w = (float)board->width.load();
	const float h = (float)board->height.load();
	vec2 origin, du, dv;
	vec2_set(&origin, 0.0f, 0.0f);
	vec2_set(&du, w, 0.0f);
	vec2_set(&dv, 0.0f, h);
	gs_effect_set_vec2(fx.pos_origin, &origin);
	gs_effect_set_vec2(fx.pos_du, &du);
	gs_effect_set_vec2(fx.pos_dv, &dv);
	// Dark red, premultiplied, 55 % coverage.
	vec4 color;
	vec4_set(&color, 0.55f, 0.04f, 0.04f, 0.55f);
	gs_effect_set_vec4(fx.hatch_color, &color);

	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	while (gs_effect_loop(fx.effect, "Hatch"))
		gs_draw_quadf(nullptr, 0, w, h);
	gs_blend_state_pop();
}

void board_draw(BlurBoard *board)
{
	if (!board || !board_effect.effect || board->busy)
		return;

	const PlacementStatus status = board->placement_status.load();
	if (status == PlacementStatus::Shared) {
		draw_hatch(board);
		return;
	}
	if (status != PlacementStatus::Placed)
		return;

	DrawSnapshot snap;
	if (!take_snapshot(board, snap))
		return;

	const uint64_t frame_time = obs_get_video_frame_time();
	if (board->cache_valid && board->cached_frame_time == frame_time) {
		// Every later view of this frame replays the first draw's result.
		if (board->cached_ok)
			draw_final_composite(board->cached_params);
	} else {
		board->busy = true;
		FinalPassParams params;
		const bool ok = capture_and_chain(board, snap, params);
		if (ok)
			draw_final_composite(params);
		board->cached_params = params;
		board->cached_ok = ok;
		board->cached_frame_time = frame_time;
		board->cache_valid = true;
		board->busy = false;
	}

	obs_source_release(snap.group);
	obs_source_release(snap.scene);
}
