#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Soak in the real OBS Studio: the freshly built module installed per user
# in a throw-away profile, the GUI under Xvfb driven through obs-websocket
# for SECONDS (default 60) of streamer actions, then quit with SIGTERM.
# Reports how OBS exited, its leak line, any sources left and the module's
# own reference balance; fails on a crash, on the module's imbalance or when
# a known board no longer hides. Further arguments go to tests/soak/soak.py
# (--actions create-remove soaks only boards created and removed at once).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/soak.sh" "$@"
fi
seconds=${1:-60}
shift || true
dir=$("$here/build.sh" release mistpane)
exec "$here/with-display.sh" python3 "$here/../tests/soak/soak.py" --seconds "$seconds" \
  --module "$dir/mistpane.so" --data "$dir/data" "$@"
