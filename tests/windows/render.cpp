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
#include <cstring>
#include <filesystem>
#include <fstream>
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

struct Box {
	uint32_t x0, y0, x1, y1;
};

// What a case adds beyond its board: the board's second item (shared), the
// cover image's setting, the panic key.
// filter: the settings are a "MistPane: Hide" filter's on the picture, no
// board is added.
enum class Extra { none, second_item, cover_image, panic, filter };

struct Case {
	const char *name;
	const char *settings;
	float x, y, rotation;
	Box hidden; // where the board hides the picture (the canvas for covers of it all)
	Extra extra;
};

constexpr Box kBoardBox = {360, 220, 1080, 620};
constexpr Box kCanvas = {0, 0, kWidth, kHeight};

#define BOARD "\"width\": 720, \"height\": 400, \"fade_seconds\": 0"
// Cases of the gallery (tools/gallery.cpp), same settings and places.
const Case kCases[] = {
    {"blur-20", "{" BOARD ", \"blur_radius\": 20}", 360, 220, 0, kBoardBox, Extra::none},
    {"mosaic-24", "{" BOARD ", \"mode\": \"mosaic\", \"mosaic_size\": 24}", 360, 220, 0, kBoardBox, Extra::none},
    {"ellipse-feather",
     "{" BOARD ", \"shape\": \"ellipse\", \"feather\": 60, \"blur_radius\": 30}",
     360,
     220,
     0,
     {520, 320, 920, 520},
     Extra::none},
    {"cover-color", "{" BOARD ", \"mode\": \"cover\"}", 360, 220, 0, kBoardBox, Extra::none},
    {"emergency", "{\"width\": 200, \"height\": 120, \"emergency\": true, \"fade_seconds\": 0}", 900, 80, 45, kCanvas,
     Extra::none},
    // The turned boards: the face beneath the one, the centre of the other.
    {"rotated",
     "{" BOARD ", \"mode\": \"mosaic\", \"mosaic_size\": 24}",
     520,
     120,
     30,
     {890, 430, 1050, 570},
     Extra::none},
    {"cover-image",
     "{" BOARD ", \"mode\": \"cover\", \"shape\": \"ellipse\", \"feather\": 30}",
     360,
     220,
     15,
     {556, 456, 756, 556},
     Extra::cover_image},
    {"shared", "{" BOARD ", \"blur_radius\": 20}", 60, 60, 0, {60, 60, 780, 460}, Extra::second_item},
    {"panic-cover", "{" BOARD ", \"blur_radius\": 20}", 360, 220, 0, kCanvas, Extra::panic},
    // The filter keeps its region out of the picture's own draw with a
    // stencil on the canvas texture: Direct3D 11's depth-stencil path.
    {"filter-region",
     "{\"fade_seconds\": 0, \"blur_radius\": 20, \"region_x\": 360, \"region_y\": 220, \"region_width\": 720, "
     "\"region_height\": 400}",
     0, 0, 0, kBoardBox, Extra::filter},
    {"filter-rounded",
     "{\"fade_seconds\": 0, \"mode\": \"mosaic\", \"shape\": \"rounded\", \"corner_radius\": 60, "
     "\"region_x\": 360, \"region_y\": 220, \"region_width\": 720, \"region_height\": 400}",
     0, 0, 0, kBoardBox, Extra::filter},
    {"filter-invert",
     "{\"fade_seconds\": 0, \"blur_radius\": 30, \"invert\": true, \"shape\": \"ellipse\", \"region_x\": 360, "
     "\"region_y\": 220, \"region_width\": 720, \"region_height\": 400}",
     0,
     0,
     0,
     {0, 0, kWidth, 200},
     Extra::filter},
};
#undef BOARD

std::mutex frame_mutex;
Picture last_frame;
std::atomic<uint64_t> rendered{0}, delivered{0};
std::atomic<bool> blue_first{false};
// A canvas of 16-bit floats with a 10-bit PQ output (P010): the canvas
// texture is what is read, not the output's frames.
bool hdr = false;
#ifndef _WIN32
Display *display = nullptr;
#endif

void raw_video(void *, video_data *frame)
{
	if (hdr) {
		delivered.fetch_add(1);
		return;
	}
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

float half_to_float(uint16_t h)
{
	const int exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff;
	const float sign = (h & 0x8000) ? -1.0f : 1.0f;
	if (exponent == 0)
		return sign * std::ldexp(float(mantissa), -24);
	if (exponent == 31)
		return sign * INFINITY;
	return sign * std::ldexp(float(mantissa | 0x400), exponent - 25);
}

// The canvas's linear values (1 is SDR white) as sRGB levels, clipped.
uint8_t srgb_level(float linear)
{
	const float v = std::clamp(linear, 0.0f, 1.0f);
	const float encoded = v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
	return uint8_t(std::lround(encoded * 255.0f));
}

// The canvas texture of the last frame, read back (the 16-bit float one).
Picture main_texture_picture()
{
	Picture picture;
	obs_enter_graphics();
	gs_texture_t *texture = obs_get_main_texture();
	gs_stagesurf_t *stage = texture && gs_texture_get_color_format(texture) == GS_RGBA16F
				    ? gs_stagesurface_create(kWidth, kHeight, GS_RGBA16F)
				    : nullptr;
	uint8_t *data = nullptr;
	uint32_t linesize = 0;
	if (stage) {
		gs_stage_texture(stage, texture);
		if (gs_stagesurface_map(stage, &data, &linesize)) {
			picture = {kWidth, kHeight, std::vector<unsigned char>(size_t(kWidth) * kHeight * 3)};
			for (uint32_t y = 0; y < kHeight; ++y) {
				const auto *row = reinterpret_cast<const uint16_t *>(data + size_t(y) * linesize);
				for (uint32_t x = 0; x < kWidth; ++x)
					for (int c = 0; c < 3; ++c)
						picture.rgb[(size_t(y) * kWidth + x) * 3 + c] =
						    srgb_level(half_to_float(row[x * 4 + c]));
			}
			gs_stagesurface_unmap(stage);
		}
		gs_stagesurface_destroy(stage);
	}
	obs_leave_graphics();
	return picture;
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
	if (hdr)
		return main_texture_picture();
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

// The cover image: the host's gradient with a ring of checkerboard, so that
// its stretch over the shape shows; a BMP, which needs no encoder here.
std::string write_cover_image()
{
	const uint32_t w = 320, h = 180;
	const std::vector<uint8_t> gradient = harness::pattern_pixels("gradient", w, h, 8, 0);
	const std::vector<uint8_t> checker = harness::pattern_pixels("checker", w, h, 20, 0xff3080ff);
	std::vector<uint8_t> bgr(size_t(w) * h * 3);
	for (uint32_t y = 0; y < h; ++y)
		for (uint32_t x = 0; x < w; ++x) {
			const float dx = (x + 0.5f) / w - 0.5f, dy = (y + 0.5f) / h - 0.5f;
			const float r = std::sqrt(dx * dx + dy * dy);
			const uint8_t *from = &(r > 0.25f && r < 0.4f ? checker : gradient)[(size_t(y) * w + x) * 4];
			uint8_t *to = &bgr[(size_t(h - 1 - y) * w + x) * 3]; // bottom-up rows
			to[0] = from[2], to[1] = from[1], to[2] = from[0];
		}
	const std::string path = (std::filesystem::temp_directory_path() / "mistpane-host-check-cover.bmp").string();
	const uint32_t size = 54 + uint32_t(bgr.size());
	const uint32_t header[] = {size, 0, 54, 40, w, h, 1 | (24 << 16), 0, uint32_t(bgr.size()), 2835, 2835, 0, 0};
	std::ofstream file(path, std::ios::binary);
	file.write("BM", 2);
	file.write(reinterpret_cast<const char *>(header), sizeof(header));
	file.write(reinterpret_cast<const char *>(bgr.data()), std::streamsize(bgr.size()));
	return file ? path : std::string();
}

// The panic key as the frontend delivers it: routed, pressed and released.
void press_panic_key()
{
	struct Search {
		obs_hotkey_id id = OBS_INVALID_HOTKEY_ID;
	} search;
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
		    if (std::strcmp(obs_hotkey_get_name(key), "MistPane.Panic") == 0)
			    static_cast<Search *>(data)->id = id;
		    return true;
	    },
	    &search);
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(search.id, true);
	obs_hotkey_trigger_routed_callback(search.id, false);
	obs_hotkey_enable_callback_rerouting(false);
}

obs_source_t *make_case_board(const Case &c, std::string &image)
{
	obs_data_t *settings = obs_data_create_from_json(c.settings);
	if (c.extra == Extra::cover_image) {
		image = write_cover_image();
		// Set as a string, not in the JSON: a Windows path holds backslashes.
		obs_data_set_string(settings, "cover_image", image.c_str());
	}
	obs_source_t *board =
	    obs_source_create(c.extra == Extra::filter ? "mistpane_hide_filter" : kBoardId, c.name, settings, nullptr);
	obs_data_release(settings);
	return board;
}

void add_items(const Case &c, obs_scene_t *scene, obs_source_t *board)
{
	if (c.extra == Extra::filter)
		return;
	obs_sceneitem_t *item = obs_scene_add(scene, board);
	vec2 pos;
	vec2_set(&pos, c.x, c.y);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_rot(item, c.rotation);
	if (c.extra != Extra::second_item)
		return;
	obs_sceneitem_t *second = obs_scene_add(scene, board);
	vec2 scale;
	vec2_set(&pos, 700.0f, 380.0f);
	vec2_set(&scale, 0.7f, 0.7f);
	obs_sceneitem_set_pos(second, &pos);
	obs_sceneitem_set_scale(second, &scale);
}

// The program with the case's board (and the panic key pressed, then
// released once the picture is taken).
Picture case_frame(const Case &c, obs_source_t *picture)
{
	obs_scene_t *scene = obs_scene_create(c.name);
	obs_scene_add(scene, picture);
	std::string image;
	obs_source_t *board = make_case_board(c, image);
	add_items(c, scene, board);
	if (c.extra == Extra::filter)
		obs_source_filter_add(picture, board);
	obs_set_output_source(0, obs_scene_get_source(scene));
	if (c.extra == Extra::panic)
		press_panic_key();
	const Picture frame = settled_frame();
	if (c.extra == Extra::panic) {
		press_panic_key();
		settled_frame();
	}
	obs_set_output_source(0, nullptr);
	if (c.extra == Extra::filter)
		obs_source_filter_remove(picture, board);
	else
		obs_source_remove(board);
	obs_source_release(board);
	// A public scene that is only released leaks the canvas's record of it.
	obs_source_remove(obs_scene_get_source(scene));
	obs_scene_release(scene);
	if (!image.empty())
		std::filesystem::remove(image);
	return frame;
}

void render_case(const Case &c, obs_source_t *picture, const Picture &bare, const std::string &out)
{
	const Picture frame = case_frame(c, picture);
	if (frame.rgb.empty())
		return report(false, std::string(c.name) + " renders", "no frame within a minute");
	// Blur and mosaic of the detail picture change it by well over 8
	// levels on average; a board that draws nothing changes nothing.
	const double change = mean_change(frame, bare, c.hidden.x0, c.hidden.y0, c.hidden.x1, c.hidden.y1);
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
	if (hdr) {
		const double share = matching_share(bare, false);
		report(share > 0.99, "picture shown one to one (canvas of 16-bit floats)",
		       std::to_string(share * 100.0) + " % of pixels match");
		return true;
	}
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

bool start_video(bool high_dynamic_range)
{
	hdr = high_dynamic_range;
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
	ovi.output_format = hdr ? VIDEO_FORMAT_P010 : VIDEO_FORMAT_RGBA;
	ovi.gpu_conversion = true;
	ovi.colorspace = hdr ? VIDEO_CS_2100_PQ : VIDEO_CS_SRGB;
	ovi.range = VIDEO_RANGE_FULL;
	ovi.scale_type = OBS_SCALE_BICUBIC;
	const int reset = obs_reset_video(&ovi);
	report(reset == OBS_VIDEO_SUCCESS,
	       std::string("video starts (") + ovi.graphics_module + (hdr ? ", P010 2100 PQ" : "") + ")",
	       "obs_reset_video returned " + std::to_string(reset));
	if (reset != OBS_VIDEO_SUCCESS)
		return false;
	harness::register_pattern_source();
	obs_add_raw_video_callback(nullptr, raw_video, nullptr);
	obs_add_main_rendered_callback(count_rendered, nullptr);
	return true;
}

// The module's own lines since `from`: no warning or error but the shared
// board's, and every line written to out for the comparison of the two
// platforms.
void check_module_log(size_t from, const std::string &out)
{
	const std::vector<LogLine> lines = log_lines();
	std::string warnings;
	std::ofstream file;
	if (!out.empty())
		file.open(out + "/module-log.txt", std::ios::binary);
	for (size_t i = from; i < lines.size(); ++i) {
		const std::string &text = lines[i].text;
		if (text.find("[mistpane]") == std::string::npos)
			continue;
		file << text << "\n";
		if (lines[i].level <= LOG_WARNING &&
		    text.find("'shared' is used by 2 scene items") == std::string::npos)
			warnings += "\n  " + text;
	}
	report(warnings.empty(), "module warns of nothing while rendering", "it logged:" + warnings);
}

std::vector<std::string> case_names()
{
	std::vector<std::string> names = {"bare"};
	for (const Case &c : kCases)
		names.push_back(c.name);
	return names;
}

void render_cases(const std::string &out)
{
	const size_t log_start = log_lines().size();
	obs_source_t *picture = harness::make_pattern("detail picture", kWidth, kHeight, "detail", 8, 0);
	Picture bare;
	if (show_bare(picture, bare)) {
		if (!out.empty())
			write_ppm(out + "/bare.ppm", bare);
		for (const Case &c : kCases)
			render_case(c, picture, bare, out);
	}
	obs_source_release(picture);
	check_module_log(log_start, out);
	obs_remove_raw_video_callback(raw_video, nullptr);
	obs_remove_main_rendered_callback(count_rendered, nullptr);
	obs_wait_for_destroy_queue();
}

} // namespace check
