#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-build the module for 64-bit Windows with MinGW-w64 on the Universal
# CRT (src/ only, no tests) in build/<env>-windows, check the DLL and pack
# it into out/windows/:
#   mistpane-<version>-windows-x64.zip: mistpane/bin/64bit/mistpane.dll and
#     mistpane/data/, to unpack into %ProgramData%\obs-studio\plugins\
#     (OBS Studio 32 reads its plug-ins there);
#   mistpane-<version>-windows-x64-legacy.zip: obs-plugins/64bit/mistpane.dll
#     and data/obs-plugins/mistpane/, to unpack into OBS's own folder;
#   mistpane-<version>-windows-x64-installer.exe: the NSIS installer
#     (packaging/windows/mistpane.nsi) of the first layout into ProgramData.
# The checks: the DLL exports the module entry points and nothing else,
# imports only obs.dll and Windows's own DLLs, the C runtime from the UCRT
# (never msvcrt.dll), and every name it imports from obs.dll is one that
# the real libobs exports; then each archive holds what it should. Prints
# the archives' paths.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${MISTPANE_ENV:-}" = "" ]; then
  exec "$here/env.sh" "$here/build-windows.sh" "$@"
fi
fail() {
  echo "build-windows.sh: $*" >&2
  exit 1
}
# Archives written but not yet checked: a failed check leaves none behind.
pending=()
trap 'rm -f "${pending[@]}"' EXIT
toolchain=cmake/mingw-w64.cmake
libobs=$(realpath "/usr/lib/$(gcc -print-multiarch)/libobs.so.0")
dir=build/$MISTPANE_ENV-windows
stage=$dir-stage
legacy=$stage/legacy
programdata=$stage/programdata/mistpane

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
  cmake --install "$dir" --prefix "$legacy" --strip >&2
  cmake --install "$dir" --prefix "$programdata" --component programdata --strip >&2
  dll=$programdata/bin/64bit/mistpane.dll
  [ -f "$dll" ] || fail "$dll was not installed"
  cmp -s "$dll" "$legacy/obs-plugins/64bit/mistpane.dll" || fail "the two layouts hold different DLLs"
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

# ARCHIVE holds every PATH given (7-Zip reads zips and NSIS installers).
check_archive() {
  local archive=$1 listing path
  shift
  listing=$(7z l -slt "$archive" | sed -n 's/^Path = //p' | tr '\\' /)
  for path in "$@"; do
    grep -qxF "$path" <<<"$listing" || fail "$(basename "$archive") lacks $path (it holds: $(echo $listing))"
  done
}

# What each layout's data folder must hold, relative to it: what the build
# staged, which has the English texts and the plugin manager's manifest.
data_files() {
  (cd "$programdata/data" && find . -type f | sed 's|^\./||' | sort)
}

pack_zips() {
  local name
  for name in locale/en-US.ini manifest.json LICENSE; do
    [ -f "$programdata/data/$name" ] || fail "data/$name was not installed"
  done
  local zip=$out/mistpane-$version-windows-x64.zip legacy_zip=$out/mistpane-$version-windows-x64-legacy.zip
  rm -f "$zip" "$legacy_zip"
  pending+=("$zip" "$legacy_zip")
  (cd "$programdata/.." && zip -qrX "$zip" mistpane)
  (cd "$legacy" && zip -qrX "$legacy_zip" obs-plugins data)
  check_archive "$zip" mistpane/bin/64bit/mistpane.dll $(data_files | sed 's|^|mistpane/data/|')
  check_archive "$legacy_zip" obs-plugins/64bit/mistpane.dll $(data_files | sed 's|^|data/obs-plugins/mistpane/|')
  echo "$zip"
  echo "$legacy_zip"
}

# makensis's warnings are errors: an unknown constant would otherwise
# become an empty string in a path.
pack_installer() {
  local installer=$out/mistpane-$version-windows-x64-installer.exe
  rm -f "$installer"
  pending+=("$installer")
  makensis -V2 -WX -DVERSION="$version" -DSTAGE="$(realpath "$programdata")" -DOUTFILE="$installer" \
    packaging/windows/mistpane.nsi >&2 || fail "makensis failed"
  check_archive "$installer" bin/64bit/mistpane.dll $(data_files | sed 's|^|data/|') uninstall.exe
  echo "$installer"
}

for tool in zip 7z makensis; do
  command -v "$tool" >/dev/null || fail "$tool is missing (the build root has it: scripts/env.sh)"
done
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
pack_zips
pack_installer
pending=()
