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
	watch_filter_name(filter);
	return filter;
}

void hide_filter_destroy(HideFilter *filter)
{
	unwatch_filter_name(filter);
	unregister_filter_hotkey(filter);
	delete filter;
}

namespace {

uint32_t read_region_value(obs_data_t *settings, const char *key)
{
	const int64_t value = read_integer(settings, key, 0);
	return value < 0 ? 0u : value > 16384 ? 16384u : (uint32_t)value;
}

} // namespace

void hide_filter_update(void *data, obs_data_t *settings)
{
	auto *filter = static_cast<HideFilter *>(data);
	namespace f = filter_keys;
	CoverImageChange image = reload_cover_image(settings, filter->mutex, filter->cover, "filter", filter->source);
	const Hiding hiding = read_hiding(settings);
	const SourceRegion region = {read_region_value(settings, f::kRegionX), read_region_value(settings, f::kRegionY),
				     read_region_value(settings, f::kRegionWidth),
				     read_region_value(settings, f::kRegionHeight)};

	std::lock_guard<std::mutex> lock(filter->mutex);
	filter->hiding = hiding;
	filter->region = region;
	if (image.changed)
		std::swap(filter->cover, image.slot);
	filter->enabled.store(hiding.enabled);
	// Added, or loaded with a saved collection: at its target at once.
	if (filter->first_update) {
		filter->fade_level = hiding.enabled ? hiding.strength : 0.0f;
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
	const float target = filter->enabled.load() ? filter->hiding.strength : 0.0f;
	filter->fade_level = fade_toward(filter->fade_level, target, filter->hiding.fade_seconds, seconds);
}
