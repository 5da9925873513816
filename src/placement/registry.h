#pragma once

#include <obs.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "placement/placement.h"

// Module-wide map from a board's source to where it is placed, rebuilt at
// most once per video frame and board type id.
class PlacementRegistry {
      public:
	// Fills placement (released first) with fresh weak references of the
	// caller's own. Must not be called with a board's mutex held.
	void query(obs_source_t *board_source, Placement &placement);
	// Drops every held weak reference and the scan.
	void clear();

      private:
	using Entries = std::unordered_map<obs_source_t *, Placement>;

	void drop_entries();

	std::mutex mutex_;
	bool has_scan_ = false;
	uint64_t scan_frame_time_ = 0;
	std::string scan_type_id_;
	Entries entries_;
};

PlacementRegistry &placement_registry();
