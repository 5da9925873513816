// SPDX-License-Identifier: GPL-2.0-or-later
// The crop and signed scale with which the host draws a scene item, as
// arithmetic: every bounds type and crop to bounds.
#include <obs.h>

#include <gtest/gtest.h>

#include <utility>

#include "render/item_geometry.h"

namespace {

ItemLayout layout(float sx, float sy, uint32_t type = OBS_BOUNDS_NONE, float bx = 0.0f, float by = 0.0f,
		  uint32_t alignment = 0, bool crop_to_bounds = false)
{
	ItemLayout l;
	l.scale = {sx, sy};
	l.bounds_type = type;
	l.bounds = {bx, by};
	l.bounds_alignment = alignment;
	l.crop_to_bounds = crop_to_bounds;
	return l;
}

void expect_crop(const ItemGeometry &g, int left, int top, int right, int bottom)
{
	EXPECT_EQ(g.crop.left, left);
	EXPECT_EQ(g.crop.top, top);
	EXPECT_EQ(g.crop.right, right);
	EXPECT_EQ(g.crop.bottom, bottom);
}

TEST(CroppedSize, SubtractsBothEdgesAndFallsBackToTwo)
{
	struct Case {
		uint32_t size, first, second, cropped;
	};
	const Case cases[] = {
	    {100, 10, 20, 70},
	    {100, 50, 50, 0},
	    {100, 60, 41, 2},
	    {0, 0, 0, 0},
	    {0, 1, 0, 2},
	    // Unsigned arithmetic as the host does it.
	    {100, 0xffffffffu, 1, 100},
	};
	for (const Case &c : cases)
		EXPECT_EQ(cropped_size(c.size, c.first, c.second), c.cropped)
		    << c.size << " " << c.first << " " << c.second;
}

TEST(ItemGeometry, NoBoundsReturnsTheOwnCropAndScale)
{
	ItemLayout l = layout(-1.5f, 2.0f);
	l.crop = {3, 4, 5, 6};
	for (uint32_t size : {0u, 1u, 100u}) {
		const ItemGeometry g = compute_geometry(l, size, size);
		expect_crop(g, 3, 4, 5, 6);
		EXPECT_EQ(g.scale.x, -1.5f);
		EXPECT_EQ(g.scale.y, 2.0f);
	}
}

TEST(ItemGeometry, DegenerateSizesBoundsOrScalesLeaveEverythingUnchanged)
{
	// Edges that add up to exactly the source width: no bounds applied.
	ItemLayout l = layout(1.0f, 1.0f, OBS_BOUNDS_STRETCH, 400.0f, 100.0f);
	l.crop = {50, 0, 50, 0};
	ItemGeometry g = compute_geometry(l, 100, 50);
	EXPECT_EQ(g.scale.x, 1.0f);
	EXPECT_EQ(g.scale.y, 1.0f);
	// Edges that add up to more: a cropped width of 2 and the bounds apply.
	l.crop = {60, 0, 50, 0};
	g = compute_geometry(l, 100, 50);
	EXPECT_FLOAT_EQ(g.scale.x, 200.0f);
	EXPECT_FLOAT_EQ(g.scale.y, 2.0f);

	for (const auto &[bx, by] : {std::pair{0.0f, 100.0f}, {100.0f, 0.0f}, {-5.0f, 100.0f}, {100.0f, -1.0f}}) {
		g = compute_geometry(layout(1.5f, 1.5f, OBS_BOUNDS_SCALE_INNER, bx, by), 100, 50);
		EXPECT_EQ(g.scale.x, 1.5f);
		EXPECT_EQ(g.scale.y, 1.5f);
	}
	g = compute_geometry(layout(0.0f, 2.0f, OBS_BOUNDS_SCALE_INNER, 100.0f, 100.0f), 100, 50);
	EXPECT_EQ(g.scale.x, 0.0f);
	EXPECT_EQ(g.scale.y, 2.0f);
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_INNER, 100.0f, 100.0f), 0, 50);
	EXPECT_EQ(g.scale.x, 1.0f);
}

TEST(ItemGeometry, StretchTakesEachRatioWithTheSignOfItsComponent)
{
	ItemLayout l = layout(-2.0f, 1.0f, OBS_BOUNDS_STRETCH, 400.0f, 100.0f);
	l.crop = {10, 5, 10, 5};
	const ItemGeometry g = compute_geometry(l, 120, 60); // cropped 100 x 50
	EXPECT_FLOAT_EQ(g.scale.x, -4.0f);
	EXPECT_FLOAT_EQ(g.scale.y, 2.0f);
	expect_crop(g, 10, 5, 10, 5);
}

TEST(ItemGeometry, InnerOuterWidthHeightAndMaxOnlyScaleBothComponents)
{
	struct Case {
		const char *what;
		ItemLayout layout;
		uint32_t width, height;
		float sx, sy;
	};
	const Case cases[] = {
	    // Displayed 200 x 100 in bounds 100 x 100.
	    {"inner", layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_INNER, 100.0f, 100.0f), 200, 100, 0.5f, 0.5f},
	    {"outer", layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_OUTER, 100.0f, 100.0f), 200, 100, 1.0f, 1.0f},
	    // Flips survive the common factor.
	    {"to width, flipped", layout(-2.0f, 1.0f, OBS_BOUNDS_SCALE_TO_WIDTH, 100.0f, 100.0f), 100, 100, -1.0f,
	     0.5f},
	    {"to height, flipped", layout(1.0f, -2.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 50.0f), 100, 100, 0.25f,
	     -0.5f},
	    // A tall item: inner fits the height, outer the width.
	    {"inner, tall", layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_INNER, 100.0f, 100.0f), 50, 200, 0.5f, 0.5f},
	    {"outer, tall", layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_OUTER, 100.0f, 100.0f), 50, 200, 2.0f, 2.0f},
	    // Max only: a fitting item keeps its scale; a larger one fits inside.
	    {"max only, fits", layout(1.0f, 1.0f, OBS_BOUNDS_MAX_ONLY, 300.0f, 300.0f), 200, 100, 1.0f, 1.0f},
	    {"max only, larger", layout(1.0f, 1.0f, OBS_BOUNDS_MAX_ONLY, 300.0f, 50.0f), 200, 100, 0.5f, 0.5f},
	};
	for (const Case &c : cases) {
		const ItemGeometry g = compute_geometry(c.layout, c.width, c.height);
		EXPECT_FLOAT_EQ(g.scale.x, c.sx) << c.what;
		EXPECT_FLOAT_EQ(g.scale.y, c.sy) << c.what;
	}
	// A type the host does not know.
	for (uint32_t type : {7u, 100u, 0xffffffffu}) {
		const ItemGeometry g = compute_geometry(layout(1.5f, 1.5f, type, 10.0f, 10.0f, 0, true), 200, 100);
		EXPECT_EQ(g.scale.x, 1.5f);
		expect_crop(g, 0, 0, 0, 0);
	}
}

TEST(ItemGeometry, CropToBoundsSplitsTheOverflowByAlignment)
{
	// Outer on 200 x 100 in 100 x 100: 100 parent units = 100 source pixels over on x.
	ItemGeometry g =
	    compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_OUTER, 100.0f, 100.0f, 0, true), 200, 100);
	expect_crop(g, 50, 0, 50, 0);
	EXPECT_FLOAT_EQ(g.scale.x, 1.0f); // the crop does not change the scale

	// E = 3 centred: each half of 1.5 rounds away from zero.
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, 0, true), 103, 100);
	expect_crop(g, 2, 0, 2, 0);

	// 10 source pixels over on x: alignment and flip choose the side.
	const uint32_t left = OBS_ALIGN_LEFT, right = OBS_ALIGN_RIGHT, top = OBS_ALIGN_TOP, bottom = OBS_ALIGN_BOTTOM;
	struct Side {
		uint32_t alignment;
		float sx;
		int crop_left, crop_right;
	};
	const Side sides[] = {
	    {left, 1.0f, 0, 10},
	    {left, -1.0f, 10, 0},
	    {right, 1.0f, 10, 0},
	    {right, -1.0f, 0, 10},
	    // Both bits of an axis count as the near one.
	    {left | right, 1.0f, 0, 10},
	};
	for (const Side &c : sides) {
		SCOPED_TRACE(testing::Message() << "alignment " << c.alignment << " scale " << c.sx);
		g = compute_geometry(layout(c.sx, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, c.alignment, true),
				     110, 100);
		expect_crop(g, c.crop_left, 0, c.crop_right, 0);
	}

	// Vertical axis, with the item's own crop kept and scaled to source pixels.
	ItemLayout tall = layout(2.0f, 2.0f, OBS_BOUNDS_SCALE_TO_WIDTH, 100.0f, 100.0f, top, true);
	tall.crop = {1, 2, 3, 4};
	g = compute_geometry(tall, 54, 86); // cropped 50 x 80: 60 parent units, 30 source pixels over
	expect_crop(g, 1, 2, 3, 34);
	tall.bounds_alignment = bottom;
	g = compute_geometry(tall, 54, 86);
	expect_crop(g, 1, 32, 3, 4);
	tall.scale = {2.0f, -2.0f};
	g = compute_geometry(tall, 54, 86);
	expect_crop(g, 1, 2, 3, 34);
	tall.bounds_alignment = left; // no bit on the vertical axis: centred
	g = compute_geometry(tall, 54, 86);
	expect_crop(g, 1, 17, 3, 19);
}

TEST(ItemGeometry, CropToBoundsIgnoresSmallOverflowsOtherTypesAndASwitchedOffItem)
{
	// At scale 0.01, 0.1 parent units are 10 source pixels.
	ItemGeometry g =
	    compute_geometry(layout(0.01f, 0.01f, OBS_BOUNDS_SCALE_TO_HEIGHT, 99.9f, 1.0f, 0, true), 10000, 100);
	expect_crop(g, 0, 0, 0, 0);
	g = compute_geometry(layout(0.01f, 0.01f, OBS_BOUNDS_SCALE_TO_HEIGHT, 99.85f, 1.0f, 0, true), 10000, 100);
	expect_crop(g, 8, 0, 8, 0); // 0.15 over: 15 source pixels, 7.5 a side

	for (uint32_t type : {OBS_BOUNDS_STRETCH, OBS_BOUNDS_SCALE_INNER, OBS_BOUNDS_MAX_ONLY}) {
		g = compute_geometry(layout(1.0f, 1.0f, type, 100.0f, 50.0f, 0, true), 400, 100);
		expect_crop(g, 0, 0, 0, 0);
	}
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_OUTER, 100.0f, 100.0f, 0, false), 200, 100);
	expect_crop(g, 0, 0, 0, 0);
}

TEST(ItemGeometry, MapsALocalPointThroughTheTransform)
{
	matrix4 m;
	matrix4_identity(&m);
	matrix4_scale3f(&m, &m, 2.0f, 3.0f, 1.0f);
	matrix4_translate3f(&m, &m, 10.0f, 20.0f, 0.0f);
	const vec3 p = map_local_point(m, 5.0f, 7.0f);
	EXPECT_FLOAT_EQ(p.x, 20.0f);
	EXPECT_FLOAT_EQ(p.y, 41.0f);
}

} // namespace
