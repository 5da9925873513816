// SPDX-License-Identifier: GPL-2.0-or-later
// What a viewer who records the stream gets back of small text (11-pixel
// capitals) from beneath a board, in the real host, frames read from the
// program output of a 1280 x 720 canvas. Prints figures; judges nothing.
//
//   mistpane-leak-bench [--only mosaic|emergency|blur]
//
// Mosaic and emergency cover: the text moves one pixel a frame under the
// cells for as many frames as a cell is wide; the frames are combined as
// tools that recover pixelated text do (harness::motion_leak). Blur: one
// frame, deconvolved with the known sigma (harness::deconvolution_leak),
// and how far the blur of the moved text differs from the blur moved (a
// blur that does not depend on where its texel grid falls differs by 0).
// MISTPANE_MODULE=path loads another build's module instead of this one's.
#include <obs-module.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness/host.h"
#include "harness/leak.h"
#include "harness/pattern.h"

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;

struct Scene {
	obs_scene_t *scene = nullptr;
	obs_source_t *text = nullptr, *board = nullptr;
	obs_sceneitem_t *text_item = nullptr;

	explicit Scene(const std::string &board_json)
	{
		scene = harness::make_scene("leak");
		text = harness::make_pattern("text", kWidth, kHeight, "text");
		text_item = obs_scene_add(scene, text);
		board = harness::make_board("board", board_json.c_str());
		obs_sceneitem_t *item = obs_scene_add(scene, board);
		vec2 pos;
		vec2_set(&pos, 128.0f, 96.0f);
		obs_sceneitem_set_pos(item, &pos);
		obs_set_output_source(0, obs_scene_get_source(scene));
		harness::settled_frame(4);
	}
	~Scene()
	{
		obs_set_output_source(0, nullptr);
		obs_source_remove(obs_scene_get_source(scene));
		obs_scene_release(scene);
		obs_source_release(board);
		obs_source_release(text);
		obs_wait_for_destroy_queue();
	}
	harness::Image moved(int s)
	{
		vec2 pos;
		vec2_set(&pos, float(s), 0.0f);
		obs_sceneitem_set_pos(text_item, &pos);
		return harness::settled_frame();
	}
};

const harness::Image &text_picture()
{
	static harness::Image img;
	if (img.empty()) {
		img.width = kWidth;
		img.height = kHeight;
		img.rgba = harness::pattern_pixels("text", kWidth, kHeight, 8, 0);
	}
	return img;
}

double mosaic_leak(const std::string &settings, int cell, harness::Area area)
{
	Scene scene("{\"width\": 1024, \"height\": 528, \"mode\": \"mosaic\", \"fade_seconds\": 0, " + settings + "}");
	std::vector<harness::Image> frames;
	for (int s = 0; s < cell; ++s)
		frames.push_back(scene.moved(s));
	return harness::motion_leak(frames, text_picture(), area, cell);
}

// Mean difference, in levels, of the blurred text moved by s against the
// blur of the unmoved text moved by s.
double shift_variance(Scene &scene, harness::Area area)
{
	const harness::Image still = scene.moved(0);
	double sum = 0;
	long n = 0;
	for (int s = 1; s < 8; ++s) {
		const harness::Image moved = scene.moved(s);
		for (int y = area.y0; y < area.y1; ++y)
			for (int x = area.x0; x < area.x1; ++x) {
				sum += std::abs(int(moved.at(uint32_t(x + s), uint32_t(y))[1]) -
						int(still.at(uint32_t(x), uint32_t(y))[1]));
				++n;
			}
	}
	return n ? sum / double(n) : 0.0;
}

} // namespace

int main(int argc, char **argv)
{
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	std::string only;
	for (int i = 1; i < argc; ++i)
		if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
			only = argv[++i];
	harness::HostOptions options;
	options.width = kWidth;
	options.height = kHeight;
	if (!harness::start(options))
		return 1;
	const char *module = std::getenv("MISTPANE_MODULE");
	std::printf("module: %s\n", module && *module ? module : "this build's");

	// The board covers (128, 96) to (1152, 624); the cells judged lie inside.
	const harness::Area board{128, 96, 1152, 624};
	if (only.empty() || only == "mosaic") {
		std::printf("\n| mosaic | leak of the text's fine detail over the frames |\n|---|---|\n");
		for (int size : {8, 16, 24, 40, 64})
			std::printf("| %d px | %.3f |\n", size,
				    mosaic_leak("\"mosaic_size\": " + std::to_string(size), size, board));
	}
	if (only.empty() || only == "emergency") {
		// emergency_size 5 on 720 rows: cells of 36 pixels, over the whole canvas.
		const double leak =
		    mosaic_leak("\"emergency\": true, \"emergency_size\": 5", 36, harness::Area{72, 72, 1188, 648});
		std::printf("\n| emergency cover, 36-px cells | %.3f |\n", leak);
	}
	if (only.empty() || only == "blur") {
		std::printf("\n| blur radius | deconvolved, one frame | shift variance (levels) |\n|---|---|---|\n");
		for (float radius : {2.0f, 3.0f, 5.0f, 7.0f, 10.0f, 15.0f, 20.0f, 30.0f, 50.0f}) {
			char json[128];
			std::snprintf(json, sizeof(json), "{\"width\": 1024, \"height\": 528, \"blur_radius\": %.1f}",
				      (double)radius);
			Scene scene(json);
			const harness::Image frame = scene.moved(0);
			const double leak = harness::deconvolution_leak(frame, text_picture(), board, radius * 0.5f);
			const double variance = shift_variance(scene, harness::Area{160, 128, 1120, 592});
			std::printf("| %.0f | %.3f | %.3f |\n", (double)radius, leak, variance);
		}
	}
	const long leaks = harness::stop();
	return leaks == 0 ? 0 : 1;
}
