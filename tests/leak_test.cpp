// SPDX-License-Identifier: GPL-2.0-or-later
// Small text moving one pixel a frame under a mosaic, frames read from the
// host's output and combined as a viewer who records the stream would:
// none of the text's fine detail may come back.
#include "harness/leak.h"
#include "harness/render_util.h"

namespace {

// The frames of the text moved 0 .. cell - 1 pixels to the right.
std::vector<harness::Image> moving_frames(rt::Stage &stage, int cell)
{
	std::vector<harness::Image> frames;
	for (int s = 0; s < cell; ++s) {
		vec2 pos;
		vec2_set(&pos, float(s), 0.0f);
		obs_sceneitem_set_pos(stage.picture_item, &pos);
		frames.push_back(harness::settled_frame());
	}
	return frames;
}

// Cells that are the plain mean of the pixels under them, as the CPU would
// make them: the measure must see the text come back through those.
std::vector<harness::Image> box_mosaic_frames(const harness::Image &text, int cell)
{
	std::vector<harness::Image> frames;
	for (int s = 0; s < cell; ++s) {
		harness::Image f = text;
		for (uint32_t cy = 0; cy + cell <= f.height; cy += cell)
			for (uint32_t cx = uint32_t(cell); cx + cell <= f.width; cx += cell) {
				double sum = 0;
				for (uint32_t y = cy; y < cy + cell; ++y)
					for (uint32_t x = cx; x < cx + cell; ++x)
						sum += rt::to_linear(text.at(x - s, y)[1]);
				const double m = sum / (cell * cell);
				const double v = m <= 0.0031308 ? m * 12.92 : 1.055 * std::pow(m, 1 / 2.4) - 0.055;
				for (uint32_t y = cy; y < cy + cell; ++y)
					for (uint32_t x = cx; x < cx + cell; ++x)
						f.rgba[(size_t(y) * f.width + x) * 4 + 1] =
						    uint8_t(std::lround(v * 255));
			}
		frames.push_back(std::move(f));
	}
	return frames;
}

TEST(Leak, TextMovingUnderTheMosaicGivesNoDetailBack)
{
	const harness::Image text = rt::pattern_image("text");
	const harness::Area area{64, 48, 576, 336};
	EXPECT_GT(harness::motion_leak(box_mosaic_frames(text, 16), text, area, 16), 0.9)
	    << "plain cell means give the text back";

	struct Case {
		const char *settings;
		int cell;
	};
	for (const Case c : {Case{R"({"mosaic_size": 8})", 8}, Case{R"({"mosaic_size": 24})", 24},
			     Case{R"({"emergency": true, "emergency_size": 10})", 36}}) {
		SCOPED_TRACE(c.settings);
		rt::Stage stage(R"({"mode": "mosaic", "width": 512, "height": 288})", "text");
		stage.place(64, 48);
		stage.update(c.settings);
		const double leak = harness::motion_leak(moving_frames(stage, c.cell), text, area, c.cell);
		EXPECT_LT(leak, 0.05);
		EXPECT_GT(leak, -0.05);
	}
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
