// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/matrix4.h>

#include <cstdint>

struct BlurBoard;
struct FinalPassParams;

// Why a board that should hide something could not draw its effect.
enum class CoverCause : uint32_t {
	NoEffect = 1u << 0,
	SceneGone = 1u << 1,
	ItemNotFound = 1u << 2,
	BadPosition = 1u << 3,
	CaptureTexture = 1u << 4,
	Passes = 1u << 5,
};

// Opaque stripes over the board's quad: a shared board, or one that cannot
// work. Nothing of the picture beneath shows through.
void draw_hatch(BlurBoard *board);

// The cover a board draws instead of its effect when it fails: over the
// canvas where the failed draw was an emergency cover whose placement is
// known (params.use_transform), else over the board's own quad. Logs the
// cause once per board.
void draw_failure_cover(BlurBoard *board, CoverCause cause, const FinalPassParams &params);
