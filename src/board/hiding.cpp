// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/hiding.h"

#include <cstring>

#include "host/log.h"

Hiding read_hiding(obs_data_t *settings)
{
	namespace d = setting_defaults;
	namespace k = setting_keys;
	Hiding h;
	const char *mode = read_string(settings, k::kMode, d::mode);
	h.is_mosaic = std::strcmp(mode, setting_values::kModeMosaic) == 0;
	h.is_cover = std::strcmp(mode, setting_values::kModeCover) == 0;
	h.blur_radius = clamp_float((float)read_number(settings, k::kBlurRadius, d::blur_radius), 0.0f, 500.0f);
	h.mosaic_size = clamp_float((float)read_number(settings, k::kMosaicSize, d::mosaic_size), 1.0f, 500.0f);
	// A cover is opaque once faded in: its strength is always full.
	h.strength = h.is_cover
			 ? 1.0f
			 : clamp_float((float)(read_number(settings, k::kStrength, d::strength) / 100.0), 0.0f, 1.0f);
	h.fade_seconds = clamp_float((float)read_number(settings, k::kFadeSeconds, d::fade_seconds), 0.0f, 60.0f);
	h.shape = read_shape(settings);
	// The low 32 bits: some programs store the colour as a signed number.
	h.cover_color = (uint32_t)((uint64_t)read_integer(settings, k::kCoverColor, d::cover_color) & 0xFFFFFFFFu);
	h.enabled = read_bool(settings, k::kEnabled, d::enabled);
	return h;
}

CoverImageChange reload_cover_image(obs_data_t *settings, std::mutex &mutex, const CoverImageSlot &current,
				    const char *what, obs_source_t *source)
{
	CoverImageChange change;
	change.slot.path = read_string(settings, setting_keys::kCoverImage, setting_defaults::cover_image);
	{
		std::lock_guard<std::mutex> lock(mutex);
		if (change.slot.path == current.path)
			return change;
	}
	change.changed = true;
	change.slot.image = CoverImage::load(change.slot.path.c_str());
	if (!change.slot.image && !change.slot.path.empty()) {
		const char *name = obs_source_get_name(source);
		log_message(LOG_WARNING, "%s '%s': cover image '%s' cannot be read; covering with the colour", what,
			    name ? name : "", change.slot.path.c_str());
	}
	return change;
}
