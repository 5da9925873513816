// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "placement/placement.h"
#include "render/capture_method.h"
#include "render/cover.h"
#include "render/final_pass.h"
#include "render/texture_pool.h"

// One board instance, owned by the host through the pointer create returns.
// mutex guards the plain settings fields, fade_level, first_update and
// placement; the render fields are touched by tick and draw alone on the
// graphics thread; the atomics are read without the mutex.
struct BlurBoard {
	obs_source_t *source = nullptr;
	std::mutex mutex;
	bool is_mosaic = false;
	float blur_radius = 20.0f;
	float mosaic_size = 24.0f;
	float strength = 1.0f;
	float fade_seconds = 0.5f;
	float emergency_size = 6.0f;
	bool emergency = false;
	bool force_redraw = false;
	bool is_ellipse = false;
	float feather = 0.0f;
	float fade_level = 0.0f;
	bool first_update = true;
	Placement placement;

	// render
	bool shared_warned = false;
	float profile_elapsed = 0.0f;
	bool busy = false;
	bool redraw_logged = false;
	bool cover_clip_warned = false;
	uint32_t cover_logged = 0; // CoverCause bits already logged
	uint64_t cached_frame_time = 0;
	bool cache_valid = false;
	bool cached_ok = false;
	bool cached_failed = false; // the cached capture failed: cover instead
	CoverCause cached_cause = CoverCause::Passes;
	FinalPassParams cached_params;
	TexturePool pool;

	std::atomic<uint32_t> width{640};
	std::atomic<uint32_t> height{360};
	std::atomic<bool> enabled{true};
	std::atomic<bool> emergency_mirror{false};
	std::atomic<PlacementStatus> placement_status{PlacementStatus::NotPlaced};
	std::atomic<CaptureMethod> capture_method{CaptureMethod::None};
	// The module's panic cover: private, never in a scene, drawn only as a
	// canvas's output channel, over the whole canvas.
	std::atomic<bool> canvas_cover{false};

	obs_hotkey_id toggle_hotkey = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id emergency_hotkey = OBS_INVALID_HOTKEY_ID;
};

void *board_create(obs_data_t *settings, obs_source_t *source);
void board_destroy(void *data);
void board_update(void *data, obs_data_t *settings);
void board_get_defaults(obs_data_t *settings);
uint32_t board_get_width(void *data);
uint32_t board_get_height(void *data);
gs_color_space board_get_color_space(void *data, size_t count, const gs_color_space *preferred_spaces);
