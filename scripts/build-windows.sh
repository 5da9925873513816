#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-build the module for 64-bit Windows with MinGW-w64 (src/ only, no
# tests) in build/<env>-windows, check the DLL and pack
# out/windows/mistpane-<version>-windows-x64.zip in OBS Studio's Windows
# layout (obs-plugins/64bit/mistpane.dll, data/obs-plugins/mistpane/).
# The checks: the DLL exports the module entry points and nothing else,
# imports only obs.dll and Windows's own DLLs, and every name it imports
# from obs.dll is one that the real libobs exports. Prints the zip's path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/build-windows.sh" "$@"
fi
fail() {
  echo "build-windows.sh: $*" >&2
  exit 1
}
libobs=$(realpath "/usr/lib/$(gcc -print-multiarch)/libobs.so.0")
dir=build/$MISTPANE_ENV-windows
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DMISTPANE_TESTS=OFF -DMISTPANE_LIBOBS_EXPORTS="$libobs" >&2
fi
cmake --build "$dir" -j"$(nproc)" >&2
stage=$dir-stage
rm -rf "$stage"
cmake --install "$dir" --prefix "$stage" --strip >&2
dll=$stage/obs-plugins/64bit/mistpane.dll
[ -f "$dll" ] || fail "$dll was not installed"

dump=$(x86_64-w64-mingw32-objdump -p "$dll")
# The export table's names, then each imported DLL with its names.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[[:space:]]*\[/ {print $NF; next}
  on && !/Ordinal/ {on=0}' <<<"$dump")
imports=$(awk '/^[[:space:]]*DLL Name:/ {dll=$3; next} dll && /^[[:space:]]+[0-9a-f]+[[:space:]]/ {print dll, $NF; next}
  /^[[:space:]]*$/ {dll=""}' <<<"$dump")

entry_points="obs_module_set_pointer obs_module_ver obs_module_set_locale obs_module_free_locale
  obs_module_get_string obs_module_name obs_module_description obs_module_load obs_module_unload"
for name in $entry_points; do
  grep -qx "$name" <<<"$exports" || fail "$name is not exported (exports: $(echo $exports))"
done
stray=$(grep -v '^obs_module_' <<<"$exports" || true)
[ -z "$stray" ] || fail "exports more than the entry points: $(echo $stray)"

dlls=$(awk '{print $1}' <<<"$imports" | sort -u)
for name in $dlls; do
  # obs.dll and the system's DLLs; MinGW's own (libstdc++-6, libgcc_s_seh-1,
  # libwinpthread-1) would have to be shipped beside it.
  case "${name,,}" in
    obs.dll | kernel32.dll | user32.dll | advapi32.dll | ntdll.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *) fail "imports $name" ;;
  esac
done
libobs_names=$(nm -D --defined-only "$libobs" | awk '{print $3}' | sort -u)
from_obs=$(awk 'tolower($1) == "obs.dll" {print $2}' <<<"$imports" | sort -u)
[ -n "$from_obs" ] || fail "imports nothing from obs.dll"
unknown=$(comm -23 <(echo "$from_obs") <(echo "$libobs_names"))
[ -z "$unknown" ] || fail "imports from obs.dll what libobs does not export: $(echo $unknown)"
echo "mistpane.dll: exports $(echo $exports); imports $(wc -l <<<"$from_obs") names from obs.dll and" \
  "$(grep -vix obs.dll <<<"$dlls" | paste -sd' ')" >&2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
out=$(realpath -m out/windows)
zip=$out/mistpane-$version-windows-x64.zip
mkdir -p "$out"
rm -f "$zip"
(cd "$stage" && zip -qrX "$zip" obs-plugins data)
echo "$zip"
