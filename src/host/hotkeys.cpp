// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/hotkeys.h"

void unregister_hotkey(obs_hotkey_id &id)
{
	if (id == OBS_INVALID_HOTKEY_ID)
		return;
	obs_hotkey_load_bindings(id, nullptr, 0);
	obs_hotkey_unregister(id);
	id = OBS_INVALID_HOTKEY_ID;
}
