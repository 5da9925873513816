// SPDX-License-Identifier: GPL-2.0-or-later
// The two ways of getting the picture beneath a board: a copy out of a
// target that shows the canvas one to one, and a redraw of the items
// beneath for every other view (or when forced). Both must give the same
// board.
#include <cstdlib>

#include "harness/frame_clock.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

// A view of our own drawn in a frame of its own, and how the board
// captured for it (read inside that frame: the host's next one copies).
struct View {
	harness::Image image;
	CaptureMethod method = CaptureMethod::None;
};

View own_view(obs_source_t *scene, obs_source_t *board, float scale, float dx, float dy)
{
	return harness::in_own_frame([&] {
		View view;
		view.image = harness::render_view(scene, 640, 360, scale, dx, dy);
		view.method = rt::method_of(board);
		return view;
	});
}

// Largest difference between the board area of a and b, b shifted by
// (dx, dy) pixels.
int board_difference(const harness::Image &a, const harness::Image &b, Rect board, int dx, int dy)
{
	int worst = 0;
	for (int y = board.y0; y < board.y1; ++y)
		for (int x = board.x0; x < board.x1; ++x)
			for (int c = 0; c < 3; ++c)
				worst = std::max(worst, std::abs(int(a.at(x, y)[c]) - int(b.at(x + dx, y + dy)[c])));
	return worst;
}

struct Case {
	const char *settings;
	const char *kind;
};

TEST(CopyAndRedraw, GiveTheSameBoard)
{
	const Rect board = {150, 80, 450, 260};
	for (const Case &c : {Case{R"({"blur_radius": 12})", "detail"}, Case{R"({"blur_radius": 60})", "detail"},
			      Case{R"({"mode": "mosaic", "mosaic_size": 20})", "gradient"},
			      Case{R"({"shape": "ellipse", "feather": 25, "blur_radius": 30})", "detail"}}) {
		rt::Stage stage(R"({"width": 300, "height": 180})", c.kind);
		stage.place(150, 80);
		stage.update(c.settings);
		const harness::Image copy = harness::settled_frame(3);
		EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy) << c.settings;
		ASSERT_GT(rt::count_changed(copy, rt::pattern_image(c.kind), 4, board), 10000) << c.settings;

		// A view that draws the canvas moved: the board redraws what lies
		// beneath it, and must match the copy there.
		const View moved = own_view(stage.scene_source(), stage.board, 1.0f, 7.0f, 5.0f);
		EXPECT_EQ(moved.method, CaptureMethod::Redraw) << c.settings;
		EXPECT_LE(board_difference(copy, moved.image, board, 7, 5), 2) << c.settings;

		// Forced redraw in the program output itself.
		stage.update(R"({"force_redraw": true})");
		const harness::Image forced = harness::settled_frame(3);
		EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Redraw) << c.settings;
		EXPECT_LE(board_difference(copy, forced, {0, 0, 640, 360}, 0, 0), 2) << c.settings;
	}
}

TEST(CopyAndRedraw, AScaledViewShowsTheBoardScaled)
{
	rt::Stage stage(R"({"width": 300, "height": 180, "blur_radius": 20})", "checker", 16);
	stage.place(150, 80);
	const harness::Image copy = harness::settled_frame(3);
	const View view = own_view(stage.scene_source(), stage.board, 0.5f, 0.0f, 0.0f);
	const harness::Image &half = view.image;
	EXPECT_EQ(view.method, CaptureMethod::Redraw);
	// Inside the board (away from its edges) the half-size view shows the
	// same blur, sampled every other pixel.
	int worst = 0;
	for (int y = 45; y < 125; ++y)
		for (int x = 80; x < 220; ++x)
			worst = std::max(worst, std::abs(int(half.at(x, y)[1]) - int(copy.at(2 * x, 2 * y)[1])));
	EXPECT_LE(worst, 12);
	EXPECT_LT(rt::contrast(half, {80, 45, 220, 125}), rt::contrast(half, {240, 0, 320, 40}) * 0.7);
}

TEST(CopyAndRedraw, ABoardInAGroupIsFoundThroughTheGroup)
{
	rt::Stage stage("", "checker", 8);
	obs_source_t *board =
	    harness::make_board("grouped board", R"({"width": 200, "height": 120, "blur_radius": 20})");
	obs_sceneitem_t *item = obs_scene_add(stage.scene, board);
	obs_sceneitem_t *group = obs_scene_add_group(stage.scene, "group");
	obs_sceneitem_group_add_item(group, item);
	vec2 pos;
	vec2_set(&pos, 200, 100);
	obs_sceneitem_set_pos(group, &pos);
	const harness::Image out = harness::settled_frame(4);
	const harness::Image ref = rt::pattern_image("checker", 8);
	const Rect box = rt::changed_box(out, ref, 0);
	EXPECT_EQ(box.x0, 200);
	EXPECT_EQ(box.y0, 100);
	EXPECT_EQ(box.x1, 400);
	EXPECT_EQ(box.y1, 220);
	EXPECT_LT(rt::contrast(out, {205, 105, 395, 215}), 3.0);
	// The group's draw transform is the item's world: still a copy.
	EXPECT_EQ(rt::method_of(board), CaptureMethod::Copy);
	const View moved = own_view(stage.scene_source(), board, 1.0f, 3.0f, 2.0f);
	EXPECT_EQ(moved.method, CaptureMethod::Redraw);
	EXPECT_LE(board_difference(out, moved.image, {200, 100, 400, 220}, 3, 2), 2);
	obs_set_output_source(0, nullptr);
	obs_sceneitem_remove(group);
	obs_source_release(board);
}

// The host draws a cropped group through a texture that starts at the
// crop's corner: the board must blur what lies where it is shown.
TEST(CopyAndRedraw, ABoardInACroppedGroupLandsWhereTheHostDrawsIt)
{
	const char *settings = R"({"width": 200, "height": 120, "blur_radius": 20})";
	// Reference: the same board placed directly, its pixel (40, 30) at (200, 100).
	harness::Image ref;
	{
		rt::Stage stage(settings, "detail");
		stage.place(160, 70);
		ref = harness::settled_frame(3);
	}
	rt::Stage stage("", "detail");
	obs_source_t *board = harness::make_board("grouped board", settings);
	obs_sceneitem_t *item = obs_scene_add(stage.scene, board);
	obs_sceneitem_t *group = obs_scene_add_group(stage.scene, "group");
	obs_sceneitem_group_add_item(group, item);
	obs_sceneitem_crop crop = {40, 30, 0, 0};
	obs_sceneitem_set_crop(group, &crop);
	vec2 pos;
	vec2_set(&pos, 200, 100);
	obs_sceneitem_set_pos(group, &pos);
	const harness::Image out = harness::settled_frame(4);
	EXPECT_EQ(rt::method_of(board), CaptureMethod::Redraw);
	EXPECT_LE(rt::max_diff(out, ref, {202, 102, 358, 188}), 2);
	obs_set_output_source(0, nullptr);
	obs_sceneitem_remove(group);
	obs_source_release(board);
}

// The one-time line that says why a board had to redraw, while profiling.
// Drawn by the program output alone: a crop makes the host draw the board
// into a texture of the item's own, which does not show the canvas.
TEST(CaptureDiagnostic, IsWrittenOnceAndOnlyWhileProfiling)
{
	const bool profiling = std::getenv("MISTPANE_PROFILE") && std::getenv("MISTPANE_PROFILE")[0] == '1';
	for (bool forced : {false, true}) {
		harness::clear_log();
		rt::Stage stage(forced ? R"({"width": 300, "height": 180, "force_redraw": true})"
				       : R"({"width": 300, "height": 180})",
				"checker", 8);
		stage.place(150, 80);
		obs_sceneitem_crop crop = {0, 0, 0, 10};
		obs_sceneitem_set_crop(stage.board_item, &crop);
		harness::settled_frame(3);
		EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Redraw) << forced;
		// Many redraws, at most one line in the board's life.
		stage.place(170, 90);
		harness::settled_frame(3);

		const auto lines = harness::log_matching("redraw '");
		if (!profiling || forced) {
			EXPECT_TRUE(lines.empty()) << forced;
		} else {
			ASSERT_EQ(lines.size(), 1u);
			EXPECT_EQ(lines[0].level, LOG_INFO);
			EXPECT_EQ(lines[0].text,
				  "[mistpane] redraw 'board': target 300x170 fmt 3 (want 640x360 fmt 3), "
				  "viewport 0,0 300x170, world t=(0.0,0.0) x=(1.000,0.000) / item "
				  "t=(150.0,80.0) x=(1.000,0.000)");
		}
	}
}

} // namespace

// With MISTPANE_PROFILE=1 the module switches the host's source profiler
// on; here only the module's own diagnostic matters, and the host profiler
// keeps records past shutdown, so its switches are left unpulled.
extern "C" void source_profiler_enable(bool)
{
}
extern "C" void source_profiler_gpu_enable(bool)
{
}

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
