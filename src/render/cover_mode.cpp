// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/cover_mode.h"

#include <graphics/srgb.h>
#include <graphics/vec4.h>
#include <obs.h>

#include <algorithm>
#include <cmath>

#include "board/blur_board.h"
#include "render/beneath_scan.h"
#include "render/board_effect.h"
#include "render/chain.h"
#include "render/draw.h"
#include "render/final_pass.h"
#include "render/item_geometry.h"

namespace {

// Where the item sits: its draw transform and crop, and the canvas it is
// drawn on (which an inverted cover spans).
struct CoverPlace {
	matrix4 transform{};
	obs_sceneitem_crop crop{};
	uint32_t canvas_width = 0, canvas_height = 0;
	bool replaces_world = false; // no known item: the canvas is the identity
};

// The item's place on its canvas, as the capture finds it: the world
// matrix where the view is the canvas itself, else the scan of its scene.
// The panic cover, in no scene, is drawn as it is on its canvas.
CaptureResult locate(BlurBoard *board, const DrawSnapshot &snap, const TargetView &view, bool placed, bool on_canvas,
		     CoverPlace &where)
{
	where.canvas_width = view.width;
	where.canvas_height = view.height;
	where.replaces_world = !placed;
	if (on_canvas) {
		where.transform = view.world;
		return {CaptureOutcome::Drawn, FailureCause::Passes};
	}
	if (!placed) {
		matrix4_identity(&where.transform);
		return {CaptureOutcome::Drawn, FailureCause::Passes};
	}
	if (!snap.scene || (snap.in_group && !snap.group) || !obs_scene_from_source(snap.scene))
		return {CaptureOutcome::Failed, FailureCause::SceneGone};
	BeneathScan scan;
	scan.board_source = board->source;
	scan.group_source = snap.group;
	scan_beneath(snap.scene, scan);
	release_beneath_items(scan.items);
	if (!scan.found)
		return {CaptureOutcome::Failed, FailureCause::ItemNotFound};
	where.transform = scan.board_transform;
	where.crop = scan.board_crop;
	where.canvas_width = obs_source_get_width(snap.scene);
	where.canvas_height = obs_source_get_height(snap.scene);
	return {CaptureOutcome::Drawn, FailureCause::Passes};
}

float srgb_to_linear(uint32_t byte)
{
	return gs_srgb_nonlinear_to_linear((float)byte / 255.0f);
}

bool finite(const vec4 &v)
{
	return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

bool finite(const vec2 &v)
{
	return std::isfinite(v.x) && std::isfinite(v.y);
}

// The quad and the shape: the board's own, or for an inverted cover the
// whole canvas, over which its image is then stretched.
bool place_cover_shape(const CoverPlace &where, const BoardShape &shape, uint32_t bw, uint32_t bh,
		       FinalPassParams &params)
{
	const matrix4 to_canvas = board_to_canvas(where.transform, where.crop);
	if (shape.invert) {
		place_inverted(to_canvas, where.canvas_width, where.canvas_height, where.replaces_world, where.crop, bw,
			       bh, shape, params);
		vec2_set(&params.cap_inv_size, 1.0f / std::max(1.0f, (float)where.canvas_width),
			 1.0f / std::max(1.0f, (float)where.canvas_height));
		return true;
	}
	place_board_quad(to_canvas, bw, bh, params);
	place_shape(where.crop, bw, bh, shape, params);
	return finite(params.shape_rect) && finite(params.local_du) && finite(params.local_dv);
}

} // namespace

CaptureResult place_cover(BlurBoard *board, const DrawSnapshot &snap, const TargetView &view, bool placed,
			  bool on_canvas, FinalPassParams &params)
{
	CoverPlace where;
	const CaptureResult located = locate(board, snap, view, placed, on_canvas, where);
	if (located.outcome != CaptureOutcome::Drawn)
		return located;
	if (!place_cover_shape(where, snap.shape, board->width.load(), board->height.load(), params))
		return {CaptureOutcome::Failed, FailureCause::BadPosition};

	set_cover_look(snap.cover_color, snap.cover_image.get(), snap.fade_level, params);
	return {CaptureOutcome::Drawn, FailureCause::Passes};
}

void set_cover_look(uint32_t color, const CoverImage *image, float alpha, FinalPassParams &params)
{
	params.cover = true;
	const uint32_t c = color; // 0xAABBGGRR
	vec4_set(&params.cover_color, srgb_to_linear(c & 0xFF), srgb_to_linear((c >> 8) & 0xFF),
		 srgb_to_linear((c >> 16) & 0xFF), 1.0f);
	params.cover_alpha = alpha;
	if (image) {
		params.image = image->texture();
		vec2_set(&params.uv_min, 0.5f / (float)image->width(), 0.5f / (float)image->height());
		vec2_set(&params.uv_max, 1.0f - params.uv_min.x, 1.0f - params.uv_min.y);
	}
}

void draw_cover_composite(const FinalPassParams &params)
{
	BoardEffect &fx = board_effect;
	if (!fx.effect)
		return;
	set_quad_and_shape(params);
	gs_effect_set_vec4(fx.cover_color, &params.cover_color);
	gs_effect_set_float(fx.cover_alpha, params.cover_alpha);
	// The colour is an SDR one: on a scRGB target 1.0 is 80 nits, so it is
	// lifted to the host's SDR white as the host lifts SDR sources.
	const float scale = gs_get_color_space() == GS_CS_709_SCRGB ? obs_get_video_sdr_white_level() / 80.0f : 1.0f;
	gs_effect_set_float(fx.cover_scale, scale);
	const char *technique = "FinalCover";
	if (params.image) {
		gs_effect_set_texture_srgb(fx.image, params.image);
		gs_effect_set_vec2(fx.uv_min, &params.uv_min);
		gs_effect_set_vec2(fx.uv_max, &params.uv_max);
		gs_effect_set_vec2(fx.cap_inv_size, &params.cap_inv_size);
		technique = params.invert ? "FinalCoverImageCanvas" : "FinalCoverImage";
	}

	// Premultiplied over what is beneath, in linear light.
	gs_blend_state_push();
	gs_enable_blending(true);
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	draw_composite_quad(params, technique);
	gs_blend_state_pop();
}
