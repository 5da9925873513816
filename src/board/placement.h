// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <cstdint>

#include "host/host_refs.h"

enum class PlacementStatus : uint32_t {
	Placed = 0, // exactly one scene item holds the board
	NotPlaced = 1, // none does
	Shared = 2, // two or more do
};

// Where a board was found. Move-only: the record owns its weak references,
// which go with it when it is moved and are released when it is replaced
// or destroyed.
struct Placement {
	WeakSourceRef scene; // scene whose item list holds the first item found
	WeakSourceRef group; // the group's source when that item sits in a group
	uint32_t count = 0; // scene items whose source is the board

	Placement() = default;
	Placement(Placement &&) = default;
	Placement &operator=(Placement &&) = default;
	Placement(const Placement &) = delete;
	Placement &operator=(const Placement &) = delete;
};

// Drops both weak references and empties the record.
inline void release_placement(Placement &placement)
{
	placement = Placement{};
}

inline PlacementStatus status_from_count(uint32_t count)
{
	if (count == 0)
		return PlacementStatus::NotPlaced;
	return count == 1 ? PlacementStatus::Placed : PlacementStatus::Shared;
}
