// SPDX-License-Identifier: GPL-2.0-or-later
#include "filter/properties.h"

#include <obs-module.h>

#include "board/properties.h"
#include "filter/hide_filter.h"
#include "host/locale.h"

namespace {

void add_region_field(obs_properties_t *props, const char *key, const char *label_key)
{
	obs_property_t *prop = obs_properties_add_int(props, key, module_text(label_key), 0, 16384, 1);
	obs_property_int_set_suffix(prop, " px");
	obs_property_set_long_description(prop, module_text("Region.Desc"));
}

} // namespace

obs_properties_t *hide_filter_properties(void *)
{
	obs_properties_t *props = obs_properties_create();
	obs_properties_add_text(props, "help", module_text("HideFilter.Help"), OBS_TEXT_INFO);
	add_hiding_properties(props);
	namespace f = filter_keys;
	add_region_field(props, f::kRegionX, "RegionX");
	add_region_field(props, f::kRegionY, "RegionY");
	add_region_field(props, f::kRegionWidth, "RegionWidth");
	add_region_field(props, f::kRegionHeight, "RegionHeight");
	obs_properties_add_text(props, "region_note", module_text("Region.Desc"), OBS_TEXT_INFO);
	return props;
}
