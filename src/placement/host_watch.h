// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <atomic>
#include <cstdint>
#include <unordered_map>

#include "host/host_refs.h"

// The host's signals for every change a placement scan could see: items
// added to, removed from or moved within the scenes and groups it walked,
// scenes joining or leaving the canvases it walked, canvases and sources
// coming and going. A signal may come on any thread, some while the host
// holds a scene's locks, so the callbacks only count; the connecting and
// disconnecting is serialized by the caller (the registry's mutex).
class HostWatch {
      public:
	HostWatch() = default;
	// No callback may outlive the object it counts in.
	~HostWatch() { clear(); }
	HostWatch(const HostWatch &) = delete;
	HostWatch &operator=(const HostWatch &) = delete;

	// Changes reported so far. A scan reads it before it starts: whatever
	// is reported while it runs shows as a change afterwards.
	uint64_t generation() const { return generation_.load(); }
	// True once after a group item's removal was reported: ungrouping
	// reports it before it moves the group's items out, so a scan made
	// right after may still see them in the group.
	bool take_unsettled() { return unsettled_.exchange(false); }

	// A scan calls begin, then watch for each canvas and each scene or
	// group before it walks it (the caller holds a reference to each),
	// then end, which lets go of every scene and canvas the scan did not
	// meet: no change in those can matter until a reported change brings
	// them back into a scan.
	void begin_scan();
	void watch_canvas(obs_canvas_t *canvas);
	void watch_scene(obs_source_t *scene_source);
	void end_scan();

	// Disconnects every callback (the module may be unloaded next).
	void clear();

      private:
	static void on_change(void *param, calldata_t *data);
	static void on_item_remove(void *param, calldata_t *data);

	template <typename Weak>
	struct Watched {
		Weak weak; // the handler goes with its object, so no strong hold
		uint64_t scan = 0; // the last scan that met it
	};

	void watch_host();
	static void disconnect_scene(obs_weak_source_t *weak, void *param);
	static void disconnect_canvas(obs_weak_canvas_t *weak, void *param);

	std::atomic<uint64_t> generation_{0};
	std::atomic<bool> unsettled_{false};

	uint64_t scan_ = 0;
	bool host_connected_ = false;
	std::unordered_map<obs_source_t *, Watched<WeakSourceRef>> scenes_;
	std::unordered_map<obs_canvas_t *, Watched<WeakCanvasRef>> canvases_;
};
