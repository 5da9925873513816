// SPDX-License-Identifier: GPL-2.0-or-later
#include "filter/hide_filter.h"

#include <cstring>
#include <new>

#include "board/settings.h"
#include "filter/hotkey.h"
#include "host/log.h"
#include "placement/fade.h"

HideFilter *hide_filter_create(obs_data_t *settings, obs_source_t *source)
{
	auto *filter = new (std::nothrow) HideFilter();
	if (!filter)
		return nullptr;
	filter->source = source;
	hide_filter_update(filter, settings);
	return filter;
}

void hide_filter_destroy(HideFilter *filter)
{
	unregister_filter_hotkey(filter);
	delete filter;
}

namespace {

// Decoded outside the lock and only when the path changed, as a board does.
bool load_cover_image(HideFilter *filter, const std::string &path, std::shared_ptr<const CoverImage> &image)
{
	{
		std::lock_guard<std::mutex> lock(filter->mutex);
		if (path == filter->cover_image_path)
			return false;
	}
	image = CoverImage::load(path.c_str());
	if (!image && !path.empty()) {
		const char *name = obs_source_get_name(filter->source);
		log_message(LOG_WARNING, "filter '%s': cover image '%s' cannot be read; covering with the colour",
			    name ? name : "", path.c_str());
	}
	return true;
}

uint32_t read_region_value(obs_data_t *settings, const char *key)
{
	const int64_t value = read_integer(settings, key, 0);
	return value < 0 ? 0u : value > 16384 ? 16384u : (uint32_t)value;
}

} // namespace

void hide_filter_update(void *data, obs_data_t *settings)
{
	auto *filter = static_cast<HideFilter *>(data);
	namespace d = setting_defaults;
	namespace k = setting_keys;
	namespace f = filter_keys;
	const std::string image_path = read_string(settings, k::kCoverImage, d::cover_image);
	std::shared_ptr<const CoverImage> image;
	const bool new_image = load_cover_image(filter, image_path, image);

	std::lock_guard<std::mutex> lock(filter->mutex);
	const char *mode = read_string(settings, k::kMode, d::mode);
	filter->is_mosaic = std::strcmp(mode, setting_values::kModeMosaic) == 0;
	filter->is_cover = std::strcmp(mode, setting_values::kModeCover) == 0;
	filter->blur_radius = clamp_float((float)read_number(settings, k::kBlurRadius, d::blur_radius), 0.0f, 500.0f);
	filter->mosaic_size = clamp_float((float)read_number(settings, k::kMosaicSize, d::mosaic_size), 1.0f, 500.0f);
	filter->strength =
	    filter->is_cover
		? 1.0f
		: clamp_float((float)(read_number(settings, k::kStrength, d::strength) / 100.0), 0.0f, 1.0f);
	filter->fade_seconds = clamp_float((float)read_number(settings, k::kFadeSeconds, d::fade_seconds), 0.0f, 60.0f);
	filter->shape = read_shape(settings);
	filter->cover_color =
	    (uint32_t)((uint64_t)read_integer(settings, k::kCoverColor, d::cover_color) & 0xFFFFFFFFu);
	if (new_image) {
		filter->cover_image_path = image_path;
		filter->cover_image.swap(image);
	}
	filter->region = {read_region_value(settings, f::kRegionX), read_region_value(settings, f::kRegionY),
			  read_region_value(settings, f::kRegionWidth), read_region_value(settings, f::kRegionHeight)};
	const bool enabled = read_bool(settings, k::kEnabled, d::enabled);
	filter->enabled.store(enabled);
	// Added, or loaded with a saved collection: at its target at once.
	if (filter->first_update) {
		filter->fade_level = enabled ? filter->strength : 0.0f;
		filter->first_update = false;
	}
}

void hide_filter_defaults(obs_data_t *settings)
{
	namespace d = setting_defaults;
	namespace k = setting_keys;
	namespace f = filter_keys;
	set_typed_default(settings, k::kMode, d::mode);
	set_typed_default(settings, k::kBlurRadius, d::blur_radius);
	set_typed_default(settings, k::kMosaicSize, d::mosaic_size);
	set_typed_default(settings, k::kStrength, d::strength);
	set_typed_default(settings, k::kEnabled, d::enabled);
	set_typed_default(settings, k::kFadeSeconds, d::fade_seconds);
	set_shape_defaults(settings);
	set_typed_default(settings, k::kCoverColor, d::cover_color);
	set_typed_default(settings, k::kCoverImage, d::cover_image);
	for (const char *key : {f::kRegionX, f::kRegionY, f::kRegionWidth, f::kRegionHeight})
		set_typed_default(settings, key, (int64_t)0);
}

void hide_filter_tick(HideFilter *filter, float seconds)
{
	std::lock_guard<std::mutex> lock(filter->mutex);
	const float target = filter->enabled.load() ? filter->strength : 0.0f;
	filter->fade_level = fade_toward(filter->fade_level, target, filter->fade_seconds, seconds);
}
