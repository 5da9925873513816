// SPDX-License-Identifier: GPL-2.0-or-later
#include "filter/hotkey.h"

#include <obs-module.h>

#include <string>

#include "board/settings.h"
#include "filter/hide_filter.h"
#include "host/host_refs.h"
#include "host/hotkeys.h"
#include "host/locale.h"

namespace {

// Through the settings, as a board's toggle: stored, shown in the
// properties and faded like a click on the check box.
void toggle_pressed(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	auto *filter = static_cast<HideFilter *>(data);
	DataRef settings = refs::data_create();
	obs_data_set_bool(settings, setting_keys::kEnabled, !filter->enabled.load());
	obs_source_update(filter->source, settings);
}

} // namespace

void register_filter_hotkey(HideFilter *filter, obs_source_t *parent)
{
	unregister_filter_hotkey(filter);
	if (!parent)
		return;
	// The source saves its bindings by name: one name per filter on it.
	const char *filter_name = obs_source_get_name(filter->source);
	const std::string name = std::string("MistPaneHide.Toggle.") + (filter_name ? filter_name : "");
	const std::string description =
	    std::string(filter_name ? filter_name : "") + ": " + module_text("Hotkey.HideToggle");
	filter->toggle_hotkey =
	    obs_hotkey_register_source(parent, name.c_str(), description.c_str(), toggle_pressed, filter);
}

void unregister_filter_hotkey(HideFilter *filter)
{
	unregister_hotkey(filter->toggle_hotkey);
}
