// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/remote.h"

#include <obs-websocket-api.h>

#include <atomic>
#include <optional>

#include "host/host_refs.h"
#include "host/log.h"
#include "panic/state.h"

namespace {

std::atomic<obs_websocket_vendor> vendor{nullptr};

void answer_state(obs_data_t *response, bool on, PanicStyle style)
{
	obs_data_set_bool(response, "on", on);
	obs_data_set_string(response, panic_keys::kStyle, panic_style_name(style));
}

void get_panic(obs_data_t *, obs_data_t *response, void *)
{
	answer_state(response, panic_is_on(), panic_style());
}

// What a SetPanic asks for: each field may be left out; false when one is
// there but not of its kind.
struct SetRequest {
	std::optional<bool> on;
	std::optional<PanicStyle> style;
};

bool read_request(obs_data_t *request, SetRequest &out)
{
	obs_data_item_t *on = request ? obs_data_item_byname(request, "on") : nullptr;
	obs_data_item_t *style = request ? obs_data_item_byname(request, panic_keys::kStyle) : nullptr;
	bool valid = true;
	if (on) {
		valid = obs_data_item_gettype(on) == OBS_DATA_BOOLEAN;
		if (valid)
			out.on = obs_data_item_get_bool(on);
	}
	PanicStyle named = PanicStyle::Cover;
	if (style && obs_data_item_gettype(style) == OBS_DATA_STRING &&
	    panic_style_from_name(obs_data_item_get_string(style), named))
		out.style = named;
	else if (style)
		valid = false;
	obs_data_item_release(&on);
	obs_data_item_release(&style);
	return valid && (out.on || out.style);
}

// obs-websocket answers every vendor request as a success; a refused one
// says why in "error", carries no state and changes nothing.
void set_panic(obs_data_t *request, obs_data_t *response, void *)
{
	SetRequest wanted;
	if (!read_request(request, wanted)) {
		obs_data_set_string(
		    response, "error",
		    "SetPanic needs \"on\": true or false, \"style\": \"cover\" or \"mosaic\", or both");
		return;
	}
	// The style first: turned on, the cover shows the new style at once.
	if (wanted.style)
		panic_set_style(*wanted.style, PanicCause::Remote);
	const bool on = wanted.on ? panic_set(*wanted.on, PanicCause::Remote) : panic_is_on();
	answer_state(response, on, panic_style());
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

void panic_remote_changed(bool on, PanicStyle style)
{
	obs_websocket_vendor registered = vendor.load();
	if (!registered)
		return;
	DataRef data(refs::data_create());
	answer_state(data, on, style);
	obs_websocket_vendor_emit_event(registered, "PanicChanged", data);
}
