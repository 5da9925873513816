// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

struct BlurBoard;

// Hatching: opaque dark red and grey stripes that show nothing of the
// picture beneath (plain dark grey when the board's effect is missing).

// Over the board's quad: a shared board, a panic cover that cannot read its
// canvas, or a failure cover without a known placement.
void draw_hatch(BlurBoard *board);

// Over the whole viewport of the current target, whatever the matrices: an
// inverted board that cannot tell where its canvas lies.
void draw_hatch_target();

// Over a w x h quad at the origin of the current matrix.
void draw_hatch_quad(float w, float h);
