// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include "board/cover_image.h"

#include "render/failure_cover.h"
#include "render/final_pass.h"
#include "render/texture_pool.h"

// What the draw keeps of one board from frame to frame: its texture pool
// and the first draw's result of the current video frame, which every later
// view of that frame replays. Touched on the graphics thread alone.
struct BoardRender {
	bool busy = false; // a draw of this board is under way (a board beneath itself)
	bool redraw_logged = false;
	bool emergency_clip_warned = false;
	uint32_t failure_logged = 0; // FailureCause bits already logged
	uint64_t cached_frame_time = 0;
	bool cache_valid = false;
	bool cached_ok = false;
	bool cached_failed = false; // the cached capture failed: the failure cover instead
	FailureCause cached_cause = FailureCause::Passes;
	FinalPassParams cached_params;
	std::shared_ptr<const CoverImage> cached_cover_image; // cached_params.image of a cover
	TexturePool pool;
};

BoardRender *board_render_create();
// Frees the pool's textures inside the graphics context, then the record.
void board_render_destroy(BoardRender *render);
