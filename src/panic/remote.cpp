// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/remote.h"

#include <obs-websocket-api.h>

#include <atomic>

#include "host/host_refs.h"
#include "host/log.h"
#include "panic/state.h"

namespace {

std::atomic<obs_websocket_vendor> vendor{nullptr};

void get_panic(obs_data_t *, obs_data_t *response, void *)
{
	obs_data_set_bool(response, "on", panic_is_on());
}

// obs-websocket answers every vendor request as a success; a refused one
// says why in "error" and carries no "on".
void set_panic(obs_data_t *request, obs_data_t *response, void *)
{
	obs_data_item_t *item = request ? obs_data_item_byname(request, "on") : nullptr;
	const bool valid = item && obs_data_item_gettype(item) == OBS_DATA_BOOLEAN;
	const bool on = valid && obs_data_item_get_bool(item);
	obs_data_item_release(&item);
	if (!valid) {
		obs_data_set_string(response, "error", "SetPanic needs \"on\": true or false");
		return;
	}
	obs_data_set_bool(response, "on", panic_set(on, PanicCause::Remote));
}

} // namespace

void panic_remote_start()
{
	obs_websocket_vendor registered = obs_websocket_register_vendor("mistpane");
	if (!registered)
		return;
	if (!obs_websocket_vendor_register_request(registered, "GetPanic", get_panic, nullptr) ||
	    !obs_websocket_vendor_register_request(registered, "SetPanic", set_panic, nullptr))
		log_message(LOG_WARNING, "obs-websocket refused the panic requests");
	vendor.store(registered);
}

void panic_remote_stop()
{
	// obs-websocket may already be gone (modules unload in load order):
	// its vendors go with it, so nothing is unregistered here.
	vendor.store(nullptr);
}

void panic_remote_changed(bool on)
{
	obs_websocket_vendor registered = vendor.load();
	if (!registered)
		return;
	DataRef data(refs::data_create());
	obs_data_set_bool(data, "on", on);
	obs_websocket_vendor_emit_event(registered, "PanicChanged", data);
}
