// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/look.h"

#include <cstring>

namespace {

// The emergency mosaic's blocks: 6 % of the canvas's shorter side.
constexpr double kCellPercent = 6.0;

} // namespace

const char *panic_style_name(PanicStyle style)
{
	return style == PanicStyle::Mosaic ? panic_values::kStyleMosaic : panic_values::kStyleCover;
}

bool panic_style_from_name(const char *name, PanicStyle &style)
{
	if (!name)
		return false;
	if (std::strcmp(name, panic_values::kStyleCover) == 0)
		style = PanicStyle::Cover;
	else if (std::strcmp(name, panic_values::kStyleMosaic) == 0)
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
	panic_style_from_name(read_string(data, panic_keys::kStyle, ""), look.style);
	// The low 32 bits, as the board reads it.
	look.cover_color =
	    (uint32_t)((uint64_t)read_integer(data, panic_keys::kCoverColor, look.cover_color) & 0xFFFFFFFFu);
	look.cover_image = read_string(data, panic_keys::kCoverImage, "");
	return look;
}

void panic_look_write(obs_data_t *data, const PanicLook &look)
{
	obs_data_set_string(data, panic_keys::kStyle, panic_style_name(look.style));
	obs_data_set_int(data, panic_keys::kCoverColor, look.cover_color);
	obs_data_set_string(data, panic_keys::kCoverImage, look.cover_image.c_str());
}

void panic_board_settings(obs_data_t *settings, const PanicLook &look, uint32_t canvas_width, uint32_t canvas_height)
{
	namespace k = setting_keys;
	// Its own size only matters for the opaque fallback, drawn at the
	// canvas's origin: the whole canvas.
	obs_data_set_int(settings, k::kWidth, canvas_width ? canvas_width : 1920);
	obs_data_set_int(settings, k::kHeight, canvas_height ? canvas_height : 1080);
	if (look.style == PanicStyle::Mosaic) {
		obs_data_set_bool(settings, k::kEmergency, true);
		obs_data_set_double(settings, k::kEmergencySize, kCellPercent);
		obs_data_set_bool(settings, k::kEnabled, false);
		return;
	}
	obs_data_set_string(settings, k::kMode, setting_values::kModeCover);
	obs_data_set_int(settings, k::kCoverColor, look.cover_color);
	obs_data_set_string(settings, k::kCoverImage, look.cover_image.c_str());
	obs_data_set_bool(settings, k::kEnabled, true);
	obs_data_set_double(settings, k::kFadeSeconds, 0.0);
}
