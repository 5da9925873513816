#pragma once

#include <obs.h>

#include <cstdint>

enum class PlacementStatus : uint32_t {
	Placed = 0, // exactly one scene item holds the board
	NotPlaced = 1, // none does
	Shared = 2, // two or more do
};

// Where a board was found. The holder owns one weak reference for each of
// scene and group that is set.
struct Placement {
	obs_weak_source_t *scene = nullptr; // scene whose item list holds the first item found
	obs_weak_source_t *group = nullptr; // the group's source when that item sits in a group
	uint32_t count = 0; // scene items whose source is the board
};

// Drops both weak references and empties the record.
inline void release_placement(Placement &placement)
{
	obs_weak_source_release(placement.scene);
	obs_weak_source_release(placement.group);
	placement = Placement{};
}

inline PlacementStatus status_from_count(uint32_t count)
{
	if (count == 0)
		return PlacementStatus::NotPlaced;
	return count == 1 ? PlacementStatus::Placed : PlacementStatus::Shared;
}
