// SPDX-License-Identifier: GPL-2.0-or-later
#include "placement/tick.h"

#include <obs.h>

#include <mutex>
#include <utility>

#include "board/blur_board.h"
#include "host/log.h"
#include "placement/fade.h"
#include "host/profiling_switch.h"
#include "placement/profiling_report.h"
#include "placement/registry.h"

void board_tick(BlurBoard *board, float seconds)
{
	if (!board)
		return;

	// The registry's lock is taken and dropped before the board's: the two
	// are never held together.
	Placement placement;
	placement_registry().query(board->source, placement);
	const uint32_t count = placement.count;
	const PlacementStatus status = status_from_count(count);

	bool warn_shared = false;
	{
		std::lock_guard<std::mutex> lock(board->mutex);
		const float target = board->enabled.load() ? board->strength : 0.0f;
		board->fade_level = fade_toward(board->fade_level, target, board->fade_seconds, seconds);
		// Fade and placement change in one locked section, so a draw sees
		// both from the same tick; the status is published before the draw
		// reads it without the lock.
		std::swap(board->placement, placement);
		board->placement_status.store(status);
		// Warned once each time the board becomes shared.
		warn_shared = status == PlacementStatus::Shared && !board->shared_warned;
		board->shared_warned = status == PlacementStatus::Shared;
	}
	// The previous placement's weak references go outside the lock.
	release_placement(placement);

	if (warn_shared)
		log_message(LOG_WARNING,
			    "board '%s' is used by %d scene items; it is switched off because OBS does not say "
			    "which one is being drawn. Add a separate board to each scene.",
			    obs_source_get_name(board->source), (int)count);

	if (profiling_is_enabled())
		profiling_report_step(board, seconds);
}
