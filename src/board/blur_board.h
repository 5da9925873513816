// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "board/capture_method.h"
#include "board/cover_image.h"
#include "board/hiding.h"
#include "board/placement.h"
#include "board/settings.h"

inline constexpr const char *kBoardTypeId = "korvanta_blur_board";

struct BoardRender; // the draw's state (render/board_render.h)

// One board instance, owned by the host through the pointer create returns.
// mutex guards the plain settings fields, fade_level, first_update and
// placement; the tick's fields and render are touched by tick and draw
// alone on the graphics thread; the atomics are read without the mutex.
struct BlurBoard {
	obs_source_t *source = nullptr;
	std::mutex mutex;
	bool is_mosaic = false;
	// Cover mode: a colour or an image, nothing of the picture read.
	bool is_cover = false;
	uint32_t cover_color = 0xFF303030; // 0xAABBGGRR, drawn opaque
	CoverImageSlot cover;
	float blur_radius = 20.0f;
	float mosaic_size = 24.0f;
	float strength = 1.0f;
	float fade_seconds = 0.5f;
	float emergency_size = 6.0f;
	bool emergency = false;
	bool force_redraw = false;
	BoardShape shape;
	float fade_level = 0.0f;
	bool first_update = true;
	Placement placement;

	// tick
	bool shared_warned = false;
	float profile_elapsed = 0.0f;
	// Made and freed with the board by the source type's create and destroy.
	BoardRender *render = nullptr;

	std::atomic<uint32_t> width{640};
	std::atomic<uint32_t> height{360};
	std::atomic<bool> enabled{true};
	// The emergency setting update last applied, for the emergency hotkey,
	// which negates it without taking the mutex.
	std::atomic<bool> emergency_applied{false};
	std::atomic<PlacementStatus> placement_status{PlacementStatus::NotPlaced};
	std::atomic<CaptureMethod> capture_method{CaptureMethod::None};
	// The module's panic cover: private, never in a scene, drawn only as a
	// canvas's output channel, over the whole canvas.
	std::atomic<bool> panic_cover{false};

	obs_hotkey_id toggle_hotkey = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id emergency_hotkey = OBS_INVALID_HOTKEY_ID;
};

// The record alone: the source type's create and destroy also make and
// free its render state and keep the placement registry.
BlurBoard *board_create(obs_data_t *settings, obs_source_t *source);
void board_destroy(BlurBoard *board);
void board_update(void *data, obs_data_t *settings);
void board_get_defaults(obs_data_t *settings);
uint32_t board_get_width(void *data);
uint32_t board_get_height(void *data);
gs_color_space board_get_color_space(void *data, size_t count, const gs_color_space *preferred_spaces);
