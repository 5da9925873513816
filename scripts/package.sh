#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the Debian package mistpane_<version>_<arch>.deb with CPack, by
# default into out/package (a folder given as the first argument is used
# instead; with the build root it must lie inside the checkout). Prints
# the package's path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/package.sh" "$@"
fi
out=$(realpath -m "${1:-out/package}")
dir=$("$here/build-dist.sh")
mkdir -p "$out"
(cd "$dir" && cpack -G DEB -B "$out" >&2)
rm -rf "$out/_CPack_Packages"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
deb="$out/mistpane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
echo "$deb"
