// SPDX-License-Identifier: GPL-2.0-or-later
// A shared board's hatching, and the per-frame cache across views.
#include "harness/frame_clock.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

// Hatch bands of the board item at (x0, y0): band of a pixel from the sum
// of its centre's coordinates inside the board. A centre on a band's edge
// belongs to the band after it, on every renderer (Direct3D 11 under Wine
// once drew some of them in the band before).
int band_of(int x, int y, int x0, int y0)
{
	return ((x - x0) + (y - y0) + 1) / 24;
}

// Opaque stripes: odd bands dark red (140, 10, 10), even bands dark grey
// (31, 31, 31), in the target's own (gamma) values as the host leaves the
// framebuffer's sRGB switch for a source's draw. Nothing of the checker
// picture beneath shows through.
void expect_hatch(const harness::Image &out, int x0, int y0, int w, int h, const char *what)
{
	long tinted = 0, fill = 0;
	for (int y = y0; y < y0 + h; ++y)
		for (int x = x0; x < x0 + w; ++x) {
			const int band = band_of(x, y, x0, y0);
			const uint8_t *p = out.at(x, y);
			const int want[3] = {band & 1 ? 140 : 31, band & 1 ? 10 : 31, band & 1 ? 10 : 31};
			tinted += band & 1;
			fill += !(band & 1);
			for (int c = 0; c < 3; ++c)
				ASSERT_NEAR(p[c], want[c], 2) << what << " " << x << "," << y;
		}
	EXPECT_GT(tinted, w * h / 3) << what;
	EXPECT_GT(fill, w * h / 3) << what;
	// The band at the board's top-left corner is the fill.
	EXPECT_NEAR(out.at(x0, y0)[0], 31, 2) << what;
	EXPECT_NEAR(out.at(x0 + 30, y0)[0], 140, 2) << what;
}

struct SharedStage {
	rt::Stage stage{R"({"width": 200, "height": 120})", "checker", 8};
	obs_sceneitem_t *second = nullptr;
	SharedStage()
	{
		stage.place(100, 60);
		second = obs_scene_add(stage.scene, stage.board);
		vec2 pos;
		vec2_set(&pos, 400, 200);
		obs_sceneitem_set_pos(second, &pos);
		// The stage showed the board alone for a moment; from here on it
		// must not capture.
		rt::Stage::settle(3);
		stage.record()->capture_method.store(CaptureMethod::None);
		last_capture = stage.record()->render->cached_frame_time;
	}
	uint64_t last_capture = 0;
	bool captured() const
	{
		return rt::method_of(stage.board) != CaptureMethod::None ||
		       stage.record()->render->cached_frame_time != last_capture;
	}
};

TEST(Hatch, SharedBoardDrawsBandsOfTwentyFourBoardPixels)
{
	SharedStage s;
	const harness::Image out = harness::settled_frame(3);
	EXPECT_EQ(s.stage.record()->placement_status.load(), PlacementStatus::Shared);
	expect_hatch(out, 100, 60, 200, 120, "first item");
	expect_hatch(out, 400, 200, 200, 120, "second item");
	// Nothing else is touched.
	const harness::Image picture = rt::pattern_image("checker", 8);
	EXPECT_EQ(rt::count_changed(out, picture, 0, {0, 0, 640, 60}), 0);
	EXPECT_EQ(rt::count_changed(out, picture, 0, {0, 60, 100, 360}), 0);

	EXPECT_FALSE(s.captured());

	// Inverted, it hides all but its shape: stripes over the whole view.
	s.stage.update(R"({"invert": true})");
	expect_hatch(harness::settled_frame(3), 0, 0, 640, 360, "inverted");
	EXPECT_FALSE(s.captured());

	// The emergency cover needs no item: the whole canvas is a mosaic.
	s.stage.update(R"({"emergency": true, "emergency_size": 10})");
	const harness::Image cover = harness::settled_frame(3);
	const rt::CellCheck check = rt::check_cells(cover, picture, {0, 0, 640, 360}, 36, 17.5f);
	EXPECT_EQ(check.cells, 17 * 10);
	EXPECT_EQ(check.mixed, 0);
	EXPECT_EQ(rt::method_of(s.stage.board), CaptureMethod::Copy);
}

TEST(Hatch, StripesScaleWithTheItemAndShowWhenFadedOut)
{
	SharedStage s;
	s.stage.update(R"({"enabled": false, "fade_seconds": 0})");
	// Twice the size: bands of 48 canvas pixels.
	vec2 scale;
	vec2_set(&scale, 2.0f, 2.0f);
	obs_sceneitem_set_scale(s.stage.board_item, &scale);
	const harness::Image out = harness::settled_frame(3);
	EXPECT_NEAR(out.at(100 + 40, 60)[0], 31, 2);
	EXPECT_NEAR(out.at(100 + 50, 60)[0], 140, 2);
	EXPECT_NEAR(out.at(100 + 94, 60)[0], 140, 2);
	EXPECT_NEAR(out.at(100 + 98, 60)[0], 31, 2);
	EXPECT_FALSE(s.captured());

	// Back to one item: the board works again.
	obs_sceneitem_remove(s.second);
	s.stage.update(R"({"enabled": true})");
	harness::settled_frame(3);
	EXPECT_EQ(s.stage.record()->placement_status.load(), PlacementStatus::Placed);
	EXPECT_EQ(rt::method_of(s.stage.board), CaptureMethod::Copy);
}

TEST(Cache, TwoViewsInOneFrameCaptureOnce)
{
	rt::Stage stage(R"({"width": 200, "height": 120, "blur_radius": 30})", "checker", 8, false);
	stage.place(100, 60);
	rt::Stage::settle(3);
	const harness::Image ref = rt::pattern_image("checker", 8);

	const uint64_t frame = harness::unique_frame_time();
	const harness::Image one_to_one =
	    harness::in_frame(frame, [&] { return harness::render_view(stage.scene_source(), 640, 360); });
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);
	// A projector-like view drawing the canvas at half size would redraw;
	// in the same frame it shows the first view's composite instead.
	const harness::Image half =
	    harness::in_frame(frame, [&] { return harness::render_view(stage.scene_source(), 320, 180, 0.5f); });
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);

	EXPECT_LT(rt::contrast(one_to_one, {110, 70, 290, 170}), 2.0);
	EXPECT_LT(rt::contrast(half, {55, 35, 145, 85}), 2.0);
	EXPECT_GT(rt::contrast(half, {200, 100, 300, 170}), 50.0); // the picture beside it
	for (int y = 35; y < 85; y += 7)
		for (int x = 55; x < 145; x += 7)
			EXPECT_LE(std::abs(int(half.at(x, y)[1]) - int(one_to_one.at(2 * x, 2 * y)[1])), 3);

	// The next frame captures again, by redraw for the scaled view.
	harness::in_own_frame([&] { return harness::render_view(stage.scene_source(), 320, 180, 0.5f); });
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Redraw);
}

TEST(Cache, AFailedCaptureDrawsNothingInEveryViewOfThatFrame)
{
	// Radius 0: too weak to show, so the capture gives up.
	rt::Stage stage(R"({"width": 200, "height": 120, "blur_radius": 0})", "checker", 8, false);
	stage.place(100, 60);
	rt::Stage::settle(3);
	const harness::Image ref = rt::pattern_image("checker", 8);

	const uint64_t frame = harness::unique_frame_time();
	const auto view = [&](float dx) {
		return harness::in_frame(
		    frame, [&] { return harness::render_view(stage.scene_source(), 640, 360, 1.0f, dx); });
	};
	EXPECT_EQ(rt::max_diff(view(0.0f), ref), 0);
	EXPECT_TRUE(stage.record()->render->cache_valid);
	EXPECT_FALSE(stage.record()->render->cached_ok);
	// The board could draw now, but this frame already failed.
	stage.update(R"({"blur_radius": 30})");
	rt::Stage::settle(3);
	EXPECT_EQ(rt::max_diff(view(0.0f), ref), 0);
	EXPECT_EQ(rt::max_diff(view(4.0f), harness::render_view(stage.picture, 640, 360, 1.0f, 4.0f, 0.0f)), 0);

	const harness::Image next =
	    harness::in_own_frame([&] { return harness::render_view(stage.scene_source(), 640, 360); });
	EXPECT_LT(rt::contrast(next, {110, 70, 290, 170}), 2.0);
	EXPECT_TRUE(stage.record()->render->cached_ok);
}

TEST(Cache, AFadedOutBoardLeavesTheCacheAlone)
{
	rt::Stage stage(R"({"width": 200, "height": 120, "enabled": false})", "checker", 8);
	harness::settled_frame(3);
	EXPECT_FALSE(stage.record()->render->cache_valid);
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::None);
	EXPECT_EQ(rt::max_diff(harness::settled_frame(), rt::pattern_image("checker", 8)), 0);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
