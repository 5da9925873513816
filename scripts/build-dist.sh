#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the module alone, without the tests, in build/<env>-dist for
# installing and packaging (install prefix /usr); print the folder.
# Runs natively when the host has libobs >= 32.2, else in the build root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/build-dist.sh" "$@"
fi
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
dir=build/$MISTPANE_ENV-dist
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${gen[@]}" -DMISTPANE_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_INSTALL_PREFIX=/usr >&2
fi
cmake --build "$dir" -j"$(nproc)" >&2
echo "$dir"
