// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>
#include <graphics/matrix4.h>
#include <graphics/vec3.h>

#include <cstdint>

// The crop and signed scale with which a scene item is really drawn.
struct ItemGeometry {
	obs_sceneitem_crop crop{}; // left, top, right, bottom in source pixels
	vec2 scale{}; // parent units per source pixel, negative when flipped
};

// What an item's geometry depends on, as the host reports it.
struct ItemLayout {
	obs_sceneitem_crop crop{};
	vec2 scale{};
	uint32_t bounds_type = OBS_BOUNDS_NONE;
	vec2 bounds{};
	uint32_t bounds_alignment = 0;
	bool crop_to_bounds = false;
};

// size less two edges; 2 when the edges add up to more than the size.
uint32_t cropped_size(uint32_t size, uint32_t first_edge, uint32_t second_edge);

ItemGeometry compute_geometry(const ItemLayout &layout, uint32_t width, uint32_t height);
// width and height: the current size of the item's source.
ItemGeometry compute_item_geometry(obs_sceneitem_t *item, uint32_t width, uint32_t height);

// (x, y, 0) through the transform.
vec3 map_local_point(const matrix4 &transform, float x, float y);

// Maps a pixel of an item's source to its canvas position: the crop, then
// the item's draw transform.
matrix4 board_to_canvas(const matrix4 &board_transform, const obs_sceneitem_crop &crop);
