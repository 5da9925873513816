#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the module (and tests) in build/<flavor>: "release" (default),
# "sanitize" (AddressSanitizer and UndefinedBehaviorSanitizer) or "thread";
# targets after the flavor build only those (default: everything).
# Runs natively when the host has libobs >= 32.2, else in the build root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/build.sh" "$@"
fi
flavor=${1:-release}
targets=()
for target in "${@:2}"; do targets+=(--target "$target"); done
case "$flavor" in
  release) extra=() ;;
  sanitize) extra=(-DMISTPANE_SANITIZE=address,undefined) ;;
  thread) extra=(-DMISTPANE_SANITIZE=thread) ;;
  *) echo "unknown flavor $flavor" >&2; exit 2 ;;
esac
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
dir=${MISTPANE_BUILD_DIR:-build/$MISTPANE_ENV-$flavor}
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >&2
fi
cmake --build "$dir" -j"$(nproc)" "${targets[@]}" >&2
echo "$dir"
