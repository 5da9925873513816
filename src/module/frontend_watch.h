#pragma once

// Holds every scene while OBS Studio's frontend removes them all (on exit
// and when the scene collection is switched); does nothing where no
// frontend is loaded.
void frontend_watch_start();
void frontend_watch_stop();
