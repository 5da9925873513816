// SPDX-License-Identifier: GPL-2.0-or-later
#include "placement/registry.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host/canvases.h"

namespace {

using Entries = std::unordered_map<obs_source_t *, Placement>;

// Working state of one walk over every canvas, scene, group and nested
// scene. Enumeration callbacks only record boards and queue work; the loop
// in scan_placements starts every walk itself, so no enumeration runs
// inside another and nesting of any depth (or a circle) needs no recursion.
struct PendingGroup {
	SceneRef scene; // the scene that contains the group
	SceneItemRef group;
};

struct PlacementScan {
	const char *type_id = nullptr;
	// held owns one strong reference per visited scene, released when the
	// scan ends; the set and the stack only point at them.
	std::vector<SceneRef> held;
	std::unordered_set<obs_scene_t *> visited_scenes;
	std::vector<obs_scene_t *> pending_scenes;
	// Each pair holds its own references to the containing scene and the
	// group item.
	std::vector<PendingGroup> pending_groups;
	Entries *output = nullptr;
	obs_scene_t *current_scene = nullptr;
	obs_sceneitem_t *current_group = nullptr;
};

bool is_board(const PlacementScan &scan, obs_source_t *source)
{
	if (!scan.type_id)
		return false;
	const char *id = obs_source_get_id(source);
	// Sources of one type share the registered id string, so the pointer
	// test settles nearly every board without a string compare.
	return id && (id == scan.type_id || std::strcmp(id, scan.type_id) == 0);
}

void record_board(PlacementScan &scan, obs_source_t *source)
{
	Placement &entry = (*scan.output)[source];
	if (entry.count++ != 0)
		return;
	entry.scene = refs::get_weak_source(obs_scene_get_source(scan.current_scene));
	if (scan.current_group)
		entry.group = refs::get_weak_source(obs_sceneitem_get_source(scan.current_group));
}

// Only scene-type sources can be scenes; the host's own test compares
// id strings, which would cost every filler item.
obs_scene_t *scene_of(obs_source_t *source)
{
	return obs_source_get_type(source) == OBS_SOURCE_TYPE_SCENE ? obs_scene_from_source(source) : nullptr;
}

void visit_scene(PlacementScan &scan, obs_scene_t *scene)
{
	if (!scene || scan.visited_scenes.count(scene))
		return;
	SceneRef ref = refs::scene_get_ref(scene);
	if (!ref)
		return;
	scan.visited_scenes.insert(ref);
	scan.pending_scenes.push_back(ref);
	scan.held.push_back(std::move(ref));
}

bool scene_item_step(obs_scene_t *scene, obs_sceneitem_t *item, void *param)
{
	auto &scan = *static_cast<PlacementScan *>(param);
	obs_source_t *source = obs_sceneitem_get_source(item);
	if (is_board(scan, source)) {
		record_board(scan, source);
	} else if (obs_sceneitem_is_group(item)) {
		SceneRef scene_ref = refs::scene_get_ref(scene);
		if (scene_ref)
			scan.pending_groups.push_back({std::move(scene_ref), SceneItemRef(refs::item_addref(item))});
	} else {
		visit_scene(scan, scene_of(source));
	}
	return true;
}

// Groups cannot hold groups, so their items are not tested for it.
bool group_item_step(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
	auto &scan = *static_cast<PlacementScan *>(param);
	obs_source_t *source = obs_sceneitem_get_source(item);
	if (is_board(scan, source))
		record_board(scan, source);
	else
		visit_scene(scan, scene_of(source));
	return true;
}

bool visit_root_scene(void *param, obs_source_t *scene_source)
{
	visit_scene(*static_cast<PlacementScan *>(param), obs_scene_from_source(scene_source));
	return true;
}

// Each canvas, scene and group is watched before it is walked, so that a
// change after its walk is reported.
void walk_canvases(PlacementScan &scan, HostWatch &watch)
{
	// The main canvas may be met again in the enumeration; each entry holds
	// a reference of its own, but a canvas is walked once.
	std::vector<CanvasRef> canvases = all_canvases();
	std::vector<obs_canvas_t *> walked;
	walked.reserve(canvases.size());
	for (CanvasRef &canvas : canvases) {
		obs_canvas_t *raw = canvas;
		if (std::find(walked.begin(), walked.end(), raw) == walked.end()) {
			walked.push_back(raw);
			watch.watch_canvas(raw);
			obs_canvas_enum_scenes(raw, visit_root_scene, &scan);
		}
		canvas = nullptr;
	}
}

void walk_pending_scene(PlacementScan &scan, HostWatch &watch)
{
	obs_scene_t *scene = scan.pending_scenes.back();
	scan.pending_scenes.pop_back();
	scan.current_scene = scene;
	scan.current_group = nullptr;
	watch.watch_scene(obs_scene_get_source(scene));
	obs_scene_enum_items(scene, scene_item_step, &scan);
}

void walk_pending_group(PlacementScan &scan, HostWatch &watch)
{
	PendingGroup pending = std::move(scan.pending_groups.back());
	scan.pending_groups.pop_back();
	scan.current_scene = pending.scene;
	scan.current_group = pending.group;
	watch.watch_scene(obs_sceneitem_get_source(pending.group));
	obs_sceneitem_group_enum_items(pending.group, group_item_step, &scan);
	// pending releases the item, then the scene.
}

void scan_placements(const char *type_id, Entries &output, HostWatch &watch)
{
	watch.begin_scan();
	PlacementScan scan;
	scan.type_id = type_id;
	scan.output = &output;
	walk_canvases(scan, watch);
	while (!scan.pending_scenes.empty() || !scan.pending_groups.empty()) {
		while (!scan.pending_scenes.empty())
			walk_pending_scene(scan, watch);
		while (!scan.pending_groups.empty())
			walk_pending_group(scan, watch);
	}
	scan.current_scene = nullptr;
	scan.current_group = nullptr;
	watch.end_scan();
	// scan.held releases every visited scene as the scan goes away.
}

// A full rescan this often whatever the signals say, for a change that no
// signal reports in time: ungrouping announces itself before it moves the
// items (the rescan of the frame after may still be early), and a host
// may change an item list without a signal. One scan a second costs a few
// percent of what a scan every frame did.
constexpr uint64_t kRescanEveryNs = 1000000000;

} // namespace

void PlacementRegistry::query(obs_source_t *board_source, Placement &placement)
{
	const char *type_id = obs_source_get_id(board_source);
	const uint64_t frame_time = obs_get_video_frame_time();

	std::lock_guard<std::mutex> lock(mutex_);
	if (needs_scan(type_id, frame_time)) {
		// Read before the walk: a change reported while it runs leaves
		// the count ahead of the scan's, so the next frame scans again.
		const uint64_t generation = watch_.generation();
		rescan_next_frame_ = watch_.take_unsettled();
		drop_entries();
		scan_placements(type_id, entries_, watch_);
		has_scan_ = true;
		scan_frame_time_ = frame_time;
		scan_generation_ = generation;
		scan_type_id_ = type_id ? type_id : "";
	}

	release_placement(placement);
	auto found = entries_.find(board_source);
	if (found == entries_.end())
		return;
	const Placement &entry = found->second;
	placement.count = entry.count;
	// The caller gets weak references of its own.
	if (entry.scene)
		placement.scene = refs::weak_addref(entry.scene);
	if (entry.group)
		placement.group = refs::weak_addref(entry.group);
}

bool PlacementRegistry::needs_scan(const char *type_id, uint64_t frame_time) const
{
	if (!has_scan_ || scan_type_id_ != (type_id ? type_id : ""))
		return true;
	// Every board of a frame sees the same scan.
	if (frame_time == scan_frame_time_)
		return false;
	return rescan_next_frame_ || watch_.generation() != scan_generation_ ||
	       frame_time - scan_frame_time_ >= kRescanEveryNs;
}

void PlacementRegistry::clear()
{
	std::lock_guard<std::mutex> lock(mutex_);
	drop_entries();
	watch_.clear();
	has_scan_ = false;
	rescan_next_frame_ = false;
}

void PlacementRegistry::drop_entries()
{
	entries_.clear();
}

PlacementRegistry &placement_registry()
{
	// Function-local static: created on first use, safe against two
	// threads arriving at once. Its destructor frees memory only; unload's
	// clear() has already dropped the references and the connections.
	static PlacementRegistry registry;
	return registry;
}
