// SPDX-License-Identifier: GPL-2.0-or-later
// The crop and signed scale of a scene item checked against what the host
// itself computes and draws (the arithmetic alone:
// unit/item_geometry_math_test).
#include <obs.h>

#include <gtest/gtest.h>

#include <cmath>

#include "harness/host.h"
#include "harness/scene.h"
#include "render/item_geometry.h"

namespace {

using harness::Scene;

constexpr uint32_t kW = 640, kH = 360;

ItemGeometry geometry_of(obs_sceneitem_t *item)
{
	obs_source_t *source = obs_sceneitem_get_source(item);
	return compute_item_geometry(item, obs_source_get_width(source), obs_source_get_height(source));
}

// Unrotated, the host's draw transform carries the drawn scale on its diagonal.
TEST(ItemGeometryOnHost, ScaleMatchesTheHostsDrawTransformForEveryBoundsType)
{
	Scene s("geometry scene");
	obs_sceneitem_t *item = s.adopt(harness::make_pattern("geometry item", 160, 90, "gradient"));
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
			s.view(kW, kH);
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
	Scene s("geometry scene");
	const uint32_t src_w = 200;
	obs_sceneitem_t *item = s.adopt(harness::make_pattern("crop to bounds", src_w, 90, "gradient"));
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
			s.view(kW, kH);
			const harness::Image image = s.view(kW, kH);

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
