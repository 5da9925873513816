// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/matrix4.h>

#include <cstdint>

struct BlurBoard;
struct FinalPassParams;

// Why a board that should hide something could not draw its effect.
enum class FailureCause : uint32_t {
	NoEffect = 1u << 0,
	SceneGone = 1u << 1,
	ItemNotFound = 1u << 2,
	BadPosition = 1u << 3,
	CaptureTexture = 1u << 4,
	Passes = 1u << 5,
	SourceSize = 1u << 6, // a filter's source has no known size
};

// The cause as the log says it.
const char *failure_cause_text(FailureCause cause);

// The failure cover, drawn by a board instead of its effect when it should
// hide and cannot: hatching over the canvas where the failed draw was an
// emergency cover or an inverted board whose canvas's place is known
// (params.use_transform), else over the whole target for an inverted board
// (params.fails_over_target), else over the board's own quad. Logs the
// cause once per board.
void draw_failure_cover(BlurBoard *board, FailureCause cause, const FinalPassParams &params);
