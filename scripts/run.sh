#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job: build the module, load it in the real host (headless, under
# Xvfb), print what it registered and render the gallery of boards (PNG
# images and an index page, by default in out/gallery; a folder given as the
# first argument is used instead).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/run.sh" "$@"
fi
dir=$("$here/build.sh" release mistpane mistpane-inspect mistpane-gallery)
"$here/with-display.sh" "$dir/tools/mistpane-inspect"
exec "$here/with-display.sh" "$dir/tools/mistpane-gallery" "$@"
