// SPDX-License-Identifier: GPL-2.0-or-later
#include "filter/filter_plan.h"

#include <algorithm>

bool clamp_region(const SourceRegion &region, uint32_t cx, uint32_t cy, uint32_t &x, uint32_t &y, uint32_t &width,
		  uint32_t &height)
{
	if (region.width == 0 || region.height == 0) {
		x = y = 0;
		width = cx;
		height = cy;
		return cx > 0 && cy > 0;
	}
	if (region.x >= cx || region.y >= cy)
		return false;
	x = region.x;
	y = region.y;
	width = std::min(region.width, cx - x);
	height = std::min(region.height, cy - y);
	return width > 0 && height > 0;
}

FilterPlan plan_filter(const FilterSnapshot &snap, uint32_t cx, uint32_t cy, bool has_effect)
{
	FilterPlan plan;
	if (!(snap.fade_level > 0.0f))
		return plan;
	if ((cx == 0 || cy == 0) && snap.region.width && snap.region.height) {
		const SourceRegion &r = snap.region;
		plan = {FilterAction::Fail, FailureCause::SourceSize, r.x, r.y, r.width, r.height};
		return plan;
	}
	if (!clamp_region(snap.region, cx, cy, plan.x, plan.y, plan.width, plan.height))
		return plan;
	plan.invert = snap.hiding.shape.invert;
	plan.source_width = cx;
	plan.source_height = cy;
	plan.whole = plan.invert || (plan.width == cx && plan.height == cy);
	if (snap.hiding.is_cover) {
		plan.action = FilterAction::Cover;
		return plan;
	}
	if (!has_effect) {
		plan.action = FilterAction::Fail;
		plan.cause = FailureCause::NoEffect;
		return plan;
	}
	plan.bx0 = plan.invert ? 0.0f : (float)plan.x;
	plan.by0 = plan.invert ? 0.0f : (float)plan.y;
	plan.bx1 = plan.invert ? (float)cx : (float)(plan.x + plan.width);
	plan.by1 = plan.invert ? (float)cy : (float)(plan.y + plan.height);
	const float x0 = plan.bx0, y0 = plan.by0, x1 = plan.bx1, y1 = plan.by1;
	plan.mosaic = snap.hiding.is_mosaic;
	plan.reach = plan.mosaic
			 ? mosaic_reach(x0, y0, x1, y1, false, snap.hiding.mosaic_size, 0.0f, snap.fade_level, cx, cy)
			 : blur_reach(x0, y0, x1, y1, snap.hiding.blur_radius, snap.fade_level);
	// Too weak to change a pixel: the source as it is.
	if (!snap_capture_region(plan.reach, x0, y0, x1, y1, cx, cy, plan.capture))
		return plan;
	plan.action = FilterAction::Hide;
	return plan;
}
