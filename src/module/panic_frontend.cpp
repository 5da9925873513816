// SPDX-License-Identifier: GPL-2.0-or-later
#include "module/panic_frontend.h"

#include <obs-frontend-api.h>
#include <util/config-file.h>

#include "module/frontend_watch.h"
#include "module/host_refs.h"
#include "module/locale.h"
#include "module/panic.h"

namespace {

constexpr const char *kHotkeyName = "MistPane.Panic";

using EventCallbackFn = void (*)(obs_frontend_event_cb, void *);
using AddToolsItemFn = void (*)(const char *, obs_frontend_cb, void *);
using ProfileConfigFn = config_t *(*)();

obs_hotkey_id hotkey = OBS_INVALID_HOTKEY_ID;
EventCallbackFn remove_callback = nullptr;
bool frontend_gone = false;
bool menu_added = false;

template <typename Fn>
Fn frontend_fn(const char *name)
{
	return reinterpret_cast<Fn>(frontend_symbol(name));
}

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

// The frontend's settings store every frontend hotkey's binding in the
// profile under [Hotkeys], but load only its own: this one is read here,
// as the frontend reads its own, whenever a profile is loaded.
void load_binding()
{
	const auto profile_config = frontend_fn<ProfileConfigFn>("obs_frontend_get_profile_config");
	config_t *config = profile_config ? profile_config() : nullptr;
	const char *json = config ? config_get_string(config, "Hotkeys", kHotkeyName) : nullptr;
	if (!json || hotkey == OBS_INVALID_HOTKEY_ID)
		return;
	DataRef data(refs::data_from_json(json));
	OBSDataArrayAutoRelease bindings = data ? obs_data_get_array(data, "bindings") : nullptr;
	obs_hotkey_load(hotkey, bindings);
}

void on_event(enum obs_frontend_event event, void *)
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
	case OBS_FRONTEND_EVENT_EXIT:
		frontend_gone = true;
		break;
	default:
		break;
	}
}

} // namespace

void panic_frontend_start()
{
	hotkey = obs_hotkey_register_frontend(kHotkeyName, module_text("Hotkey.Panic"), hotkey_pressed, nullptr);

	const auto add = frontend_fn<EventCallbackFn>("obs_frontend_add_event_callback");
	remove_callback = frontend_fn<EventCallbackFn>("obs_frontend_remove_event_callback");
	if (add && remove_callback)
		add(on_event, nullptr);
	else
		remove_callback = nullptr;

	// The frontend offers no way to take an entry out again; it goes with
	// the main window.
	const auto add_item = frontend_fn<AddToolsItemFn>("obs_frontend_add_tools_menu_item");
	if (add_item && !menu_added) {
		add_item(module_text("Tools.Panic"), menu_clicked, nullptr);
		menu_added = true;
	}
}

void panic_frontend_stop()
{
	if (remove_callback && !frontend_gone)
		remove_callback(on_event, nullptr);
	remove_callback = nullptr;
	if (hotkey == OBS_INVALID_HOTKEY_ID)
		return;
	// Bindings first: libobs 32.2.2 writes into a freed hotkey when it
	// releases a binding held down at unregister.
	obs_hotkey_load_bindings(hotkey, nullptr, 0);
	obs_hotkey_unregister(hotkey);
	hotkey = OBS_INVALID_HOTKEY_ID;
}
