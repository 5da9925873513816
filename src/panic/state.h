// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The module-wide panic switch. While it is on, every canvas's program is
// hidden under the emergency cover (panic_channels), whatever it shows. The
// state is kept in the module's config folder, so a stream that was covered
// when OBS quit is covered again when it starts.
#include <obs-module.h>

// What switched the cover, named in the log line.
enum class PanicCause { Hotkey, ToolsMenu, Remote, Restored };

bool panic_is_on();
// Logs, stores the state, covers or uncovers the canvases and tells remote
// clients, when the state changes. Returns the state afterwards.
bool panic_set(bool on, PanicCause cause);
bool panic_toggle(PanicCause cause);
// Covers any canvas that lost its cover (the frontend clears every output
// channel when it switches scene collections).
void panic_refresh();

// Load: reads the stored state and covers at once when it was on. Unload:
// takes the cover off every canvas; the stored state stays.
void panic_start(obs_module_t *module);
void panic_stop();
