#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The module inside the real libobs 32.2.2 for Windows, under the host's
# Wine: tests/windows/host_check.cpp cross-built, run first without
# graphics (load, registration, defaults, properties, locale, hotkeys,
# unload, no leaks), then with the Direct3D 11 renderer on Wine's Direct3D
# over Mesa's llvmpipe under Xvfb; its pictures are compared with the same
# cases rendered by OpenGL on Linux. Ends with "N passed, M failed".
#
# The Windows libobs is built by hand outside the repository (see
# docs/testing.md) into $MISTPANE_WINDOWS_LIBOBS (default
# /var/cache/mistpane-windows/libobs-32.2.2, OBS's layout: bin/64bit,
# data/libobs). Without it the test is skipped: "0 passed, 0 failed".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
libobs=${MISTPANE_WINDOWS_LIBOBS:-/var/cache/mistpane-windows/libobs-32.2.2}
skip() {
  echo "test-windows.sh: $* (skipped)"
  echo "0 passed, 0 failed"
  exit 0
}
if [ -n "${MISTPANE_ENV:-}" ] && [ "$MISTPANE_ENV" != native ]; then
  skip "runs on the host, where Wine is, not inside the build root"
fi
for dll in obs.dll libobs-d3d11.dll; do
  [ -f "$libobs/bin/64bit/$dll" ] || skip "no Windows libobs in $libobs ($dll missing; it is built by hand, see docs/testing.md)"
done

# Debian 12's Wine and Xvfb with Mesa on the host, installed when missing.
wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ] || ! command -v Xvfb >/dev/null; then
  echo "== installing wine64 and xvfb on the host" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q wine64 xvfb libgl1-mesa-dri >&2 ||
    { apt-get update -q >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -q wine64 xvfb libgl1-mesa-dri >&2; }
fi
[ -x "$wine" ] || skip "no $wine after installing wine64"

# The module as shipped, and the check program for both platforms.
work=$top/build/windows-check
rm -rf "$work"
mkdir -p "$work/windows" "$work/linux"
echo "== building (log: $work/build.log)"
"$here/build-windows.sh" >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 1; }
cp "$libobs/bin/64bit/obs.dll" "$work/"
"$here/env.sh" bash -c '
  set -e
  # Linked against obs.dll itself: ld reads its export table.
  x86_64-w64-mingw32ucrt-g++ -std=c++20 -O2 -static -I/usr/include/obs -Itests -Isrc \
    tests/windows/host_check.cpp tests/windows/render.cpp tests/windows/compare.cpp tests/windows/shader_capture.cpp \
    tests/harness/pattern.cpp \
    build/windows-check/obs.dll -o build/windows-check/mistpane-host-check.exe
' >>"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 1; }
linux_dir=$("$here/build.sh" release mistpane mistpane-host-check 2>>"$work/build.log") ||
  { tail -n 30 "$work/build.log"; exit 1; }
# The layout the installer and the main archive ship.
stage=$(ls -d "$top"/build/*-windows-stage | head -n1)/programdata/mistpane
module=$stage/bin/64bit/mistpane.dll
data=$stage/data

results=$work/results.txt
: >"$results"
# One run's lines into the results; a run that ended otherwise than its
# failure count says (a crash, a missing DLL) counts as one more failure.
record() {
  local name=$1 log=$2 status=$3
  tr -d '\r' <"$log" | tee -a "$results"
  local fails
  fails=$(tr -d '\r' <"$log" | grep -c '^FAIL ' || true)
  if [ "$status" != "$fails" ]; then
    echo "FAIL $name ends as it reports: exit status $status, $fails failures printed" | tee -a "$results"
    tail -n 20 "$work/$name.err" >&2 || true
  fi
}
# OBS's layout, as links: libobs loads its renderer only from the program's
# own folder and finds its effects at ../../data/libobs from the working one.
run=$work/run
mkdir -p "$run/bin/64bit" "$run/data"
ln -s "$libobs"/bin/64bit/*.dll "$run/bin/64bit/"
ln -s "$libobs/data/libobs" "$run/data/libobs"
mv "$work/mistpane-host-check.exe" "$run/bin/64bit/"
run_wine() {
  local name=$1 status=0
  shift
  # Wine takes the absolute paths as Z:.
  (cd "$run/bin/64bit" && WINEPREFIX=/var/cache/mistpane-windows/wineprefix WINEDEBUG=-all \
    "$here/with-display.sh" "$wine" "$run/bin/64bit/mistpane-host-check.exe" --module "$module" --data "$data" "$@") \
    >"$work/$name.out" 2>"$work/$name.err" || status=$?
  record "$name" "$work/$name.out" "$status"
}
prefix=/var/cache/mistpane-windows/wineprefix
mkdir -p "$prefix"
echo "== Windows libobs under Wine, no graphics"
run_wine wine-no-graphics --no-graphics

# Direct3D 11 through libobs-d3d11's shader cache (tests/windows/
# shader_capture.cpp): each round runs every case, catching the shader texts
# that Wine's compiler refuses; the root's vkd3d-shader compiles them into
# the cache, and the next round gets further. The first round that catches
# nothing new is the one recorded.
compile_caught() {
  "$here/env.sh" bash -c '
    cd build/windows-check && mkdir -p shader-cache
    for text in shaders/*.hlsl; do
      [ -f "$text" ] || continue
      name=${text#shaders/}; hash=${name%%.*}; target=${name#*.}; target=${target%.hlsl}
      [ -f "shader-cache/$hash.v2" ] && continue
      if vkd3d-compiler -x hlsl -b dxbc-tpf -e main -p "$target" -o compiled.dxbc "$text" 2>>compile.log; then
        "$0" --cache-entry compiled.dxbc "shader-cache/$hash.v2"
      else
        echo "vkd3d-compiler refuses $name" >&2
      fi
    done
  ' "$top/$linux_dir/tests/mistpane-host-check"
  mkdir -p "$prefix/drive_c/ProgramData/obs-studio/shader-cache"
  cp "$work"/shader-cache/*.v2 "$prefix/drive_c/ProgramData/obs-studio/shader-cache/" 2>/dev/null || true
}
# run_d3d11 NAME ARGS...: rounds of one graphics run under Wine.
run_d3d11() {
  local name=$1 round caught status
  shift
  mkdir -p "$work/shaders"
  for round in 1 2 3 4 5; do
    caught=$(ls "$work/shaders" | wc -l)
    status=0
    (cd "$run/bin/64bit" && WINEPREFIX=$prefix WINEDEBUG=-all "$here/with-display.sh" "$wine" \
      "$run/bin/64bit/mistpane-host-check.exe" --module "$module" --data "$data" \
      --capture-shaders "$work/shaders" "$@") >"$work/$name.out" 2>"$work/$name.err" || status=$?
    [ "$(ls "$work/shaders" | wc -l)" = "$caught" ] && break
    echo "round $round: $(( $(ls "$work/shaders" | wc -l) - caught )) shader texts for the cache" >&2
    compile_caught
  done
  record "$name" "$work/$name.out" "$status"
}
# run_linux NAME ARGS...: the same cases through OpenGL.
run_linux() {
  local name=$1 status=0
  shift
  "$here/env.sh" scripts/with-display.sh "$linux_dir/tests/mistpane-host-check" --module "$linux_dir/mistpane.so" \
    --data data "$@" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  grep '^FAIL' "$work/$name.out" || true
  [ "$status" = 0 ] || echo "FAIL the Linux pictures ($name): exit status $status" | tee -a "$results"
}
compare() {
  local status=0
  "$here/env.sh" "$linux_dir/tests/mistpane-host-check" --compare "build/windows-check/$1" "build/windows-check/$2" \
    >"$work/compare-$1.out" 2>&1 || status=$?
  record "compare-$1" "$work/compare-$1.out" "$status"
}
mkdir -p "$work/windows-hdr" "$work/linux-hdr"
echo "== Windows libobs under Wine, Direct3D 11"
run_d3d11 wine-d3d11 --out "$work/windows"
echo "== Windows libobs under Wine, Direct3D 11, a canvas of 16-bit floats (P010, BT.2100 PQ)"
run_d3d11 wine-d3d11-hdr --hdr --out "$work/windows-hdr"
echo "== Linux libobs, OpenGL (the pictures compared)"
run_linux linux --out build/windows-check/linux
run_linux linux-hdr --hdr --out build/windows-check/linux-hdr
echo "== Direct3D 11 against OpenGL"
compare windows linux
echo "== Direct3D 11 against OpenGL, 16-bit floats"
compare windows-hdr linux-hdr

passed=$(grep -c '^ok ' "$results" || true)
failed=$(grep -c '^FAIL ' "$results" || true)
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
