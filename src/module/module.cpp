// SPDX-License-Identifier: GPL-2.0-or-later
// The host-facing entry points of the plug-in.
#include <obs-module.h>

#include <cstdlib>

#include "module/frontend_watch.h"
#include "host/host_refs.h"
#include "host/locale.h"
#include "host/log.h"
#include "host/profiling_switch.h"
#include "host/version.h"
#include "panic/state.h"
#include "panic/frontend.h"
#include "panic/remote.h"
#include "module/filter_type.h"
#include "module/source_type.h"
#include "placement/registry.h"
#include "render/board_effect.h"

namespace {
constexpr const char *kModuleName = "MistPane";
constexpr const char *kModuleDescription = "MistPane: camera effects for streamers (blur / mosaic board)";
constexpr uint32_t kApiVersion = (32u << 24) | (2u << 16) | 2u;

obs_module_t *module_handle = nullptr;
} // namespace

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	module_handle = module;
}

MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return kApiVersion;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	locale_set(module_handle, locale);
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	locale_free();
}

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **out)
{
	return locale_get_string(key, out);
}

MODULE_EXPORT const char *obs_module_name(void)
{
	return kModuleName;
}

MODULE_EXPORT const char *obs_module_description(void)
{
	return kModuleDescription;
}

MODULE_EXPORT bool obs_module_load(void)
{
	if (!board_effect_load())
		log_message(LOG_WARNING, "the board will draw nothing because its shader is missing");

	register_board_source();
	register_hide_filter();

	// Only the first character counts: 1, 10 and 1abc all switch it on.
	const char *profile = std::getenv("MISTPANE_PROFILE");
	if (profile && profile[0] == '1')
		profiling_switch_on();

	frontend_watch_start();
	refs::register_balance_proc();
	panic_start(module_handle);
	panic_frontend_start();

	log_message(LOG_INFO, "plugin loaded successfully (version %s)", kPluginVersion);
	return true;
}

// obs-websocket takes vendors only once every module has loaded.
MODULE_EXPORT void obs_module_post_load(void)
{
	panic_remote_start();
}

MODULE_EXPORT void obs_module_unload(void)
{
	panic_frontend_stop();
	panic_remote_stop();
	panic_stop();
	frontend_watch_stop();
	placement_registry().clear();
	board_effect_unload();
	log_message(LOG_INFO, "plugin unloaded");
	refs::module_unloaded();
}
