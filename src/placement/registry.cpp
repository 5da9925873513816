#include "placement/registry.h"

// Placeholder until the scan lands: every board reads as not placed.
void PlacementRegistry::query(obs_source_t *, Placement &placement)
{
	release_placement(placement);
}

void PlacementRegistry::clear()
{
	std::lock_guard<std::mutex> lock(mutex_);
	for (auto &entry : entries_)
		release_placement(entry.second);
	entries_.clear();
	has_scan_ = false;
}

PlacementRegistry &placement_registry()
{
	static PlacementRegistry registry;
	return registry;
}
