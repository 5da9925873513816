// SPDX-License-Identifier: GPL-2.0-or-later
// A deterministic picture for pixel tests, drawn from a texture made once
// per update.
#include "harness/host.h"
#include "harness/pattern.h"

#include <obs-module.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

namespace harness {

namespace {

struct Pattern {
	obs_source_t *source = nullptr;
	gs_texture_t *texture = nullptr;
	uint32_t width = 0;
	uint32_t height = 0;
};

void rebuild(Pattern *pattern, obs_data_t *settings)
{
	const uint32_t w = (uint32_t)obs_data_get_int(settings, "width");
	const uint32_t h = (uint32_t)obs_data_get_int(settings, "height");
	const char *kind = obs_data_get_string(settings, "kind");
	std::vector<uint8_t> pixels = std::strcmp(kind, "labels") == 0
					  ? label_pixels(w, h, obs_data_get_string(settings, "labels"))
					  : pattern_pixels(kind, w, h, (int)obs_data_get_int(settings, "cell"),
							   (uint32_t)obs_data_get_int(settings, "color"));
	obs_enter_graphics();
	gs_texture_destroy(pattern->texture);
	const uint8_t *planes[] = {pixels.data()};
	pattern->texture = w && h ? gs_texture_create(w, h, GS_RGBA, 1, planes, 0) : nullptr;
	obs_leave_graphics();
	pattern->width = w;
	pattern->height = h;
}

void *pattern_create(obs_data_t *settings, obs_source_t *source)
{
	auto *pattern = new Pattern();
	pattern->source = source;
	rebuild(pattern, settings);
	return pattern;
}

void pattern_destroy(void *data)
{
	auto *pattern = static_cast<Pattern *>(data);
	obs_enter_graphics();
	gs_texture_destroy(pattern->texture);
	obs_leave_graphics();
	delete pattern;
}

void pattern_update(void *data, obs_data_t *settings)
{
	rebuild(static_cast<Pattern *>(data), settings);
}

void pattern_defaults(obs_data_t *settings)
{
	obs_data_set_default_int(settings, "width", 64);
	obs_data_set_default_int(settings, "height", 64);
	obs_data_set_default_string(settings, "kind", "checker");
	obs_data_set_default_int(settings, "cell", 8);
	obs_data_set_default_int(settings, "color", 0xff00ff00);
}

void pattern_render(void *data, gs_effect_t *)
{
	auto *pattern = static_cast<Pattern *>(data);
	if (!pattern->texture)
		return;
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
	const bool previous = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	gs_effect_set_texture_srgb(gs_effect_get_param_by_name(effect, "image"), pattern->texture);
	while (gs_effect_loop(effect, "Draw"))
		gs_draw_sprite(pattern->texture, 0, pattern->width, pattern->height);
	gs_enable_framebuffer_srgb(previous);
}

uint32_t pattern_width(void *data)
{
	return static_cast<Pattern *>(data)->width;
}

uint32_t pattern_height(void *data)
{
	return static_cast<Pattern *>(data)->height;
}

const char *pattern_name(void *)
{
	return "MistPane test pattern";
}

void put(std::vector<uint8_t> &px, uint32_t w, uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b)
{
	uint8_t *p = &px[(size_t(y) * w + x) * 4];
	p[0] = r;
	p[1] = g;
	p[2] = b;
	p[3] = 255;
}

struct Glyph {
	char c;
	uint8_t rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},
    {'=', {0, 0, 0x1F, 0, 0x1F, 0, 0}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {'+', {0, 0x04, 0x04, 0x1F, 0x04, 0x04, 0}},
    {'/', {0, 0x01, 0x02, 0x04, 0x08, 0x10, 0}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'"', {0x0A, 0x0A, 0, 0, 0, 0, 0}},
    {'_', {0, 0, 0, 0, 0, 0, 0x1F}},
    {'@', {0x0E, 0x11, 0x17, 0x15, 0x17, 0x10, 0x0E}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

const char kSampleText[] = "PASSWORD: HUNTER2   CARD 4929 1234 5678 9012   CHAT: HELLO FROM THE STREAM   "
			   "MAIL: ME@EXAMPLE.ORG   ADDRESS 12 ELM ROAD   PIN 0815   TOKEN 7F3A-99C1-04BE   ";

void text_line(std::vector<uint8_t> &px, uint32_t w, uint32_t h, uint32_t x0, uint32_t y0, const char *text,
	       uint32_t scale)
{
	uint32_t x = x0;
	for (const char *c = text; *c && x < w; ++c, x += 6 * scale) {
		const uint8_t *rows = glyph_rows(*c);
		if (!rows)
			continue;
		for (uint32_t row = 0; row < 7 * scale; ++row) {
			for (uint32_t col = 0; col < 5 * scale; ++col) {
				if (!(rows[row / scale] & (0x10 >> (col / scale))))
					continue;
				// A dark shadow right and below every stroke keeps the edges hard
				// on any background.
				if (x + col + 1 < w && y0 + row + 1 < h)
					put(px, w, x + col + 1, y0 + row + 1, 15, 15, 20);
				if (x + col < w && y0 + row < h)
					put(px, w, x + col, y0 + row, 250, 250, 245);
			}
		}
	}
}

// Fine text in the top half (mostly 5x7 pixel glyphs, one band twice and one
// four times as large), in the lower left a bar grid and a star of 48 spokes,
// in the lower right a face-like high-contrast shape.
void detail(std::vector<uint8_t> &px, uint32_t w, uint32_t h)
{
	for (uint32_t y = 0; y < h; ++y) {
		for (uint32_t x = 0; x < w; ++x) {
			// Soft background gradient.
			const uint8_t r = uint8_t(40 + 150 * x / std::max(w, 1u));
			const uint8_t g = uint8_t(60 + 120 * y / std::max(h, 1u));
			put(px, w, x, y, r, g, 140);
		}
	}
	// Text rows; each starts at another place in the sample text.
	const size_t text_length = sizeof(kSampleText) - 1;
	std::string text;
	for (uint32_t line = 0, y = 4; y + 8 <= h / 2; ++line) {
		const uint32_t scale = line == 6 ? 4 : (line == 3 || line == 11) ? 2 : 1;
		if (y + 8 * scale > h / 2)
			break;
		text.clear();
		for (size_t i = 0; text.size() < w / 6 + 1; ++i)
			text += kSampleText[(noise_hash(line) % text_length + i) % text_length];
		text_line(px, w, h, 4 + (line % 3) * 2, y, text.c_str(), scale);
		y += 10 * scale + 2;
	}
	// Hard edges: a bar grid in the lower left quarter.
	for (uint32_t y = h / 2; y < h; ++y)
		for (uint32_t x = 0; x < w / 4; ++x)
			if ((x / 16 + y / 16) & 1)
				put(px, w, x, y, 0, 0, 0);
	// Edges in every direction, finer towards the centre: a star.
	const float sx = w * 0.375f, sy = h * 0.75f, srad = std::min(w * 0.12f, h * 0.23f);
	for (uint32_t y = h / 2; y < h; ++y) {
		for (uint32_t x = w / 4; x < w / 2; ++x) {
			const float dx = x + 0.5f - sx, dy = y + 0.5f - sy;
			if (dx * dx + dy * dy > srad * srad)
				continue;
			const float turn = (std::atan2(dy, dx) + 3.14159265f) / (2.0f * 3.14159265f);
			const uint8_t v = (int(turn * 96.0f) & 1) ? 245 : 10;
			put(px, w, x, y, v, v, v);
		}
	}
	// A face-like high-contrast shape in the lower right.
	const float cx = w * 0.75f, cy = h * 0.72f, rad = std::min(w, h) * 0.2f;
	for (uint32_t y = h / 2; y < h; ++y) {
		for (uint32_t x = w / 2; x < w; ++x) {
			const float dx = x - cx, dy = y - cy;
			const float d = std::sqrt(dx * dx + dy * dy);
			if (d > rad)
				continue;
			uint8_t v = 235;
			const float ex = std::fabs(dx) - rad * 0.38f, ey = dy + rad * 0.3f;
			if (ex * ex + ey * ey < rad * rad * 0.018f)
				v = 10;
			// Brows, a nose and a mouth.
			if (dy > -rad * 0.6f && dy < -rad * 0.52f && std::fabs(ex) < rad * 0.2f)
				v = 10;
			if (std::fabs(dx) < rad * 0.05f && dy > -rad * 0.15f && dy < rad * 0.12f)
				v = 10;
			if (dy > rad * 0.25f && dy < rad * 0.42f && std::fabs(dx) < rad * 0.5f)
				v = 10;
			if (d > rad - 3)
				v = 10;
			put(px, w, x, y, v, uint8_t(v * 0.85f), uint8_t(v * 0.7f));
		}
	}
}

// One glyph of the small text: the 5 x 7 glyph drawn 8 x 11, light.
void small_glyph(std::vector<uint8_t> &px, uint32_t w, uint32_t h, long x, long y, char c)
{
	const uint8_t *rows = glyph_rows(c);
	for (long r = 0; rows && r < 11; ++r)
		for (long col = 0; col < 8; ++col)
			if ((rows[r * 7 / 11] & (0x10 >> (col * 5 / 8))) && x + col >= 0 && y + r >= 0 &&
			    x + col < long(w) && y + r < long(h))
				put(px, w, uint32_t(x + col), uint32_t(y + r), 245, 245, 245);
}

// Small text as on a screen: 11-pixel capitals (the 5 x 7 glyphs drawn
// 8 x 11), light on a dark background, 10 pixels apart, a line every 15.
void small_text(std::vector<uint8_t> &px, uint32_t w, uint32_t h)
{
	for (uint32_t y = 0; y < h; ++y)
		for (uint32_t x = 0; x < w; ++x)
			put(px, w, x, y, 40, 40, 40);
	const size_t text_length = sizeof(kSampleText) - 1;
	for (uint32_t line = 0, y = 2; y + 11 <= h; ++line, y += 15) {
		size_t k = (line * 17) % text_length;
		for (uint32_t x = 2 + (line * 7) % 11; x + 8 < w; x += 10)
			small_glyph(px, w, h, x, y, kSampleText[k++ % text_length]);
	}
}

// Lines "x y TEXT" (TEXT without spaces), each drawn as the small text is,
// over its dark background.
void labels(std::vector<uint8_t> &px, uint32_t w, uint32_t h, const char *list)
{
	for (uint32_t y = 0; y < h; ++y)
		for (uint32_t x = 0; x < w; ++x)
			put(px, w, x, y, 40, 40, 40);
	std::istringstream lines(list ? list : "");
	long x = 0, y = 0;
	std::string text;
	while (lines >> x >> y >> text)
		for (size_t i = 0; i < text.size(); ++i)
			small_glyph(px, w, h, x + 10 * long(i), y, text[i]);
}

} // namespace

const uint8_t *glyph_rows(char c)
{
	const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
	for (const Glyph &glyph : kGlyphs)
		if (glyph.c == upper)
			return glyph.rows;
	return nullptr;
}

std::vector<uint8_t> pattern_pixels(const char *kind, uint32_t w, uint32_t h, int cell, uint32_t color)
{
	std::vector<uint8_t> px(size_t(w) * h * 4);
	const std::string k = kind ? kind : "";
	if (cell < 1)
		cell = 1;
	for (uint32_t y = 0; y < h; ++y) {
		for (uint32_t x = 0; x < w; ++x) {
			if (k == "solid") {
				put(px, w, x, y, color & 0xff, (color >> 8) & 0xff, (color >> 16) & 0xff);
			} else if (k == "gradient") {
				put(px, w, x, y, uint8_t(255 * x / std::max(w - 1, 1u)),
				    uint8_t(255 * y / std::max(h - 1, 1u)), 128);
			} else {
				const bool on = ((x / cell) + (y / cell)) & 1;
				const uint8_t v = on ? 255 : 0;
				put(px, w, x, y, v, v, v);
			}
		}
	}
	if (k == "detail")
		detail(px, w, h);
	if (k == "text")
		small_text(px, w, h);
	return px;
}

std::vector<uint8_t> label_pixels(uint32_t width, uint32_t height, const char *list)
{
	std::vector<uint8_t> px(size_t(width) * height * 4);
	labels(px, width, height, list);
	return px;
}

void register_pattern_source()
{
	obs_source_info info = {};
	info.id = kPatternTypeId;
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW | OBS_SOURCE_SRGB;
	info.get_name = pattern_name;
	info.create = pattern_create;
	info.destroy = pattern_destroy;
	info.update = pattern_update;
	info.get_defaults = pattern_defaults;
	info.video_render = pattern_render;
	info.get_width = pattern_width;
	info.get_height = pattern_height;
	obs_register_source(&info);
}

obs_source_t *make_pattern(const char *name, uint32_t width, uint32_t height, const char *kind, int cell,
			   uint32_t color)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "width", width);
	obs_data_set_int(settings, "height", height);
	obs_data_set_string(settings, "kind", kind);
	obs_data_set_int(settings, "cell", cell);
	obs_data_set_int(settings, "color", color);
	obs_source_t *source = obs_source_create(kPatternTypeId, name, settings, nullptr);
	obs_data_release(settings);
	return source;
}

uint32_t noise_hash(uint32_t x)
{
	x ^= x >> 16;
	x *= 0x7feb352dU;
	x ^= x >> 15;
	x *= 0x846ca68bU;
	x ^= x >> 16;
	return x;
}

} // namespace harness
