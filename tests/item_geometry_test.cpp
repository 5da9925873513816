// SPDX-License-Identifier: GPL-2.0-or-later
// The crop and signed scale with which the host really draws a scene item:
// every bounds type, crop to bounds, and a few items checked against what
// the host itself computes and draws.
#include <obs.h>

#include <gtest/gtest.h>

#include <cmath>

#include "harness/host.h"
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
	EXPECT_EQ(cropped_size(100, 10, 20), 70u);
	EXPECT_EQ(cropped_size(100, 50, 50), 0u);
	EXPECT_EQ(cropped_size(100, 60, 41), 2u);
	EXPECT_EQ(cropped_size(0, 0, 0), 0u);
	EXPECT_EQ(cropped_size(0, 1, 0), 2u);
	// Unsigned arithmetic as the host does it.
	EXPECT_EQ(cropped_size(100, 0xffffffffu, 1), 100u);
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
	// Displayed 200 x 100 in bounds 100 x 100.
	ItemGeometry g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_INNER, 100.0f, 100.0f), 200, 100);
	EXPECT_FLOAT_EQ(g.scale.x, 0.5f);
	EXPECT_FLOAT_EQ(g.scale.y, 0.5f);
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_OUTER, 100.0f, 100.0f), 200, 100);
	EXPECT_FLOAT_EQ(g.scale.x, 1.0f);
	EXPECT_FLOAT_EQ(g.scale.y, 1.0f);
	// Flips survive the common factor.
	g = compute_geometry(layout(-2.0f, 1.0f, OBS_BOUNDS_SCALE_TO_WIDTH, 100.0f, 100.0f), 100, 100);
	EXPECT_FLOAT_EQ(g.scale.x, -1.0f);
	EXPECT_FLOAT_EQ(g.scale.y, 0.5f);
	g = compute_geometry(layout(1.0f, -2.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 50.0f), 100, 100);
	EXPECT_FLOAT_EQ(g.scale.x, 0.25f);
	EXPECT_FLOAT_EQ(g.scale.y, -0.5f);
	// A tall item: inner fits the height, outer the width.
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_INNER, 100.0f, 100.0f), 50, 200);
	EXPECT_FLOAT_EQ(g.scale.x, 0.5f);
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_OUTER, 100.0f, 100.0f), 50, 200);
	EXPECT_FLOAT_EQ(g.scale.x, 2.0f);
	// Max only: a fitting item keeps its scale; a larger one fits inside.
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_MAX_ONLY, 300.0f, 300.0f), 200, 100);
	EXPECT_EQ(g.scale.x, 1.0f);
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_MAX_ONLY, 300.0f, 50.0f), 200, 100);
	EXPECT_FLOAT_EQ(g.scale.x, 0.5f);
	EXPECT_FLOAT_EQ(g.scale.y, 0.5f);
	// A type the host does not know.
	for (uint32_t type : {7u, 100u, 0xffffffffu}) {
		g = compute_geometry(layout(1.5f, 1.5f, type, 10.0f, 10.0f, 0, true), 200, 100);
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

	const uint32_t left = OBS_ALIGN_LEFT, right = OBS_ALIGN_RIGHT, top = OBS_ALIGN_TOP, bottom = OBS_ALIGN_BOTTOM;
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, left, true), 110, 100);
	expect_crop(g, 0, 0, 10, 0);
	g = compute_geometry(layout(-1.0f, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, left, true), 110, 100);
	expect_crop(g, 10, 0, 0, 0);
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, right, true), 110, 100);
	expect_crop(g, 10, 0, 0, 0);
	g = compute_geometry(layout(-1.0f, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, right, true), 110, 100);
	expect_crop(g, 0, 0, 10, 0);
	// Both bits of an axis count as the near one.
	g = compute_geometry(layout(1.0f, 1.0f, OBS_BOUNDS_SCALE_TO_HEIGHT, 100.0f, 100.0f, left | right, true), 110,
			     100);
	expect_crop(g, 0, 0, 10, 0);

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

// --- Against the host -------------------------------------------------------

struct Scene {
	obs_scene_t *scene = harness::make_scene("geometry scene");
	// The main canvas keeps a scene until it is removed.
	~Scene()
	{
		obs_source_remove(obs_scene_get_source(scene));
		obs_scene_release(scene);
	}
	obs_sceneitem_t *add(obs_source_t *source)
	{
		obs_sceneitem_t *item = obs_scene_add(scene, source);
		obs_source_release(source);
		return item;
	}
	// The host brings draw transforms up to date while it renders the scene,
	// but re-renders an item's own texture only once per video frame (its
	// tick resets it): wait for a frame so that the picture is current.
	harness::Image render()
	{
		harness::next_frames(1);
		return harness::render_view(obs_scene_get_source(scene), 640, 360);
	}
};

ItemGeometry geometry_of(obs_sceneitem_t *item)
{
	obs_source_t *source = obs_sceneitem_get_source(item);
	return compute_item_geometry(item, obs_source_get_width(source), obs_source_get_height(source));
}

// Unrotated, the host's draw transform carries the drawn scale on its diagonal.
TEST(ItemGeometryOnHost, ScaleMatchesTheHostsDrawTransformForEveryBoundsType)
{
	Scene s;
	obs_sceneitem_t *item = s.add(harness::make_pattern("geometry item", 160, 90, "gradient"));
	const vec2 scale = {-1.25f, 0.75f};
	obs_sceneitem_set_scale(item, &scale);
	const obs_sceneitem_crop crop = {8, 4, 12, 6};
	obs_sceneitem_set_crop(item, &crop);
	const vec2 bounds = {300.0f, 120.0f};
	obs_sceneitem_set_bounds(item, &bounds);
	for (uint32_t type = OBS_BOUNDS_NONE; type <= OBS_BOUNDS_MAX_ONLY; ++type) {
		for (bool crop_to_bounds : {false, true}) {
			obs_sceneitem_set_bounds_type(item, (obs_bounds_type)type);
			obs_sceneitem_set_bounds_crop(item, crop_to_bounds);
			s.render();
			matrix4 draw;
			obs_sceneitem_get_draw_transform(item, &draw);
			const ItemGeometry g = geometry_of(item);
			EXPECT_NEAR(g.scale.x, draw.x.x, 1e-5f) << "bounds type " << type;
			EXPECT_NEAR(g.scale.y, draw.y.y, 1e-5f) << "bounds type " << type;
		}
	}
}

// Where the host draws an item, and which source pixels it shows, follow
// from the crop computed here: the cropped rectangle mapped by the draw
// transform is exactly the drawn area, and its left column is source
// column crop.left.
void expect_drawn_as_computed(obs_sceneitem_t *item, const harness::Image &image, uint32_t src_w, bool flipped_x)
{
	const ItemGeometry g = geometry_of(item);
	matrix4 draw;
	obs_sceneitem_get_draw_transform(item, &draw);
	const float cx = (float)cropped_size(src_w, g.crop.left, g.crop.right);
	const float cy = (float)cropped_size(90, g.crop.top, g.crop.bottom);
	const vec3 a = map_local_point(draw, 0.0f, 0.0f);
	const vec3 b = map_local_point(draw, cx, cy);
	const float x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
	const float y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
	ASSERT_FALSE(image.empty());
	int wrong = 0;
	for (uint32_t y = 0; y < image.height; ++y) {
		for (uint32_t x = 0; x < image.width; ++x) {
			const float px = x + 0.5f, py = y + 0.5f;
			// Skip the pixels on the border of the rectangle.
			const bool inside = px > x0 + 1 && px < x1 - 1 && py > y0 + 1 && py < y1 - 1;
			const bool outside = px < x0 - 1 || px > x1 + 1 || py < y0 - 1 || py > y1 + 1;
			const uint8_t alpha = image.at(x, y)[3];
			if ((inside && alpha != 255) || (outside && alpha != 0))
				++wrong;
		}
	}
	EXPECT_EQ(wrong, 0);

	// The gradient's red channel is 255 * column / (width - 1).
	const float scale_x = std::fabs(g.scale.x);
	const float first_col = flipped_x ? (float)(src_w - 1 - g.crop.right) : (float)g.crop.left;
	const uint32_t sample_x = (uint32_t)(x0 + 0.5f * scale_x);
	const uint32_t sample_y = (uint32_t)((y0 + y1) * 0.5f);
	const float expected_red = 255.0f * first_col / (float)(src_w - 1);
	EXPECT_NEAR(image.at(sample_x, sample_y)[0], expected_red, 255.0f / (src_w - 1) * 1.5f + 1.0f);
}

TEST(ItemGeometryOnHost, CropToBoundsShowsTheComputedPartWhereTheHostDrawsIt)
{
	Scene s;
	const uint32_t src_w = 200;
	obs_sceneitem_t *item = s.add(harness::make_pattern("crop to bounds", src_w, 90, "gradient"));
	const vec2 pos = {100.0f, 60.0f};
	obs_sceneitem_set_pos(item, &pos);
	const vec2 bounds = {120.0f, 135.0f};
	obs_sceneitem_set_bounds(item, &bounds);
	obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_SCALE_TO_HEIGHT); // scale 1.5, 300 wide: 180 over
	obs_sceneitem_set_bounds_crop(item, true);
	for (uint32_t alignment : {0u, (uint32_t)OBS_ALIGN_LEFT, (uint32_t)OBS_ALIGN_RIGHT}) {
		for (float sx : {1.0f, -1.0f}) {
			const vec2 scale = {sx, 1.0f};
			obs_sceneitem_set_scale(item, &scale);
			obs_sceneitem_set_bounds_alignment(item, alignment);
			s.render();
			const harness::Image image = s.render();

			const ItemGeometry g = geometry_of(item);
			EXPECT_EQ(g.crop.left + g.crop.right, 120) << alignment << " " << sx;
			SCOPED_TRACE(testing::Message() << "alignment " << alignment << " scale " << sx);
			expect_drawn_as_computed(item, image, src_w, sx < 0.0f);
		}
	}
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
