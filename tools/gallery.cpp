// SPDX-License-Identifier: GPL-2.0-or-later
// Renders boards over a detailed test picture through the real host and the
// freshly built module, and writes each program output beside the same
// scene without the board, an index page and a contact sheet.
//
//   mistpane-gallery [output folder]      (default: out/gallery in the checkout)
#include <obs-module.h>
#include <graphics/matrix4.h>
#include <graphics/vec3.h>

#include <dlfcn.h>
#include <png.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board/blur_board.h"
#include "harness/host.h"
#include "harness/pattern.h"

#ifndef MISTPANE_SOURCE_DIR
#error "MISTPANE_SOURCE_DIR must name the checkout"
#endif

// While set, the host refuses to begin texture renders: a board whose
// capture fails.
static std::atomic<bool> refuse_texrenders{false};

extern "C" bool gs_texrender_begin_with_color_space(gs_texrender_t *texrender, uint32_t cx, uint32_t cy,
						    gs_color_space space)
{
	using Begin = bool (*)(gs_texrender_t *, uint32_t, uint32_t, gs_color_space);
	static const auto real = reinterpret_cast<Begin>(dlsym(RTLD_NEXT, "gs_texrender_begin_with_color_space"));
	return refuse_texrenders.load() ? false : real(texrender, cx, cy, space);
}

namespace {

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 720;
// Frames to wait after a change: the tick places the board, and the output
// reaches the raw video callback a few frames after it was drawn.
constexpr uint32_t kSettle = 8;

// The program output once the host has rendered kSettle more frames. While
// rendering takes longer than a frame the host hands the same picture to its
// outputs several times, so output frames alone are not counted.
std::atomic<uint64_t> rendered_frames{0};

void count_rendered(void *, uint32_t, uint32_t)
{
	rendered_frames.fetch_add(1);
}

harness::Image settled_frame()
{
	const uint64_t wanted = rendered_frames.load() + kSettle;
	while (rendered_frames.load() < wanted)
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	return harness::next_frames(1);
}

// RGB8 picture for writing and composing.
struct Picture {
	uint32_t width = 0;
	uint32_t height = 0;
	std::vector<uint8_t> rgb;

	Picture() = default;
	Picture(uint32_t w, uint32_t h, uint8_t fill) : width(w), height(h), rgb(size_t(w) * h * 3, fill) {}
	uint8_t *at(uint32_t x, uint32_t y) { return &rgb[(size_t(y) * width + x) * 3]; }
	const uint8_t *at(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

// Whether the output frames hold blue first: the host's RGBA program output
// arrives as BGRA bytes here. Found once from the picture, not assumed.
bool blue_first = false;

Picture from_frame(const harness::Image &image)
{
	Picture picture(image.width, image.height, 0);
	for (uint32_t y = 0; y < image.height; ++y) {
		for (uint32_t x = 0; x < image.width; ++x) {
			const uint8_t *p = image.at(x, y);
			uint8_t *q = picture.at(x, y);
			q[0] = p[blue_first ? 2 : 0];
			q[1] = p[1];
			q[2] = p[blue_first ? 0 : 2];
		}
	}
	return picture;
}

// Shows the bare picture and compares the output with its pixels in both
// channel orders; false when neither matches (the host does not show the
// picture one to one).
bool find_channel_order(obs_source_t *picture)
{
	obs_scene_t *scene = harness::make_scene("gallery channel order");
	obs_scene_add(scene, picture);
	obs_set_output_source(0, obs_scene_get_source(scene));
	const harness::Image frame = settled_frame();
	obs_set_output_source(0, nullptr);
	harness::release_scene(scene);
	if (frame.width != kWidth || frame.height != kHeight)
		return false;
	const std::vector<uint8_t> expected = harness::pattern_pixels("detail", kWidth, kHeight, 8, 0);
	size_t same = 0, swapped = 0, total = 0;
	for (uint32_t y = 0; y < kHeight; y += 7) {
		for (uint32_t x = 0; x < kWidth; x += 7, ++total) {
			const uint8_t *p = frame.at(x, y), *e = &expected[(size_t(y) * kWidth + x) * 4];
			const auto near = [](int a, int b) { return std::abs(a - b) <= 2; };
			same += near(p[0], e[0]) && near(p[1], e[1]) && near(p[2], e[2]);
			swapped += near(p[2], e[0]) && near(p[1], e[1]) && near(p[0], e[2]);
		}
	}
	blue_first = swapped > same;
	return std::max(same, swapped) > total * 99 / 100;
}

void blit(Picture &dst, const Picture &src, uint32_t x0, uint32_t y0)
{
	if (x0 >= dst.width)
		return;
	for (uint32_t y = 0; y < src.height && y0 + y < dst.height; ++y) {
		const uint32_t n = std::min(src.width, dst.width - x0);
		std::memcpy(dst.at(x0, y0 + y), src.at(0, y), size_t(n) * 3);
	}
}

// Box-filtered reduction by an integer factor.
Picture shrink(const Picture &src, uint32_t factor)
{
	Picture out(src.width / factor, src.height / factor, 0);
	for (uint32_t y = 0; y < out.height; ++y) {
		for (uint32_t x = 0; x < out.width; ++x) {
			uint32_t sum[3] = {};
			for (uint32_t j = 0; j < factor; ++j)
				for (uint32_t i = 0; i < factor; ++i)
					for (int c = 0; c < 3; ++c)
						sum[c] += src.at(x * factor + i, y * factor + j)[c];
			for (int c = 0; c < 3; ++c)
				out.at(x, y)[c] = uint8_t(sum[c] / (factor * factor));
		}
	}
	return out;
}

bool write_png(const std::string &path, const Picture &picture)
{
	FILE *file = std::fopen(path.c_str(), "wb");
	if (!file)
		return false;
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png ? png_create_info_struct(png) : nullptr;
	bool ok = false;
	if (info && !setjmp(png_jmpbuf(png))) {
		png_init_io(png, file);
		png_set_compression_level(png, 3);
		png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
			     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
		png_write_info(png, info);
		for (uint32_t y = 0; y < picture.height; ++y)
			png_write_row(png, picture.at(0, y));
		png_write_end(png, nullptr);
		ok = true;
	}
	png_destroy_write_struct(&png, &info);
	return std::fclose(file) == 0 && ok;
}

// Contact-sheet captions in the test picture's 5x7 font.
void draw_text(Picture &dst, uint32_t x, uint32_t y, const std::string &text, uint32_t scale, uint32_t max_width)
{
	for (size_t n = 0; n < text.size() && (n + 1) * 6 * scale <= max_width; ++n, x += 6 * scale) {
		const uint8_t *rows = harness::glyph_rows(text[n]);
		if (!rows)
			continue;
		for (uint32_t row = 0; row < 7 * scale; ++row)
			for (uint32_t col = 0; col < 5 * scale; ++col)
				if ((rows[row / scale] & (0x10 >> (col / scale))) && x + col < dst.width &&
				    y + row < dst.height)
					std::memset(dst.at(x + col, y + row), 235, 3);
	}
}

// Text wrapped at word ends into at most max_lines lines of the 5x7 font.
void draw_lines(Picture &dst, uint32_t x, uint32_t y, const std::string &text, uint32_t width, int max_lines)
{
	const size_t per_line = width / 6;
	size_t start = 0;
	for (int line = 0; line < max_lines && start < text.size(); ++line, y += 10) {
		size_t end = std::min(text.size(), start + per_line);
		if (end < text.size()) {
			const size_t space = text.rfind(' ', end);
			if (space != std::string::npos && space > start)
				end = space;
		}
		draw_text(dst, x, y, text.substr(start, end - start), 1, width);
		start = end + 1;
	}
}

// Which canvas pixels lie inside the boards' visible boxes.
struct Mask {
	std::vector<uint8_t> inside = std::vector<uint8_t>(size_t(kWidth) * kHeight, 0);

	void add_all() { std::fill(inside.begin(), inside.end(), 1); }

	// box: the unit square to canvas transform of an item's visible box.
	void add_box(const matrix4 &box)
	{
		matrix4 inv;
		if (!matrix4_inv(&inv, &box))
			return;
		for (uint32_t y = 0; y < kHeight; ++y) {
			for (uint32_t x = 0; x < kWidth; ++x) {
				vec3 p, q;
				vec3_set(&p, float(x) + 0.5f, float(y) + 0.5f, 0.0f);
				vec3_transform(&q, &p, &inv);
				if (q.x >= 0.0f && q.x <= 1.0f && q.y >= 0.0f && q.y <= 1.0f)
					inside[size_t(y) * kWidth + x] = 1;
			}
		}
	}
};

// The box of an item on the canvas, through its group when it has one.
matrix4 canvas_box(obs_sceneitem_t *item, obs_sceneitem_t *group_item)
{
	matrix4 box;
	obs_sceneitem_get_box_transform(item, &box);
	if (group_item) {
		matrix4 group, both;
		obs_sceneitem_get_draw_transform(group_item, &group);
		matrix4_mul(&both, &box, &group);
		return both;
	}
	return box;
}

struct Change {
	double inside = 0.0;
	double outside = 0.0;
};

// Mean absolute change per colour channel, inside and outside the mask.
Change measure(const Picture &before, const Picture &after, const Mask &mask)
{
	double sum_in = 0.0, sum_out = 0.0;
	size_t n_in = 0, n_out = 0;
	for (uint32_t y = 0; y < kHeight; ++y) {
		for (uint32_t x = 0; x < kWidth; ++x) {
			const uint8_t *a = before.at(x, y), *b = after.at(x, y);
			const double d = (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2])) / 3.0;
			if (mask.inside[size_t(y) * kWidth + x]) {
				sum_in += d;
				++n_in;
			} else {
				sum_out += d;
				++n_out;
			}
		}
	}
	return {n_in ? sum_in / double(n_in) : 0.0, n_out ? sum_out / double(n_out) : 0.0};
}

// What a case put into its scene.
struct Built {
	std::string name; // of the case, for unique source names
	obs_source_t *board = nullptr; // owned here
	std::vector<obs_sceneitem_t *> board_items;
	obs_sceneitem_t *group_item = nullptr; // the group holding the board, if any
	std::vector<obs_source_t *> extra_sources; // owned here
	std::vector<obs_scene_t *> extra_scenes; // owned here
	bool whole_canvas = false;
	// A "MistPane: Hide" filter instead of a board, on the source of
	// filtered_item, and the part it hides in that source's pixels.
	obs_source_t *filter = nullptr; // owned here
	obs_sceneitem_t *filtered_item = nullptr;
	float hidden_x = 0, hidden_y = 0, hidden_w = 0, hidden_h = 0;
};

struct Context {
	obs_source_t *picture = nullptr; // the detail picture, full canvas
	obs_source_t *text = nullptr; // small text, full canvas
};

// Takes the picture with the boards, the scene being on the program output.
using Show = Picture (*)(obs_scene_t *, Built &);

Picture as_is(obs_scene_t *, Built &)
{
	return from_frame(settled_frame());
}

// Studio mode as the frontend does it: a private duplicate of the scene on
// a private transition in channel 0; the board then moves in the preview.
Picture studio_moved(obs_scene_t *scene, Built &built)
{
	obs_scene_t *program = obs_scene_duplicate(scene, "gallery program", OBS_SCENE_DUP_PRIVATE_REFS);
	obs_source_t *transition = obs_source_create_private("cut_transition", "gallery transition", nullptr);
	obs_transition_set(transition, obs_scene_get_source(program));
	obs_set_output_source(0, transition);
	settled_frame();
	vec2 pos;
	vec2_set(&pos, 40.0f, 40.0f);
	obs_sceneitem_set_pos(built.board_items.front(), &pos);
	const Picture after = from_frame(settled_frame());
	obs_set_output_source(0, nullptr);
	obs_transition_clear(transition);
	obs_source_release(transition);
	obs_scene_release(program);
	return after;
}

// The host refuses the board's texture renders meanwhile.
Picture capture_refused(obs_scene_t *, Built &)
{
	refuse_texrenders.store(true);
	const Picture after = from_frame(settled_frame());
	refuse_texrenders.store(false);
	return after;
}

// The panic key as the frontend delivers it: routed, pressed and released.
// It switches at the graphics thread's next frame.
void press_panic_key()
{
	const obs_hotkey_id found = harness::hotkey_named("MistPane.Panic");
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(found, true);
	obs_hotkey_trigger_routed_callback(found, false);
	obs_hotkey_enable_callback_rerouting(false);
}

// The program with the panic key on, then off again for the next case.
Picture panic_pressed(obs_scene_t *, Built &)
{
	press_panic_key();
	const Picture after = from_frame(settled_frame());
	press_panic_key();
	settled_frame();
	return after;
}

// One entry of the gallery: a new case is one more entry in cases().
struct Case {
	const char *file;
	const char *caption;
	std::function<void(Context &, obs_scene_t *, Built &)> build;
	bool picture_beneath = true; // the scene starts with the detail picture
	Show show = as_is; // how the picture with the boards is taken
};

obs_sceneitem_t *add_at(obs_scene_t *scene, obs_source_t *source, float x, float y)
{
	obs_sceneitem_t *item = obs_scene_add(scene, source);
	vec2 pos;
	vec2_set(&pos, x, y);
	obs_sceneitem_set_pos(item, &pos);
	return item;
}

// The usual board: 720 by 400 over text, the star and the face.
obs_sceneitem_t *add_board(obs_scene_t *scene, Built &built, const char *settings)
{
	std::string json = std::string("{\"width\": 720, \"height\": 400, \"fade_seconds\": 0, ") + settings + "}";
	if (!built.board)
		built.board = harness::make_board((std::string("gallery board ") + built.name).c_str(), json.c_str());
	obs_sceneitem_t *item = add_at(scene, built.board, 360.0f, 220.0f);
	built.board_items.push_back(item);
	return item;
}

auto simple(const char *settings)
{
	return [settings](Context &, obs_scene_t *scene, Built &built) { add_board(scene, built, settings); };
}

// The board over small text instead of the detail picture.
auto over_text(const char *settings)
{
	return [settings](Context &context, obs_scene_t *scene, Built &built) {
		obs_scene_add(scene, context.text);
		add_board(scene, built, settings);
	};
}

void rotated(Context &, obs_scene_t *scene, Built &built)
{
	obs_sceneitem_t *item = add_board(scene, built, "\"mode\": \"mosaic\", \"mosaic_size\": 24");
	vec2 pos;
	vec2_set(&pos, 520.0f, 120.0f);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_rot(item, 30.0f);
}

void inverted(Context &, obs_scene_t *scene, Built &built)
{
	obs_sceneitem_t *item = add_board(
	    scene, built, "\"mode\": \"mosaic\", \"shape\": \"rounded\", \"corner_radius\": 60, \"invert\": true");
	obs_sceneitem_set_rot(item, 10.0f);
	built.whole_canvas = true;
}

void scaled(Context &, obs_scene_t *scene, Built &built)
{
	obs_sceneitem_t *item = add_board(scene, built, "\"blur_radius\": 20");
	vec2 scale;
	vec2_set(&scale, 1.4f, 0.6f);
	obs_sceneitem_set_scale(item, &scale);
	vec2 pos;
	vec2_set(&pos, 120.0f, 240.0f);
	obs_sceneitem_set_pos(item, &pos);
}

void cropped(Context &, obs_scene_t *scene, Built &built)
{
	obs_sceneitem_t *item = add_board(scene, built, "\"blur_radius\": 20");
	obs_sceneitem_crop crop = {120, 60, 200, 100};
	obs_sceneitem_set_crop(item, &crop);
}

void grouped(Context &, obs_scene_t *scene, Built &built)
{
	obs_source_t *checker = harness::make_pattern("gallery group checker", 400, 300, "checker", 10);
	built.extra_sources.push_back(checker);
	obs_sceneitem_t *checker_item = add_at(scene, checker, 560.0f, 300.0f);
	obs_sceneitem_t *board_item = add_board(scene, built, "\"blur_radius\": 20");
	obs_sceneitem_t *items[] = {checker_item, board_item};
	built.group_item = obs_scene_insert_group(scene, "gallery group", items, 2);
}

void over_nested(Context &context, obs_scene_t *scene, Built &built)
{
	obs_scene_t *nested = harness::make_scene("gallery nested");
	built.extra_scenes.push_back(nested);
	obs_source_t *gradient = harness::make_pattern("gallery gradient", kWidth, kHeight, "gradient");
	built.extra_sources.push_back(gradient);
	obs_scene_add(nested, gradient);
	obs_sceneitem_t *small = add_at(nested, context.picture, 300.0f, 160.0f);
	vec2 scale;
	vec2_set(&scale, 0.6f, 0.6f);
	obs_sceneitem_set_scale(small, &scale);
	obs_scene_add(scene, obs_scene_get_source(nested));
	add_board(scene, built, "\"mode\": \"mosaic\", \"mosaic_size\": 24");
}

void emergency(Context &, obs_scene_t *scene, Built &built)
{
	built.board = harness::make_board(
	    "gallery board emergency", "{\"width\": 200, \"height\": 120, \"emergency\": true, \"fade_seconds\": 0}");
	obs_sceneitem_t *item = add_at(scene, built.board, 900.0f, 80.0f);
	obs_sceneitem_set_rot(item, 45.0f);
	built.board_items.push_back(item);
	built.whole_canvas = true;
}

void shared(Context &, obs_scene_t *scene, Built &built)
{
	obs_sceneitem_t *first = add_board(scene, built, "\"blur_radius\": 20");
	vec2 pos;
	vec2_set(&pos, 60.0f, 60.0f);
	obs_sceneitem_set_pos(first, &pos);
	obs_sceneitem_t *second = add_board(scene, built, "\"blur_radius\": 20");
	vec2_set(&pos, 700.0f, 380.0f);
	obs_sceneitem_set_pos(second, &pos);
	vec2 scale;
	vec2_set(&scale, 0.7f, 0.7f);
	obs_sceneitem_set_scale(second, &scale);
}

// The cover-mode board's image: the host's gradient pattern with a ring of
// checkerboard, so its stretch over the shape shows.
Picture cover_picture()
{
	const uint32_t w = 320, h = 180;
	const std::vector<uint8_t> gradient = harness::pattern_pixels("gradient", w, h, 8, 0);
	const std::vector<uint8_t> checker = harness::pattern_pixels("checker", w, h, 20, 0xff3080ff);
	Picture picture(w, h, 0);
	for (uint32_t y = 0; y < h; ++y)
		for (uint32_t x = 0; x < w; ++x) {
			const float dx = (x + 0.5f) / w - 0.5f, dy = (y + 0.5f) / h - 0.5f;
			const float r = std::sqrt(dx * dx + dy * dy);
			const std::vector<uint8_t> &from = r > 0.25f && r < 0.4f ? checker : gradient;
			std::memcpy(picture.at(x, y), &from[(size_t(y) * w + x) * 4], 3);
		}
	return picture;
}

// The image is written here and read by the board as it is made.
void cover_with_image(Context &, obs_scene_t *scene, Built &built)
{
	const std::string path = (std::filesystem::temp_directory_path() / "mistpane-gallery-cover.png").string();
	if (!write_png(path, cover_picture()))
		std::fprintf(stderr, "gallery: cannot write %s\n", path.c_str());
	const std::string settings =
	    "\"mode\": \"cover\", \"shape\": \"ellipse\", \"feather\": 30, \"cover_image\": \"" + path + "\"";
	obs_sceneitem_t *item = add_board(scene, built, settings.c_str());
	std::filesystem::remove(path);
	obs_sceneitem_set_rot(item, 15.0f);
}

// A board in the scene as usual; the panic cover hides the whole canvas.
void under_panic(Context &, obs_scene_t *scene, Built &built)
{
	add_board(scene, built, "\"blur_radius\": 20");
	built.whole_canvas = true;
}

// A window-like picture of its own with the filter on it, moved, scaled
// and turned in the scene: the filter hides the same part of it.
auto filtered(const char *settings, float x, float y, float w, float h)
{
	return [=](Context &, obs_scene_t *scene, Built &built) {
		obs_source_t *window =
		    harness::make_pattern(("gallery window " + built.name).c_str(), kWidth, kHeight, "detail");
		built.extra_sources.push_back(window);
		const std::string json = std::string("{\"fade_seconds\": 0, ") + settings + "}";
		obs_data_t *data = harness::json(json.c_str());
		built.filter =
		    obs_source_create("mistpane_hide_filter", ("gallery hide " + built.name).c_str(), data, nullptr);
		obs_data_release(data);
		obs_source_filter_add(window, built.filter);
		built.filtered_item = add_at(scene, window, 200.0f, 90.0f);
		vec2 scale;
		vec2_set(&scale, 0.75f, 0.75f);
		obs_sceneitem_set_scale(built.filtered_item, &scale);
		obs_sceneitem_set_rot(built.filtered_item, 4.0f);
		built.hidden_x = x;
		built.hidden_y = y;
		built.hidden_w = w;
		built.hidden_h = h;
	};
}

// The gallery, in order: file, caption, what the scene holds, whether the
// detail picture lies beneath, how the picture with the boards is taken.
std::vector<Case> cases()
{
	return {
	    {"blur-5", "Blur, radius 5", simple("\"blur_radius\": 5")},
	    {"blur-20", "Blur, radius 20 (default)", simple("\"blur_radius\": 20")},
	    {"blur-100", "Blur, radius 100", simple("\"blur_radius\": 100")},
	    {"blur-500", "Blur, radius 500", simple("\"blur_radius\": 500")},
	    {"mosaic-8", "Mosaic, cells of 8", simple("\"mode\": \"mosaic\", \"mosaic_size\": 8")},
	    {"mosaic-24", "Mosaic, cells of 24 (default)", simple("\"mode\": \"mosaic\", \"mosaic_size\": 24")},
	    {"mosaic-64", "Mosaic, cells of 64", simple("\"mode\": \"mosaic\", \"mosaic_size\": 64")},
	    {"mosaic-6", "Mosaic, cells of 6: too small, its properties warn",
	     simple("\"mode\": \"mosaic\", \"mosaic_size\": 6")},
	    // Cells low-passed first: text moving beneath gives nothing back over
	    // the frames (mistpane-leak-bench measures it).
	    {"mosaic-text-16", "Mosaic, cells of 16, over small text (11-pixel letters)",
	     over_text("\"mode\": \"mosaic\", \"mosaic_size\": 16"), false},
	    {"mosaic-text-24", "Mosaic, cells of 24, over small text", over_text("\"mode\": \"mosaic\""), false},
	    {"ellipse-feather", "Ellipse, feather 60, blur radius 30",
	     simple("\"shape\": \"ellipse\", \"feather\": 60, \"blur_radius\": 30")},
	    {"rounded", "Rounded rectangle, corner radius 80, blur radius 30",
	     simple("\"shape\": \"rounded\", \"corner_radius\": 80, \"blur_radius\": 30")},
	    {"inverted", "Inverted: everything but a rounded rectangle hidden, mosaic 24, rotated by 10 degrees",
	     inverted},
	    {"rotated", "Rotated by 30 degrees, mosaic 24", rotated},
	    {"scaled", "Scaled by 1.4 x 0.6, blur radius 20", scaled},
	    {"cropped", "Cropped left 120, top 60, right 200, bottom 100, blur radius 20", cropped},
	    {"group", "In a group over a checkerboard of the same group, blur radius 20", grouped},
	    {"nested", "Over a nested scene (picture scaled by 0.6 over a gradient), mosaic 24", over_nested, false},
	    {"emergency", "Emergency cover (6 % of the shorter side), set on a small rotated board", emergency},
	    {"shared", "One board shown by two scene items: opaque hatching instead of hiding", shared},
	    // The blur's sigma follows the square of the fade level.
	    {"half-fade", "Strength 50 (fade level 0.5): blur radius 80 acts as radius 20",
	     simple("\"strength\": 50, \"blur_radius\": 80")},
	    {"studio-mode", "Studio mode: the program's private scene copy after the board moved in the preview",
	     simple("\"blur_radius\": 20"), true, studio_moved},
	    {"capture-fails", "The host refuses the board's texture renders: an opaque cover instead",
	     simple("\"blur_radius\": 20"), true, capture_refused},
	    {"cover-color", "Cover mode, the default dark grey: nothing of the picture beneath",
	     simple("\"mode\": \"cover\"")},
	    {"cover-image",
	     "Cover mode with an image, stretched over an ellipse with a soft edge of 30, rotated by 15 degrees",
	     cover_with_image},
	    {"filter-region",
	     "Filter \"MistPane: Hide\" on a source: a region of it blurred (radius 20), the source moved, scaled "
	     "and turned",
	     filtered("\"blur_radius\": 20, \"region_x\": 360, \"region_y\": 220, \"region_width\": 720, "
		      "\"region_height\": 400",
		      360, 220, 720, 400),
	     false},
	    {"filter-rounded",
	     "Filter on a source: a region with rounded corners (radius 60) under a mosaic of 24, moved with the "
	     "source",
	     filtered("\"mode\": \"mosaic\", \"shape\": \"rounded\", \"corner_radius\": 60, \"region_x\": 560, "
		      "\"region_y\": 240, \"region_width\": 600, \"region_height\": 500",
		      560, 240, 600, 500),
	     false},
	    {"filter-invert",
	     "Filter on a source, inverted: all of it blurred (radius 30) but a rounded region, the face",
	     filtered("\"blur_radius\": 30, \"invert\": true, \"shape\": \"rounded\", \"corner_radius\": 40, "
		      "\"region_x\": 800, \"region_y\": 360, \"region_width\": 300, \"region_height\": 310",
		      0, 0, 1280, 720),
	     false},
	    {"panic-cover",
	     "Panic key on, in its default style: the whole program under the plain dark grey cover, whatever the "
	     "scene holds (a blur board here)",
	     under_panic, true, panic_pressed},
	};
}

struct Result {
	const Case *what;
	std::string file;
	Change change;
	const char *method;
	std::string settings; // the board's settings as stored, JSON
	std::vector<std::string> warnings; // the properties' warning lines shown
	Picture before, after;
};

// The warning lines the board's properties show, as the host builds them.
std::vector<std::string> property_warnings(obs_source_t *board)
{
	std::vector<std::string> lines;
	obs_properties_t *props = obs_source_properties(board);
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		if (obs_property_get_type(p) == OBS_PROPERTY_TEXT && obs_property_text_type(p) == OBS_TEXT_INFO &&
		    obs_property_text_info_type(p) == OBS_TEXT_INFO_WARNING && obs_property_visible(p))
			lines.push_back(obs_property_description(p));
	obs_properties_destroy(props);
	return lines;
}

std::string settings_json(obs_source_t *board)
{
	obs_data_t *settings = obs_source_get_settings(board);
	std::string text = settings ? obs_data_get_json(settings) : "";
	obs_data_release(settings);
	return text;
}

Picture side_by_side(const Picture &before, const Picture &after, uint32_t gap)
{
	Picture pair(before.width + gap + after.width, before.height, 24);
	blit(pair, before, 0, 0);
	blit(pair, after, before.width + gap, 0);
	return pair;
}

std::string html_escape(const std::string &text)
{
	std::string out;
	for (char c : text) {
		if (c == '<')
			out += "&lt;";
		else if (c == '>')
			out += "&gt;";
		else if (c == '&')
			out += "&amp;";
		else
			out += c;
	}
	return out;
}

bool write_index(const std::string &dir, const std::vector<Result> &results)
{
	FILE *f = std::fopen((dir + "/index.html").c_str(), "w");
	if (!f)
		return false;
	std::fprintf(f,
		     "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>MistPane gallery</title>\n"
		     "<style>body{background:#202020;color:#ddd;font-family:sans-serif;margin:24px}"
		     "figure{margin:0 0 32px 0}img{width:100%%;max-width:1600px;display:block}"
		     "figcaption{margin:6px 0}code{color:#9cf}</style></head><body>\n"
		     "<h1>MistPane gallery</h1>\n<p>Program output of a %ux%u canvas, rendered by the real host "
		     "(libobs %s) with the freshly built module. Left: the scene without the board; right: with "
		     "it. Change = mean absolute change per colour channel (0 to 255) inside and outside the "
		     "board's visible box. <a href=\"contact-sheet.png\">Contact sheet</a>.</p>\n",
		     kWidth, kHeight, obs_get_version_string());
	for (const Result &r : results) {
		std::fprintf(f,
			     "<figure><img src=\"%s\" alt=\"%s\"><figcaption><b>%s</b> &mdash; change inside %.2f, "
			     "outside %.2f, capture: %s<br>board settings <code>%s</code></figcaption></figure>\n",
			     r.file.c_str(), html_escape(r.what->caption).c_str(), html_escape(r.what->caption).c_str(),
			     r.change.inside, r.change.outside, r.method, html_escape(r.settings).c_str());
		for (const std::string &line : r.warnings)
			std::fprintf(f, "<p style=\"color:#fc6\">Properties warn: %s</p>\n", html_escape(line).c_str());
	}
	std::fprintf(f, "</body></html>\n");
	return std::fclose(f) == 0;
}

Picture contact_sheet(const std::vector<Result> &results)
{
	const uint32_t factor = 4, tw = kWidth / factor, th = kHeight / factor, gap = 8;
	// Up to three lines of the properties' warnings under each pair.
	const uint32_t pair_w = 2 * tw + gap, caption_h = 22, warning_h = 3 * 10,
		       cell_h = th + caption_h + warning_h + 2 * gap;
	const uint32_t columns = 2, rows = uint32_t(results.size() + columns - 1) / columns;
	Picture sheet(columns * pair_w + (columns + 1) * 2 * gap, rows * cell_h + 2 * gap, 32);
	for (size_t i = 0; i < results.size(); ++i) {
		const uint32_t x = 2 * gap + uint32_t(i % columns) * (pair_w + 2 * gap);
		const uint32_t y = 2 * gap + uint32_t(i / columns) * cell_h;
		draw_text(sheet, x, y, std::to_string(i + 1) + ". " + results[i].what->caption, 2, pair_w);
		blit(sheet, shrink(results[i].before, factor), x, y + caption_h);
		blit(sheet, shrink(results[i].after, factor), x + tw + gap, y + caption_h);
		if (!results[i].warnings.empty())
			draw_lines(sheet, x, y + caption_h + th + 4, "WARNS: " + results[i].warnings.front(), pair_w,
				   3);
	}
	return sheet;
}

bool whole_frame(const Picture &picture)
{
	return picture.width == kWidth && picture.height == kHeight;
}

// Without the boards: their items hidden, the scene on the program output.
Picture without_boards(obs_scene_t *scene, const Built &built)
{
	for (obs_sceneitem_t *item : built.board_items)
		obs_sceneitem_set_visible(item, false);
	if (built.filter)
		obs_source_set_enabled(built.filter, false);
	obs_set_output_source(0, obs_scene_get_source(scene));
	const Picture before = from_frame(settled_frame());
	for (obs_sceneitem_t *item : built.board_items)
		obs_sceneitem_set_visible(item, true);
	if (built.filter)
		obs_source_set_enabled(built.filter, true);
	return before;
}

// The filtered part's unit square on the canvas: its place in the source,
// then the source's item's.
matrix4 filtered_box(const Built &built)
{
	matrix4 item, part;
	obs_sceneitem_get_draw_transform(built.filtered_item, &item);
	matrix4_identity(&part);
	part.x.x = built.hidden_w;
	part.y.y = built.hidden_h;
	vec4_set(&part.t, built.hidden_x, built.hidden_y, 0.0f, 1.0f);
	matrix4 box;
	matrix4_mul(&box, &part, &item);
	return box;
}

Mask board_mask(const Built &built)
{
	Mask mask;
	if (built.whole_canvas)
		mask.add_all();
	else if (built.filter)
		mask.add_box(filtered_box(built));
	else
		for (obs_sceneitem_t *item : built.board_items)
			mask.add_box(canvas_box(item, built.group_item));
	return mask;
}

Result take_pictures(const Case &c, obs_scene_t *scene, Built &built)
{
	const Picture before = without_boards(scene, built);
	const Mask mask = board_mask(built);
	const Picture after = c.show(scene, built);
	const bool framed = whole_frame(before) && whole_frame(after);
	return {&c,
		std::string(c.file) + ".png",
		framed ? measure(before, after, mask) : Change{},
		built.board ? capture_method_name(harness::board_of(built.board)->capture_method.load()) : "-",
		settings_json(built.board ? built.board : built.filter),
		property_warnings(built.board ? built.board : built.filter),
		before,
		after};
}

// Writes the case's image and prints its line; false when it has none.
bool report(const std::string &dir, Result &&result, std::vector<Result> &results)
{
	const char *file = result.what->file;
	const Picture &before = result.before, &after = result.after;
	if (!whole_frame(before) || !whole_frame(after)) {
		std::printf("  %-16s no frame from the host\n", file);
		return false;
	}
	if (!write_png(dir + "/" + result.file, side_by_side(before, after, 16))) {
		std::printf("  %-16s cannot write %s\n", file, result.file.c_str());
		return false;
	}
	std::printf("  %-16s change inside %6.2f  outside %5.2f  capture %-6s  %s\n", file, result.change.inside,
		    result.change.outside, result.method, result.what->caption);
	results.push_back(std::move(result));
	return true;
}

void release_case(obs_scene_t *scene, Built &built)
{
	obs_set_output_source(0, nullptr);
	harness::release_scene(scene);
	for (obs_scene_t *extra : built.extra_scenes)
		harness::release_scene(extra);
	if (built.filter)
		obs_source_filter_remove(obs_sceneitem_get_source(built.filtered_item), built.filter);
	obs_source_release(built.filter);
	for (obs_source_t *source : built.extra_sources)
		obs_source_release(source);
	obs_source_release(built.board);
}

bool run_case(Context &context, const Case &c, const std::string &dir, std::vector<Result> &results)
{
	obs_scene_t *scene = harness::make_scene(c.file);
	if (c.picture_beneath)
		obs_scene_add(scene, context.picture);
	Built built;
	built.name = c.file;
	c.build(context, scene, built);
	const bool ok = report(dir, take_pictures(c, scene, built), results);
	release_case(scene, built);
	return ok;
}

// The absolute output folder, made; empty when it cannot be.
std::string output_dir(int argc, char **argv)
{
	const std::string dir =
	    std::filesystem::absolute(argc > 1 ? argv[1] : std::string(MISTPANE_SOURCE_DIR) + "/out/gallery")
		.lexically_normal()
		.string();
	std::error_code error;
	std::filesystem::create_directories(dir, error);
	if (error) {
		std::fprintf(stderr, "gallery: cannot create %s: %s\n", dir.c_str(), error.message().c_str());
		return {};
	}
	return dir;
}

void release_context(Context &context)
{
	obs_source_release(context.picture);
	obs_source_release(context.text);
}

// The host with the transitions, the frame count and the two pictures, once
// the program output is seen to show a picture one to one.
bool start_host(Context &context)
{
	harness::HostOptions options;
	options.width = kWidth;
	options.height = kHeight;
	if (!harness::start(options))
		return false;
	if (!harness::load_stock_module("obs-transitions")) {
		std::fprintf(stderr, "gallery: cannot load the host's transitions\n");
		harness::stop();
		return false;
	}
	obs_add_main_render_callback(count_rendered, nullptr);
	context.picture = harness::make_pattern("gallery picture", kWidth, kHeight, "detail");
	context.text = harness::make_pattern("gallery text", kWidth, kHeight, "text");
	if (!find_channel_order(context.picture)) {
		std::fprintf(stderr, "gallery: the program output does not show the test picture one to one\n");
		release_context(context);
		obs_remove_main_render_callback(count_rendered, nullptr);
		harness::stop();
		return false;
	}
	return true;
}

bool write_summary(const std::string &dir, const std::vector<Result> &results)
{
	bool ok = true;
	if (!write_index(dir, results) || !write_png(dir + "/contact-sheet.png", contact_sheet(results))) {
		std::printf("gallery: cannot write the index or the contact sheet\n");
		ok = false;
	}
	std::printf("gallery: %zu images, index %s/index.html, contact sheet %s/contact-sheet.png\n", results.size(),
		    dir.c_str(), dir.c_str());
	return ok;
}

bool stop_host()
{
	obs_remove_main_render_callback(count_rendered, nullptr);
	const long leaks = harness::stop();
	if (leaks != 0)
		std::printf("gallery: host allocations left at shutdown: %ld\n", leaks);
	return leaks == 0;
}

} // namespace

int main(int argc, char **argv)
{
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	const std::string dir = output_dir(argc, argv);
	Context context;
	if (dir.empty() || !start_host(context))
		return 1;
	std::printf("gallery: boards over the detail picture, %ux%u canvas, written to %s\n", kWidth, kHeight,
		    dir.c_str());
	const std::vector<Case> all = cases();
	std::vector<Result> results;
	bool ok = true;
	for (const Case &c : all)
		ok = run_case(context, c, dir, results) && ok;
	release_context(context);
	ok = write_summary(dir, results) && ok;
	return stop_host() && ok ? 0 : 1;
}
