#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package and the per-user install as the README's commands make
# them: built, installed, loaded by the host from where they were
# installed, and the package removed again without a trace. The package's
# module must run on Ubuntu 24.04 too (its glibc and libstdc++). Last, the
# Flatpak extension as its manifest builds it, staged as OBS's Flatpak
# mounts and merges extensions, and loaded from the folders that OBS's
# Flatpak searches.
# In the build root the package goes into the root's own system folders:
# one run at a time (a lock shared by every checkout using the root), and
# it is purged however the run ends. Elsewhere the system part is left out
# unless MISTPANE_INSTALL_TEST_SYSTEM=1.
# Arguments: the loader program, the checkout, the project version.
set -euo pipefail
loader=$1 top=$2 version=$3
cd "$top"
# dpkg runs ldconfig and friends from the sbin folders.
export PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
seconds() { echo $(($(date +%s) - $1)); }

tmp=$(mktemp -d /tmp/mistpane-install-XXXXXX)
system=0 locked=0
[ "${MISTPANE_ENV:-}" = root ] || [ "${MISTPANE_INSTALL_TEST_SYSTEM:-0}" = 1 ] && system=1

installed() { dpkg-query -W -f='${db:Status-Status}' mistpane 2>/dev/null | grep -qv '^not-installed$'; }
purge() { if installed; then dpkg --purge mistpane >/dev/null; fi; }
cleanup() {
  # Only while holding the lock: the package may be another run's.
  if [ "$locked" = 1 ]; then purge; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

arch=$(dpkg --print-architecture)
multiarch=$(gcc -print-multiarch)
libdir=/usr/lib/$multiarch/obs-plugins
datadir=/usr/share/obs/obs-plugins/mistpane

start=$(date +%s)
deb=$(scripts/package.sh "$tmp/package")
echo "package built in $(seconds "$start") s: $deb"
[ "$(basename "$deb")" = "mistpane_${version}_${arch}.deb" ] || fail "package named $(basename "$deb")"

# The files of data/ as installed: templates (*.in) are made into the file
# of their name without .in.
data_files() { (cd data && find . -type f | sed 's|^\./||; s|\.in$||'); }

# The files: the module, every file of data/ and the copyright, nothing else.
expected=$(
  echo "./usr/lib/$multiarch/obs-plugins/mistpane.so"
  echo "./usr/share/doc/mistpane/copyright"
  data_files | sed "s|^|.$datadir/|"
)
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}')
echo "files:"
echo "$actual" | sed 's/^/  /'
[ "$(sort <<<"$expected")" = "$(sort <<<"$actual")" ] ||
  fail "package files differ: $(diff <(sort <<<"$expected") <(sort <<<"$actual") || true)"

echo "control:"
dpkg-deb -f "$deb" | sed 's/^/  /'
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = mistpane ] || fail "Package $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture $(field Architecture)"
[ "$(field Section)" = video ] || fail "Section $(field Section)"
[ "$(field Enhances)" = obs-studio ] || fail "Enhances $(field Enhances)"
# Debian's libobs or OBS's own Ubuntu package (which holds libobs), of the
# host's minor version or later, and no other dependency on either.
host='libobs0t64 (>= 32.2) | obs-studio (>= 32.2)'
depends=$(field Depends)
[ "${depends%%, *}" = "$host" ] || fail "Depends does not start with the host's alternatives: $depends"
! grep -Eq 'libobs|obs-studio' <<<"${depends#"$host"}" || fail "Depends names the host twice: $depends"
# Ubuntu 24.04 has glibc 2.39 and libstdc++ 3.4.33 (GCC 14).
ubuntu_ok() { [ "$(printf '%s\n%s\n' "$2" "$3" | sort -V | tail -1)" = "$3" ] || fail "$1 $2 is newer than Ubuntu 24.04's $3"; }
for dep in libc6:2.39 libstdc++6:14.2 libgcc-s1:14.2; do
  needed=$(grep -Eo "(^|, )${dep%%:*} \(>= [^)]*\)" <<<"$depends" | sed 's/.*>= //; s/)//' || true)
  [ -z "$needed" ] || ubuntu_ok "Depends ${dep%%:*}" "$needed" "${dep#*:}"
done
dpkg-deb -x "$deb" "$tmp/unpacked"
versions=$(objdump -T "$tmp/unpacked/usr/lib/$multiarch/obs-plugins/mistpane.so" |
  grep -Eo '\b(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9.]+' | sort -u -V)
echo "symbol versions: $(echo $versions)"
for limit in GLIBC:2.39 GLIBCXX:3.4.33 CXXABI:1.3.15 GCC:14.0.0; do
  newest=$(grep "^${limit%%:*}_" <<<"$versions" | sed 's/^[A-Z]*_//' | tail -1 || true)
  [ -z "$newest" ] || ubuntu_ok "${limit%%:*}" "$newest" "${limit#*:}"
done

if [ "$system" = 1 ]; then
  mkdir -p /run/lock
  exec 9>/run/lock/mistpane-install-test.lock
  flock -w 600 9 || fail "another install test held the lock for 10 minutes"
  locked=1
  purge # left by a run that was killed before its trap ran
  step=$(date +%s)
  dpkg -i "$deb" >/dev/null
  MISTPANE_EXPECT_BIN=$libdir/mistpane.so MISTPANE_EXPECT_DATA=$datadir HOME=$tmp/empty-home \
    "$loader" --gtest_brief=1
  dpkg --purge mistpane >/dev/null
  ! installed || fail "dpkg still knows the package"
  for file in $actual; do
    [ ! -e "${file#.}" ] || fail "${file#.} left behind"
  done
  [ ! -e "$datadir" ] || fail "$datadir left behind"
  ! compgen -G "/var/lib/dpkg/info/mistpane.*" >/dev/null || fail "dpkg's records of the package left behind"
  echo "system install, load and purge in $(seconds "$step") s"
  locked=0
  flock -u 9
else
  echo "system install left out (only in the build root, or with MISTPANE_INSTALL_TEST_SYSTEM=1)"
fi

step=$(date +%s)
home=$tmp/home
plugin=$home/.config/obs-studio/plugins/mistpane
HOME=$home XDG_CONFIG_HOME= scripts/install.sh --user >/dev/null
[ -f "$plugin/bin/64bit/mistpane.so" ] && [ -f "$plugin/data/locale/en-US.ini" ] &&
  [ -f "$plugin/data/manifest.json" ] || fail "per-user install incomplete: $(find "$plugin")"
MISTPANE_EXPECT_BIN=$plugin/bin/64bit/mistpane.so MISTPANE_EXPECT_DATA=$plugin/data HOME=$home \
  "$loader" --gtest_brief=1
echo "per-user install and load in $(seconds "$step") s"

# The Flatpak extension: the manifest's own CMake options and prefix, the
# files installed into a stand-in for the sandbox's /app, each extension
# mounted at /app/plugins/<name> and the folders of OBS's merge-dirs
# ("lib/obs-plugins;share/obs/obs-plugins") merged into /app/plugins by
# links, as Flatpak does. OBS's Flatpak looks in /app/plugins/lib/obs-plugins
# and /app/plugins/share/obs/obs-plugins/%module% (libobs/obs-nix.c).
step=$(date +%s)
flatpak=packaging/flatpak
id=com.obsproject.Studio.Plugin.MistPane
python3 - "$flatpak/$id.json" >"$tmp/manifest" <<'PY' || fail "Flatpak manifest"
import json, sys
m = json.load(open(sys.argv[1]))
expect = {"id": "com.obsproject.Studio.Plugin.MistPane", "runtime": "com.obsproject.Studio",
          "runtime-version": "stable", "sdk": "org.freedesktop.Sdk//25.08", "build-extension": True}
for key, value in expect.items():
    assert m.get(key) == value, f"manifest {key}: {m.get(key)!r}, not {value!r}"
(module,) = [x for x in m["modules"] if x["name"] == "mistpane"]
assert module["buildsystem"] == "cmake-ninja", module["buildsystem"]
print(m["build-options"]["prefix"])
print("\n".join(module.get("config-opts", [])))
PY
mapfile -t manifest <"$tmp/manifest"
prefix=${manifest[0]}
[ "$prefix" = /app/plugins/MistPane ] || fail "Flatpak prefix $prefix"
build=build/${MISTPANE_ENV:-native}-flatpak
# flatpak-builder's own options for cmake-ninja, then the manifest's.
cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
  "${manifest[@]:1}" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
sandbox=$tmp/sandbox
DESTDIR=$sandbox cmake --install "$build" >/dev/null
extension=$sandbox$prefix
expected=$(
  echo lib/obs-plugins/mistpane.so
  echo share/doc/mistpane/copyright
  echo "share/metainfo/$id.metainfo.xml"
  data_files | sed "s|^|share/obs/obs-plugins/mistpane/|"
)
actual=$(cd "$extension" && find . -type f | sed 's|^\./||')
[ "$(sort <<<"$expected")" = "$(sort <<<"$actual")" ] ||
  fail "extension files differ: $(diff <(sort <<<"$expected") <(sort <<<"$actual") || true)"
[ "$(ls "$sandbox/app/plugins")" = "${prefix##*/}" ] || fail "installed outside $prefix"
# The metainfo as installed, made from its template with the version.
metainfo=$extension/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >/dev/null ||
  fail "metainfo: $(appstreamcli validate --no-net "$metainfo" || true)"
python3 - "$metainfo" "$id" "$version" <<'PY' || fail "Flatpak metainfo"
import sys, xml.etree.ElementTree as ET
meta = ET.parse(sys.argv[1]).getroot()
assert meta.get("type") == "addon" and meta.findtext("id") == sys.argv[2], "metainfo id"
assert meta.findtext("extends") == "com.obsproject.Studio", "metainfo extends"
assert meta.findtext("project_license") == "GPL-2.0-or-later", "metainfo licence"
release = meta.find("releases/release")
assert release is not None and release.get("version") == sys.argv[3], "metainfo release version"
PY
for dir in lib/obs-plugins share/obs/obs-plugins; do
  mkdir -p "$sandbox/app/plugins/$dir"
  for entry in "$extension/$dir"/*; do ln -s "$entry" "$sandbox/app/plugins/$dir/"; done
done
MISTPANE_HOST_BIN=$sandbox/app/plugins/lib/obs-plugins \
  MISTPANE_HOST_DATA=$sandbox/app/plugins/share/obs/obs-plugins/%module% \
  MISTPANE_EXPECT_BIN=$sandbox/app/plugins/lib/obs-plugins/mistpane.so \
  MISTPANE_EXPECT_DATA=$sandbox/app/plugins/share/obs/obs-plugins/mistpane HOME=$tmp/empty-home \
  "$loader" --gtest_brief=1
echo "Flatpak extension built, staged and loaded in $(seconds "$step") s"
