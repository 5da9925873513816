// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/beneath_scan.h"

#include "host/host_refs.h"
#include "render/item_geometry.h"

namespace {

bool crop_set(const obs_sceneitem_crop &crop)
{
	return crop.left != 0 || crop.top != 0 || crop.right != 0 || crop.bottom != 0;
}

// The host draws an item with a crop, a scale filter or a blending other
// than the plain one into a texture of the item's own (cropped) size first,
// which clips anything drawn beyond it. (A nested scene too, which neither
// a board nor a group is.)
bool drawn_through_texture(const obs_sceneitem_crop &effective_crop, obs_scale_type filter, obs_blending_type mode,
			   obs_blending_method method)
{
	return crop_set(effective_crop) || filter != OBS_SCALE_DISABLE || mode != OBS_BLEND_NORMAL ||
	       method == OBS_BLEND_METHOD_SRGB_OFF;
}

bool drawn_through_texture(obs_sceneitem_t *item, const obs_sceneitem_crop &effective_crop)
{
	return drawn_through_texture(effective_crop, obs_sceneitem_get_scale_filter(item),
				     obs_sceneitem_get_blending_mode(item), obs_sceneitem_get_blending_method(item));
}

void store_board(BeneathScan &scan, obs_sceneitem_t *item)
{
	scan.found = true;
	obs_sceneitem_get_draw_transform(item, &scan.board_transform);
	const ItemGeometry geometry = compute_item_geometry(item, obs_source_get_width(scan.board_source),
							    obs_source_get_height(scan.board_source));
	scan.board_crop = geometry.crop;
	scan.board_scale = geometry.scale;
	// Clipped there, the emergency cover covers the board's area only.
	scan.board_clipped = scan.board_clipped || drawn_through_texture(item, geometry.crop);
}

// A group drawn through a texture of its own starts that texture at its
// crop's top-left corner: its items land shifted by the crop.
void store_group(BeneathScan &scan, obs_sceneitem_t *item)
{
	scan.group_item = refs::item_addref(item);
	obs_source_t *group = obs_sceneitem_get_source(item);
	const ItemGeometry geometry =
	    compute_item_geometry(item, obs_source_get_width(group), obs_source_get_height(group));
	matrix4 draw;
	obs_sceneitem_get_draw_transform(item, &draw);
	scan.group_transform = board_to_canvas(draw, geometry.crop);
	scan.board_clipped = drawn_through_texture(item, geometry.crop);
}

void collect(BeneathScan &scan, obs_sceneitem_t *item, const matrix4 *parent)
{
	BeneathItem record;
	if (!prepare_beneath_item(item, parent, record))
		return;
	// Runs inside the host's enumeration: nothing may be thrown from here.
	try {
		scan.items.push_back(record);
	} catch (...) {
		refs::source_release(record.transition);
		refs::source_release(record.source);
	}
}

} // namespace

bool scan_scene_item(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
	auto &scan = *static_cast<BeneathScan *>(param);
	obs_source_t *source = obs_sceneitem_get_source(item);

	if (scan.group_source) {
		// The board sits in a group: stop at the group and walk it next.
		if (source == scan.group_source) {
			store_group(scan, item);
			return false;
		}
	} else if (source == scan.board_source) {
		store_board(scan, item);
		return false;
	}

	collect(scan, item, nullptr);
	return true;
}

bool scan_group_item(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
	auto &scan = *static_cast<BeneathScan *>(param);
	if (obs_sceneitem_get_source(item) == scan.board_source) {
		store_board(scan, item);
		matrix4_mul(&scan.board_transform, &scan.board_transform, &scan.group_transform);
		return false;
	}

	collect(scan, item, &scan.group_transform);
	return true;
}

void scan_beneath(obs_source_t *scene_source, BeneathScan &scan)
{
	obs_scene_enum_items(obs_scene_from_source(scene_source), scan_scene_item, &scan);
	if (!scan.group_item)
		return;
	obs_sceneitem_group_enum_items(scan.group_item, scan_group_item, &scan);
	refs::item_release(scan.group_item);
	scan.group_item = nullptr;
}

obs_source_t *active_show_hide_transition(obs_sceneitem_t *item, bool visible)
{
	obs_source_t *transition = obs_sceneitem_get_transition(item, visible);
	if (!transition || obs_transition_get_time(transition) >= 1.0f)
		return nullptr;

	// A show transition brings the item in on side B, a hide transition
	// takes it out from side A; an empty side means it carries nothing.
	SourceRef carried =
	    refs::transition_get_source(transition, visible ? OBS_TRANSITION_SOURCE_B : OBS_TRANSITION_SOURCE_A);
	if (!carried)
		return nullptr;
	return refs::source_get_ref(transition);
}

bool prepare_beneath_item(obs_sceneitem_t *item, const matrix4 *parent, BeneathItem &record)
{
	const bool visible = obs_sceneitem_visible(item);
	obs_source_t *transition = active_show_hide_transition(item, visible);
	if (!visible && !transition)
		return false;

	obs_source_t *source = refs::source_get_ref(obs_sceneitem_get_source(item));
	if (!source) {
		refs::source_release(transition);
		return false;
	}

	record = BeneathItem{};
	record.source = source;
	record.transition = transition;
	obs_sceneitem_get_draw_transform(item, &record.transform);
	if (parent)
		matrix4_mul(&record.transform, &record.transform, parent);

	const ItemGeometry geometry =
	    compute_item_geometry(item, obs_source_get_width(source), obs_source_get_height(source));
	record.crop = geometry.crop;
	record.scale = geometry.scale;

	record.scale_filter = obs_sceneitem_get_scale_filter(item);
	record.blending_mode = obs_sceneitem_get_blending_mode(item);
	record.blending_method = obs_sceneitem_get_blending_method(item);

	const bool nested_scene = obs_source_get_type(source) == OBS_SOURCE_TYPE_SCENE && !obs_sceneitem_is_group(item);
	record.via_texture = nested_scene || drawn_through_texture(record.crop, record.scale_filter,
								   record.blending_mode, record.blending_method);
	return true;
}

void release_beneath_items(std::vector<BeneathItem> &items)
{
	for (BeneathItem &record : items) {
		refs::source_release(record.transition);
		refs::source_release(record.source);
	}
	items.clear();
}
