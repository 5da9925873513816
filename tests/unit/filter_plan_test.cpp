// SPDX-License-Identifier: GPL-2.0-or-later
// What a filter hides of its source and how, for each case that matters: a
// plain function, checked without a host or a display.
#include <gtest/gtest.h>

#include "filter/filter_plan.h"

namespace {

using A = FilterAction;

FilterSnapshot snap(SourceRegion region, float level = 1.0f, bool cover = false)
{
	FilterSnapshot s;
	s.region = region;
	s.fade_level = level;
	s.hiding.is_cover = cover;
	return s;
}

TEST(FilterPlan, EachCaseHidesWhatItShould)
{
	struct Case {
		const char *what;
		FilterSnapshot snap;
		uint32_t cx, cy;
		bool has_effect;
		A action;
		uint32_t x, y, w, h;
		bool whole;
	};
	const Case cases[] = {
	    {"whole source", snap({}), 1920, 1080, true, A::Hide, 0, 0, 1920, 1080, true},
	    {"a region", snap({800, 500, 300, 100}), 1920, 1080, true, A::Hide, 800, 500, 300, 100, false},
	    {"a region cut by the source's edge", snap({1800, 1000, 300, 100}), 1920, 1080, true, A::Hide, 1800, 1000,
	     120, 80, false},
	    {"a region past the source", snap({1920, 0, 300, 100}), 1920, 1080, true, A::Plain, 0, 0, 0, 0, false},
	    {"a region as large as the source", snap({0, 0, 5000, 5000}), 640, 360, true, A::Hide, 0, 0, 640, 360,
	     true},
	    {"faded out", snap({}, 0.0f), 1920, 1080, true, A::Plain, 0, 0, 0, 0, false},
	    {"cover mode", snap({10, 10, 50, 50}, 1.0f, true), 640, 360, false, A::Cover, 10, 10, 50, 50, false},
	    {"no effect", snap({}), 640, 360, false, A::Fail, 0, 0, 640, 360, true},
	    {"no size", snap({}), 0, 0, true, A::Plain, 0, 0, 0, 0, false},
	    {"no size, a region set: covered as given", snap({10, 20, 30, 40}), 0, 0, true, A::Fail, 10, 20, 30, 40,
	     false},
	};
	for (const Case &c : cases) {
		const FilterPlan plan = plan_filter(c.snap, c.cx, c.cy, c.has_effect);
		EXPECT_EQ(plan.action, c.action) << c.what;
		if (c.action == A::Plain)
			continue;
		EXPECT_EQ(plan.x, c.x) << c.what;
		EXPECT_EQ(plan.y, c.y) << c.what;
		EXPECT_EQ(plan.width, c.w) << c.what;
		EXPECT_EQ(plan.height, c.h) << c.what;
		EXPECT_EQ(plan.whole, c.whole) << c.what;
		if (c.action != A::Hide)
			continue;
		// The capture holds the region and stays inside the source.
		EXPECT_LE(plan.capture.valid_x0, float(c.x)) << c.what;
		EXPECT_GE(plan.capture.valid_x1, float(c.x + c.w)) << c.what;
		EXPECT_LE(plan.capture.valid_x1, float(c.cx)) << c.what;
	}
}

} // namespace
