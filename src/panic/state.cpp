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
#include "panic/remote.h"

namespace {

constexpr const char *kStateFile = "panic.json";

// Serializes changes with their store and the channels they set.
std::mutex switch_mutex;
std::atomic<bool> panic_on{false};
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

// A file that is there but cannot be read counts as on: it may have been
// written while the stream was covered.
bool read_stored_state(const std::string &path)
{
	if (path.empty() || !os_file_exists(path.c_str()))
		return false;
	DataRef data(refs::data_from_json_file(path.c_str(), "bak"));
	obs_data_item_t *item = data ? obs_data_item_byname(data, "on") : nullptr;
	const bool readable = item && obs_data_item_gettype(item) == OBS_DATA_BOOLEAN;
	const bool on = !readable || obs_data_item_get_bool(item);
	obs_data_item_release(&item);
	if (!readable)
		log_message(LOG_WARNING, "panic state in '%s' cannot be read; the panic cover stays on", path.c_str());
	return on;
}

void store_state(bool on)
{
	if (state_path.empty())
		return;
	DataRef data(refs::data_create());
	obs_data_set_bool(data, "on", on);
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
		panic_channels_cover();
	else
		panic_channels_uncover();
	return true;
}

void announce(bool on, PanicCause cause)
{
	log_message(LOG_INFO, "panic cover %s (%s)", on ? "on" : "off", cause_text(cause));
	panic_remote_changed(on);
}

} // namespace

bool panic_is_on()
{
	return panic_on.load();
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
		panic_channels_cover();
}

void panic_start(obs_module_t *module)
{
	state_dir = module_config(module, "");
	state_path = module_config(module, kStateFile);
	panic_channels_start();
	if (read_stored_state(state_path))
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
}
