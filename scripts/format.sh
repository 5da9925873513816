#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Reformat the C++ sources in place (all, or the files given).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ] && ! command -v clang-format >/dev/null; then
  exec "$here/env.sh" "$here/format.sh" "$@"
fi
cd "$here/.."
if [ "$#" -gt 0 ]; then
  clang-format -i "$@"
else
  find src tests tools bench -name '*.cpp' -o -name '*.h' 2>/dev/null | xargs clang-format -i
fi
