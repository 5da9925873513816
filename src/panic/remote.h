// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "panic/look.h"

// The panic switch for remote-control programs, through obs-websocket's
// vendor requests: vendor "mistpane", requests "GetPanic" and "SetPanic",
// event "PanicChanged". Does nothing where obs-websocket is not loaded.

// From obs_module_post_load, once obs-websocket has loaded.
void panic_remote_start();
void panic_remote_stop();
// Emits "PanicChanged" {"on": on, "style": style}.
void panic_remote_changed(bool on, PanicStyle style);
