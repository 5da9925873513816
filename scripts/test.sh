#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The test command: the module in libobs for Windows under the host's Wine
# (scripts/test-windows.sh, skipped without a hand-built Windows libobs),
# style and licence-line checks, the Windows cross-build and its checks (a
# minute at most), then every test against the real host,
# in a plain build and in one with AddressSanitizer and UBSan, then the
# threads test alone in a ThreadSanitizer build, then a minute's soak in the
# real OBS Studio (SOAK_SECONDS, default 60; 0 skips it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  # Wine is the host's, not the root's: the module in libobs for Windows
  # (its own cross-build first; skipped without a hand-built Windows libobs)
  # runs here, before the rest in the root.
  echo "== the module in libobs for Windows, under Wine"
  windows=0
  "$here/test-windows.sh" || windows=1
  status=0
  "$here/env.sh" "$here/test.sh" "$@" || status=$?
  if [ "$windows" != 0 ]; then
    echo "== the Windows test under Wine failed (its lines are at the start)"
    [ "$status" != 0 ] || status=1
  fi
  exit "$status"
fi
start=$(date +%s)
# Each flavour keeps its own folder.
unset MISTPANE_BUILD_DIR
"$here/check-format.sh"
"$here/spdx.sh" --check

status=0
echo "== Windows cross-build"
"$here/build-windows.sh" || status=1
for flavor in release sanitize; do
  dir=$("$here/build.sh" "$flavor")
  echo "== tests ($flavor) in $dir"
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  "$here/with-display.sh" ctest --test-dir "$dir" --output-on-failure -j2 ${CTEST_ARGS:-} || status=1
done
# Only the one test binary is built with ThreadSanitizer: about a minute.
dir=$("$here/build.sh" thread threads_test)
echo "== threads test (thread) in $dir"
"$here/with-display.sh" ctest --test-dir "$dir" --output-on-failure -R '^threads_test$' ${CTEST_ARGS:-} || status=1
if [ "${SOAK_SECONDS:-60}" != 0 ]; then
  echo "== soak in OBS Studio"
  "$here/soak.sh" "${SOAK_SECONDS:-60}" || status=1
fi
echo "== tests took $(( $(date +%s) - start )) s, status $status"
exit $status
