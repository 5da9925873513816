// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/frontend.h"

#include <obs-frontend-api.h>
#include <util/config-file.h>

#include "host/frontend.h"
#include "host/host_refs.h"
#include "host/hotkeys.h"
#include "host/locale.h"
#include "panic/cover_settings.h"
#include "panic/state.h"

namespace {

constexpr const char *kHotkeyName = "MistPane.Panic";

using AddToolsItemFn = void (*)(const char *, obs_frontend_cb, void *);
using ProfileConfigFn = config_t *(*)();
using OpenPropertiesFn = void (*)(obs_source_t *);

obs_hotkey_id hotkey = OBS_INVALID_HOTKEY_ID;
bool menu_added = false;

void toggle_from_hotkey(void *)
{
	panic_toggle(PanicCause::Hotkey);
}

// A hotkey runs with the host's hotkey lock held (obs-websocket's
// TriggerHotkeyByName calls it on its own thread), while the graphics
// thread may wait for that lock (a scene item's release) holding a canvas's
// channel lock, which setting the cover takes: the switch happens at the
// graphics thread's next task run instead, outside both.
void hotkey_pressed(void *, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		obs_queue_task(OBS_TASK_GRAPHICS, toggle_from_hotkey, nullptr, false);
}

void menu_clicked(void *)
{
	panic_toggle(PanicCause::ToolsMenu);
}

// The frontend's own properties dialog, on the cover settings' source: it
// takes a reference of its own while open.
void settings_clicked(void *)
{
	const auto open = frontend_function<OpenPropertiesFn>("obs_frontend_open_source_properties");
	SourceRef source = panic_cover_settings_source();
	if (open && source)
		open(source);
}

// The frontend's settings store every frontend hotkey's binding in the
// profile under [Hotkeys], but load only its own: this one is read here,
// as the frontend reads its own, whenever a profile is loaded.
void load_binding()
{
	const auto profile_config = frontend_function<ProfileConfigFn>("obs_frontend_get_profile_config");
	config_t *config = profile_config ? profile_config() : nullptr;
	const char *json = config ? config_get_string(config, "Hotkeys", kHotkeyName) : nullptr;
	if (!json || hotkey == OBS_INVALID_HOTKEY_ID)
		return;
	DataRef data(refs::data_from_json(json));
	OBSDataArrayAutoRelease bindings = data ? obs_data_get_array(data, "bindings") : nullptr;
	obs_hotkey_load(hotkey, bindings);
}

void on_event(enum obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		load_binding();
		panic_refresh();
		break;
	case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
		load_binding();
		break;
	// Loading a collection clears every output channel of the main canvas.
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
		panic_refresh();
		break;
	default:
		break;
	}
}

FrontendEvents events{on_event};

} // namespace

void panic_frontend_start()
{
	hotkey = obs_hotkey_register_frontend(kHotkeyName, module_text("Hotkey.Panic"), hotkey_pressed, nullptr);

	events.start();

	// The frontend offers no way to take an entry out again; it goes with
	// the main window.
	const auto add_item = frontend_function<AddToolsItemFn>("obs_frontend_add_tools_menu_item");
	if (add_item && !menu_added) {
		add_item(module_text("Tools.Panic"), menu_clicked, nullptr);
		add_item(module_text("Tools.PanicCoverSettings"), settings_clicked, nullptr);
		menu_added = true;
	}
}

void panic_frontend_stop()
{
	events.stop();
	unregister_hotkey(hotkey);
}
