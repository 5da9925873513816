// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/state.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <atomic>
#include <mutex>
#include <string>

#include "host/host_refs.h"
#include "host/log.h"
#include "panic/canvas_covers.h"
#include "panic/cover_settings.h"
#include "panic/remote.h"

namespace {

constexpr const char *kStateFile = "panic.json";

// Serializes changes with their store and the channels they set.
std::mutex switch_mutex;
std::atomic<bool> panic_on{false};
PanicLook look; // under switch_mutex
std::string state_path; // empty: the host gave no config folder
std::string state_dir;

const char *cause_text(PanicCause cause)
{
	switch (cause) {
	case PanicCause::Hotkey:
		return "hotkey";
	case PanicCause::ToolsMenu:
		return "tools menu";
	case PanicCause::Remote:
		return "obs-websocket";
	case PanicCause::Restored:
		return "restored at start";
	}
	return "unknown";
}

// A host started without a config folder still gives a path, relative to
// wherever the process runs: nothing is stored then.
bool absolute(const std::string &path)
{
#ifdef _WIN32
	return path.size() > 2 && (path[1] == ':' || path[0] == '\\' || path[0] == '/');
#else
	return !path.empty() && path[0] == '/';
#endif
}

std::string module_config(obs_module_t *module, const char *file)
{
	char *path = module ? obs_module_get_config_path(module, file) : nullptr;
	std::string out = path ? path : "";
	bfree(path);
	return absolute(out) ? out : std::string();
}

struct StoredState {
	bool on = false;
	PanicLook look;
};

// A file that is there but cannot be read counts as on: it may have been
// written while the stream was covered.
StoredState read_stored_state(const std::string &path)
{
	StoredState stored;
	if (path.empty() || !os_file_exists(path.c_str()))
		return stored;
	DataRef data(refs::data_from_json_file(path.c_str(), "bak"));
	obs_data_item_t *item = data ? obs_data_item_byname(data, "on") : nullptr;
	const bool readable = item && obs_data_item_gettype(item) == OBS_DATA_BOOLEAN;
	stored.on = !readable || obs_data_item_get_bool(item);
	obs_data_item_release(&item);
	if (!readable)
		log_message(LOG_WARNING, "panic state in '%s' cannot be read; the panic cover stays on", path.c_str());
	stored.look = panic_look_read(data);
	return stored;
}

// Called with switch_mutex held.
void store_state(bool on)
{
	if (state_path.empty())
		return;
	DataRef data(refs::data_create());
	obs_data_set_bool(data, "on", on);
	panic_look_write(data, look);
	os_mkdirs(state_dir.c_str());
	if (!obs_data_save_json_safe(data, state_path.c_str(), "tmp", "bak"))
		log_message(LOG_WARNING, "panic state could not be written to '%s'", state_path.c_str());
}

// Called with switch_mutex held; true when the state changed.
bool switch_locked(bool on)
{
	if (panic_on.load() == on)
		return false;
	panic_on.store(on);
	store_state(on);
	if (on)
		panic_channels_cover(look);
	else
		panic_channels_uncover();
	return true;
}

// Called with switch_mutex held.
void restyle_locked(const PanicLook &new_look)
{
	look = new_look;
	store_state(panic_on.load());
	panic_channels_restyle(look);
}

void announce(bool on, PanicCause cause)
{
	log_message(LOG_INFO, "panic cover %s (%s)", on ? "on" : "off", cause_text(cause));
	panic_remote_changed(on, panic_style());
}

} // namespace

bool panic_is_on()
{
	return panic_on.load();
}

PanicLook panic_look()
{
	std::lock_guard<std::mutex> lock(switch_mutex);
	return look;
}

PanicStyle panic_style()
{
	return panic_look().style;
}

void panic_set_look(const PanicLook &new_look, PanicCause cause)
{
	PanicStyle old_style;
	{
		std::lock_guard<std::mutex> lock(switch_mutex);
		if (new_look == look)
			return;
		old_style = look.style;
		restyle_locked(new_look);
	}
	// The cover settings' own changes come through the Tools menu's dialog,
	// which shows them already.
	if (cause != PanicCause::ToolsMenu)
		panic_cover_settings_show(new_look);
	if (new_look.style == old_style)
		return;
	log_message(LOG_INFO, "panic cover style %s (%s)", panic_style_name(new_look.style), cause_text(cause));
	panic_remote_changed(panic_is_on(), new_look.style);
}

void panic_set_style(PanicStyle style, PanicCause cause)
{
	PanicLook new_look = panic_look();
	new_look.style = style;
	panic_set_look(new_look, cause);
}

bool panic_set(bool on, PanicCause cause)
{
	bool changed = false;
	{
		std::lock_guard<std::mutex> lock(switch_mutex);
		changed = switch_locked(on);
	}
	if (changed)
		announce(on, cause);
	return on;
}

bool panic_toggle(PanicCause cause)
{
	bool on = false;
	{
		std::lock_guard<std::mutex> lock(switch_mutex);
		on = !panic_on.load();
		switch_locked(on);
	}
	announce(on, cause);
	return on;
}

void panic_refresh()
{
	std::lock_guard<std::mutex> lock(switch_mutex);
	if (panic_on.load())
		panic_channels_cover(look);
}

void panic_start(obs_module_t *module)
{
	state_dir = module_config(module, "");
	state_path = module_config(module, kStateFile);
	const StoredState stored = read_stored_state(state_path);
	{
		std::lock_guard<std::mutex> lock(switch_mutex);
		look = stored.look;
	}
	panic_cover_settings_start();
	panic_channels_start();
	if (stored.on)
		panic_set(true, PanicCause::Restored);
}

void panic_stop()
{
	{
		std::lock_guard<std::mutex> lock(switch_mutex);
		panic_on.store(false);
		panic_channels_uncover();
	}
	panic_channels_stop();
	panic_cover_settings_stop();
}
