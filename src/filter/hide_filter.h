// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "board/hiding.h"

inline constexpr const char *kHideFilterTypeId = "mistpane_hide_filter";

// The filter's own keys; the rest are the board's (board/settings.h).
namespace filter_keys {
inline constexpr const char *kRegionX = "region_x";
inline constexpr const char *kRegionY = "region_y";
inline constexpr const char *kRegionWidth = "region_width";
inline constexpr const char *kRegionHeight = "region_height";
} // namespace filter_keys

// A rectangle of the source's own pixels; a width or height of 0 means the
// whole source.
struct SourceRegion {
	uint32_t x = 0, y = 0, width = 0, height = 0;
};

struct FilterRender; // the draw's state (filter/filter_draw.h)

// One "MistPane: Hide" filter. mutex guards the settings and fade_level;
// render is touched by the tick and the draw alone, on the graphics thread.
struct HideFilter {
	obs_source_t *source = nullptr;
	std::mutex mutex;
	Hiding hiding;
	CoverImageSlot cover;
	SourceRegion region;
	float fade_level = 0.0f;
	bool first_update = true;
	std::atomic<bool> enabled{true};

	// "Hide on/off", registered on the source the filter is added to.
	obs_hotkey_id toggle_hotkey = OBS_INVALID_HOTKEY_ID;
	FilterRender *render = nullptr;
};

HideFilter *hide_filter_create(obs_data_t *settings, obs_source_t *source);
void hide_filter_destroy(HideFilter *filter);
void hide_filter_update(void *data, obs_data_t *settings);
void hide_filter_defaults(obs_data_t *settings);
// Moves the fade toward its target, as a board's tick does.
void hide_filter_tick(HideFilter *filter, float seconds);
