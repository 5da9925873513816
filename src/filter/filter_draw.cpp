// SPDX-License-Identifier: GPL-2.0-or-later
#include "filter/filter_draw.h"

#include <graphics/matrix4.h>
#include <graphics/vec4.h>
#include <obs.h>

#include <new>

#include "filter/hide_filter.h"
#include "host/log.h"
#include "render/board_effect.h"
#include "render/capture.h"
#include "render/chain.h"
#include "render/cover_mode.h"
#include "render/draw.h"
#include "render/hatch.h"

FilterRender *filter_render_create()
{
	return new (std::nothrow) FilterRender();
}

void filter_render_destroy(FilterRender *render)
{
	if (!render)
		return;
	obs_enter_graphics();
	destroy_slots(render->pool, 0, kPoolSlots - 1);
	destroy_exclusion(render->stencil);
	obs_leave_graphics();
	delete render;
}

namespace {

FilterSnapshot take_snapshot(HideFilter *filter)
{
	FilterSnapshot snap;
	std::lock_guard<std::mutex> lock(filter->mutex);
	snap.hiding = filter->hiding;
	snap.fade_level = filter->fade_level;
	snap.region = filter->region;
	snap.cover_image = filter->cover.image;
	return snap;
}

void log_failure_once(HideFilter *filter, FailureCause cause)
{
	const uint32_t bit = (uint32_t)cause;
	if (filter->render->failure_logged & bit)
		return;
	filter->render->failure_logged |= bit;
	const char *name = obs_source_get_name(filter->source);
	log_message(LOG_WARNING, "filter '%s' cannot show its effect (%s); it covers what it hides instead",
		    name ? name : "", failure_cause_text(cause));
}

// The source as the host would draw it without this filter. The host
// clears a removed filter's parent while a frame may still be drawing it
// (its removal does not wait for the graphics thread), and skipping then
// would read the parent through null: asked again right before each draw.
void draw_source(void *data)
{
	auto *source = static_cast<obs_source_t *>(data);
	if (obs_filter_get_parent(source) && obs_filter_get_target(source))
		obs_source_skip_video_filter(source);
}

// The source's own pixels of the capture region into slot 0, as the host
// would draw them: straight alpha kept, nothing blended in.
bool capture_source(HideFilter *filter, const CaptureRegion &region, gs_color_format format, gs_color_space space)
{
	gs_texrender_t *capture = ensure_slot(filter->render->pool, kSlotCapture, format);
	if (!capture)
		return false;
	gs_texrender_reset(capture);
	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
	const bool begun =
	    gs_texrender_begin_with_color_space(capture, (uint32_t)region.width, (uint32_t)region.height, space);
	if (begun) {
		vec4 clear_color;
		vec4_zero(&clear_color);
		gs_clear(GS_CLEAR_COLOR, &clear_color, 0.0f, 0);
		gs_ortho((float)region.x0, (float)(region.x0 + region.width), (float)region.y0,
			 (float)(region.y0 + region.height), -100.0f, 100.0f);
		draw_source(filter->source);
		gs_texrender_end(capture);
	}
	gs_blend_state_pop();
	return begun;
}

// The quad of the hidden part: its own pixels, moved to its place in the
// source by the transform the composite pushes.
matrix4 region_to_source(const FilterPlan &plan)
{
	matrix4 to_source;
	matrix4_identity(&to_source);
	vec4_set(&to_source.t, (float)plan.x, (float)plan.y, 0.0f, 1.0f);
	return to_source;
}

void place_region(const FilterPlan &plan, FinalPassParams &params)
{
	const matrix4 to_source = region_to_source(plan);
	place_board_quad(to_source, plan.width, plan.height, params);
	params.use_transform = true;
	params.transform = to_source;
	params.blend_as_source = true;
}

// An inverted composite spans the whole source: its quad is the source's
// own pixels, under the transform the host draws the source with.
void drawn_at_source_origin(FinalPassParams &params)
{
	params.use_transform = false;
	params.reset_transform = false;
	params.blend_as_source = true;
}

ChainInput chain_input(HideFilter *filter, const FilterPlan &plan, const DrawSnapshot &snap, uint32_t cx, uint32_t cy,
		       gs_color_format format, gs_color_space space)
{
	ChainInput input;
	input.snapshot = &snap;
	input.canvas_width = cx;
	input.canvas_height = cy;
	input.board_width = plan.width;
	input.board_height = plan.height;
	input.board_to_canvas = region_to_source(plan);
	input.bx0 = plan.bx0;
	input.by0 = plan.by0;
	input.bx1 = plan.bx1;
	input.by1 = plan.by1;
	input.mosaic = plan.mosaic;
	input.levels = plan.reach.levels;
	input.sigma = plan.reach.sigma;
	input.cell = plan.reach.cell;
	input.region = plan.capture;
	input.chain_format = format;
	input.space = space;
	input.pool = &filter->render->pool;
	return input;
}

// Capture, then blur or mosaic: false with the cause when it cannot.
bool hide_region(HideFilter *filter, const FilterSnapshot &snap, uint32_t cx, uint32_t cy, FilterFrame &frame)
{
	const gs_color_space space = gs_get_color_space();
	const gs_color_format format = chain_format_for(space);
	TexturePool &pool = filter->render->pool;
	if (pool.chain_format != format) {
		destroy_slots(pool, kSlotCapture, kSlotMosaic);
		pool.chain_format = format;
	}
	if (!capture_source(filter, frame.plan.capture, format, space)) {
		frame.cause = FailureCause::CaptureTexture;
		return false;
	}
	DrawSnapshot draw_snap;
	draw_snap.is_mosaic = snap.hiding.is_mosaic;
	draw_snap.blur_radius = snap.hiding.blur_radius;
	draw_snap.mosaic_size = snap.hiding.mosaic_size;
	draw_snap.fade_level = snap.fade_level;
	draw_snap.shape = snap.hiding.shape;
	if (!run_chain(chain_input(filter, frame.plan, draw_snap, cx, cy, format, space), frame.params)) {
		frame.cause = FailureCause::Passes;
		return false;
	}
	if (frame.plan.invert)
		drawn_at_source_origin(frame.params);
	else
		place_region(frame.plan, frame.params);
	return true;
}

void cover_region(const FilterSnapshot &snap, uint32_t cx, uint32_t cy, FilterFrame &frame)
{
	const FilterPlan &plan = frame.plan;
	if (plan.invert) {
		place_inverted(region_to_source(plan), cx, cy, false, {}, plan.width, plan.height, snap.hiding.shape,
			       frame.params);
		drawn_at_source_origin(frame.params);
		vec2_set(&frame.params.cap_inv_size, 1.0f / (float)cx, 1.0f / (float)cy);
	} else {
		place_region(plan, frame.params);
		place_shape({}, plan.width, plan.height, snap.hiding.shape, frame.params);
	}
	set_cover_look(snap.hiding.cover_color, snap.cover_image.get(), snap.fade_level, frame.params);
	frame.cover_image = snap.cover_image;
}

// The frame's first draw: what to hide, and the hiding itself.
void work_out_frame(HideFilter *filter, obs_source_t *target, FilterFrame &frame)
{
	const FilterSnapshot snap = take_snapshot(filter);
	const uint32_t cx = obs_source_get_base_width(target), cy = obs_source_get_base_height(target);
	frame = {};
	frame.plan = plan_filter(snap, cx, cy, board_effect.effect != nullptr);
	frame.cause = frame.plan.cause;
	if (frame.plan.action == FilterAction::Cover)
		cover_region(snap, cx, cy, frame);
	if (frame.plan.action == FilterAction::Hide) {
		if (!hide_region(filter, snap, cx, cy, frame))
			frame.plan.action = FilterAction::Fail;
	}
}

// Over what should be hidden: the region, or with invert all of the source.
void draw_hatch_over(const FilterPlan &plan)
{
	if (plan.invert) {
		draw_hatch_quad((float)plan.source_width, (float)plan.source_height);
		return;
	}
	gs_matrix_push();
	gs_matrix_translate3f((float)plan.x, (float)plan.y, 0.0f);
	draw_hatch_quad((float)plan.width, (float)plan.height);
	gs_matrix_pop();
}

void draw_frame(HideFilter *filter, FilterFrame &frame)
{
	const FilterPlan &plan = frame.plan;
	switch (plan.action) {
	case FilterAction::Plain:
		draw_source(filter->source);
		return;
	case FilterAction::Fail:
		log_failure_once(filter, frame.cause);
		draw_source(filter->source);
		draw_hatch_over(plan);
		return;
	case FilterAction::Cover:
		draw_source(filter->source);
		draw_final_composite(frame.params);
		return;
	case FilterAction::Hide:
		break;
	}
	// A source with transparent parts must not show through the region:
	// the source is kept out of it, or, where the target takes no stencil,
	// the composite replaces what is there.
	frame.params.blend_as_source =
	    plan.whole || draw_excluding(filter->render->stencil, (float)plan.x, (float)plan.y, (float)plan.width,
					 (float)plan.height, draw_source, filter->source);
	if (!frame.params.blend_as_source)
		draw_source(filter->source);
	draw_final_composite(frame.params);
}

} // namespace

void hide_filter_draw(HideFilter *filter)
{
	obs_source_t *target = obs_filter_get_target(filter->source);
	if (!target || !obs_filter_get_parent(filter->source))
		return;
	FilterRender &render = *filter->render;
	const uint64_t frame_time = obs_get_video_frame_time();
	const gs_color_format format = chain_format_for(gs_get_color_space());
	if (!render.frame_valid || render.frame_time != frame_time || render.frame_format != format) {
		work_out_frame(filter, target, render.frame);
		render.frame_time = frame_time;
		render.frame_format = format;
		render.frame_valid = true;
	}
	draw_frame(filter, render.frame);
}
