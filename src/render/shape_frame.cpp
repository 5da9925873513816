// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/shape_frame.h"

#include <cmath>

namespace {

bool finite(const vec2 &v)
{
	return std::isfinite(v.x) && std::isfinite(v.y);
}

// a * x + b * y
vec2 combine(const vec2 &a, float x, const vec2 &b, float y)
{
	vec2 out;
	vec2_set(&out, a.x * x + b.x * y, a.y * x + b.y * y);
	return out;
}

} // namespace

bool local_map_on_canvas(const UvMap &pos, const UvMap &local, float canvas_width, float canvas_height, UvMap &out)
{
	const vec2 &du = pos.du, &dv = pos.dv;
	const float det = du.x * dv.y - du.y * dv.x;
	if (!(std::fabs(det) > 1e-6f) || !std::isfinite(det))
		return false;
	// The board quad's uv of a canvas point c is inverse([du dv]) (c - origin);
	// the canvas quad's uv (u, v) is the canvas point (W u, H v).
	const float inv = 1.0f / det;
	const float ox = -pos.origin.x, oy = -pos.origin.y;
	const float u0 = (dv.y * ox - dv.x * oy) * inv, v0 = (du.x * oy - du.y * ox) * inv;
	const float uu = dv.y * canvas_width * inv, vu = -du.y * canvas_width * inv;
	const float uv = -dv.x * canvas_height * inv, vv = du.x * canvas_height * inv;
	const vec2 at_origin = combine(local.du, u0, local.dv, v0);
	vec2_set(&out.origin, local.origin.x + at_origin.x, local.origin.y + at_origin.y);
	out.du = combine(local.du, uu, local.dv, vu);
	out.dv = combine(local.du, uv, local.dv, vv);
	return finite(out.origin) && finite(out.du) && finite(out.dv);
}
