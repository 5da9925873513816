// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/settings.h"

#include <cmath>
#include <cstring>

namespace {

// The item of that key when it holds the wanted type; released by the
// caller.
obs_data_item_t *typed_item(obs_data_t *settings, const char *key, obs_data_type type)
{
	obs_data_item_t *item = settings ? obs_data_item_byname(settings, key) : nullptr;
	if (item && obs_data_item_gettype(item) != type)
		obs_data_item_release(&item);
	return item;
}

} // namespace

void drop_mistyped_value(obs_data_t *settings, const char *key, obs_data_type type)
{
	obs_data_item_t *item = obs_data_item_byname(settings, key);
	if (!item)
		return;
	const bool mistyped = obs_data_item_gettype(item) != type;
	obs_data_item_release(&item);
	if (mistyped)
		obs_data_erase(settings, key);
}

void set_typed_default(obs_data_t *settings, const char *key, const char *value)
{
	drop_mistyped_value(settings, key, OBS_DATA_STRING);
	obs_data_set_default_string(settings, key, value);
}

void set_typed_default(obs_data_t *settings, const char *key, double value)
{
	drop_mistyped_value(settings, key, OBS_DATA_NUMBER);
	obs_data_set_default_double(settings, key, value);
}

void set_typed_default(obs_data_t *settings, const char *key, int64_t value)
{
	drop_mistyped_value(settings, key, OBS_DATA_NUMBER);
	obs_data_set_default_int(settings, key, value);
}

void set_typed_default(obs_data_t *settings, const char *key, bool value)
{
	drop_mistyped_value(settings, key, OBS_DATA_BOOLEAN);
	obs_data_set_default_bool(settings, key, value);
}

double read_number(obs_data_t *settings, const char *key, double fallback)
{
	obs_data_item_t *item = typed_item(settings, key, OBS_DATA_NUMBER);
	if (item && obs_data_item_numtype(item) != OBS_DATA_NUM_INT &&
	    obs_data_item_numtype(item) != OBS_DATA_NUM_DOUBLE)
		obs_data_item_release(&item);
	if (!item)
		return fallback;
	const double value = obs_data_item_get_double(item);
	obs_data_item_release(&item);
	return std::isnan(value) ? fallback : value;
}

int64_t read_integer(obs_data_t *settings, const char *key, int64_t fallback)
{
	obs_data_item_t *item = typed_item(settings, key, OBS_DATA_NUMBER);
	if (!item)
		return fallback;
	int64_t result = fallback;
	const obs_data_number_type numtype = obs_data_item_numtype(item);
	if (numtype == OBS_DATA_NUM_INT) {
		result = obs_data_item_get_int(item);
	} else if (numtype == OBS_DATA_NUM_DOUBLE) {
		// A double beyond the 64-bit range has no integer conversion.
		const double value = obs_data_item_get_double(item);
		if (value >= 9.2e18)
			result = INT64_MAX;
		else if (value <= -9.2e18)
			result = INT64_MIN;
		else if (!std::isnan(value))
			result = (int64_t)value;
	}
	obs_data_item_release(&item);
	return result;
}

bool read_bool(obs_data_t *settings, const char *key, bool fallback)
{
	obs_data_item_t *item = typed_item(settings, key, OBS_DATA_BOOLEAN);
	if (!item)
		return fallback;
	const bool value = obs_data_item_get_bool(item);
	obs_data_item_release(&item);
	return value;
}

const char *read_string(obs_data_t *settings, const char *key, const char *fallback)
{
	obs_data_item_t *item = typed_item(settings, key, OBS_DATA_STRING);
	if (!item)
		return fallback;
	// The text lives in the settings object, not in the item handle.
	const char *value = obs_data_item_get_string(item);
	obs_data_item_release(&item);
	return value ? value : fallback;
}

ShapeKind shape_kind_of(const char *word)
{
	if (word && std::strcmp(word, setting_values::kShapeEllipse) == 0)
		return ShapeKind::Ellipse;
	if (word && std::strcmp(word, setting_values::kShapeRounded) == 0)
		return ShapeKind::Rounded;
	return ShapeKind::Rect;
}

BoardShape read_shape(obs_data_t *settings)
{
	namespace d = setting_defaults;
	namespace k = setting_keys;
	BoardShape shape;
	shape.kind = shape_kind_of(read_string(settings, k::kShape, d::shape));
	shape.feather = clamp_float((float)read_number(settings, k::kFeather, d::feather), 0.0f, 1000.0f);
	shape.corner_radius =
	    clamp_float((float)read_number(settings, k::kCornerRadius, d::corner_radius), 0.0f, 1000.0f);
	shape.invert = read_bool(settings, k::kInvert, d::invert);
	return shape;
}

void set_shape_defaults(obs_data_t *settings)
{
	namespace d = setting_defaults;
	namespace k = setting_keys;
	set_typed_default(settings, k::kShape, d::shape);
	set_typed_default(settings, k::kFeather, d::feather);
	set_typed_default(settings, k::kCornerRadius, d::corner_radius);
	set_typed_default(settings, k::kInvert, d::invert);
}
