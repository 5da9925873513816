// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Scenes with a picture and a board, and pixel measures, for the render
// tests. Header-only so each test binary stays one translation unit.

#include <obs.h>
#include <graphics/matrix4.h>
#include <graphics/vec3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "board/blur_board.h"
#include "render/board_render.h"
#include "harness/host.h"
#include "harness/pattern.h"

namespace rt {

struct Rect {
	int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // half-open
	bool empty() const { return x1 <= x0 || y1 <= y0; }
	int width() const { return x1 - x0; }
	int height() const { return y1 - y0; }
};

inline void update_source(obs_source_t *source, const std::string &json)
{
	obs_data_t *data = harness::json(json.c_str());
	obs_source_update(source, data);
	obs_data_release(data);
}

// A canvas-sized picture at the bottom of a scene and a board above it.
// The scene goes to the main output unless told otherwise.
struct Stage {
	obs_scene_t *scene = nullptr;
	obs_source_t *picture = nullptr;
	obs_sceneitem_t *picture_item = nullptr;
	obs_source_t *board = nullptr;
	obs_sceneitem_t *board_item = nullptr;
	bool output = true;

	explicit Stage(const std::string &board_json, const char *kind = "checker", int cell = 8, bool to_output = true,
		       uint32_t color = 0xff00ff00)
	    : output(to_output)
	{
		const HostSize size = host_size();
		scene = harness::make_scene("stage");
		picture = harness::make_pattern("picture", size.w, size.h, kind, cell, color);
		picture_item = obs_scene_add(scene, picture);
		if (!board_json.empty()) {
			board = harness::make_board("board", board_json.c_str());
			board_item = obs_scene_add(scene, board);
		}
		if (output)
			obs_set_output_source(0, obs_scene_get_source(scene));
		settle();
	}
	Stage(const Stage &) = delete;
	Stage &operator=(const Stage &) = delete;

	~Stage()
	{
		if (output)
			obs_set_output_source(0, nullptr);
		// Scenes belong to the main canvas until removed.
		obs_source_remove(scene_source());
		obs_scene_release(scene);
		obs_source_release(board);
		obs_source_release(picture);
		// The host destroys released sources on a task thread of its own.
		obs_wait_for_destroy_queue();
	}

	obs_source_t *scene_source() const { return obs_scene_get_source(scene); }
	BlurBoard *record() const { return harness::board_of(board); }

	void place(float x, float y)
	{
		vec2 pos;
		vec2_set(&pos, x, y);
		obs_sceneitem_set_pos(board_item, &pos);
	}
	void update(const std::string &json) { update_source(board, json); }
	// Lets updates, placement and fade reach the board.
	static void settle(int ticks = 3) { harness::settled_frame(ticks); }

	struct HostSize {
		uint32_t w, h;
	};
	static HostSize host_size() { return {harness::options().width, harness::options().height}; }
};

// The frontend's studio mode: the program shows a private duplicate of the
// scene on a private transition in output channel 0.
struct StudioProgram {
	obs_source_t *transition = nullptr;
	obs_scene_t *program = nullptr;

	StudioProgram(obs_scene_t *scene, obs_scene_duplicate_type type)
	{
		program = obs_scene_duplicate(scene, "program copy", type);
		transition = obs_source_create_private("cut_transition", "program transition", nullptr);
		obs_transition_set(transition, obs_scene_get_source(program));
		obs_set_output_source(0, transition);
	}
	~StudioProgram()
	{
		obs_set_output_source(0, nullptr);
		obs_transition_clear(transition);
		obs_source_release(transition);
		obs_scene_release(program);
		obs_wait_for_destroy_queue();
	}
};

// The scene's picture as the host shows it without any board.
inline harness::Image pattern_image(const char *kind, int cell = 8, uint32_t color = 0xff00ff00)
{
	harness::Image img;
	img.width = harness::options().width;
	img.height = harness::options().height;
	img.rgba = harness::pattern_pixels(kind, img.width, img.height, cell, color);
	return img;
}

inline int channel_diff(const harness::Image &a, const harness::Image &b, uint32_t x, uint32_t y)
{
	const uint8_t *p = a.at(x, y), *q = b.at(x, y);
	int d = 0;
	for (int c = 0; c < 3; ++c)
		d = std::max(d, std::abs(int(p[c]) - int(q[c])));
	return d;
}

// Pixels whose colour differs by more than tolerance.
inline long count_changed(const harness::Image &a, const harness::Image &b, int tolerance = 2, Rect area = {})
{
	if (area.empty())
		area = {0, 0, int(a.width), int(a.height)};
	long n = 0;
	for (int y = area.y0; y < area.y1; ++y)
		for (int x = area.x0; x < area.x1; ++x)
			n += channel_diff(a, b, x, y) > tolerance;
	return n;
}

inline int max_diff(const harness::Image &a, const harness::Image &b, Rect area = {})
{
	if (area.empty())
		area = {0, 0, int(a.width), int(a.height)};
	int m = 0;
	for (int y = area.y0; y < area.y1; ++y)
		for (int x = area.x0; x < area.x1; ++x)
			m = std::max(m, channel_diff(a, b, x, y));
	return m;
}

// Bounding box of the changed pixels (empty when nothing changed).
inline Rect changed_box(const harness::Image &a, const harness::Image &b, int tolerance = 2)
{
	Rect r{int(a.width), int(a.height), 0, 0};
	for (uint32_t y = 0; y < a.height; ++y)
		for (uint32_t x = 0; x < a.width; ++x)
			if (channel_diff(a, b, x, y) > tolerance) {
				r.x0 = std::min(r.x0, int(x));
				r.y0 = std::min(r.y0, int(y));
				r.x1 = std::max(r.x1, int(x) + 1);
				r.y1 = std::max(r.y1, int(y) + 1);
			}
	return r;
}

// Mean absolute difference of neighbouring pixels (green channel): high
// for a sharp checkerboard, falling as it is blurred.
inline double detail(const harness::Image &img, Rect area)
{
	double sum = 0;
	long n = 0;
	for (int y = area.y0; y < area.y1 - 1; ++y)
		for (int x = area.x0; x < area.x1 - 1; ++x) {
			const int v = img.at(x, y)[1];
			sum += std::abs(v - int(img.at(x + 1, y)[1])) + std::abs(v - int(img.at(x, y + 1)[1]));
			n += 2;
		}
	return n ? sum / n : 0.0;
}

inline double to_linear(uint8_t v)
{
	const double c = v / 255.0;
	return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Standard deviation of the green channel over the area.
inline double contrast(const harness::Image &img, Rect area)
{
	double sum = 0, sq = 0;
	long n = 0;
	for (int y = area.y0; y < area.y1; ++y)
		for (int x = area.x0; x < area.x1; ++x) {
			const double v = img.at(x, y)[1];
			sum += v;
			sq += v * v;
			++n;
		}
	if (!n)
		return 0.0;
	const double mean = sum / n;
	return std::sqrt(std::max(0.0, sq / n - mean * mean));
}

inline Rect inset(Rect r, int by)
{
	return {r.x0 + by, r.y0 + by, r.x1 - by, r.y1 - by};
}

// The picture in linear light, low-passed by a Gaussian of sigma pixels
// with its edges held, as the mosaic reads it (sigma 0: unchanged).
struct LinearImage {
	uint32_t width = 0, height = 0;
	std::vector<double> rgb;
	const double *at(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

inline LinearImage low_passed(const harness::Image &img, float sigma)
{
	LinearImage out{img.width, img.height, std::vector<double>(size_t(img.width) * img.height * 3)};
	for (size_t i = 0; i < size_t(img.width) * img.height; ++i)
		for (int c = 0; c < 3; ++c)
			out.rgb[i * 3 + c] = to_linear(img.rgba[i * 4 + c]);
	if (!(sigma > 0.05f))
		return out;
	const int r = int(std::ceil(3.5f * sigma));
	std::vector<double> k(2 * r + 1);
	double total = 0;
	for (int i = -r; i <= r; ++i)
		total += k[i + r] = std::exp(-0.5 * i * i / (double(sigma) * sigma));
	for (double &v : k)
		v /= total;
	auto pass = [&](bool across) {
		std::vector<double> next(out.rgb.size());
		const int w = int(out.width), h = int(out.height);
		for (int y = 0; y < h; ++y)
			for (int x = 0; x < w; ++x)
				for (int i = -r; i <= r; ++i) {
					const int sx = across ? std::clamp(x + i, 0, w - 1) : x;
					const int sy = across ? y : std::clamp(y + i, 0, h - 1);
					for (int c = 0; c < 3; ++c)
						next[(size_t(y) * w + x) * 3 + c] +=
						    k[i + r] * out.rgb[(size_t(sy) * w + sx) * 3 + c];
				}
		out.rgb.swap(next);
	};
	pass(true);
	pass(false);
	return out;
}

// Mosaic cells.
struct CellCheck {
	int cells = 0;
	int mixed = 0; // cells with more than one colour
	int equal_neighbours = 0; // horizontally adjacent cells of one colour
	double worst_mean_error = 0; // cell colour against the low-passed picture's mean (sRGB levels)
	int off_by_more_than_two = 0; // cells whose colour is that far from it
};

// Cells of edge `cell` from the canvas origin, over the pixels of area
// whose centres they hold; only cells wholly inside area are judged. Each
// cell's colour is compared with the mean of the picture low-passed by
// `sigma` over the cell.
inline CellCheck check_cells(const harness::Image &out, const harness::Image &ref, Rect area, float cell,
			     float sigma = 0.0f)
{
	CellCheck check;
	const LinearImage lin = low_passed(ref, sigma);
	const int cx0 = int(std::ceil(area.x0 / cell)), cy0 = int(std::ceil(area.y0 / cell));
	for (int cy = cy0; (cy + 1) * cell <= area.y1; ++cy) {
		const uint8_t *previous = nullptr;
		for (int cx = cx0; (cx + 1) * cell <= area.x1; ++cx) {
			const uint8_t *first = nullptr;
			bool mixed = false;
			double linear[3] = {0, 0, 0};
			int n = 0;
			// Pixel centres closer than 0.05 to a cell edge may fall either
			// way in the GPU's arithmetic and are not judged.
			for (int y = int(std::ceil(cy * cell - 0.45f)); y + 0.55f < (cy + 1) * cell; ++y)
				for (int x = int(std::ceil(cx * cell - 0.45f)); x + 0.55f < (cx + 1) * cell; ++x) {
					const uint8_t *p = out.at(x, y);
					if (!first)
						first = p;
					for (int c = 0; c < 3; ++c) {
						mixed = mixed || std::abs(int(p[c]) - int(first[c])) > 1;
						linear[c] += lin.at(x, y)[c];
					}
					++n;
				}
			if (!first)
				continue;
			++check.cells;
			check.mixed += mixed;
			if (previous && std::abs(int(previous[0]) - int(first[0])) == 0 &&
			    std::abs(int(previous[1]) - int(first[1])) == 0)
				++check.equal_neighbours;
			previous = first;
			double worst = 0;
			for (int c = 0; c < 3; ++c) {
				const double mean = linear[c] / n;
				const double srgb =
				    mean <= 0.0031308 ? mean * 12.92 : 1.055 * std::pow(mean, 1 / 2.4) - 0.055;
				worst = std::max(worst, std::abs(srgb * 255 - first[c]));
			}
			check.worst_mean_error = std::max(check.worst_mean_error, worst);
			check.off_by_more_than_two += worst > 2.0;
		}
	}
	return check;
}

inline CaptureMethod method_of(obs_source_t *board)
{
	return harness::board_of(board)->capture_method.load();
}

// The board-to-canvas map computed from the item's own settings (pos,
// rotation, scale, alignment 0 = top left), independently of the host's
// draw transform: p -> pos + R(rot) * (scale * p).
inline vec2 item_map(float px, float py, float pos_x, float pos_y, float rot_deg, float sx, float sy)
{
	const float a = rot_deg * float(M_PI) / 180.0f;
	const float x = px * sx, y = py * sy;
	vec2 out;
	vec2_set(&out, pos_x + x * cosf(a) - y * sinf(a), pos_y + x * sinf(a) + y * cosf(a));
	return out;
}

// Is the canvas pixel centre (x + 0.5, y + 0.5) inside the parallelogram
// origin + s*du + t*dv, s, t in [0, 1]? margin > 0 shrinks it (pixels).
inline bool inside_quad(float x, float y, vec2 origin, vec2 du, vec2 dv, float margin)
{
	const float px = x + 0.5f - origin.x, py = y + 0.5f - origin.y;
	const float det = du.x * dv.y - du.y * dv.x;
	const float s = (px * dv.y - py * dv.x) / det;
	const float t = (du.x * py - du.y * px) / det;
	const float lu = sqrtf(du.x * du.x + du.y * du.y), lv = sqrtf(dv.x * dv.x + dv.y * dv.y);
	const float mu = margin / lu, mv = margin / lv;
	return s >= mu && s <= 1.0f - mu && t >= mv && t <= 1.0f - mv;
}

} // namespace rt
