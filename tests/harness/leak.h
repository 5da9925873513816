// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a viewer who records the stream can get back of small text from
// beneath a board: measures on frames read from the host's output.

#include <vector>

#include "harness/host.h"

namespace harness {

struct Area {
	int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // half-open, canvas pixels
};

// Text moving one pixel a frame under mosaic cells of edge `cell` (anchored
// at the canvas origin): frames[s] shows the text moved s pixels to the
// right (s = 0 .. cell - 1), `text` the text unmoved. Every frame gives each
// cell's value at another offset of the grid over the text; together they
// give the text box-filtered at every position, and the step from one
// position to the next is a column entering the cell less one leaving it.
// Returns the correlation of those steps with the text's own (both limited
// to detail finer than a letter): 1 reads the text back column by column,
// 0 gives nothing.
double motion_leak(const std::vector<Image> &frames, const Image &text, Area area, int cell);

// One frame of the text under a blur of the given sigma, sharpened back by
// deconvolution with that sigma (a Wiener filter, the best of several noise
// levels, against the frame's 8 bits): the correlation of what comes back
// with the text's detail finer than a letter.
double deconvolution_leak(const Image &frame, const Image &text, Area area, float sigma);

} // namespace harness
