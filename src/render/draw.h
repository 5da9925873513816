// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <memory>

#include "board/cover_image.h"
#include "board/settings.h"
#include "host/host_refs.h"

struct BlurBoard;
struct FinalPassParams;

// A board's settings, fade level and placement as one draw sees them,
// copied under the board's lock. Holds strong references to the scene
// and the group (either may be null) for the length of the draw.
struct DrawSnapshot {
	bool is_mosaic = false;
	float blur_radius = 0.0f;
	float mosaic_size = 1.0f;
	float emergency_size = 6.0f;
	bool emergency = false;
	float fade_level = 0.0f;
	SourceRef scene;
	SourceRef group;
	bool in_group = false;
	bool force_redraw = false;
	BoardShape shape;
	bool is_cover = false;
	uint32_t cover_color = 0;
	std::shared_ptr<const CoverImage> cover_image; // kept alive for the draw
};

// The board's video_render entry.
void board_draw(BlurBoard *board);
