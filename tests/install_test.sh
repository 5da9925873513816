#!/usr/bin/env bash
# The Debian package and the per-user install as the README's commands make
# them: built, installed, loaded by the host from where they were
# installed, and the package removed again without a trace.
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

# The files: the module and every file of data/, nothing else.
expected=$(
  echo "./usr/lib/$multiarch/obs-plugins/mistpane.so"
  (cd data && find . -type f | sed "s|^\./|.$datadir/|")
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
# The host refuses a module of a newer minor version than its own.
grep -Eq '(^|, )libobs[^ ,]* \(>= 32\.2\)' <<<"$(field Depends)" || fail "Depends $(field Depends)"

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
