// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include "filter/filter_plan.h"
#include "render/exclusion.h"
#include "render/failure_cover.h"
#include "render/final_pass.h"
#include "render/texture_pool.h"

// One video frame's result, worked out by the frame's first draw and
// replayed by every other view of the frame: the source looks the same
// wherever it is drawn, in its own pixels.
struct FilterFrame {
	FilterPlan plan;
	FailureCause cause = FailureCause::Passes;
	FinalPassParams params;
	std::shared_ptr<const CoverImage> cover_image; // kept alive for the frame
};

// What the draw keeps of one filter from frame to frame; graphics thread
// alone.
struct FilterRender {
	TexturePool pool;
	ExclusionStencil stencil;
	uint64_t frame_time = 0;
	gs_color_format frame_format = GS_UNKNOWN;
	bool frame_valid = false;
	FilterFrame frame;
	uint32_t failure_logged = 0; // FailureCause bits already logged
};

FilterRender *filter_render_create();
// Frees the textures inside the graphics context, then the record.
void filter_render_destroy(FilterRender *render);

struct HideFilter;
// The filter's video_render entry.
void hide_filter_draw(HideFilter *filter);
