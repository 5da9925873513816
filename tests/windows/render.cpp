// SPDX-License-Identifier: GPL-2.0-or-later
// The rendered cases of mistpane-host-check: a board over the detail test
// picture on the program output, as the gallery places it.
#include <obs.h>
#include <graphics/vec2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "harness/pattern.h"
#include "windows/checks.h"

#ifndef _WIN32
#include <obs-nix-platform.h>
// Last: Xlib's macros (None, Bool) clash with other headers.
#include <X11/Xlib.h>
#endif

namespace harness {
void register_pattern_source();
obs_source_t *make_pattern(const char *name, uint32_t width, uint32_t height, const char *kind, int cell,
			   uint32_t color);
} // namespace harness

namespace check {
namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;
// Rendered frames to wait after a change: the tick places the board, and
// the output reaches the raw video callback a few frames after it was drawn.
constexpr uint64_t kSettle = 8;

struct Case {
	const char *name;
	const char *settings;
	float x, y, rotation;
	bool whole_canvas; // the board hides the whole canvas, not its box
};

// Cases of the gallery (tools/gallery.cpp), same settings and places.
const Case kCases[] = {
    {"blur-20", "{\"width\": 720, \"height\": 400, \"fade_seconds\": 0, \"blur_radius\": 20}", 360, 220, 0, false},
    {"mosaic-24", "{\"width\": 720, \"height\": 400, \"fade_seconds\": 0, \"mode\": \"mosaic\", \"mosaic_size\": 24}",
     360, 220, 0, false},
    {"ellipse-feather",
     "{\"width\": 720, \"height\": 400, \"fade_seconds\": 0, \"shape\": \"ellipse\", \"feather\": 60, "
     "\"blur_radius\": 30}",
     360, 220, 0, false},
    {"cover-color", "{\"width\": 720, \"height\": 400, \"fade_seconds\": 0, \"mode\": \"cover\"}", 360, 220, 0, false},
    {"emergency", "{\"width\": 200, \"height\": 120, \"emergency\": true, \"fade_seconds\": 0}", 900, 80, 45, true},
};

std::mutex frame_mutex;
Picture last_frame;
std::atomic<uint64_t> rendered{0}, delivered{0};
std::atomic<bool> blue_first{false};
#ifndef _WIN32
Display *display = nullptr;
#endif

void raw_video(void *, video_data *frame)
{
	std::lock_guard<std::mutex> lock(frame_mutex);
	last_frame.width = kWidth;
	last_frame.height = kHeight;
	last_frame.rgb.resize(size_t(kWidth) * kHeight * 3);
	for (uint32_t y = 0; y < kHeight; ++y) {
		const uint8_t *src = frame->data[0] + size_t(y) * frame->linesize[0];
		uint8_t *dst = &last_frame.rgb[size_t(y) * kWidth * 3];
		for (uint32_t x = 0; x < kWidth; ++x, src += 4, dst += 3) {
			dst[0] = src[blue_first ? 2 : 0];
			dst[1] = src[1];
			dst[2] = src[blue_first ? 0 : 2];
		}
	}
	delivered.fetch_add(1);
}

void count_rendered(void *)
{
	rendered.fetch_add(1);
}

// The program output once the host has rendered kSettle more frames; an
// empty picture when nothing comes within a minute (a stalled renderer).
Picture settled_frame()
{
	const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	const uint64_t wanted = rendered.load() + kSettle;
	while (rendered.load() < wanted && std::chrono::steady_clock::now() < give_up)
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	const uint64_t next = delivered.load() + 1;
	while (delivered.load() < next && std::chrono::steady_clock::now() < give_up)
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	if (std::chrono::steady_clock::now() >= give_up)
		return {};
	std::lock_guard<std::mutex> lock(frame_mutex);
	return last_frame;
}

// Share of sampled pixels within 2 levels of the picture, in either order.
double matching_share(const Picture &frame, bool swapped)
{
	const std::vector<uint8_t> expected = harness::pattern_pixels("detail", kWidth, kHeight, 8, 0);
	size_t same = 0, total = 0;
	for (uint32_t y = 0; y < kHeight; y += 7) {
		for (uint32_t x = 0; x < kWidth; x += 7, ++total) {
			const uint8_t *p = &frame.rgb[(size_t(y) * kWidth + x) * 3];
			const uint8_t *e = &expected[(size_t(y) * kWidth + x) * 4];
			const int r = swapped ? p[2] : p[0], b = swapped ? p[0] : p[2];
			same += std::abs(r - e[0]) <= 2 && std::abs(p[1] - e[1]) <= 2 && std::abs(b - e[2]) <= 2;
		}
	}
	return double(same) / double(total);
}

// Mean level change per channel between two frames, inside a box.
double mean_change(const Picture &a, const Picture &b, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1)
{
	double sum = 0.0;
	for (uint32_t y = y0; y < y1; ++y)
		for (uint32_t x = x0; x < x1; ++x)
			for (int c = 0; c < 3; ++c) {
				const size_t i = (size_t(y) * kWidth + x) * 3 + c;
				sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
			}
	return sum / (3.0 * double(x1 - x0) * double(y1 - y0));
}

// The picture with one case's board, and how much the board changed of
// what it hides.
void render_case(const Case &c, obs_source_t *picture, const Picture &bare, const std::string &out)
{
	obs_scene_t *scene = obs_scene_create(c.name);
	obs_scene_add(scene, picture);
	obs_data_t *settings = obs_data_create_from_json(c.settings);
	obs_source_t *board = obs_source_create(kBoardId, c.name, settings, nullptr);
	obs_data_release(settings);
	obs_sceneitem_t *item = obs_scene_add(scene, board);
	vec2 pos;
	vec2_set(&pos, c.x, c.y);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_rot(item, c.rotation);
	obs_set_output_source(0, obs_scene_get_source(scene));
	const Picture frame = settled_frame();
	obs_set_output_source(0, nullptr);
	obs_source_remove(board);
	obs_source_release(board);
	// A public scene that is only released leaks the canvas's record of it.
	obs_source_remove(obs_scene_get_source(scene));
	obs_scene_release(scene);
	if (frame.rgb.empty())
		return report(false, std::string(c.name) + " renders", "no frame within a minute");
	// Blur and mosaic of the detail picture change it by well over 8
	// levels on average; a board that draws nothing changes nothing.
	const double change = c.whole_canvas ? mean_change(frame, bare, 0, 0, kWidth, kHeight)
					     : mean_change(frame, bare, uint32_t(c.x), uint32_t(c.y),
							   uint32_t(c.x) + 720, uint32_t(c.y) + 400);
	report(change > 8.0, std::string(c.name) + " hides", "mean change " + std::to_string(change));
	if (!out.empty() && !write_ppm(out + "/" + c.name + ".ppm", frame))
		report(false, std::string(c.name) + " written", "cannot write into " + out);
}

// The bare picture on the program output, its channel order found from it.
bool show_bare(obs_source_t *picture, Picture &bare)
{
	obs_scene_t *scene = obs_scene_create("bare picture");
	obs_scene_add(scene, picture);
	obs_set_output_source(0, obs_scene_get_source(scene));
	bare = settled_frame();
	obs_set_output_source(0, nullptr);
	obs_source_remove(obs_scene_get_source(scene));
	obs_scene_release(scene);
	if (bare.rgb.empty())
		return report(false, "picture shown", "no frame within a minute"), false;
	const double as_is = matching_share(bare, false), swapped = matching_share(bare, true);
	blue_first = swapped > as_is;
	if (swapped > as_is)
		for (size_t i = 0; i < bare.rgb.size(); i += 3)
			std::swap(bare.rgb[i], bare.rgb[i + 2]);
	const double share = std::max(as_is, swapped);
	report(share > 0.99,
	       std::string("picture shown one to one (") + (swapped > as_is ? "BGRA" : "RGBA") + " output)",
	       std::to_string(share * 100.0) + " % of pixels match");
	return true;
}

} // namespace

bool start_video()
{
#ifndef _WIN32
	display = XOpenDisplay(nullptr);
	if (!display)
		return report(false, "video starts", "no X display"), false;
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	obs_set_nix_platform_display(display);
#endif
	obs_video_info ovi = {};
#ifdef _WIN32
	ovi.graphics_module = "libobs-d3d11";
#else
	ovi.graphics_module = "libobs-opengl";
#endif
	ovi.fps_num = 30;
	ovi.fps_den = 1;
	ovi.base_width = ovi.output_width = kWidth;
	ovi.base_height = ovi.output_height = kHeight;
	ovi.output_format = VIDEO_FORMAT_RGBA;
	ovi.gpu_conversion = true;
	ovi.colorspace = VIDEO_CS_SRGB;
	ovi.range = VIDEO_RANGE_FULL;
	ovi.scale_type = OBS_SCALE_BICUBIC;
	const int reset = obs_reset_video(&ovi);
	report(reset == OBS_VIDEO_SUCCESS, std::string("video starts (") + ovi.graphics_module + ")",
	       "obs_reset_video returned " + std::to_string(reset));
	if (reset != OBS_VIDEO_SUCCESS)
		return false;
	harness::register_pattern_source();
	obs_add_raw_video_callback(nullptr, raw_video, nullptr);
	obs_add_main_rendered_callback(count_rendered, nullptr);
	return true;
}

void render_cases(const std::string &out)
{
	obs_source_t *picture = harness::make_pattern("detail picture", kWidth, kHeight, "detail", 8, 0);
	Picture bare;
	if (show_bare(picture, bare)) {
		if (!out.empty())
			write_ppm(out + "/bare.ppm", bare);
		for (const Case &c : kCases)
			render_case(c, picture, bare, out);
	}
	obs_source_release(picture);
	obs_remove_raw_video_callback(raw_video, nullptr);
	obs_remove_main_rendered_callback(count_rendered, nullptr);
	obs_wait_for_destroy_queue();
}

} // namespace check
