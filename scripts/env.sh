#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Run a command where libobs >= 32.2 can be built against: natively when the
# host has its development files, otherwise inside the forky build root.
# MISTPANE_FORCE_ROOT=1 always uses the root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)

native_ok() {
  [ "${MISTPANE_FORCE_ROOT:-0}" = 1 ] && return 1
  command -v pkg-config >/dev/null || return 1
  pkg-config --atleast-version=32.2 libobs 2>/dev/null
}

if native_ok; then
  cd "$top"
  exec env MISTPANE_ENV=native "$@"
fi

root=$("$here/root.sh")
# Private mount namespace: the binds vanish with the command, so nothing
# outside (a later rm of the cache, say) can reach through them.
exec unshare -m --propagation private bash -c '
  set -e
  root=$1 top=$2; shift 2
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/tmp"
  mkdir -p "$root$top"
  mount --bind "$top" "$root$top"
  exec chroot "$root" /usr/bin/env -i \
    PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    MISTPANE_ENV=root ${MISTPANE_PROFILE+MISTPANE_PROFILE="$MISTPANE_PROFILE"} \
    ${CTEST_ARGS+CTEST_ARGS="$CTEST_ARGS"} ${MISTPANE_BUILD_DIR+MISTPANE_BUILD_DIR="$MISTPANE_BUILD_DIR"} ${MISTPANE_TEST_VERBOSE+MISTPANE_TEST_VERBOSE="$MISTPANE_TEST_VERBOSE"} ${MISTPANE_SKIP+MISTPANE_SKIP="$MISTPANE_SKIP"} ${SOAK_SECONDS+SOAK_SECONDS="$SOAK_SECONDS"} \
    bash -c "cd \"\$0\" && exec \"\$@\"" "$top" "$@"
' _ "$root" "$top" "$@"
