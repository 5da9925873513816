// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a filter hides in one frame and what its passes read, in the
// source's own pixels: pure arithmetic, tested without a GPU.

#include <cstdint>

#include "filter/hide_filter.h"
#include "render/capture_plan.h"
#include "render/capture_region.h"
#include "render/failure_cover.h"

// The settings a frame's draw works with, copied under the filter's lock.
struct FilterSnapshot {
	Hiding hiding;
	float fade_level = 0.0f;
	SourceRegion region;
	std::shared_ptr<const CoverImage> cover_image;
};

enum class FilterAction {
	Plain, // nothing to hide: the source as the host draws it
	Cover, // cover mode: the source, then the cover over the region
	Hide, // capture the region, blur or mosaic it, composite
	Fail, // should hide and cannot: the source, then an opaque cover
};

struct FilterPlan {
	FilterAction action = FilterAction::Plain;
	FailureCause cause = FailureCause::Passes; // why, for Fail
	// The hidden part, whole pixels of the source.
	uint32_t x = 0, y = 0, width = 0, height = 0;
	// The composite spans the whole source and replaces its own draw: the
	// region is all of it, or inverted (all but the region hidden).
	// Otherwise the source is drawn as the host draws it except for the
	// region, and the composite covers the region alone.
	bool whole = false;
	bool invert = false;
	uint32_t source_width = 0, source_height = 0;
	// What the passes must cover: the region, or all of the source.
	float bx0 = 0, by0 = 0, bx1 = 0, by1 = 0;
	bool mosaic = false;
	Reach reach;
	CaptureRegion capture;
};

// The region inside a cx x cy source; false when nothing of it is left.
bool clamp_region(const SourceRegion &region, uint32_t cx, uint32_t cy, uint32_t &x, uint32_t &y, uint32_t &width,
		  uint32_t &height);

// has_effect: the module's effect compiled. A source of no size has
// nothing to show, unless a region is set: that is covered as given. A
// region the source does not reach hides nothing.
FilterPlan plan_filter(const FilterSnapshot &snap, uint32_t cx, uint32_t cy, bool has_effect);
