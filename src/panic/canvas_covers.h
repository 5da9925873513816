// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "panic/look.h"

// The panic cover on every canvas: a private board of its own on
// a free high output channel, which the canvas draws last, one to one over
// its finished program. One board per canvas, as a board keeps one result
// per video frame. Safe from any thread.

// Covers every canvas that is not covered yet, and from now on every new
// canvas too; a canvas whose channel lost the cover gets it back. Covers
// made from now on show the look.
void panic_channels_cover(const PanicLook &look);
// Every cover there is shows the look at once (a new board takes the old
// one's channel); so do covers made later.
void panic_channels_restyle(const PanicLook &look);
// Gives back every channel that still holds the cover, and drops the
// boards.
void panic_channels_uncover();

// Watch the host for canvases coming and going; stop also uncovers.
void panic_channels_start();
void panic_channels_stop();
