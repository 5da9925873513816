// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/capture.h"

#include <graphics/matrix4.h>
#include <graphics/vec3.h>

#include <algorithm>
#include <cmath>

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

bool visible_bounding_box(const matrix4 &m, const obs_sceneitem_crop &crop, uint32_t bw, uint32_t bh, CanvasBox &box)
{
	const float left = (float)crop.left, top = (float)crop.top;
	const float right = (float)bw - (float)crop.right, bottom = (float)bh - (float)crop.bottom;
	if (!(right > left) || !(bottom > top))
		return false;
	const float corners[4][2] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
	for (int i = 0; i < 4; ++i) {
		const vec3 out = map_local_point(m, corners[i][0], corners[i][1]);
		if (i == 0) {
			box = {out.x, out.y, out.x, out.y};
			continue;
		}
		box.x0 = std::min(box.x0, out.x);
		box.y0 = std::min(box.y0, out.y);
		box.x1 = std::max(box.x1, out.x);
		box.y1 = std::max(box.y1, out.y);
	}
	return true;
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

// Once per board and time the emergency cover is switched on over such an
// item: the streamer believes the whole canvas is hidden, and it is not.
void warn_clipped_emergency(BlurBoard *board, bool emergency, bool clipped)
{
	if (!emergency) {
		board->render->emergency_clip_warned = false;
		return;
	}
	if (!clipped || board->render->emergency_clip_warned)
		return;
	board->render->emergency_clip_warned = true;
	const char *name = obs_source_get_name(board->source);
	log_message(LOG_WARNING,
		    "board '%s': the emergency cover only covers the board's own area because its scene item is "
		    "cropped or has a scale filter or blending mode set. Remove those from the board's item to "
		    "cover the whole canvas.",
		    name ? name : "");
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

CaptureResult capture_and_chain(BlurBoard *board, const DrawSnapshot &snap, const TargetView &view, bool placed,
				bool on_canvas, FinalPassParams &params)
{
	const gs_color_space space = gs_get_color_space();
	const gs_color_format chain_format = chain_format_for(space);
	TexturePool &pool = board->render->pool;
	if (chain_format != pool.chain_format) {
		destroy_slots(pool, kSlotCapture, kSlotMosaic);
		pool.chain_format = chain_format;
	}

	BeneathScan scan;
	ScanGuard guard{scan};
	uint32_t W = 0, H = 0;
	matrix4 board_transform;
	obs_sceneitem_crop crop{};
	bool copy = true;
	// The program draws the board straight onto the canvas (an item that
	// needs a texture of its own is drawn elsewhere): there the world
	// matrix is where this very item sits, in whichever scene, public or
	// private, that the scan may not know of.
	if (on_canvas && (!snap.force_redraw || !placed)) {
		W = view.width;
		H = view.height;
		board_transform = view.world;
	} else {
		if (!snap.scene || (snap.in_group && !snap.group) || !obs_scene_from_source(snap.scene))
			return failed(FailureCause::SceneGone);
		scan.board_source = board->source;
		scan.group_source = snap.group;
		scan_beneath(snap.scene, scan);
		if (!scan.found)
			return failed(FailureCause::ItemNotFound);
		W = obs_source_get_width(snap.scene);
		H = obs_source_get_height(snap.scene);
		if (W == 0 || H == 0)
			return kNothing;
		board_transform = scan.board_transform;
		crop = scan.board_crop;
		copy = !snap.force_redraw && target_shows_canvas(view, W, H, chain_format, board_transform);
		if (!copy && view.has_target && !snap.force_redraw)
			log_redraw_once(board, view, W, H, chain_format, board_transform);
	}

	// Where the board lies on the canvas.
	const uint32_t bw = board->width.load();
	const uint32_t bh = board->height.load();
	const matrix4 M = board_to_canvas(board_transform, crop);
	const bool emergency = snap.emergency;
	warn_clipped_emergency(board, emergency, scan.board_clipped);
	const bool mosaic = snap.is_mosaic || emergency;
	const float level = emergency ? 1.0f : snap.fade_level;
	CanvasBox box;
	if (emergency) {
		box = {0.0f, 0.0f, (float)W, (float)H};
		// Known before any pass, so that a failure covers the canvas too.
		place_emergency_cover(W, H, M, !placed, params);
	} else if (!visible_bounding_box(M, crop, bw, bh, box)) {
		return kNothing;
	}
	for (float v : {box.x0, box.y0, box.x1, box.y1})
		if (!std::isfinite(v))
			return failed(FailureCause::BadPosition);

	// How far the passes read, then the 64-aligned region that holds it.
	const Reach reach = mosaic ? mosaic_reach(box.x0, box.y0, box.x1, box.y1, emergency, snap.mosaic_size,
						  snap.emergency_size, level, W, H)
				   : blur_reach(box.x0, box.y0, box.x1, box.y1, snap.blur_radius, level);
	CaptureRegion region;
	if (!snap_capture_region(reach, box.x0, box.y0, box.x1, box.y1, W, H, region))
		return kNothing;

	if (!copy) {
		gs_texrender_t *capture = ensure_slot(pool, kSlotCapture, chain_format);
		if (!capture)
			return failed(FailureCause::CaptureTexture);
		gs_texrender_reset(capture);
		if (!gs_texrender_begin_with_color_space(capture, (uint32_t)region.width, (uint32_t)region.height,
							 space))
			return failed(FailureCause::CaptureTexture);
		vec4 clear_color;
		vec4_zero(&clear_color);
		gs_clear(GS_CLEAR_COLOR, &clear_color, 0.0f, 0);
		gs_ortho((float)region.x0, (float)(region.x0 + region.width), (float)region.y0,
			 (float)(region.y0 + region.height), -100.0f, 100.0f);
		gs_blend_state_push();
		gs_reset_blend_state();
		for (const BeneathItem &item : scan.items)
			draw_beneath_item(board, item);
		gs_blend_state_pop();
		gs_texrender_end(capture);
	}
	board->capture_method.exchange(copy ? CaptureMethod::Copy : CaptureMethod::Redraw);

	ChainInput input;
	input.snapshot = &snap;
	input.canvas_width = W;
	input.canvas_height = H;
	input.board_width = bw;
	input.board_height = bh;
	input.crop = crop;
	input.board_to_canvas = M;
	input.bx0 = box.x0;
	input.by0 = box.y0;
	input.bx1 = box.x1;
	input.by1 = box.y1;
	input.mosaic = mosaic;
	input.emergency = emergency;
	input.emergency_replaces_world = !placed;
	input.levels = reach.levels;
	input.sigma = reach.sigma;
	input.cell = reach.cell;
	input.region = region;
	input.chain_format = chain_format;
	input.space = space;
	input.pool = &pool;
	// Copying reads the target in place: a GPU copy out of it would wait
	// until everything drawn so far has been rasterized.
	input.target = copy ? view.target : nullptr;
	bool region_texture_failed = false;
	if (!run_chain(input, params, &region_texture_failed))
		return failed(region_texture_failed ? FailureCause::CaptureTexture : FailureCause::Passes);
	return {CaptureOutcome::Drawn, FailureCause::Passes};
}
