// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// One tick of the fade: the level moves toward the target by 1 per
// fade_seconds whatever the strength, and never overshoots it. A fade time
// of 0 (or less) jumps to the target.
inline float fade_toward(float level, float target, float fade_seconds, float seconds)
{
	if (!(fade_seconds > 0.0f))
		return target;
	const float step = seconds / fade_seconds;
	if (target > level) {
		const float raised = level + step;
		return raised > target ? target : raised;
	}
	const float lowered = level - step;
	return lowered < target ? target : lowered;
}
