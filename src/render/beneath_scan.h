// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>
#include <graphics/matrix4.h>

#include <vector>

// One scene item beneath a board that may be drawn again. Holds a strong
// reference to its source and, while one runs, to its show/hide transition.
struct BeneathItem {
	obs_source_t *source = nullptr;
	obs_source_t *transition = nullptr;
	matrix4 transform{};
	obs_sceneitem_crop crop{};
	vec2 scale{};
	bool via_texture = false;
	obs_scale_type scale_filter = OBS_SCALE_DISABLE;
	obs_blending_type blending_mode = OBS_BLEND_NORMAL;
	obs_blending_method blending_method = OBS_BLEND_METHOD_DEFAULT;
};

// Context of the walk of a board's scene (and group) for one capture.
struct BeneathScan {
	obs_source_t *board_source = nullptr; // borrowed
	obs_source_t *group_source = nullptr; // borrowed; null when not in a group
	std::vector<BeneathItem> items; // bottom first
	obs_sceneitem_t *group_item = nullptr; // referenced while the group is walked
	matrix4 group_transform{};
	bool found = false;
	matrix4 board_transform{};
	obs_sceneitem_crop board_crop{};
	vec2 board_scale{};
	bool board_clipped = false; // the host draws the board's item through a texture of its own
};

// Callbacks for obs_scene_enum_items and obs_sceneitem_group_enum_items with
// a BeneathScan as parameter; they stop at the board's (or group's) item.
bool scan_scene_item(obs_scene_t *scene, obs_sceneitem_t *item, void *param);
bool scan_group_item(obs_scene_t *scene, obs_sceneitem_t *item, void *param);

// The walk itself: the scene's items up to the board (or its group), then
// the group's items up to the board; the group item's reference is given
// back before it returns. The caller releases scan.items afterwards.
void scan_beneath(obs_source_t *scene_source, BeneathScan &scan);

// Fills record for an item to be drawn; false, holding nothing, otherwise.
bool prepare_beneath_item(obs_sceneitem_t *item, const matrix4 *parent, BeneathItem &record);

// A new reference to the item's running show (visible) or hide transition.
obs_source_t *active_show_hide_transition(obs_sceneitem_t *item, bool visible);

// Gives back every record's references and empties the list.
void release_beneath_items(std::vector<BeneathItem> &items);
