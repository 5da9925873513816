// SPDX-License-Identifier: GPL-2.0-or-later
#include "placement/host_watch.h"

namespace {

// What changes a scene's or group's list of items (libobs 32.2.2): adds
// (obs_scene_add, a loaded item, a new group) report item_add; removals,
// pruned removed sources and ungrouping report item_remove (connected on
// its own, below); moves into or out of a group report refresh
// (obs_sceneitem_group_add_item, _remove_item) or reorder
// (obs_scene_reorder_items2 moves items between groups too). Reorder also
// changes which of two items is met first.
constexpr const char *kSceneSignals[] = {"item_add", "reorder", "refresh"};
// A canvas reports a scene joining or leaving its list after the fact; the
// host's own source_remove comes before the scene leaves the list.
constexpr const char *kCanvasSignals[] = {"source_add", "source_remove"};
// New canvases, and sources coming and going (a scene made in the main
// canvas, a board source removed or destroyed). Over-reporting costs one
// scan.
constexpr const char *kHostSignals[] = {"source_create", "source_destroy", "source_remove",
					"canvas_create", "canvas_remove",  "canvas_destroy"};

} // namespace

void HostWatch::on_change(void *param, calldata_t *)
{
	static_cast<HostWatch *>(param)->generation_.fetch_add(1);
}

void HostWatch::on_item_remove(void *param, calldata_t *data)
{
	auto *watch = static_cast<HostWatch *>(param);
	// Set before the count moves, so that a scan which sees the new count
	// also sees this.
	if (obs_sceneitem_is_group(static_cast<obs_sceneitem_t *>(calldata_ptr(data, "item"))))
		watch->unsettled_.store(true);
	watch->generation_.fetch_add(1);
}

void HostWatch::watch_host()
{
	if (host_connected_)
		return;
	signal_handler_t *handler = obs_get_signal_handler();
	for (const char *signal : kHostSignals)
		signal_handler_connect(handler, signal, on_change, this);
	host_connected_ = true;
}

void HostWatch::begin_scan()
{
	++scan_;
	watch_host();
}

void HostWatch::watch_canvas(obs_canvas_t *canvas)
{
	auto found = canvases_.find(canvas);
	if (found != canvases_.end()) {
		// A canvas destroyed and another made at its address: the old
		// weak reference no longer leads to it.
		CanvasRef same(refs::weak_get_canvas(found->second.weak));
		if (same == canvas) {
			found->second.scan = scan_;
			return;
		}
	}
	signal_handler_t *handler = obs_canvas_get_signal_handler(canvas);
	for (const char *signal : kCanvasSignals)
		signal_handler_connect(handler, signal, on_change, this);
	canvases_[canvas] = {WeakCanvasRef(refs::get_weak_canvas(canvas)), scan_};
}

void HostWatch::watch_scene(obs_source_t *scene_source)
{
	auto found = scenes_.find(scene_source);
	// The caller holds the scene, so a weak reference to its address that
	// has not expired is to this very scene, not to one destroyed before.
	if (found != scenes_.end() && !obs_weak_source_expired(found->second.weak) &&
	    obs_weak_source_references_source(found->second.weak, scene_source)) {
		found->second.scan = scan_;
		return;
	}
	signal_handler_t *handler = obs_source_get_signal_handler(scene_source);
	for (const char *signal : kSceneSignals)
		signal_handler_connect(handler, signal, on_change, this);
	signal_handler_connect(handler, "item_remove", on_item_remove, this);
	scenes_[scene_source] = {WeakSourceRef(refs::get_weak_source(scene_source)), scan_};
}

void HostWatch::disconnect_scene(obs_weak_source_t *weak, void *param)
{
	// Only through a strong reference: a scene's signal handler is freed
	// with the scene, and one that is gone needs no disconnecting.
	SourceRef scene(refs::weak_get_source(weak));
	if (!scene)
		return;
	signal_handler_t *handler = obs_source_get_signal_handler(scene);
	for (const char *signal : kSceneSignals)
		signal_handler_disconnect(handler, signal, on_change, param);
	signal_handler_disconnect(handler, "item_remove", on_item_remove, param);
}

void HostWatch::disconnect_canvas(obs_weak_canvas_t *weak, void *param)
{
	CanvasRef canvas(refs::weak_get_canvas(weak));
	if (!canvas)
		return;
	signal_handler_t *handler = obs_canvas_get_signal_handler(canvas);
	for (const char *signal : kCanvasSignals)
		signal_handler_disconnect(handler, signal, on_change, param);
}

void HostWatch::end_scan()
{
	for (auto it = scenes_.begin(); it != scenes_.end();) {
		if (it->second.scan == scan_) {
			++it;
			continue;
		}
		disconnect_scene(it->second.weak, this);
		it = scenes_.erase(it);
	}
	for (auto it = canvases_.begin(); it != canvases_.end();) {
		if (it->second.scan == scan_) {
			++it;
			continue;
		}
		disconnect_canvas(it->second.weak, this);
		it = canvases_.erase(it);
	}
}

void HostWatch::clear()
{
	for (auto &[scene, watched] : scenes_)
		disconnect_scene(watched.weak, this);
	scenes_.clear();
	for (auto &[canvas, watched] : canvases_)
		disconnect_canvas(watched.weak, this);
	canvases_.clear();
	if (host_connected_) {
		signal_handler_t *handler = obs_get_signal_handler();
		for (const char *signal : kHostSignals)
			signal_handler_disconnect(handler, signal, on_change, this);
		host_connected_ = false;
	}
}
