// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/capture.h"

#include <graphics/matrix4.h>
#include <graphics/vec3.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "board/blur_board.h"
#include "render/board_render.h"
#include "host/host_refs.h"
#include "host/log.h"
#include "host/profiling_switch.h"
#include "render/beneath_scan.h"
#include "render/capture_region.h"
#include "render/chain.h"
#include "render/draw.h"
#include "render/draw_item.h"
#include "render/final_pass.h"
#include "render/item_geometry.h"
#include "render/texture_pool.h"

gs_color_format chain_format_for(gs_color_space space)
{
	switch (space) {
	case GS_CS_SRGB_16F:
	case GS_CS_709_EXTENDED:
	case GS_CS_709_SCRGB:
		return GS_RGBA16F;
	default:
		return GS_RGBA;
	}
}

namespace {

// The viewport spans the whole target, whose format the chain can read.
bool whole_target_in_chain_format(const TargetView &view, gs_color_format chain_format)
{
	if (view.viewport.x != 0 || view.viewport.y != 0 || view.viewport.cx != (int)view.width ||
	    view.viewport.cy != (int)view.height)
		return false;
	return chain_format == GS_RGBA16F ? view.format == GS_RGBA16F
					  : (view.format == GS_RGBA || view.format == GS_BGRA);
}

} // namespace

bool target_shows_canvas(const TargetView &view, uint32_t canvas_width, uint32_t canvas_height,
			 gs_color_format chain_format, const matrix4 &board_transform)
{
	if (!view.has_target || view.width != canvas_width || view.height != canvas_height)
		return false;
	if (!whole_target_in_chain_format(view, chain_format))
		return false;
	for (int i = 0; i < 4; ++i) {
		const float *a = (&view.world.x)[i].ptr;
		const float *b = (&board_transform.x)[i].ptr;
		for (int j = 0; j < 4; ++j)
			if (!(std::fabs(a[j] - b[j]) <= 0.001f))
				return false;
	}
	return true;
}

namespace {

// The scan's records hold references until the end of the capture,
// whichever way it ends.
struct ScanGuard {
	BeneathScan &scan;
	~ScanGuard()
	{
		if (scan.group_item) {
			refs::item_release(scan.group_item);
			scan.group_item = nullptr;
		}
		release_beneath_items(scan.items);
		std::vector<BeneathItem>().swap(scan.items);
	}
};

void log_redraw_once(BlurBoard *board, const TargetView &view, uint32_t W, uint32_t H, gs_color_format chain_format,
		     const matrix4 &board_transform)
{
	if (board->render->redraw_logged || !profiling_is_enabled())
		return;
	board->render->redraw_logged = true;
	const char *name = obs_source_get_name(board->source);
	log_message(LOG_INFO,
		    "redraw '%s': target %ux%u fmt %d (want %ux%u fmt %d), viewport %d,%d %dx%d, world "
		    "t=(%.1f,%.1f) x=(%.3f,%.3f) / item t=(%.1f,%.1f) x=(%.3f,%.3f)",
		    name ? name : "", view.width, view.height, (int)view.format, W, H, (int)chain_format,
		    view.viewport.x, view.viewport.y, view.viewport.cx, view.viewport.cy, view.world.t.x,
		    view.world.t.y, view.world.x.x, view.world.x.y, board_transform.t.x, board_transform.t.y,
		    board_transform.x.x, board_transform.x.y);
}

// Once per board and time the emergency cover (or invert) is switched on
// over such an item: the streamer believes the whole canvas is hidden, and
// it is not.
void warn_clipped_emergency(BlurBoard *board, const DrawSnapshot &snap, bool clipped)
{
	if (!snap.emergency && !snap.shape.invert) {
		board->render->emergency_clip_warned = false;
		return;
	}
	if (!clipped || board->render->emergency_clip_warned)
		return;
	board->render->emergency_clip_warned = true;
	const char *name = obs_source_get_name(board->source);
	const char *what = snap.emergency ? "the emergency cover only covers"
					  : "the inverted board only hides around its shape inside";
	log_message(LOG_WARNING,
		    "board '%s': %s the board's own area because its scene item is "
		    "cropped or has a scale filter or blending mode set. Remove those from the board's item to "
		    "cover the whole canvas.",
		    name ? name : "", what);
}

CaptureResult failed(FailureCause cause)
{
	return {CaptureOutcome::Failed, cause};
}

constexpr CaptureResult kNothing{CaptureOutcome::Nothing, FailureCause::Passes};

} // namespace

TargetView read_target_view()
{
	TargetView view;
	gs_texture_t *target = gs_get_render_target();
	view.target = target;
	view.has_target = target != nullptr;
	if (!target)
		return view;
	view.width = gs_texture_get_width(target);
	view.height = gs_texture_get_height(target);
	view.format = gs_texture_get_color_format(target);
	gs_get_viewport(&view.viewport);
	gs_matrix_get(&view.world);
	view.main_canvas = target == obs_get_main_texture();
	obs_video_info ovi;
	view.canvas_sized = obs_get_video_info(&ovi) && ovi.base_width == view.width && ovi.base_height == view.height;
	return view;
}

bool whole_target_view(const TargetView &view, gs_color_format chain_format)
{
	return view.has_target && view.width && view.height && whole_target_in_chain_format(view, chain_format);
}

bool live_canvas_view(const TargetView &view, gs_color_format chain_format, uint32_t board_width, uint32_t board_height,
		      bool placed)
{
	if (!view.has_target || view.width == 0 || view.height == 0)
		return false;
	if (!view.main_canvas &&
	    !(!placed && view.canvas_sized && (board_width < view.width || board_height < view.height)))
		return false;
	return whole_target_in_chain_format(view, chain_format);
}

namespace {

// One call's fixed inputs, shared by its steps.
struct CaptureCall {
	BlurBoard *board;
	const DrawSnapshot &snap;
	const TargetView &view;
	bool placed;
	bool on_canvas;
	gs_color_space space;
	gs_color_format chain_format;
	// Read once for the whole call.
	uint32_t board_width = board->width.load();
	uint32_t board_height = board->height.load();
};

// A colour space of another format needs textures of that format.
void match_pool_format(TexturePool &pool, gs_color_format chain_format)
{
	if (chain_format == pool.chain_format)
		return;
	destroy_slots(pool, kSlotCapture, kSlotMosaic);
	pool.chain_format = chain_format;
}

// Where the board sits and whether the chain reads the target in place
// ("copy") or redraws the items beneath (listed in scan). Empty when it can
// go on, else the call's result.
std::optional<CaptureResult> locate_board(const CaptureCall &call, BeneathScan &scan, BoardOnCanvas &where, bool &copy)
{
	const DrawSnapshot &snap = call.snap;
	const TargetView &view = call.view;
	// The program draws the board straight onto the canvas (an item that
	// needs a texture of its own is drawn elsewhere): there the world
	// matrix is where this very item sits, in whichever scene, public or
	// private, that the scan may not know of.
	copy = true;
	if (call.on_canvas && (!snap.force_redraw || !call.placed)) {
		where = {view.width, view.height, view.world, {}};
		return std::nullopt;
	}
	if (!snap.scene || (snap.in_group && !snap.group) || !obs_scene_from_source(snap.scene))
		return failed(FailureCause::SceneGone);
	scan.board_source = call.board->source;
	scan.group_source = snap.group;
	scan_beneath(snap.scene, scan);
	if (!scan.found)
		return failed(FailureCause::ItemNotFound);
	where = {obs_source_get_width(snap.scene), obs_source_get_height(snap.scene), scan.board_transform,
		 scan.board_crop};
	if (where.canvas_width == 0 || where.canvas_height == 0)
		return kNothing;
	copy = !snap.force_redraw &&
	       target_shows_canvas(view, where.canvas_width, where.canvas_height, call.chain_format, where.transform);
	if (!copy && view.has_target && !snap.force_redraw)
		log_redraw_once(call.board, view, where.canvas_width, where.canvas_height, call.chain_format,
				where.transform);
	return std::nullopt;
}

// Draws the items beneath the board again into slot 0, over the region.
bool redraw_beneath(const CaptureCall &call, const BeneathScan &scan, const CaptureRegion &region)
{
	gs_texrender_t *capture = ensure_slot(call.board->render->pool, kSlotCapture, call.chain_format);
	if (!capture)
		return false;
	gs_texrender_reset(capture);
	if (!gs_texrender_begin_with_color_space(capture, (uint32_t)region.width, (uint32_t)region.height, call.space))
		return false;
	vec4 clear_color;
	vec4_zero(&clear_color);
	gs_clear(GS_CLEAR_COLOR, &clear_color, 0.0f, 0);
	gs_ortho((float)region.x0, (float)(region.x0 + region.width), (float)region.y0,
		 (float)(region.y0 + region.height), -100.0f, 100.0f);
	gs_blend_state_push();
	gs_reset_blend_state();
	for (const BeneathItem &item : scan.items)
		draw_beneath_item(call.board, item);
	gs_blend_state_pop();
	gs_texrender_end(capture);
	return true;
}

ChainInput chain_input(const CaptureCall &call, const BoardOnCanvas &where, const CapturePlan &plan, bool copy)
{
	ChainInput input;
	input.snapshot = &call.snap;
	input.canvas_width = where.canvas_width;
	input.canvas_height = where.canvas_height;
	input.board_width = call.board_width;
	input.board_height = call.board_height;
	input.crop = where.crop;
	input.board_to_canvas = plan.board_to_canvas;
	input.bx0 = plan.box.x0;
	input.by0 = plan.box.y0;
	input.bx1 = plan.box.x1;
	input.by1 = plan.box.y1;
	input.mosaic = plan.mosaic;
	input.emergency = call.snap.emergency;
	input.emergency_replaces_world = !call.placed;
	input.levels = plan.reach.levels;
	input.sigma = plan.reach.sigma;
	input.cell = plan.reach.cell;
	input.region = plan.region;
	input.chain_format = call.chain_format;
	input.space = call.space;
	input.pool = &call.board->render->pool;
	// Copying reads the target in place: a GPU copy out of it would wait
	// until everything drawn so far has been rasterized.
	input.target = copy ? call.view.target : nullptr;
	return input;
}

} // namespace

CaptureResult capture_and_chain(BlurBoard *board, const DrawSnapshot &snap, const TargetView &view, bool placed,
				bool on_canvas, FinalPassParams &params)
{
	const gs_color_space space = gs_get_color_space();
	const CaptureCall call{board, snap, view, placed, on_canvas, space, chain_format_for(space)};
	match_pool_format(board->render->pool, call.chain_format);

	BeneathScan scan;
	ScanGuard guard{scan};
	BoardOnCanvas where;
	bool copy = true;
	if (const std::optional<CaptureResult> early = locate_board(call, scan, where, copy))
		return *early;
	warn_clipped_emergency(board, snap, scan.board_clipped);
	const bool whole_canvas = snap.emergency || snap.shape.invert;

	const CapturePlan plan = plan_capture(snap, where, call.board_width, call.board_height);
	// Known before any pass, so that a failure covers the canvas too.
	if (whole_canvas)
		place_emergency_cover(where.canvas_width, where.canvas_height, plan.board_to_canvas, !placed, params);
	if (plan.status == CapturePlanStatus::Nothing)
		return kNothing;
	if (plan.status == CapturePlanStatus::BadPosition)
		return failed(FailureCause::BadPosition);

	if (!copy && !redraw_beneath(call, scan, plan.region))
		return failed(FailureCause::CaptureTexture);
	board->capture_method.exchange(copy ? CaptureMethod::Copy : CaptureMethod::Redraw);

	bool region_texture_failed = false;
	if (!run_chain(chain_input(call, where, plan, copy), params, &region_texture_failed))
		return failed(region_texture_failed ? FailureCause::CaptureTexture : FailureCause::Passes);
	return {CaptureOutcome::Drawn, FailureCause::Passes};
}
