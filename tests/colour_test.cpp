// SPDX-License-Identifier: GPL-2.0-or-later
// Boards on a 16-bit float canvas (P010 output: GS_CS_SRGB_16F; with "pq"
// the HDR canvas, GS_CS_709_EXTENDED): the chain runs in GS_RGBA16F and
// still blurs; 8-bit views of the same scene switch it back and forth.
#include <cstring>

#include "harness/frame_clock.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

bool hdr_canvas()
{
	return harness::options().colorspace == VIDEO_CS_2100_PQ;
}

// Canvas at the last frame; waits for a frame that shows every change.
harness::FloatImage canvas()
{
	harness::settled_frame(3);
	return harness::main_texture_float();
}

double mean_green(const harness::FloatImage &img, Rect r)
{
	double sum = 0;
	for (int y = r.y0; y < r.y1; ++y)
		for (int x = r.x0; x < r.x1; ++x)
			sum += img.at(x, y)[1];
	return sum / (r.width() * r.height());
}

double spread_green(const harness::FloatImage &img, Rect r)
{
	float lo = 1e9f, hi = -1e9f;
	for (int y = r.y0; y < r.y1; ++y)
		for (int x = r.x0; x < r.x1; ++x) {
			lo = std::min(lo, img.at(x, y)[1]);
			hi = std::max(hi, img.at(x, y)[1]);
		}
	return hi - lo;
}

// Over a checker of 4: 0 and 1 outside, their linear mean 0.5 inside.
void expect_blurred(const harness::FloatImage &img, const char *what)
{
	ASSERT_FALSE(img.empty()) << what;
	const Rect inner = {210, 110, 430, 250};
	EXPECT_NEAR(mean_green(img, inner), 0.5, 0.01) << what;
	EXPECT_LT(spread_green(img, inner), 0.02) << what;
	for (auto [x, y] : {std::pair{5, 5}, std::pair{13, 5}, std::pair{600, 300}, std::pair{199, 150}}) {
		const float expected = (((x / 4) + (y / 4)) & 1) ? 1.0f : 0.0f;
		EXPECT_NEAR(img.at(x, y)[1], expected, 1e-3) << what << " " << x << "," << y;
	}
}

TEST(Colour, TheChainRunsInHalfFloatsOnAFloatCanvas)
{
	rt::Stage stage(R"({"width": 240, "height": 160, "blur_radius": 40})", "checker", 4);
	stage.place(200, 100);
	expect_blurred(canvas(), "copy");
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);
	EXPECT_EQ(stage.record()->render->pool.chain_format, GS_RGBA16F);

	// Redrawn into a float view of the canvas's own space.
	obs_enter_graphics();
	const bool float_canvas = gs_texture_get_color_format(obs_get_main_texture()) == GS_RGBA16F;
	obs_leave_graphics();
	ASSERT_TRUE(float_canvas);
	const gs_color_space space = hdr_canvas() ? GS_CS_709_EXTENDED : GS_CS_SRGB_16F;
	// The method is read inside the frame: the host's next frame copies.
	CaptureMethod method = CaptureMethod::None;
	const harness::FloatImage moved = harness::in_own_frame([&] {
		harness::FloatImage image =
		    harness::render_view_float(stage.scene_source(), 640, 360, space, 1.0f, 8.0f, 4.0f);
		method = rt::method_of(stage.board);
		return image;
	});
	EXPECT_EQ(method, CaptureMethod::Redraw);
	ASSERT_FALSE(moved.empty());
	EXPECT_NEAR(mean_green(moved, {218, 114, 438, 254}), 0.5, 0.01);
	EXPECT_LT(spread_green(moved, {218, 114, 438, 254}), 0.02);
}

TEST(Colour, MosaicOnAFloatCanvasHasOneValuePerCell)
{
	rt::Stage stage(R"({"mode": "mosaic", "mosaic_size": 24, "width": 240, "height": 160})", "gradient");
	stage.place(192, 96);
	const harness::FloatImage img = canvas();
	ASSERT_FALSE(img.empty());
	for (int cy = 4; cy < 10; ++cy)
		for (int cx = 8; cx < 18; ++cx) {
			const float v = img.at(cx * 24 + 1, cy * 24 + 1)[0];
			for (int y = cy * 24; y < cy * 24 + 24; y += 5)
				for (int x = cx * 24; x < cx * 24 + 24; x += 5)
					ASSERT_NEAR(img.at(x, y)[0], v, 1e-3) << x << "," << y;
			EXPECT_GT(std::abs(v - img.at(cx * 24 + 25, cy * 24 + 1)[0]), 1e-3);
		}
}

TEST(Colour, AnEightBitViewSwitchesTheChainAndBack)
{
	rt::Stage stage(R"({"width": 240, "height": 160, "blur_radius": 40})", "checker", 4);
	stage.place(200, 100);
	for (int round = 0; round < 3; ++round) {
		gs_color_format format = GS_UNKNOWN;
		const harness::Image sdr = harness::in_own_frame([&] {
			harness::Image view = harness::render_view(stage.scene_source(), 640, 360, 1.0f, 8.0f, 4.0f);
			format = stage.record()->render->pool.chain_format;
			return view;
		});
		if (hdr_canvas()) {
			// The host draws an HDR scene into an 8-bit view through a
			// float texture of the scene's own space, then tone-maps it.
			EXPECT_EQ(format, GS_RGBA16F);
		} else {
			EXPECT_EQ(format, GS_RGBA);
			EXPECT_NEAR(sdr.at(320, 180)[1], 188, 3);
		}
		EXPECT_LT(rt::contrast(sdr, {218, 114, 438, 254}), 1.5);
		EXPECT_GT(rt::contrast(sdr, {0, 0, 190, 90}), 50.0);
		expect_blurred(canvas(), "after an 8-bit view");
		EXPECT_EQ(stage.record()->render->pool.chain_format, GS_RGBA16F);
	}
	for (const harness::LogLine &line : harness::log_lines())
		EXPECT_GT(line.level, LOG_ERROR) << line.text;
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	options.format = VIDEO_FORMAT_P010;
	for (int i = 1; i < argc; ++i)
		if (std::strcmp(argv[i], "pq") == 0)
			options.colorspace = VIDEO_CS_2100_PQ;
	return harness::run_tests(argc, argv, options);
}
