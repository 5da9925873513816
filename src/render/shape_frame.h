// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where a board's shape lies on a quad that is not the board's own: pure
// arithmetic, tested without a GPU.

#include <graphics/vec2.h>

// An affine map of a quad's uv: origin + du * u + dv * v.
struct UvMap {
	vec2 origin{}, du{}, dv{};
};

// The board's quad maps its uv to the canvas by `pos` and to the board's
// frame by `local`. Returns, in out, the board's frame at the uv of a
// canvas_width x canvas_height quad at the canvas origin. False when the
// board's quad has no area or is not a number: it then has no shape there.
bool local_map_on_canvas(const UvMap &pos, const UvMap &local, float canvas_width, float canvas_height, UvMap &out);
