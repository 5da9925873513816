// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The panic cover's own settings (style, colour, picture) as a private
// source of a type of its own, "korvanta_panic_cover", whose properties the
// frontend's properties dialog shows: the Tools menu opens it. Every change
// made there (and Cancel's and Defaults' too) reaches the panic state at
// once through the source's update. It draws nothing and is never in a
// scene; the type is hidden from the list of sources to add.
#include "host/host_refs.h"
#include "panic/look.h"

inline constexpr const char *kPanicCoverTypeId = "korvanta_panic_cover";

// Registers the type; stop drops the source.
void panic_cover_settings_start();
void panic_cover_settings_stop();
// Shows a look set elsewhere (obs-websocket) the next time it is opened.
void panic_cover_settings_show(const PanicLook &look);
// The source, for the frontend's properties dialog: made with the look of
// the moment on first use (hosts without the Tools menu never hold one),
// kept until unload.
SourceRef panic_cover_settings_source();
