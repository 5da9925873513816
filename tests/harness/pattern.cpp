// A deterministic picture for pixel tests, drawn from a texture made once
// per update.
#include "harness/host.h"
#include "harness/pattern.h"

#include <obs-module.h>

#include <cmath>
#include <cstring>

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
	std::vector<uint8_t> pixels =
	    pattern_pixels(obs_data_get_string(settings, "kind"), w, h, (int)obs_data_get_int(settings, "cell"),
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

// Deterministic hash noise for the "detail" picture.
uint32_t hash(uint32_t x)
{
	x ^= x >> 16;
	x *= 0x7feb352dU;
	x ^= x >> 15;
	x *= 0x846ca68bU;
	x ^= x >> 16;
	return x;
}

void put(std::vector<uint8_t> &px, uint32_t w, uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b)
{
	uint8_t *p = &px[(size_t(y) * w + x) * 4];
	p[0] = r;
	p[1] = g;
	p[2] = b;
	p[3] = 255;
}

void detail(std::vector<uint8_t> &px, uint32_t w, uint32_t h)
{
	for (uint32_t y = 0; y < h; ++y) {
		for (uint32_t x = 0; x < w; ++x) {
			// Soft background gradient.
			uint8_t r = uint8_t(40 + 150 * x / std::max(w, 1u));
			uint8_t g = uint8_t(60 + 120 * y / std::max(h, 1u));
			uint8_t b = 140;
			// Rows of "text": 1-pixel strokes in 5x7 cells.
			const uint32_t line = y / 12, row = y % 12;
			if (y < h / 2 && row < 7 && x % 6 < 5 && (x / 48 + line) % 5 != 0) {
				const uint32_t glyph = hash(x / 6 * 131 + line * 7919);
				const uint32_t col = x % 6;
				if ((glyph >> ((row * 5 + col) % 31)) & 1)
					r = g = b = 250;
				else if (row == 6 || col == 0)
					r = g = b = 20;
			}
			// Hard edges: a bar grid in the lower left.
			if (y >= h / 2 && x < w / 2 && ((x / 16 + y / 16) & 1))
				r = g = b = 0;
			put(px, w, x, y, r, g, b);
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
			if (dy > rad * 0.25f && dy < rad * 0.42f && std::fabs(dx) < rad * 0.5f)
				v = 10;
			if (d > rad - 3)
				v = 10;
			put(px, w, x, y, v, uint8_t(v * 0.85f), uint8_t(v * 0.7f));
		}
	}
}

} // namespace

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

} // namespace harness
