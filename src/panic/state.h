// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The module-wide panic switch. While it is on, every canvas's program is
// hidden under the panic cover (panic_channels), whatever it shows: a plain
// cover or the emergency mosaic (the look). The state and the look are
// kept in the module's config folder, so a stream that was covered when
// OBS quit is covered again, the same way, when it starts.
#include <obs-module.h>

#include "panic/look.h"

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

PanicLook panic_look();
PanicStyle panic_style();
// Stores the look and, while on, re-covers every canvas with it at once; a
// change of style is logged and told to remote clients.
void panic_set_look(const PanicLook &look, PanicCause cause);
void panic_set_style(PanicStyle style, PanicCause cause);

// Load: reads the stored state and covers at once when it was on. Unload:
// takes the cover off every canvas; the stored state stays.
void panic_start(obs_module_t *module);
void panic_stop();
