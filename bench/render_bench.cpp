// SPDX-License-Identifier: GPL-2.0-or-later
// Per-frame cost of one board on a 1920x1080 canvas at 30 fps, in the real
// host, beside two references in the same run: a cropped copy of the board's
// region as a plain scene item (the host draws it through a texture of its
// own) and one textured pass over the whole canvas; and the panic cover
// over the whole program, on and switched off again. Prints a table, writes
// a plot of cost against radius (SVG) and the samples (CSV) into out/bench.
// Prints figures; judges nothing.
//
//   mistpane-render-bench [output folder] [--quick]
//                         [--save-pictures DIR] [--against DIR]
//                         [--only NAME,NAME...] [--rounds N]
//                         [--radii R,R...]
//
// Measured: the host's own graphics-thread frame time (the average the
// host keeps over each second of video) with the configuration's item over
// the picture, less the same with the picture alone. Configurations are
// measured in interleaved rounds, so load from other programs spreads over
// all of them; compare ratios within one run only.
//
// --save-pictures writes what every board shows (PPM); --against compares
// this build's boards with such a folder, pixel by pixel. --only keeps the
// boards named (and the references); --rounds sets the interleaved rounds;
// --radii the blur radii measured (by default the issue's seven and the
// small radii between them).
#include <obs-module.h>
#include <util/platform.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <time.h>
#include <vector>

#include "board/blur_board.h"
#include "harness/host.h"
#include "harness/pattern.h"

#ifndef MISTPANE_SOURCE_DIR
#error "MISTPANE_SOURCE_DIR must name the checkout"
#endif

namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr float kBoardX = 320.0f, kBoardY = 180.0f;
constexpr uint32_t kBoardW = 1280, kBoardH = 720;

// ---------------------------------------------------------- reference pass

// One full-canvas textured pass: a 1920x1080 texture drawn over the canvas.
struct Reference {
	gs_texture_t *texture = nullptr;
};

void *reference_create(obs_data_t *, obs_source_t *)
{
	auto *reference = new Reference();
	const std::vector<uint8_t> pixels = harness::pattern_pixels("gradient", kWidth, kHeight, 8, 0);
	const uint8_t *planes[] = {pixels.data()};
	obs_enter_graphics();
	reference->texture = gs_texture_create(kWidth, kHeight, GS_RGBA, 1, planes, 0);
	obs_leave_graphics();
	return reference;
}

void reference_destroy(void *data)
{
	auto *reference = static_cast<Reference *>(data);
	obs_enter_graphics();
	gs_texture_destroy(reference->texture);
	obs_leave_graphics();
	delete reference;
}

void reference_render(void *data, gs_effect_t *)
{
	auto *reference = static_cast<Reference *>(data);
	if (!reference->texture)
		return;
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
	// Blended as the host draws sources: an opaque pass without blending
	// would let llvmpipe drop the picture drawn beneath it, and the
	// reference would then cost nothing.
	gs_blend_state_push();
	gs_enable_blending(true);
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	const bool previous = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	gs_effect_set_texture_srgb(gs_effect_get_param_by_name(effect, "image"), reference->texture);
	while (gs_effect_loop(effect, "Draw"))
		gs_draw_sprite(reference->texture, 0, kWidth, kHeight);
	gs_enable_framebuffer_srgb(previous);
	gs_blend_state_pop();
}

uint32_t canvas_width(void *)
{
	return kWidth;
}

uint32_t canvas_height(void *)
{
	return kHeight;
}

const char *bench_name(void *)
{
	return "MistPane render bench";
}

void register_bench_sources()
{
	obs_source_info info = {};
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW | OBS_SOURCE_SRGB;
	info.get_name = bench_name;
	info.id = "mistpane_bench_reference";
	info.create = reference_create;
	info.destroy = reference_destroy;
	info.video_render = reference_render;
	info.get_width = canvas_width;
	info.get_height = canvas_height;
	obs_register_source(&info);
}

obs_source_t *make_source(const char *id, const char *name, const char *json)
{
	obs_data_t *settings = harness::json(json);
	obs_source_t *source = obs_source_create(id, name, settings, nullptr);
	obs_data_release(settings);
	return source;
}

// ------------------------------------------------------------- the runs

// Filter: config.source is a filter added to the picture while measured;
// NoPicture: the picture hidden, for the cost of drawing it.
enum class Kind { Empty, CroppedCopy, CanvasPass, Board, Panic, PanicOff, Filter, NoPicture };

// The panic hotkey, pressed as the frontend delivers it.
void press_panic()
{
	obs_hotkey_id id = OBS_INVALID_HOTKEY_ID;
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id key_id, obs_hotkey_t *key) {
		    if (std::strcmp(obs_hotkey_get_name(key), "MistPane.Panic") == 0)
			    *static_cast<obs_hotkey_id *>(data) = key_id;
		    return true;
	    },
	    &id);
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(id, true);
	obs_hotkey_trigger_routed_callback(id, false);
	obs_hotkey_enable_callback_rerouting(false);
	harness::next_frames(2);
}

struct Config {
	std::string name;
	Kind kind;
	float radius = 0.0f; // blur radius, 0 when it does not apply
	std::string settings;
	bool fading = false; // switched on and off all the time while measured
	bool canvas_reference = false; // compared with the canvas pass, not the copy
	obs_source_t *source = nullptr;
	std::vector<double> windows; // average frame time of each window, ms
	uint32_t frames = 0, lagged = 0;
	uint64_t rendered = 0; // frames the host rendered while measured
	double cpu_ms = 0.0; // CPU time of the whole process meanwhile
	CaptureMethod method = CaptureMethod::None;
};

// llvmpipe rasterizes on the CPU, so the process's CPU time per rendered
// frame is the whole cost of a frame, and unlike the frame time it does not
// grow when other programs take the cores.
std::atomic<uint64_t> rendered_frames{0};

void count_rendered(void *, uint32_t, uint32_t)
{
	rendered_frames.fetch_add(1);
}

double process_cpu_ms()
{
	timespec ts{};
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
	return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double mean(const std::vector<double> &v)
{
	if (v.empty())
		return NAN;
	double sum = 0.0;
	for (double x : v)
		sum += x;
	return sum / double(v.size());
}

// The host refreshes its average once per second of video; waits for the
// next refresh and returns it in milliseconds.
double next_average()
{
	const uint64_t before = obs_get_average_frame_time_ns();
	const auto start = std::chrono::steady_clock::now();
	for (;;) {
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
		const uint64_t now = obs_get_average_frame_time_ns();
		if (now != before || std::chrono::steady_clock::now() - start > std::chrono::seconds(5))
			return double(now) / 1e6;
	}
}

// A fading board is switched on and off every 0.7 s with a fade of 1 s, so
// its level never rests.
void toggle_until(obs_source_t *source, const std::atomic<bool> &stop)
{
	bool on = false;
	while (!stop.load()) {
		obs_data_t *settings = obs_data_create();
		obs_data_set_bool(settings, "enabled", on);
		obs_source_update(source, settings);
		obs_data_release(settings);
		on = !on;
		for (int i = 0; i < 70 && !stop.load(); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
}

obs_sceneitem_t *add_config_item(obs_scene_t *scene, obs_source_t *picture, const Config &config)
{
	obs_sceneitem_t *item = nullptr;
	vec2 pos;
	vec2_set(&pos, kBoardX, kBoardY);
	switch (config.kind) {
	case Kind::Empty:
		return nullptr;
	case Kind::Panic:
		press_panic();
		return nullptr;
	case Kind::PanicOff:
		// On for a moment, so that its boards have drawn and gone again.
		press_panic();
		harness::next_frames(3);
		press_panic();
		return nullptr;
	case Kind::CroppedCopy: {
		// The picture again, cropped to the board's region and placed on it.
		item = obs_scene_add(scene, picture);
		obs_sceneitem_crop crop = {int(kBoardX), int(kBoardY), int(kWidth - kBoardX - kBoardW),
					   int(kHeight - kBoardY - kBoardH)};
		obs_sceneitem_set_crop(item, &crop);
		break;
	}
	case Kind::CanvasPass:
		item = obs_scene_add(scene, config.source);
		vec2_set(&pos, 0.0f, 0.0f);
		break;
	case Kind::Board:
		item = obs_scene_add(scene, config.source);
		break;
	case Kind::Filter:
		obs_source_filter_add(picture, config.source);
		return nullptr;
	case Kind::NoPicture:
		obs_sceneitem_set_visible(obs_scene_find_source(scene, obs_source_get_name(picture)), false);
		return nullptr;
	}
	obs_sceneitem_set_pos(item, &pos);
	return item;
}

void measure(obs_scene_t *scene, obs_source_t *picture, Config &config, int windows)
{
	obs_sceneitem_t *item = add_config_item(scene, picture, config);
	std::atomic<bool> stop{false};
	std::thread toggler;
	if (config.fading)
		toggler = std::thread(toggle_until, config.source, std::cref(stop));
	// The window in flight mixes frames from before the item came.
	next_average();
	next_average();
	const uint32_t frames0 = obs_get_total_frames(), lagged0 = obs_get_lagged_frames();
	const uint64_t rendered0 = rendered_frames.load();
	const double cpu0 = process_cpu_ms();
	for (int i = 0; i < windows; ++i)
		config.windows.push_back(next_average());
	config.cpu_ms += process_cpu_ms() - cpu0;
	config.rendered += rendered_frames.load() - rendered0;
	config.frames += obs_get_total_frames() - frames0;
	config.lagged += obs_get_lagged_frames() - lagged0;
	stop.store(true);
	if (toggler.joinable())
		toggler.join();
	if (config.kind == Kind::Board)
		config.method = harness::board_of(config.source)->capture_method.load();
	if (config.kind == Kind::Panic)
		press_panic();
	if (config.kind == Kind::Filter)
		obs_source_filter_remove(picture, config.source);
	if (config.kind == Kind::NoPicture)
		obs_sceneitem_set_visible(obs_scene_find_source(scene, obs_source_get_name(picture)), true);
	if (item)
		obs_sceneitem_remove(item);
	harness::next_frames(2);
}

// ---------------------------------------------------------------- pictures

std::string slug(const std::string &name)
{
	std::string out;
	for (char c : name)
		out += (std::isalnum((unsigned char)c) ? c : '_');
	return out;
}

bool write_ppm(const std::string &path, const harness::Image &image)
{
	FILE *f = std::fopen(path.c_str(), "wb");
	if (!f)
		return false;
	std::fprintf(f, "P6\n%u %u\n255\n", image.width, image.height);
	for (size_t i = 0; i < size_t(image.width) * image.height; ++i)
		std::fwrite(&image.rgba[i * 4], 1, 3, f);
	return std::fclose(f) == 0;
}

harness::Image read_ppm(const std::string &path)
{
	harness::Image image;
	FILE *f = std::fopen(path.c_str(), "rb");
	if (!f)
		return image;
	unsigned w = 0, h = 0, max = 0;
	if (std::fscanf(f, "P6 %u %u %u", &w, &h, &max) == 3 && std::fgetc(f) != EOF) {
		std::vector<uint8_t> rgb(size_t(w) * h * 3);
		if (std::fread(rgb.data(), 1, rgb.size(), f) == rgb.size()) {
			image.width = w;
			image.height = h;
			image.rgba.resize(size_t(w) * h * 4, 255);
			for (size_t i = 0; i < size_t(w) * h; ++i)
				std::memcpy(&image.rgba[i * 4], &rgb[i * 3], 3);
		}
	}
	std::fclose(f);
	return image;
}

// The program output with only the board over the picture.
harness::Image board_picture(obs_scene_t *scene, obs_source_t *picture, const Config &config)
{
	obs_sceneitem_t *item = add_config_item(scene, picture, config);
	harness::Image image = harness::settled_frame(4);
	obs_sceneitem_remove(item);
	harness::next_frames(2);
	return image;
}

struct PictureDiff {
	int max = 0;
	long over2 = 0; // channels more than 2 levels apart
	double mean = 0.0;
};

PictureDiff compare(const harness::Image &a, const harness::Image &b)
{
	PictureDiff d;
	if (a.width != b.width || a.height != b.height || a.empty()) {
		d.max = 256;
		return d;
	}
	double sum = 0.0;
	for (size_t i = 0; i < a.rgba.size(); ++i) {
		if (i % 4 == 3)
			continue;
		const int diff = std::abs(int(a.rgba[i]) - int(b.rgba[i]));
		d.max = std::max(d.max, diff);
		d.over2 += diff > 2;
		sum += diff;
	}
	d.mean = sum / double(a.rgba.size() / 4 * 3);
	return d;
}
// ------------------------------------------------------------------ plot

struct Series {
	std::string label;
	std::string colour;
	std::vector<std::pair<double, double>> points; // radius, ms
	bool level = false; // one value, drawn across the whole axis
	bool dashed = false;
};

// Log-log axes: blur radius across, milliseconds up.
struct Plot {
	double W = 900, H = 560, left = 80, right = 250, top = 50, bottom = 60;
	double x0 = 1.5, x1 = 700.0, y0 = 0.0, y1 = 0.0;

	double px(double r) const
	{
		return left + (std::log(r) - std::log(x0)) / (std::log(x1) - std::log(x0)) * (W - left - right);
	}
	double py(double ms) const
	{
		return H - bottom - (std::log(ms) - std::log(y0)) / (std::log(y1) - std::log(y0)) * (H - top - bottom);
	}
};

// The decades around the series' values; false when there are none.
bool fit(Plot &plot, const std::vector<Series> &series)
{
	double lo = 1e9, hi = 0;
	for (const Series &s : series)
		for (const auto &p : s.points)
			if (p.second > 0) {
				lo = std::min(lo, p.second);
				hi = std::max(hi, p.second);
			}
	if (!(hi > 0))
		return false;
	plot.y0 = std::pow(10.0, std::floor(std::log10(lo)));
	plot.y1 = std::pow(10.0, std::ceil(std::log10(hi)));
	return true;
}

void svg_grid(FILE *f, const Plot &p)
{
	for (double d = p.y0; d <= p.y1 * 1.001; d *= 10.0) {
		for (int m = 1; m < 10 && d * m <= p.y1 * 1.001; ++m) {
			const double y = p.py(d * m);
			std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
				     p.left, y, p.W - p.right, y, m == 1 ? "#bbb" : "#eee");
			if (m == 1)
				std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g ms</text>\n",
					     p.left - 6, y + 4, d);
		}
	}
	for (double r : {2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 500.0}) {
		std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", p.px(r),
			     p.top, p.px(r), p.H - p.bottom);
		std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n", p.px(r),
			     p.H - p.bottom + 18, r);
	}
	std::fprintf(
	    f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">blur radius (canvas pixels, log scale)</text>\n",
	    (p.left + p.W - p.right) / 2, p.H - 18);
	std::fprintf(f, "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" stroke=\"#444\"/>\n",
		     p.left, p.top, p.W - p.left - p.right, p.H - p.top - p.bottom);
}

// One series and its legend entry at legend_y.
void svg_series(FILE *f, const Plot &p, const Series &s, double legend_y)
{
	const char *dash = s.dashed ? " stroke-dasharray=\"6,4\"" : "";
	if (s.level) {
		const double y = p.py(s.points[0].second);
		std::fprintf(f,
			     "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
			     "stroke-width=\"2\"%s/>\n",
			     p.left, y, p.W - p.right, y, s.colour.c_str(), dash);
	} else {
		std::string points;
		for (const auto &q : s.points) {
			char buf[64];
			std::snprintf(buf, sizeof(buf), "%.1f,%.1f ", p.px(q.first), p.py(q.second));
			points += buf;
			std::fprintf(f, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>\n", p.px(q.first),
				     p.py(q.second), s.colour.c_str());
		}
		std::fprintf(f, "<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"%s/>\n",
			     points.c_str(), s.colour.c_str(), dash);
	}
	std::fprintf(f,
		     "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"2\"%s/>"
		     "<text x=\"%.0f\" y=\"%.1f\">%s</text>\n",
		     p.W - p.right + 12, legend_y, p.W - p.right + 36, legend_y, s.colour.c_str(), dash,
		     p.W - p.right + 42, legend_y + 4, s.label.c_str());
}

bool write_svg(const std::string &path, const std::vector<Series> &series, const std::string &title)
{
	Plot plot;
	if (!fit(plot, series))
		return false;
	FILE *f = std::fopen(path.c_str(), "w");
	if (!f)
		return false;
	std::fprintf(f,
		     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
		     "font-family=\"sans-serif\" font-size=\"13\">\n<rect width=\"100%%\" height=\"100%%\" "
		     "fill=\"white\"/>\n<text x=\"%.0f\" y=\"28\" font-size=\"16\">%s</text>\n",
		     plot.W, plot.H, plot.left, title.c_str());
	svg_grid(f, plot);
	double legend_y = plot.top + 10;
	for (const Series &s : series) {
		if (s.points.empty())
			continue;
		svg_series(f, plot, s, legend_y);
		legend_y += 22;
	}
	std::fprintf(f, "</svg>\n");
	return std::fclose(f) == 0;
}

// ------------------------------------------------------------- the cases

struct Options {
	std::string dir = std::string(MISTPANE_SOURCE_DIR) + "/out/bench";
	std::string save_dir, against_dir;
	bool quick = false;
	std::string only; // ",name,name,", empty for all
	int rounds = 0;
	std::vector<double> radii = {1, 2, 3, 4, 5, 7, 8, 10, 20, 50, 100, 500};
};

std::vector<double> parse_radii(const char *p)
{
	std::vector<double> radii;
	while (*p) {
		char *end = nullptr;
		const double r = std::strtod(p, &end);
		if (end == p)
			break;
		if (r > 0.0)
			radii.push_back(r);
		p = *end == ',' ? end + 1 : end;
	}
	return radii;
}

Options parse_options(int argc, char **argv)
{
	Options o;
	for (int i = 1; i < argc; ++i) {
		const bool value = i + 1 < argc;
		if (std::strcmp(argv[i], "--quick") == 0)
			o.quick = true;
		else if (std::strcmp(argv[i], "--save-pictures") == 0 && value)
			o.save_dir = argv[++i];
		else if (std::strcmp(argv[i], "--against") == 0 && value)
			o.against_dir = argv[++i];
		else if (std::strcmp(argv[i], "--only") == 0 && value)
			o.only = "," + std::string(argv[++i]) + ",";
		else if (std::strcmp(argv[i], "--rounds") == 0 && value)
			o.rounds = std::max(std::atoi(argv[++i]), 1);
		else if (std::strcmp(argv[i], "--radii") == 0 && value)
			o.radii = parse_radii(argv[++i]);
		else
			o.dir = argv[i];
	}
	if (o.rounds == 0)
		o.rounds = o.quick ? 1 : 2;
	return o;
}

// The measured board, 1280x720, with these settings besides.
std::string board(const std::string &settings, int fade_seconds = 0)
{
	return "{\"width\": 1280, \"height\": 720, \"fade_seconds\": " + std::to_string(fade_seconds) + ", " +
	       settings + "}";
}

std::string filter_region(const std::string &settings)
{
	return "{\"region_x\": 800, \"region_y\": 500, \"region_width\": 300, \"region_height\": 100, " + settings +
	       "}";
}

// What is measured, in the order printed: the floor and the references,
// the blur radii asked for, then the table of other cases (name, kind,
// radius, settings, fading, measured against the canvas pass).
std::vector<Config> configurations(const std::vector<double> &radii)
{
	std::vector<Config> all = {
	    {"picture alone (floor)", Kind::Empty},
	    {"ref: cropped copy", Kind::CroppedCopy},
	    {"ref: canvas pass", Kind::CanvasPass},
	};
	for (double r : radii) {
		char name[32], value[32];
		std::snprintf(name, sizeof(name), "blur %g", r);
		std::snprintf(value, sizeof(value), "%g", r);
		all.push_back({name, Kind::Board, float(r), board(std::string("\"blur_radius\": ") + value)});
	}
	const std::vector<Config> cases = {
	    {"mosaic 8", Kind::Board, 0.0f, board("\"mode\": \"mosaic\", \"mosaic_size\": 8")},
	    {"mosaic 24", Kind::Board, 0.0f, board("\"mode\": \"mosaic\", \"mosaic_size\": 24")},
	    {"mosaic 64", Kind::Board, 0.0f, board("\"mode\": \"mosaic\", \"mosaic_size\": 64")},
	    // Reads nothing beneath and runs no pass: one blended quad.
	    {"cover", Kind::Board, 0.0f, board("\"mode\": \"cover\"")},
	    {"blur 20 fading", Kind::Board, 0.0f, board("\"blur_radius\": 20", 1), true},
	    {"mosaic 24 fading", Kind::Board, 0.0f, board("\"mode\": \"mosaic\", \"mosaic_size\": 24", 1), true},
	    {"emergency cover", Kind::Board, 0.0f, board("\"emergency\": true"), false, true},
	    {"panic cover", Kind::Panic, 0.0f, "", false, true},
	    {"panic off again", Kind::PanicOff, 0.0f, "", false, true},
	    // The filter on the 1920x1080 picture itself, whole and a 300x100
	    // region, beside OBS's own Color Correction filter on it.
	    {"no picture", Kind::NoPicture},
	    {"filter: color correction", Kind::Filter, 0.0f, "color_filter_v2"},
	    {"filter blur 20", Kind::Filter, 0.0f, R"({"blur_radius": 20})"},
	    {"filter mosaic 24", Kind::Filter, 0.0f, R"({"mode": "mosaic", "mosaic_size": 24})"},
	    {"filter cover", Kind::Filter, 0.0f, R"({"mode": "cover"})"},
	    {"filter blur 20 region", Kind::Filter, 0.0f, filter_region("\"blur_radius\": 20")},
	    {"filter mosaic 24 region", Kind::Filter, 0.0f, filter_region("\"mode\": \"mosaic\", \"mosaic_size\": 24")},
	    {"filter cover region", Kind::Filter, 0.0f, filter_region("\"mode\": \"cover\"")},
	};
	all.insert(all.end(), cases.begin(), cases.end());
	return all;
}

// --only keeps the boards named; the floor and the references stay.
void keep_only(std::vector<Config> &configs, const std::string &only)
{
	if (only.empty())
		return;
	std::erase_if(configs, [&](const Config &c) {
		return c.kind != Kind::Empty && c.kind != Kind::CroppedCopy && c.kind != Kind::CanvasPass &&
		       c.kind != Kind::NoPicture && c.name != "filter: color correction" &&
		       only.find("," + c.name + ",") == std::string::npos;
	});
}

void make_sources(std::vector<Config> &configs)
{
	for (Config &c : configs) {
		const std::string name = "bench " + c.name;
		if (c.kind == Kind::Board)
			c.source = harness::make_board(name.c_str(), c.settings.c_str());
		else if (c.kind == Kind::CanvasPass)
			c.source = make_source("mistpane_bench_reference", name.c_str(), "{}");
		else if (c.kind == Kind::Filter && c.settings == "color_filter_v2")
			c.source = make_source("color_filter_v2", name.c_str(), "{}");
		else if (c.kind == Kind::Filter)
			c.source = make_source("mistpane_hide_filter", name.c_str(), c.settings.c_str());
	}
}

// ------------------------------------------------------------ the steps

struct Stage {
	obs_source_t *picture = nullptr;
	obs_scene_t *scene = nullptr;
};

bool make_dirs(const Options &o)
{
	std::error_code error;
	std::filesystem::create_directories(o.dir, error);
	if (!o.save_dir.empty())
		std::filesystem::create_directories(o.save_dir, error);
	if (error) {
		std::fprintf(stderr, "render bench: cannot create %s: %s\n", o.dir.c_str(), error.message().c_str());
		return false;
	}
	return true;
}

bool start_host()
{
	harness::HostOptions options;
	options.width = kWidth;
	options.height = kHeight;
	options.fps = 30;
	if (!harness::start(options))
		return false;
	register_bench_sources();
	if (!harness::load_stock_module("obs-filters"))
		std::fprintf(stderr, "render bench: OBS's filters did not load; no Color Correction reference\n");
	obs_add_main_render_callback(count_rendered, nullptr);
	return true;
}

Stage make_stage()
{
	Stage stage;
	stage.picture = harness::make_pattern("bench picture", kWidth, kHeight, "detail");
	stage.scene = harness::make_scene("bench scene");
	obs_scene_add(stage.scene, stage.picture);
	obs_set_output_source(0, obs_scene_get_source(stage.scene));
	harness::next_frames(5);
	return stage;
}

void print_header()
{
	std::printf("render bench: one board on a %ux%u canvas at 30 fps (board %ux%u at %.0f, %.0f) over a "
		    "detailed picture, Mesa llvmpipe\n",
		    kWidth, kHeight, kBoardW, kBoardH, kBoardX, kBoardY);
	std::printf("time: the host's graphics-thread frame time, averaged per second of video, less the\n"
		    "      picture alone; rounds interleave all configurations.\n");
}

// --save-pictures and --against: what every steady board shows.
void save_and_compare(const Stage &stage, const std::vector<Config> &configs, const Options &o)
{
	if (o.save_dir.empty() && o.against_dir.empty())
		return;
	std::printf("\n%-22s %6s %12s %10s\n", "pictures", "max", "channels >2", "mean");
	for (const Config &c : configs) {
		if (c.kind != Kind::Board || c.fading)
			continue;
		const harness::Image image = board_picture(stage.scene, stage.picture, c);
		const std::string file = slug(c.name) + ".ppm";
		if (!o.save_dir.empty() && !write_ppm(o.save_dir + "/" + file, image))
			std::fprintf(stderr, "render bench: cannot write %s\n", file.c_str());
		if (!o.against_dir.empty()) {
			const PictureDiff d = compare(image, read_ppm(o.against_dir + "/" + file));
			std::printf("%-22s %6d %12ld %10.4f\n", c.name.c_str(), d.max, d.over2, d.mean);
		}
	}
}

void run_rounds(const Stage &stage, std::vector<Config> &configs, const Options &o)
{
	harness::keep_output_frames(false);
	const int windows = o.quick ? 1 : 2;
	for (int round = 0; round < o.rounds; ++round) {
		std::printf("round %d/%d:", round + 1, o.rounds);
		for (Config &c : configs) {
			measure(stage.scene, stage.picture, c, windows);
			std::printf(" .");
		}
		std::printf("\n");
	}
}

// ------------------------------------------------------------ the figures

// Each configuration less the picture alone, and against its reference;
// in frame time and in CPU time per rendered frame.
class Costs {
      public:
	explicit Costs(const std::vector<Config> &configs) : configs_(configs)
	{
		floor_ms_ = mean(configs[0].windows);
		copy_ms_ = added(find("ref: cropped copy"));
		pass_ms_ = added(find("ref: canvas pass"));
		cpu_floor_ = cpu(configs[0]);
		cpu_copy_ = cpu_added(find("ref: cropped copy"));
		cpu_pass_ = cpu_added(find("ref: canvas pass"));
	}

	const std::vector<Config> &configs() const { return configs_; }
	double floor_ms() const { return floor_ms_; }
	double copy_ms() const { return copy_ms_; }

	// The first configuration when none has that name.
	const Config &find(const std::string &name) const
	{
		for (const Config &c : configs_)
			if (c.name == name)
				return c;
		return configs_[0];
	}
	double added(const Config &c) const { return mean(c.windows) - floor_ms_; }
	double ratio(const Config &c) const { return added(c) / (c.canvas_reference ? pass_ms_ : copy_ms_); }
	static double cpu(const Config &c) { return c.cpu_ms / double(std::max<uint64_t>(c.rendered, 1)); }
	double cpu_added(const Config &c) const { return cpu(c) - cpu_floor_; }
	double cpu_ratio(const Config &c) const { return cpu_added(c) / (c.canvas_reference ? cpu_pass_ : cpu_copy_); }

      private:
	const std::vector<Config> &configs_;
	double floor_ms_ = 0.0, copy_ms_ = 0.0, pass_ms_ = 0.0;
	double cpu_floor_ = 0.0, cpu_copy_ = 0.0, cpu_pass_ = 0.0;
};

void print_table(const Costs &costs)
{
	std::printf("\n%-22s %7s %9s %9s %7s %9s %9s %7s %-12s %s\n", "", "", "frame", "", "", "CPU", "", "", "", "");
	std::printf("%-22s %7s %9s %9s %7s %9s %9s %7s %-12s %s\n", "configuration", "frames", "ms", "added", "x ref",
		    "ms", "added", "x ref", "reference", "lagged, capture");
	for (const Config &c : costs.configs()) {
		const bool board = c.kind == Kind::Board || c.kind == Kind::Panic || c.kind == Kind::PanicOff;
		const char *reference = !board               ? (c.kind == Kind::Empty ? "" : "(itself)")
					: c.canvas_reference ? "canvas pass"
							     : "cropped copy";
		std::printf("%-22s %7llu %9.2f %9.2f %7.2f %9.2f %9.2f %7.2f %-12s %u %s\n", c.name.c_str(),
			    (unsigned long long)c.rendered, mean(c.windows),
			    c.kind == Kind::Empty ? 0.0 : costs.added(c), board ? costs.ratio(c) : NAN, Costs::cpu(c),
			    c.kind == Kind::Empty ? 0.0 : costs.cpu_added(c), board ? costs.cpu_ratio(c) : NAN,
			    reference, c.lagged, c.kind == Kind::Board ? capture_method_name(c.method) : "");
	}
	std::printf("(frame: the host's graphics-thread frame time, mean of its per-second averages; CPU: the\n"
		    " process's CPU time per rendered frame, llvmpipe's rasterizer threads included; added: less\n"
		    " the picture alone; x ref: added / added of the reference)\n");
}

struct Figures {
	double below20 = 0.0, lo = 1e9, hi = 0.0, worst = 0.0;
	std::string worst_name;
};

using Measure = double (Costs::*)(const Config &) const;

// The boards' figures held against the targets, in one measure.
Figures figures(const Costs &costs, Measure cost, Measure rel)
{
	Figures f;
	for (const Config &c : costs.configs()) {
		if (c.kind != Kind::Board)
			continue;
		if ((costs.*rel)(c) > f.worst) {
			f.worst = (costs.*rel)(c);
			f.worst_name = c.name;
		}
		if (c.radius >= 20.0f && !c.fading) {
			f.lo = std::min(f.lo, (costs.*cost)(c));
			f.hi = std::max(f.hi, (costs.*cost)(c));
		}
		if (c.radius > 0.0f && c.radius < 20.0f)
			f.below20 = std::max(f.below20, (costs.*cost)(c) / (costs.*cost)(costs.find("blur 20")));
	}
	return f;
}

void print_targets(const Costs &costs)
{
	const Figures ft = figures(costs, &Costs::added, &Costs::ratio);
	const Figures fc = figures(costs, &Costs::cpu_added, &Costs::cpu_ratio);
	std::printf("\ntargets (figures, not pass/fail)          frame      CPU\n");
	std::printf("  radius below 20 / radius 20, at most  %8.2f %8.2f   (target at most 1)\n", ft.below20,
		    fc.below20);
	std::printf("  radius 20..500, max / min             %8.2f %8.2f   (target at most 1.5)\n", ft.hi / ft.lo,
		    fc.hi / fc.lo);
	std::printf("  x reference, at most                  %8.2f %8.2f   (target at most 3; %s, %s)\n", ft.worst,
		    fc.worst, ft.worst_name.c_str(), fc.worst_name.c_str());
	const Config &cover = costs.find("cover"), &blur20 = costs.find("blur 20");
	if (cover.name == "cover" && blur20.name == "blur 20")
		std::printf("  cover / blur 20                       %8.2f %8.2f   (target below 1)\n",
			    costs.added(cover) / costs.added(blur20), costs.cpu_added(cover) / costs.cpu_added(blur20));
	const Config &panic = costs.find("panic cover"), &panic_off = costs.find("panic off again");
	if (panic.kind == Kind::Panic)
		std::printf("  panic cover x canvas pass             %8.2f %8.2f   (target at most 3)\n",
			    costs.ratio(panic), costs.cpu_ratio(panic));
	if (panic_off.kind == Kind::PanicOff)
		std::printf("  panic off again, added ms             %8.2f %8.2f   (target 0: nothing drawn)\n",
			    costs.added(panic_off), costs.cpu_added(panic_off));
}

// The filter against the picture drawn bare (the picture alone less no
// picture) and against the picture under Color Correction.
void print_filter_targets(const Costs &costs)
{
	const Config &none = costs.find("no picture"), &cc = costs.find("filter: color correction");
	if (none.name != "no picture" || cc.name != "filter: color correction")
		return;
	const double bare = -costs.added(none), bare_cpu = -costs.cpu_added(none);
	const double with_cc = bare + costs.added(cc), with_cc_cpu = bare_cpu + costs.cpu_added(cc);
	std::printf("\nfilter on the 1920x1080 picture: the picture drawn bare %.2f ms (CPU %.2f), under Color "
		    "Correction %.2f ms (CPU %.2f)\n",
		    bare, bare_cpu, with_cc, with_cc_cpu);
	std::printf("%-26s %10s %10s   %s\n", "", "frame", "CPU", "target");
	for (const Config &c : costs.configs()) {
		if (c.kind != Kind::Filter || &c == &cc)
			continue;
		const bool region = c.name.find("region") != std::string::npos;
		const double t = bare + costs.added(c), t_cpu = bare_cpu + costs.cpu_added(c);
		std::printf("%-26s %10.2f %10.2f   %s\n", c.name.c_str(), region ? t / bare : t / with_cc,
			    region ? t_cpu / bare_cpu : t_cpu / with_cc_cpu,
			    region ? "x bare picture, at most 1.2" : "x Color Correction, at most 2");
	}
}

void write_csv(const std::string &path, const Costs &costs)
{
	FILE *f = std::fopen(path.c_str(), "w");
	if (!f)
		return;
	std::fprintf(f, "configuration,window,frame_ms,added_ms,cpu_ms_per_frame\n");
	for (const Config &c : costs.configs())
		for (size_t i = 0; i < c.windows.size(); ++i)
			std::fprintf(f, "%s,%zu,%.4f,%.4f,%.4f\n", c.name.c_str(), i, c.windows[i],
				     c.windows[i] - costs.floor_ms(), Costs::cpu(c));
	std::fclose(f);
}

bool write_plot(const std::string &path, const Costs &costs)
{
	const double copy_ms = costs.copy_ms();
	std::vector<Series> series(6);
	series[0] = {"board, blur", "#1f6fd0", {}, false, false};
	series[5] = {"board, blur (CPU)", "#1f6fd0", {}, false, true};
	series[1] = {"cropped copy (reference)", "#333333", {{0, copy_ms}}, true, true};
	series[2] = {"3 x cropped copy", "#999999", {{0, 3.0 * copy_ms}}, true, true};
	series[3] = {"board, mosaic 24", "#2a9d3a", {{0, costs.added(costs.find("mosaic 24"))}}, true, true};
	series[4] = {"emergency cover", "#9b4dca", {{0, costs.added(costs.find("emergency cover"))}}, true, true};
	for (const Config &c : costs.configs())
		if (c.kind == Kind::Board && c.radius > 0 && !c.fading) {
			series[0].points.push_back({c.radius, costs.added(c)});
			series[5].points.push_back({c.radius, costs.cpu_added(c)});
		}
	return write_svg(path, series, "MistPane: added frame time of one 1280x720 board, 1920x1080, llvmpipe (ms)");
}

void report(const std::vector<Config> &configs, const Options &o)
{
	const Costs costs(configs);
	print_table(costs);
	print_targets(costs);
	print_filter_targets(costs);
	const std::string csv = o.dir + "/render_bench.csv", svg = o.dir + "/render_bench.svg";
	write_csv(csv, costs);
	const bool plotted = write_plot(svg, costs);
	std::printf("\nwrote %s%s\n", plotted ? (svg + " and ").c_str() : "", csv.c_str());
}

// False when the host counts allocations left.
bool stop_host(const Stage &stage, std::vector<Config> &configs)
{
	obs_set_output_source(0, nullptr);
	harness::next_frames(2);
	harness::release_scene(stage.scene);
	for (Config &c : configs)
		obs_source_release(c.source);
	obs_source_release(stage.picture);
	obs_remove_main_render_callback(count_rendered, nullptr);
	const long leaks = harness::stop();
	if (leaks != 0)
		std::printf("render bench: host allocations left at shutdown: %ld\n", leaks);
	return leaks == 0;
}

} // namespace

int main(int argc, char **argv)
{
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	const Options options = parse_options(argc, argv);
	if (!make_dirs(options) || !start_host())
		return 1;
	std::vector<Config> configs = configurations(options.radii);
	keep_only(configs, options.only);
	make_sources(configs);
	const Stage stage = make_stage();
	print_header();
	save_and_compare(stage, configs, options);
	run_rounds(stage, configs, options);
	report(configs, options);
	return stop_host(stage, configs) ? 0 : 1;
}
