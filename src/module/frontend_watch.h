// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Holds every scene while OBS Studio's frontend removes them all (on exit
// and when the scene collection is switched); does nothing where no
// frontend is loaded.
#include <obs-frontend-api.h>

void frontend_watch_start();
void frontend_watch_stop();
// What one frontend event does (the registered callback's body).
void frontend_watch_event(enum obs_frontend_event event);
