// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "placement/host_watch.h"
#include "board/placement.h"

// Module-wide map from a board's source to where it is placed. The scan is
// kept across frames until the host reports a change it could see, and is
// redone at most once per video frame and board type id.
class PlacementRegistry {
      public:
	// Fills placement (released first) with fresh weak references of the
	// caller's own. Must not be called with a board's mutex held.
	void query(obs_source_t *board_source, Placement &placement);
	// Drops every held weak reference and the scan, and disconnects from
	// the host's signals.
	void clear();

      private:
	using Entries = std::unordered_map<obs_source_t *, Placement>;

	bool needs_scan(const char *type_id, uint64_t frame_time) const;
	void drop_entries();

	std::mutex mutex_;
	bool has_scan_ = false;
	uint64_t scan_frame_time_ = 0;
	uint64_t scan_generation_ = 0;
	bool rescan_next_frame_ = false;
	std::string scan_type_id_;
	Entries entries_;
	HostWatch watch_;
};

PlacementRegistry &placement_registry();
