// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

// Unregisters a hotkey and marks the id invalid; an invalid id is left
// alone. The bindings go first: libobs 32.2.2 frees a hotkey and only then
// releases the bindings still held down, writing its press count into the
// freed block. Cleared while the hotkey lives, a held binding is released
// through it (handlers ignore releases) and unregister finds none.
void unregister_hotkey(obs_hotkey_id &id);
