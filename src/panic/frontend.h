// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The panic switch in OBS Studio: the frontend hotkey "MistPane.Panic"
// (registered in any host; its binding read from the profile, where the
// frontend's settings store it), an entry in the Tools menu, and another
// that opens the panic cover's settings.
void panic_frontend_start();
void panic_frontend_stop();
