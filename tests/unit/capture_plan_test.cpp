// SPDX-License-Identifier: GPL-2.0-or-later
// Where a board's effect lies in a frame, without the host: what is
// captured, what is left alone and what must be covered.
#include <graphics/matrix4.h>

#include <gtest/gtest.h>

#include <cmath>

#include "render/capture_plan.h"
#include "render/draw.h"

namespace {

struct Case {
	const char *name;
	float x, y, scale; // the item's place and scale on a 640 x 360 canvas
	obs_sceneitem_crop crop;
	bool emergency;
	CapturePlanStatus status;
	CanvasBox box; // when captured
	bool invert = false;
};

const Case kCases[] = {
    {"plain board", 100, 50, 1, {}, false, CapturePlanStatus::Capture, {100, 50, 300, 150}},
    {"cropped away", 100, 50, 1, {200, 0, 0, 0}, false, CapturePlanStatus::Nothing, {}},
    {"emergency ignores the crop", 100, 50, 1, {200, 0, 0, 0}, true, CapturePlanStatus::Capture, {0, 0, 640, 360}},
    {"off the canvas", 700, 50, 1, {}, false, CapturePlanStatus::Nothing, {}},
    // Inverted, the board hides the canvas around it, wherever it is.
    {"inverted", 100, 50, 1, {}, false, CapturePlanStatus::Capture, {0, 0, 640, 360}, true},
    {"inverted, off the canvas", 700, 50, 1, {}, false, CapturePlanStatus::Capture, {0, 0, 640, 360}, true},
    // A place that is not a number hides nothing by itself: it is covered.
    {"not a number", NAN, 50, 1, {}, false, CapturePlanStatus::BadPosition, {}},
    {"infinite scale", 100, 50, INFINITY, {}, false, CapturePlanStatus::BadPosition, {}},
};

TEST(CapturePlan, EachPlaceIsCapturedLeftOrCovered)
{
	for (const Case &c : kCases) {
		SCOPED_TRACE(c.name);
		DrawSnapshot snap;
		snap.emergency = c.emergency;
		snap.shape.invert = c.invert;
		snap.fade_level = 1.0f;
		snap.blur_radius = 20.0f;
		BoardOnCanvas where;
		where.canvas_width = 640;
		where.canvas_height = 360;
		matrix4_identity(&where.transform);
		where.transform.x.x = c.scale;
		where.transform.y.y = c.scale;
		where.transform.t.x = c.x;
		where.transform.t.y = c.y;
		where.crop = c.crop;
		const CapturePlan plan = plan_capture(snap, where, 200, 100);
		EXPECT_EQ(plan.status, c.status);
		if (c.status != CapturePlanStatus::Capture)
			continue;
		EXPECT_EQ(plan.mosaic, c.emergency);
		EXPECT_FLOAT_EQ(plan.box.x0, c.box.x0);
		EXPECT_FLOAT_EQ(plan.box.y0, c.box.y0);
		EXPECT_FLOAT_EQ(plan.box.x1, c.box.x1);
		EXPECT_FLOAT_EQ(plan.box.y1, c.box.y1);
		EXPECT_GT(plan.region.width, 0);
	}
}

} // namespace
