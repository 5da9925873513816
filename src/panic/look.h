// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// What the panic cover shows: a plain cover (a colour, or a "be right back"
// picture) that owes nothing to the picture beneath, or the coarse
// emergency mosaic of the program. Kept with the on/off state.
#include <obs.h>

#include <cstdint>
#include <string>

#include "board/settings.h"

enum class PanicStyle { Cover, Mosaic };

struct PanicLook {
	PanicStyle style = PanicStyle::Cover;
	uint32_t cover_color = 0xFF303030; // 0xAABBGGRR, as OBS's colour properties
	std::string cover_image; // empty: the colour alone

	bool operator==(const PanicLook &) const = default;
};

// Keys of the look, in the state file and in the cover settings' source:
// the colour and image as a cover-mode board names them.
namespace panic_keys {
inline constexpr const char *kStyle = "style";
inline constexpr const char *kCoverColor = setting_keys::kCoverColor;
inline constexpr const char *kCoverImage = setting_keys::kCoverImage;
} // namespace panic_keys

// The style's names, in the state file and in obs-websocket's requests.
namespace panic_values {
inline constexpr const char *kStyleCover = "cover";
inline constexpr const char *kStyleMosaic = "mosaic";
} // namespace panic_values

const char *panic_style_name(PanicStyle style);
// False for anything but "cover" and "mosaic".
bool panic_style_from_name(const char *name, PanicStyle &style);

// A missing or unknown style reads as the cover (files written before the
// style existed have none); a colour or image of the wrong type reads as
// the default.
PanicLook panic_look_read(obs_data_t *data);
void panic_look_write(obs_data_t *data, const PanicLook &look);

// The settings of the board that draws the look over a whole canvas of
// that size.
void panic_board_settings(obs_data_t *settings, const PanicLook &look, uint32_t canvas_width, uint32_t canvas_height);
