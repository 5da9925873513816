// SPDX-License-Identifier: GPL-2.0-or-later
// Blur boards over a checkerboard, read back from the program output.
#include "harness/render_util.h"

namespace {

using rt::Rect;

constexpr Rect kBoard = {200, 100, 440, 260}; // 240 x 160 at (200, 100)

TEST(Blur, DetailFallsAsTheRadiusGrowsAndNothingOutsideChanges)
{
	rt::Stage stage(R"({"width": 240, "height": 160, "blur_radius": 1})", "checker", 32);
	stage.place(200, 100);
	const harness::Image ref = rt::pattern_image("checker", 32);
	const Rect inner = rt::inset(kBoard, 4);
	double previous = rt::contrast(ref, inner);
	for (int radius : {2, 8, 20, 35}) {
		stage.update("{\"blur_radius\": " + std::to_string(radius) + "}");
		const harness::Image out = harness::settled_frame();
		const double d = rt::contrast(out, inner);
		EXPECT_LT(d, previous * 0.95) << "radius " << radius;
		previous = d;
		// Outside the board's quad the picture is untouched.
		const Rect box = rt::changed_box(out, ref, 0);
		EXPECT_GE(box.x0, kBoard.x0) << radius;
		EXPECT_GE(box.y0, kBoard.y0) << radius;
		EXPECT_LE(box.x1, kBoard.x1) << radius;
		EXPECT_LE(box.y1, kBoard.y1) << radius;
		EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);
	}
	// Blurred in linear light: black and white average to sRGB 188.
	stage.update(R"({"blur_radius": 200})");
	const harness::Image out = harness::settled_frame();
	EXPECT_LT(rt::contrast(out, inner), 2.0);
	EXPECT_NEAR(out.at(320, 180)[1], 188, 4);
}

// Across a vertical black-to-white edge the blurred profile, in linear
// light, rises from 15.87 % to 84.13 % over two sigmas (sigma = radius / 2).
TEST(Blur, EdgeProfileIsTheGaussianOfHalfTheRadius)
{
	// Cells of 320 pixels: black left of x = 320, white right of it.
	rt::Stage stage(R"({"width": 440, "height": 100, "blur_radius": 6})", "checker", 320);
	stage.place(100, 100);
	rt::Stage::settle(3);
	for (float radius : {6.0f, 20.0f, 100.0f}) {
		stage.update("{\"blur_radius\": " + std::to_string(radius) + "}");
		const harness::Image out = harness::settled_frame();
		float low = -1, high = -1;
		for (uint32_t x = 100; x < 540; ++x) {
			const double v = rt::to_linear(out.at(x, 150)[1]);
			const double prev = rt::to_linear(out.at(x - 1, 150)[1]);
			if (low < 0 && v >= 0.1587)
				low = x - 1 + float((0.1587 - prev) / std::max(v - prev, 1e-9));
			if (high < 0 && v >= 0.8413)
				high = x - 1 + float((0.8413 - prev) / std::max(v - prev, 1e-9));
		}
		ASSERT_GT(low, 0) << radius;
		ASSERT_GT(high, 0) << radius;
		const float sigma = radius * 0.5f;
		EXPECT_NEAR((high - low) * 0.5f, sigma, std::max(0.6f, sigma * 0.08f)) << radius;
		// Centred on the edge, between pixels 319 and 320.
		EXPECT_NEAR((high + low) * 0.5f, 319.5f, std::max(0.5f, sigma * 0.02f)) << radius;
	}
}

TEST(Blur, ReadsNothingBeyondTheCanvasEdge)
{
	// 360 rows are captured into 384: the rows below the canvas hold
	// nothing the blur may pull in. A white picture must stay white.
	rt::Stage stage(R"({"width": 200, "height": 100, "blur_radius": 150})", "solid", 8, true, 0xffffffff);
	const harness::Image ref = rt::pattern_image("solid", 8, 0xffffffff);
	for (auto [x, y] : {std::pair{440.0f, 260.0f}, std::pair{0.0f, 0.0f}, std::pair{300.0f, 300.0f}}) {
		stage.place(x, y);
		const harness::Image out = harness::settled_frame();
		EXPECT_LE(rt::max_diff(out, ref), 1) << x << "," << y;
	}
}

TEST(Blur, PartlyOffTheCanvasBlursOnlyThePartInside)
{
	rt::Stage stage(R"({"width": 300, "height": 200, "blur_radius": 20})", "checker", 4);
	stage.place(-150, -100);
	const harness::Image out = harness::settled_frame();
	const harness::Image ref = rt::pattern_image("checker", 4);
	const Rect box = rt::changed_box(out, ref, 0);
	EXPECT_EQ(box.x0, 0);
	EXPECT_EQ(box.y0, 0);
	EXPECT_EQ(box.x1, 150);
	EXPECT_EQ(box.y1, 100);
	EXPECT_LT(rt::detail(out, {0, 0, 146, 96}), 1.0);
}

TEST(Blur, WhollyOffTheCanvasChangesNothing)
{
	rt::Stage stage(R"({"width": 100, "height": 80, "blur_radius": 40})", "checker", 4);
	const harness::Image ref = rt::pattern_image("checker", 4);
	for (auto [x, y] : {std::pair{700.0f, 10.0f}, std::pair{-101.0f, 50.0f}, std::pair{100.0f, -81.0f},
			    std::pair{100.0f, 400.0f}}) {
		stage.place(x, y);
		rt::Stage::settle(2);
		stage.record()->capture_method.store(CaptureMethod::None);
		EXPECT_EQ(rt::max_diff(harness::settled_frame(), ref), 0) << x << "," << y;
		EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::None);
	}
}

TEST(Blur, SigmaBelowTheThresholdChangesNothing)
{
	const harness::Image ref = rt::pattern_image("checker", 1);
	// 0.09 * 0.5 = 0.045 pixels
	rt::Stage stage(R"({"width": 240, "height": 160, "blur_radius": 0.09})", "checker", 1);
	stage.place(200, 100);
	stage.record()->capture_method.store(CaptureMethod::None);
	EXPECT_EQ(rt::max_diff(harness::settled_frame(), ref), 0);
	stage.update(R"({"blur_radius": 0})");
	EXPECT_EQ(rt::max_diff(harness::settled_frame(), ref), 0);
	// The fade scales sigma with the square of the level: 20 at 5 % is
	// 20 * 0.0025 * 0.5 = 0.025 pixels.
	stage.update(R"({"blur_radius": 20, "strength": 5, "fade_seconds": 0})");
	EXPECT_EQ(rt::max_diff(harness::settled_frame(), ref), 0);
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::None);
	// Just above it, a one-pixel checker does change.
	stage.update(R"({"blur_radius": 2, "strength": 100})");
	EXPECT_GT(rt::max_diff(harness::settled_frame(), ref), 0);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
