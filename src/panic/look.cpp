// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/look.h"

#include <cstring>

namespace {

// The emergency mosaic's blocks: 6 % of the canvas's shorter side.
constexpr double kCellPercent = 6.0;

} // namespace

const char *panic_style_name(PanicStyle style)
{
	return style == PanicStyle::Mosaic ? "mosaic" : "cover";
}

bool panic_style_from_name(const char *name, PanicStyle &style)
{
	if (!name)
		return false;
	if (std::strcmp(name, "cover") == 0)
		style = PanicStyle::Cover;
	else if (std::strcmp(name, "mosaic") == 0)
		style = PanicStyle::Mosaic;
	else
		return false;
	return true;
}

PanicLook panic_look_read(obs_data_t *data)
{
	PanicLook look;
	if (!data)
		return look;
	panic_style_from_name(read_string(data, panic_keys::style, ""), look.style);
	// The low 32 bits, as the board reads it.
	look.cover_color =
	    (uint32_t)((uint64_t)read_integer(data, panic_keys::cover_color, look.cover_color) & 0xFFFFFFFFu);
	look.cover_image = read_string(data, panic_keys::cover_image, "");
	return look;
}

void panic_look_write(obs_data_t *data, const PanicLook &look)
{
	obs_data_set_string(data, panic_keys::style, panic_style_name(look.style));
	obs_data_set_int(data, panic_keys::cover_color, look.cover_color);
	obs_data_set_string(data, panic_keys::cover_image, look.cover_image.c_str());
}

void panic_board_settings(obs_data_t *settings, const PanicLook &look, uint32_t canvas_width, uint32_t canvas_height)
{
	// Its own size only matters for the opaque fallback, drawn at the
	// canvas's origin: the whole canvas.
	obs_data_set_int(settings, "width", canvas_width ? canvas_width : 1920);
	obs_data_set_int(settings, "height", canvas_height ? canvas_height : 1080);
	if (look.style == PanicStyle::Mosaic) {
		obs_data_set_bool(settings, "emergency", true);
		obs_data_set_double(settings, "emergency_size", kCellPercent);
		obs_data_set_bool(settings, "enabled", false);
		return;
	}
	obs_data_set_string(settings, "mode", "cover");
	obs_data_set_int(settings, "cover_color", look.cover_color);
	obs_data_set_string(settings, "cover_image", look.cover_image.c_str());
	obs_data_set_bool(settings, "enabled", true);
	obs_data_set_double(settings, "strength", 100.0);
	obs_data_set_double(settings, "fade_seconds", 0.0);
}
