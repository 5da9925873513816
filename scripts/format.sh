#!/usr/bin/env bash
# Reformat the C++ sources in place.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ] && ! command -v clang-format >/dev/null; then
  exec "$here/env.sh" "$here/format.sh"
fi
cd "$here/.."
git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format -i
