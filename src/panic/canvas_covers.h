// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The panic cover on every canvas: a private emergency board of its own on
// a free high output channel, which the canvas draws last, one to one over
// its finished program. One board per canvas, as a board keeps one result
// per video frame. Safe from any thread.

// Covers every canvas that is not covered yet, and from now on every new
// canvas too; a canvas whose channel lost the cover gets it back.
void panic_channels_cover();
// Gives back every channel that still holds the cover, and drops the
// boards.
void panic_channels_uncover();

// Watch the host for canvases coming and going; stop also uncovers.
void panic_channels_start();
void panic_channels_stop();
