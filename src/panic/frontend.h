// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The panic switch in OBS Studio: the frontend hotkey "MistPane.Panic"
// (registered in any host; its binding read from the profile, where the
// frontend's settings store it) and an entry in the Tools menu.
void panic_frontend_start();
void panic_frontend_stop();
