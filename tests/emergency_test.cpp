// SPDX-License-Identifier: GPL-2.0-or-later
// The emergency cover: the whole canvas as a coarse mosaic, whatever the
// board's own place, shape or fade.
#include "harness/render_util.h"

namespace {

using rt::Rect;

// 640 x 360 at 10 %: cells of 36 pixels from the canvas origin, each the
// mean of the picture low-passed by half a cell less half a pixel.
constexpr float kCell = 36.0f, kLowPass = 17.5f;

void expect_covered(const harness::Image &out, const char *what)
{
	const harness::Image ref = rt::pattern_image("gradient");
	const rt::CellCheck check = rt::check_cells(out, ref, {0, 0, 640, 360}, kCell, kLowPass);
	EXPECT_EQ(check.cells, 17 * 10) << what;
	EXPECT_EQ(check.mixed, 0) << what;
	EXPECT_EQ(check.equal_neighbours, 0) << what;
	EXPECT_LT(check.worst_mean_error, 3.0) << what;
	// The cells cut by the canvas's right and bottom edges are one colour too.
	const uint8_t *corner = out.at(613, 325);
	for (int y = 325; y < 360; ++y)
		for (int x = 613; x < 640; ++x)
			ASSERT_LE(std::abs(int(out.at(x, y)[0]) - int(corner[0])), 1) << what << " " << x << "," << y;
	EXPECT_GT(rt::count_changed(out, ref, 2), 640 * 360 / 2) << what;
}

TEST(Emergency, CoversTheWholeCanvasWithCellsOfTheShorterSide)
{
	rt::Stage stage(R"({"width": 100, "height": 60, "emergency": true, "emergency_size": 10})", "gradient");
	stage.place(200, 150);
	expect_covered(harness::settled_frame(), "plain");
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);

	// Never shaped, whatever the board's own shape and mode.
	stage.update(R"({"shape": "ellipse", "feather": 30, "mode": "mosaic", "mosaic_size": 5})");
	expect_covered(harness::settled_frame(), "ellipse");
}

TEST(Emergency, ASmallBoardRotatedByFortyFiveDegreesStillCoversAll)
{
	rt::Stage stage(R"({"width": 60, "height": 40, "emergency": true, "emergency_size": 10})", "gradient");
	stage.place(300, 150);
	obs_sceneitem_set_rot(stage.board_item, 45.0f);
	expect_covered(harness::settled_frame(), "rotated");

	vec2 scale;
	vec2_set(&scale, 0.25f, 3.0f);
	obs_sceneitem_set_scale(stage.board_item, &scale);
	expect_covered(harness::settled_frame(), "rotated and scaled");

	// Even from outside the canvas.
	stage.place(-400, -300);
	expect_covered(harness::settled_frame(), "off the canvas");
}

TEST(Emergency, CoversAtFadeLevelZero)
{
	rt::Stage stage(R"({"width": 100, "height": 60, "enabled": false, "emergency_size": 10, "fade_seconds": 0})",
			"gradient");
	stage.place(10, 10);
	const harness::Image ref = rt::pattern_image("gradient");
	EXPECT_EQ(rt::max_diff(harness::settled_frame(), ref), 0);
	EXPECT_FALSE(stage.record()->render->cache_valid); // a faded-out board does not even look
	stage.update(R"({"emergency": true})");
	expect_covered(harness::settled_frame(), "faded out");
	stage.update(R"({"emergency": false})");
	EXPECT_EQ(rt::max_diff(harness::settled_frame(), ref), 0);
}

TEST(Emergency, CellsNeverGoBelowTwoPixels)
{
	rt::Stage stage(R"({"width": 100, "height": 60, "emergency": true, "emergency_size": 0.5})", "gradient");
	const harness::Image out = harness::settled_frame();
	// 360 * 0.5 % = 1.8, raised to 2.
	const rt::CellCheck check = rt::check_cells(out, rt::pattern_image("gradient"), {0, 0, 640, 360}, 2.0f);
	EXPECT_EQ(check.cells, 320 * 180);
	EXPECT_EQ(check.mixed, 0);
}

// The host draws a cropped item through a texture of the item's size, so
// the cover cannot reach beyond the board: the streamer is told, once per
// switch-on, instead of believing the canvas is hidden.
TEST(Emergency, WarnsOnceWhenTheHostClipsTheCoverToTheBoard)
{
	rt::Stage stage(R"({"width": 100, "height": 60, "emergency": true, "emergency_size": 10})", "gradient");
	stage.place(200, 150);
	harness::settled_frame();
	const std::string warning = "the emergency cover only covers the board's own area";
	EXPECT_TRUE(harness::log_matching(warning).empty()) << "an uncropped board covers everything";

	obs_sceneitem_crop crop = {5, 0, 0, 0};
	obs_sceneitem_set_crop(stage.board_item, &crop);
	harness::settled_frame();
	harness::settled_frame();
	auto lines = harness::log_matching(warning);
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_WARNING);

	stage.update(R"({"emergency": false})");
	harness::settled_frame();
	stage.update(R"({"emergency": true})");
	harness::settled_frame();
	EXPECT_EQ(harness::log_matching(warning).size(), 2u) << "switched on again: told again";
	harness::clear_log();
}

// The host also draws an item through a texture of its own when its bounds
// crop it, and draws a cropped group's items inside the group's texture.
TEST(Emergency, WarnsForCropToBoundsAndForAClippingGroup)
{
	const std::string warning = "the emergency cover only covers the board's own area";
	for (bool in_group : {false, true}) {
		harness::clear_log();
		rt::Stage stage(R"({"width": 100, "height": 60, "emergency": true, "emergency_size": 10})", "gradient");
		stage.place(200, 150);
		obs_sceneitem_t *group = nullptr;
		if (in_group) {
			group = obs_scene_add_group(stage.scene, "clipping group");
			obs_sceneitem_group_add_item(group, stage.board_item);
			obs_sceneitem_crop crop = {0, 0, 10, 0};
			obs_sceneitem_set_crop(group, &crop);
		} else {
			vec2 bounds;
			vec2_set(&bounds, 50.0f, 60.0f);
			obs_sceneitem_set_bounds_type(stage.board_item, OBS_BOUNDS_SCALE_OUTER);
			obs_sceneitem_set_bounds(stage.board_item, &bounds);
			obs_sceneitem_set_bounds_crop(stage.board_item, true);
		}
		harness::settled_frame();
		harness::settled_frame();
		EXPECT_EQ(harness::log_matching(warning).size(), 1u) << in_group;
		if (group)
			obs_sceneitem_remove(group);
	}
	harness::clear_log();
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
