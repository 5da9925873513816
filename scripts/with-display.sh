#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Run a command with a private Xvfb display (software OpenGL through Mesa).
set -euo pipefail
if [ -n "${DISPLAY:-}" ] && [ "${MISTPANE_OWN_DISPLAY:-1}" = 0 ]; then
  exec "$@"
fi
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r num <"$fifo"
rm -f "$fifo"
trap 'kill $xvfb 2>/dev/null || true; wait $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:$num LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe
"$@"
