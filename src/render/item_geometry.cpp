// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/item_geometry.h"

#include <graphics/vec3.h>

#include <climits>
#include <cmath>

namespace {

// Rounds half away from zero into an int; values beyond the int range
// (only reachable with absurd bounds) saturate instead of overflowing.
int32_t round_share(float value)
{
	const float rounded = roundf(value);
	if (std::isnan(rounded))
		return 0;
	if (rounded <= (float)INT_MIN)
		return INT_MIN;
	if (rounded >= (float)INT_MAX)
		return INT_MAX;
	return (int32_t)rounded;
}

int32_t add_saturating(int32_t edge, int32_t share)
{
	const int64_t sum = (int64_t)edge + share;
	if (sum > INT_MAX)
		return INT_MAX;
	if (sum < INT_MIN)
		return INT_MIN;
	return (int32_t)sum;
}

// Adds the part of an item that overflows its bounds to the crop, on the
// one axis that overflows (horizontal first), split by the alignment.
void crop_to_bounds(const ItemLayout &layout, uint32_t cx, uint32_t cy, ItemGeometry &geometry)
{
	const float width = (float)cx * geometry.scale.x;
	const float height = (float)cy * geometry.scale.y;
	const float dw = layout.bounds.x - fabsf(width);
	const float dh = layout.bounds.y - fabsf(height);

	bool horizontal;
	if (dw < -0.1f)
		horizontal = true;
	else if (dh < -0.1f)
		horizontal = false;
	else
		return;

	const float diff = horizontal ? dw : dh;
	const float scale = horizontal ? geometry.scale.x : geometry.scale.y;
	const bool flipped = horizontal ? width < 0.0f : height < 0.0f;
	const uint32_t near_bit = horizontal ? OBS_ALIGN_LEFT : OBS_ALIGN_TOP;
	const uint32_t far_bit = horizontal ? OBS_ALIGN_RIGHT : OBS_ALIGN_BOTTOM;

	const float overflow = fabsf(diff / scale);
	float near_share;
	if (layout.bounds_alignment & near_bit)
		near_share = 0.0f;
	else if (layout.bounds_alignment & far_bit)
		near_share = overflow;
	else
		near_share = overflow * 0.5f;

	const int32_t a = round_share(near_share);
	const int32_t b = round_share(overflow - near_share);
	// A flipped axis shows its source's far edge on the near side.
	const int32_t first = flipped ? b : a;
	const int32_t second = flipped ? a : b;
	if (horizontal) {
		geometry.crop.left = add_saturating(geometry.crop.left, first);
		geometry.crop.right = add_saturating(geometry.crop.right, second);
	} else {
		geometry.crop.top = add_saturating(geometry.crop.top, first);
		geometry.crop.bottom = add_saturating(geometry.crop.bottom, second);
	}
}

// How much a bounds type other than stretch scales a w x h item.
float bounds_factor(const ItemLayout &layout, float w, float h)
{
	const float item_aspect = w / h;
	const float bounds_aspect = layout.bounds.x / layout.bounds.y;
	const float inner = item_aspect > bounds_aspect ? layout.bounds.x / w : layout.bounds.y / h;
	const float outer = item_aspect > bounds_aspect ? layout.bounds.y / h : layout.bounds.x / w;
	switch (layout.bounds_type) {
	case OBS_BOUNDS_SCALE_INNER:
		return inner;
	case OBS_BOUNDS_SCALE_OUTER:
		return outer;
	case OBS_BOUNDS_SCALE_TO_WIDTH:
		return layout.bounds.x / w;
	case OBS_BOUNDS_SCALE_TO_HEIGHT:
		return layout.bounds.y / h;
	case OBS_BOUNDS_MAX_ONLY:
		return w > layout.bounds.x || h > layout.bounds.y ? inner : 1.0f;
	default:
		return 1.0f;
	}
}

} // namespace

uint32_t cropped_size(uint32_t size, uint32_t first_edge, uint32_t second_edge)
{
	const uint32_t edges = first_edge + second_edge;
	return edges > size ? 2u : size - edges;
}

ItemGeometry compute_geometry(const ItemLayout &layout, uint32_t width, uint32_t height)
{
	ItemGeometry geometry;
	geometry.crop = layout.crop;
	geometry.scale = layout.scale;
	if (layout.bounds_type == OBS_BOUNDS_NONE)
		return geometry;

	const uint32_t cx = cropped_size(width, (uint32_t)layout.crop.left, (uint32_t)layout.crop.right);
	const uint32_t cy = cropped_size(height, (uint32_t)layout.crop.top, (uint32_t)layout.crop.bottom);
	if (layout.bounds.x <= 0.0f || layout.bounds.y <= 0.0f || cx == 0 || cy == 0)
		return geometry;

	const float w = fabsf(geometry.scale.x) * (float)cx;
	const float h = fabsf(geometry.scale.y) * (float)cy;
	if (w <= 0.0f || h <= 0.0f)
		return geometry;

	if (layout.bounds_type == OBS_BOUNDS_STRETCH) {
		geometry.scale.x = copysignf(layout.bounds.x / (float)cx, geometry.scale.x);
		geometry.scale.y = copysignf(layout.bounds.y / (float)cy, geometry.scale.y);
	} else {
		const float factor = bounds_factor(layout, w, h);
		geometry.scale.x *= factor;
		geometry.scale.y *= factor;
	}

	const bool crops = layout.bounds_type == OBS_BOUNDS_SCALE_OUTER ||
			   layout.bounds_type == OBS_BOUNDS_SCALE_TO_WIDTH ||
			   layout.bounds_type == OBS_BOUNDS_SCALE_TO_HEIGHT;
	if (layout.crop_to_bounds && crops)
		crop_to_bounds(layout, cx, cy, geometry);
	return geometry;
}

ItemGeometry compute_item_geometry(obs_sceneitem_t *item, uint32_t width, uint32_t height)
{
	ItemLayout layout;
	obs_sceneitem_get_crop(item, &layout.crop);
	obs_sceneitem_get_scale(item, &layout.scale);
	layout.bounds_type = (uint32_t)obs_sceneitem_get_bounds_type(item);
	obs_sceneitem_get_bounds(item, &layout.bounds);
	layout.bounds_alignment = obs_sceneitem_get_bounds_alignment(item);
	layout.crop_to_bounds = obs_sceneitem_get_bounds_crop(item);
	return compute_geometry(layout, width, height);
}

vec3 map_local_point(const matrix4 &transform, float x, float y)
{
	vec3 point;
	vec3_set(&point, x, y, 0.0f);
	vec3_transform(&point, &point, &transform);
	return point;
}

matrix4 board_to_canvas(const matrix4 &board_transform, const obs_sceneitem_crop &crop)
{
	matrix4 identity, m;
	matrix4_identity(&identity);
	vec3 shift;
	vec3_set(&shift, -(float)crop.left, -(float)crop.top, 0.0f);
	matrix4_translate3v(&m, &identity, &shift);
	matrix4_mul(&m, &m, &board_transform);
	return m;
}
