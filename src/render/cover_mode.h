// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "render/capture.h"

class CoverImage;
struct BlurBoard;
struct DrawSnapshot;
struct FinalPassParams;

// Cover mode's first draw of a frame: where the board's quad and shape lie
// (as for the other modes, so the shapes match), its colour, image and
// fade level. Captures nothing and runs no pass; Failed when the board's
// item cannot be found.
CaptureResult place_cover(BlurBoard *board, const DrawSnapshot &snapshot, const TargetView &view, bool placed,
			  bool on_canvas, FinalPassParams &params);

// Blends the cover over the board's quad, in the shape, at the fade level.
// The cover's colour (0xAABBGGRR, drawn opaque) or image, mixed in by alpha.
void set_cover_look(uint32_t color, const CoverImage *image, float alpha, FinalPassParams &params);

void draw_cover_composite(const FinalPassParams &params);
