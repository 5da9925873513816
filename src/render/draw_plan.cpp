// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/draw_plan.h"

DrawAction plan_draw(const DrawInputs &in)
{
	if (in.busy)
		return DrawAction::Nothing;
	// A cover reads nothing of the canvas, so it draws on any target; the
	// emergency cover still wins over the mode.
	const bool cover = in.cover_mode && !in.emergency;
	// The panic cover is drawn by a canvas alone, of whatever size: where
	// it cannot read that canvas, it covers it opaque.
	if (in.panic_cover && !in.live && !cover)
		return DrawAction::Hatch;
	// A board shown by two items cannot tell which one is drawn: stripes,
	// except for the emergency cover on a live canvas, which needs no item.
	if (in.status == PlacementStatus::Shared && !(in.hides && in.emergency && in.live))
		return DrawAction::Hatch;
	if (!in.hides)
		return DrawAction::Nothing;
	// Not in any public scene and not drawn onto a canvas (its properties
	// preview, say): there is nothing beneath it to hide.
	if (in.status != PlacementStatus::Placed && !in.live && !in.panic_cover)
		return DrawAction::Nothing;
	if (!in.has_effect)
		return DrawAction::FailureCover;
	// Every later view of this frame replays the first draw's result.
	if (in.cache_fresh)
		return DrawAction::Replay;
	return cover ? DrawAction::Cover : DrawAction::Capture;
}
