// SPDX-License-Identifier: GPL-2.0-or-later
#include "harness/host.h"

#include <obs-module.h>
#include <obs-nix-platform.h>
#include <util/base.h>
#include <util/bmem.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include "host/source_profiler.h"

// Last: Xlib's macros (None, Bool) clash with other headers.
#include <X11/Xlib.h>

#ifndef MISTPANE_MODULE_PATH
#error "MISTPANE_MODULE_PATH must name the built module"
#endif
#ifndef MISTPANE_DATA_PATH
#error "MISTPANE_DATA_PATH must name the module's data folder"
#endif

namespace harness {

void register_pattern_source();

namespace {

std::mutex log_mutex;
std::vector<LogLine> captured;

std::mutex frame_mutex;
std::condition_variable frame_ready;
uint64_t frame_count = 0;
std::atomic<bool> keep_frames{true};
uint64_t frame_timestamp = 0;
Image last_frame;

Display *display = nullptr;
obs_module_t *loaded_module = nullptr;
HostOptions host_options;
bool running = false;

void log_handler(int level, const char *format, va_list args, void *)
{
	char buffer[8192];
	va_list copy;
	va_copy(copy, args);
	vsnprintf(buffer, sizeof(buffer), format, copy);
	va_end(copy);
	{
		std::lock_guard<std::mutex> lock(log_mutex);
		captured.push_back({level, buffer});
	}
	if (level <= LOG_WARNING || std::getenv("MISTPANE_TEST_VERBOSE"))
		std::fprintf(stderr, "[obs %d] %s\n", level, buffer);
}

bool packed_rgba(video_format format)
{
	return format == VIDEO_FORMAT_RGBA || format == VIDEO_FORMAT_BGRA || format == VIDEO_FORMAT_BGRX;
}

void raw_video(void *, video_data *frame)
{
	const uint32_t w = host_options.width, h = host_options.height;
	std::lock_guard<std::mutex> lock(frame_mutex);
	// Planar and 16-bit outputs are only counted; read main_texture_float.
	if (packed_rgba(host_options.format) && keep_frames.load()) {
		last_frame.width = w;
		last_frame.height = h;
		last_frame.rgba.resize(size_t(w) * h * 4);
		// The host stages its output texture as BGRA whichever packed
		// format it announces; hand out RGBA.
		for (uint32_t y = 0; y < h; ++y) {
			const uint8_t *src = frame->data[0] + size_t(y) * frame->linesize[0];
			uint8_t *dst = &last_frame.rgba[size_t(y) * w * 4];
			for (uint32_t x = 0; x < w; ++x, src += 4, dst += 4) {
				dst[0] = src[2];
				dst[1] = src[1];
				dst[2] = src[0];
				dst[3] = src[3];
			}
		}
	}
	frame_timestamp = frame->timestamp;
	++frame_count;
	frame_ready.notify_all();
}

} // namespace

void keep_output_frames(bool keep)
{
	keep_frames.store(keep);
}

bool start(const HostOptions &options)
{
	host_options = options;
	base_set_log_handler(log_handler, nullptr);

	display = XOpenDisplay(nullptr);
	if (!display) {
		std::fprintf(stderr, "harness: no X display (is DISPLAY set and Xvfb running?)\n");
		return false;
	}
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	obs_set_nix_platform_display(display);

	const char *config = options.module_config_path.empty() ? nullptr : options.module_config_path.c_str();
	if (!obs_startup("en-US", config, nullptr)) {
		std::fprintf(stderr, "harness: obs_startup failed\n");
		return false;
	}

	obs_video_info ovi = {};
	ovi.graphics_module = "libobs-opengl";
	ovi.fps_num = options.fps;
	ovi.fps_den = 1;
	ovi.base_width = ovi.output_width = options.width;
	ovi.base_height = ovi.output_height = options.height;
	ovi.output_format = options.format;
	ovi.gpu_conversion = true;
	ovi.colorspace = options.colorspace;
	ovi.range = VIDEO_RANGE_FULL;
	ovi.scale_type = OBS_SCALE_BICUBIC;
	const int reset = obs_reset_video(&ovi);
	if (reset != OBS_VIDEO_SUCCESS) {
		std::fprintf(stderr, "harness: obs_reset_video failed (%d)\n", reset);
		return false;
	}

	register_pattern_source();

	if (options.before_module_load)
		options.before_module_load();
	if (options.load_module) {
		const std::string data = options.data_path.empty() ? MISTPANE_DATA_PATH : options.data_path;
		// A benchmark may load another build's module to compare the two.
		const char *other = std::getenv("MISTPANE_MODULE");
		const char *path = other && *other ? other : MISTPANE_MODULE_PATH;
		const int opened = obs_open_module(&loaded_module, path, data.c_str());
		if (opened != MODULE_SUCCESS || !obs_init_module(loaded_module)) {
			std::fprintf(stderr, "harness: cannot load %s (%d)\n", path, opened);
			return false;
		}
	}

	obs_add_raw_video_callback(nullptr, raw_video, nullptr);
	running = true;
	return true;
}

long stop()
{
	// The host frees its source profiler's records only when the profiler
	// is switched off, which the module never does (MISTPANE_PROFILE=1);
	// one collected frame later they are gone instead of counting as leaks.
	if (running) {
		source_profiler_enable(false);
		next_frames(3);
	}
	if (running)
		obs_remove_raw_video_callback(raw_video, nullptr);
	running = false;
	for (uint32_t channel = 0; channel < MAX_CHANNELS; ++channel)
		obs_set_output_source(channel, nullptr);
	obs_shutdown();
	const long leaks = bnum_allocs();
	std::fprintf(stderr, "harness: Number of memory leaks: %ld\n", leaks);
	if (display) {
		XCloseDisplay(display);
		display = nullptr;
	}
	return leaks;
}

obs_module_t *module()
{
	return loaded_module;
}

const HostOptions &options()
{
	return host_options;
}

bool load_stock_module(const char *name)
{
	const std::string base = "/usr/lib/x86_64-linux-gnu/obs-plugins/";
	const std::string data = std::string("/usr/share/obs/obs-plugins/") + name;
	obs_module_t *stock = nullptr;
	const std::string path = base + name + ".so";
	if (obs_open_module(&stock, path.c_str(), data.c_str()) != MODULE_SUCCESS)
		return false;
	return obs_init_module(stock);
}

std::vector<LogLine> log_lines()
{
	std::lock_guard<std::mutex> lock(log_mutex);
	return captured;
}

void clear_log()
{
	std::lock_guard<std::mutex> lock(log_mutex);
	captured.clear();
}

std::vector<LogLine> log_matching(const std::string &fragment)
{
	std::vector<LogLine> found;
	for (const LogLine &line : log_lines())
		if (line.text.find(fragment) != std::string::npos)
			found.push_back(line);
	return found;
}

Image next_frames(int n)
{
	std::unique_lock<std::mutex> lock(frame_mutex);
	const uint64_t wanted = frame_count + uint64_t(n);
	frame_ready.wait_for(lock, std::chrono::seconds(30), [&] { return frame_count >= wanted; });
	return last_frame;
}

Image settled_frame(int ticks)
{
	const uint64_t interval = 1000000000ull / std::max(host_options.fps, 1u);
	const uint64_t wanted = os_gettime_ns() + uint64_t(std::max(ticks, 1)) * interval;
	std::unique_lock<std::mutex> lock(frame_mutex);
	frame_ready.wait_for(lock, std::chrono::seconds(30), [&] { return frame_timestamp >= wanted; });
	return last_frame;
}

namespace {

// Inside a begun texture render: cleared, under a projection over it.
void clear_and_project(uint32_t width, uint32_t height)
{
	vec4 clear_color = {};
	gs_clear(GS_CLEAR_COLOR, &clear_color, 0.0f, 0);
	gs_ortho(0.0f, (float)width, 0.0f, (float)height, -100.0f, 100.0f);
}

// The source under the view's own scale and offset.
void draw_scaled(obs_source_t *source, float scale, float offset_x, float offset_y)
{
	gs_matrix_push();
	gs_matrix_translate3f(offset_x, offset_y, 0.0f);
	gs_matrix_scale3f(scale, scale, 1.0f);
	obs_source_video_render(source);
	gs_matrix_pop();
}

} // namespace

Image render_image(uint32_t width, uint32_t height, const std::function<void()> &draw)
{
	Image image;
	obs_enter_graphics();
	gs_texrender_t *render = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	gs_stagesurf_t *stage = gs_stagesurface_create(width, height, GS_RGBA);
	if (render && stage && gs_texrender_begin_with_color_space(render, width, height, GS_CS_SRGB)) {
		clear_and_project(width, height);
		draw();
		gs_texrender_end(render);

		gs_stage_texture(stage, gs_texrender_get_texture(render));
		uint8_t *data = nullptr;
		uint32_t linesize = 0;
		if (gs_stagesurface_map(stage, &data, &linesize)) {
			image.width = width;
			image.height = height;
			image.rgba.resize(size_t(width) * height * 4);
			for (uint32_t y = 0; y < height; ++y)
				std::memcpy(&image.rgba[size_t(y) * width * 4], data + size_t(y) * linesize,
					    size_t(width) * 4);
			gs_stagesurface_unmap(stage);
		}
	}
	gs_stagesurface_destroy(stage);
	gs_texrender_destroy(render);
	obs_leave_graphics();
	return image;
}

Image render_view(obs_source_t *source, uint32_t width, uint32_t height, float scale, float offset_x, float offset_y)
{
	return render_image(width, height, [&] { draw_scaled(source, scale, offset_x, offset_y); });
}

namespace {

float half_to_float(uint16_t h)
{
	const uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff;
	float value;
	if (exponent == 0)
		value = std::ldexp(float(mantissa), -24);
	else if (exponent == 31)
		value = mantissa ? NAN : INFINITY;
	else
		value = std::ldexp(float(mantissa | 0x400), int(exponent) - 25);
	return sign ? -value : value;
}

// Reads an RGBA16F texture back; inside the graphics context.
FloatImage read_float_texture(gs_texture_t *texture)
{
	FloatImage image;
	if (!texture || gs_texture_get_color_format(texture) != GS_RGBA16F)
		return image;
	const uint32_t width = gs_texture_get_width(texture), height = gs_texture_get_height(texture);
	gs_stagesurf_t *stage = gs_stagesurface_create(width, height, GS_RGBA16F);
	if (!stage)
		return image;
	gs_stage_texture(stage, texture);
	uint8_t *data = nullptr;
	uint32_t linesize = 0;
	if (gs_stagesurface_map(stage, &data, &linesize)) {
		image.width = width;
		image.height = height;
		image.rgba.resize(size_t(width) * height * 4);
		for (uint32_t y = 0; y < height; ++y) {
			const auto *row = reinterpret_cast<const uint16_t *>(data + size_t(y) * linesize);
			for (uint32_t i = 0; i < width * 4; ++i)
				image.rgba[size_t(y) * width * 4 + i] = half_to_float(row[i]);
		}
		gs_stagesurface_unmap(stage);
	}
	gs_stagesurface_destroy(stage);
	return image;
}

} // namespace

FloatImage render_view_float(obs_source_t *source, uint32_t width, uint32_t height, gs_color_space space, float scale,
			     float offset_x, float offset_y)
{
	FloatImage image;
	obs_enter_graphics();
	gs_texrender_t *render = gs_texrender_create(GS_RGBA16F, GS_ZS_NONE);
	if (render && gs_texrender_begin_with_color_space(render, width, height, space)) {
		clear_and_project(width, height);
		draw_scaled(source, scale, offset_x, offset_y);
		gs_texrender_end(render);
		image = read_float_texture(gs_texrender_get_texture(render));
	}
	gs_texrender_destroy(render);
	obs_leave_graphics();
	return image;
}

FloatImage main_texture_float()
{
	obs_enter_graphics();
	FloatImage image = read_float_texture(obs_get_main_texture());
	obs_leave_graphics();
	return image;
}

BlurBoard *board_of(obs_source_t *source)
{
	return static_cast<BlurBoard *>(obs_obj_get_data(source));
}

obs_data_t *json(const char *text)
{
	return obs_data_create_from_json(text);
}

obs_source_t *make_board(const char *name, const char *settings_json, const char *hotkeys_json)
{
	obs_data_t *settings = json(settings_json);
	obs_data_t *hotkeys = hotkeys_json ? json(hotkeys_json) : nullptr;
	obs_source_t *source = obs_source_create("korvanta_blur_board", name, settings, hotkeys);
	obs_data_release(settings);
	obs_data_release(hotkeys);
	return source;
}

obs_hotkey_id hotkey_named(const char *name)
{
	struct Search {
		const char *name;
		obs_hotkey_id found = OBS_INVALID_HOTKEY_ID;
	} search{name};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
		    auto *s = static_cast<Search *>(data);
		    if (std::strcmp(obs_hotkey_get_name(key), s->name) == 0)
			    s->found = id;
		    return true;
	    },
	    &search);
	return search.found;
}

obs_scene_t *make_scene(const char *name)
{
	return obs_scene_create(name);
}

void release_scene(obs_scene_t *scene)
{
	if (!scene)
		return;
	obs_source_remove(obs_scene_get_source(scene));
	obs_scene_release(scene);
}

ReferenceBalance reference_balance()
{
	obs_wait_for_destroy_queue();
	ReferenceBalance balance;
	calldata_t data;
	calldata_init(&data);
	if (proc_handler_call(obs_get_proc_handler(), "mistpane_reference_balance", &data)) {
		balance.outstanding = (long)calldata_int(&data, "outstanding");
		balance.boards = (long)calldata_int(&data, "boards");
		const char *report = calldata_string(&data, "report");
		balance.report = report ? report : "";
	}
	calldata_free(&data);
	return balance;
}

int run_tests(int argc, char **argv, const HostOptions &options)
{
	::testing::InitGoogleTest(&argc, argv);
	if (!start(options))
		return 2;
	int result = RUN_ALL_TESTS();
	const ReferenceBalance balance = reference_balance();
	if (balance.boards == 0 && balance.outstanding > 0) {
		std::fprintf(stderr, "harness: FAILED, the module still holds host references: %s\n",
			     balance.report.c_str());
		result = result ? result : 4;
	}
	const long leaks = stop();
	if (leaks != 0) {
		std::fprintf(stderr, "harness: FAILED, libobs counts %ld leaked allocations\n", leaks);
		result = result ? result : 3;
	}
	return result;
}

} // namespace harness
