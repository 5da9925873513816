#!/usr/bin/env bash
# The main job: build the module, load it in the real host (headless, under
# Xvfb) and show what it does.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/run.sh" "$@"
fi
dir=$("$here/build.sh" release)
exec "$here/with-display.sh" "$dir/tools/mistpane-inspect"
