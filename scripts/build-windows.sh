#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-build the module for 64-bit Windows with MinGW-w64 on the Universal
# CRT (src/ only, no tests) in build/<env>-windows, check the DLL and pack
# out/windows/mistpane-<version>-windows-x64.zip in OBS Studio's Windows
# layout (obs-plugins/64bit/mistpane.dll, data/obs-plugins/mistpane/).
# The checks: the DLL exports the module entry points and nothing else,
# imports only obs.dll and Windows's own DLLs, the C runtime from the UCRT
# (never msvcrt.dll), and every name it imports from obs.dll is one that
# the real libobs exports. Prints the zip's path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/build-windows.sh" "$@"
fi
fail() {
  echo "build-windows.sh: $*" >&2
  exit 1
}
toolchain=cmake/mingw-w64.cmake
libobs=$(realpath "/usr/lib/$(gcc -print-multiarch)/libobs.so.0")
dir=build/$MISTPANE_ENV-windows
stage=$dir-stage

# Configures afresh when the toolchain file changed: CMake never looks at
# it again once the cache exists.
configure() {
  local stamp
  stamp=$(sha256sum "$toolchain" | cut -d' ' -f1)
  if [ "$(cat "$dir/toolchain.sha256" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$dir"
  fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DMISTPANE_TESTS=OFF -DMISTPANE_LIBOBS_EXPORTS="$libobs" >&2
    echo "$stamp" >"$dir/toolchain.sha256"
  fi
}

build() {
  configure
  cmake --build "$dir" -j"$(nproc)" >&2
  rm -rf "$stage"
  cmake --install "$dir" --prefix "$stage" --strip >&2
  dll=$stage/obs-plugins/64bit/mistpane.dll
  [ -f "$dll" ] || fail "$dll was not installed"
}

# Sets exports (one name a line) and imports ("DLL name" a line).
read_tables() {
  local objdump dump
  objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$dir/CMakeCache.txt")
  dump=$("$objdump" -p "$dll")
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[[:space:]]*\[/ {print $NF; next}
    on && !/Ordinal/ {on=0}' <<<"$dump")
  imports=$(awk '/^[[:space:]]*DLL Name:/ {dll=$3; next} dll && /^[[:space:]]+[0-9a-f]+[[:space:]]/ {print dll, $NF; next}
    /^[[:space:]]*$/ {dll=""}' <<<"$dump")
}

check_exports() {
  local name stray
  local entry_points="obs_module_set_pointer obs_module_ver obs_module_set_locale obs_module_free_locale
    obs_module_get_string obs_module_name obs_module_description obs_module_load obs_module_unload"
  for name in $entry_points; do
    grep -qx "$name" <<<"$exports" || fail "$name is not exported (exports: $(echo $exports))"
  done
  stray=$(grep -v '^obs_module_' <<<"$exports" || true)
  [ -z "$stray" ] || fail "exports more than the entry points: $(echo $stray)"
}

# obs.dll, the system's DLLs and the UCRT (ucrtbase.dll, or its API sets).
# MinGW's own (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) would have to
# be shipped beside it; msvcrt.dll is the other C runtime, whose heap,
# FILE and locale are not OBS's.
check_dlls() {
  local name crt=""
  dlls=$(awk '{print $1}' <<<"$imports" | sort -u)
  for name in $dlls; do
    case "${name,,}" in
      ucrtbase.dll | api-ms-win-crt-*.dll) crt=$name ;;
      obs.dll | kernel32.dll | user32.dll | advapi32.dll | ntdll.dll | api-ms-win-*.dll) ;;
      msvcrt.dll) fail "imports msvcrt.dll: not built on the UCRT ($toolchain)" ;;
      *) fail "imports $name" ;;
    esac
  done
  [ -n "$crt" ] || fail "imports no C runtime from the UCRT: $(echo $dlls)"
}

check_obs_names() {
  local libobs_names unknown
  libobs_names=$(nm -D --defined-only "$libobs" | awk '{print $3}' | sort -u)
  from_obs=$(awk 'tolower($1) == "obs.dll" {print $2}' <<<"$imports" | sort -u)
  [ -n "$from_obs" ] || fail "imports nothing from obs.dll"
  unknown=$(comm -23 <(echo "$from_obs") <(echo "$libobs_names"))
  [ -z "$unknown" ] || fail "imports from obs.dll what libobs does not export: $(echo $unknown)"
}

pack_legacy_zip() {
  local zip=$out/mistpane-$version-windows-x64.zip
  rm -f "$zip"
  (cd "$stage" && zip -qrX "$zip" obs-plugins data)
  echo "$zip"
}

build
read_tables
check_exports
check_dlls
check_obs_names
echo "mistpane.dll: exports $(echo $exports); imports $(wc -l <<<"$from_obs") names from obs.dll and" \
  "$(grep -vix obs.dll <<<"$dlls" | paste -sd' ')" >&2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
out=$(realpath -m out/windows)
mkdir -p "$out"
pack_legacy_zip
