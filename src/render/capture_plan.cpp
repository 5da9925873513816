// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/capture_plan.h"

#include <algorithm>
#include <cmath>

#include "render/draw.h"
#include "render/item_geometry.h"

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

CapturePlan plan_capture(const DrawSnapshot &snap, const BoardOnCanvas &where, uint32_t board_width,
			 uint32_t board_height)
{
	CapturePlan plan;
	const uint32_t W = where.canvas_width, H = where.canvas_height;
	plan.board_to_canvas = board_to_canvas(where.transform, where.crop);
	const bool emergency = snap.emergency;
	plan.mosaic = snap.is_mosaic || emergency;
	CanvasBox &box = plan.box;
	// Inverted, the board hides the canvas around its shape.
	if (emergency || snap.shape.invert)
		box = {0.0f, 0.0f, (float)W, (float)H};
	else if (!visible_bounding_box(plan.board_to_canvas, where.crop, board_width, board_height, box))
		return plan;
	for (float v : {box.x0, box.y0, box.x1, box.y1})
		if (!std::isfinite(v)) {
			plan.status = CapturePlanStatus::BadPosition;
			return plan;
		}

	// How far the passes read, then the 64-aligned region that holds it.
	const float level = emergency ? 1.0f : snap.fade_level;
	plan.reach = plan.mosaic ? mosaic_reach(box.x0, box.y0, box.x1, box.y1, emergency, snap.mosaic_size,
						snap.emergency_size, level, W, H)
				 : blur_reach(box.x0, box.y0, box.x1, box.y1, snap.blur_radius, level);
	if (snap_capture_region(plan.reach, box.x0, box.y0, box.x1, box.y1, W, H, plan.region))
		plan.status = CapturePlanStatus::Capture;
	return plan;
}
