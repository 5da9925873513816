// SPDX-License-Identifier: GPL-2.0-or-later
#include "module/filter_type.h"

#include <obs-module.h>

#include "filter/filter_draw.h"
#include "filter/hide_filter.h"
#include "filter/hotkey.h"
#include "filter/properties.h"
#include "host/locale.h"

namespace {

const char *filter_get_name(void *)
{
	return module_text("HideFilter");
}

void *filter_create(obs_data_t *settings, obs_source_t *source)
{
	FilterRender *render = filter_render_create();
	HideFilter *filter = render ? hide_filter_create(settings, source) : nullptr;
	if (!filter) {
		filter_render_destroy(render);
		return nullptr;
	}
	filter->render = render;
	return filter;
}

void filter_destroy(void *data)
{
	auto *filter = static_cast<HideFilter *>(data);
	if (!filter)
		return;
	filter_render_destroy(filter->render);
	hide_filter_destroy(filter);
}

void filter_tick(void *data, float seconds)
{
	hide_filter_tick(static_cast<HideFilter *>(data), seconds);
}

void filter_render(void *data, gs_effect_t *)
{
	hide_filter_draw(static_cast<HideFilter *>(data));
}

void filter_added(void *data, obs_source_t *parent)
{
	register_filter_hotkey(static_cast<HideFilter *>(data), parent);
}

void filter_removed(void *data, obs_source_t *)
{
	unregister_filter_hotkey(static_cast<HideFilter *>(data));
}

// The source's own space: the filter draws what the source draws.
gs_color_space filter_color_space(void *data, size_t count, const gs_color_space *preferred_spaces)
{
	auto *filter = static_cast<HideFilter *>(data);
	obs_source_t *target = obs_filter_get_target(filter->source);
	if (!target)
		return count ? preferred_spaces[0] : GS_CS_SRGB;
	return obs_source_get_color_space(target, count, preferred_spaces);
}

// In the order of the struct's fields, as designated initializers need.
const obs_source_info filter_info = {
    .id = kHideFilterTypeId,
    .type = OBS_SOURCE_TYPE_FILTER,
    .output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_SRGB,
    .get_name = filter_get_name,
    .create = filter_create,
    .destroy = filter_destroy,
    .get_defaults = hide_filter_defaults,
    .get_properties = hide_filter_properties,
    .update = hide_filter_update,
    .video_tick = filter_tick,
    .video_render = filter_render,
    .filter_remove = filter_removed,
    .video_get_color_space = filter_color_space,
    .filter_add = filter_added,
};

} // namespace

void register_hide_filter()
{
	obs_register_source_s(&filter_info, sizeof(obs_source_info));
}
