#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Ensure the forky build root exists and is current; print its path.
# The root is built in a scratch folder and renamed into place only when
# complete, so an interrupted first run is simply redone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${MISTPANE_ROOT_CACHE:-/var/cache/mistpane}
pkgs=$(grep -v '^#' "$here/root-packages.txt" | xargs)
key=$( { echo "$pkgs"; sed -n '/^# root-recipe/,$p' "$0"; } | sha256sum | cut -c1-16)
root="$cache/forky-$key"

if [ -f "$root/.mistpane-ready" ]; then
  touch "$root" # in use: kept by the clean-up below
  echo "$root"
  exit 0
fi

log() { echo "[root] $*" >&2; }

if [ "$(id -u)" != 0 ]; then
  log "building the root needs root (debootstrap, chroot)"; exit 1
fi

# root-recipe: everything below changes the root's key when edited.
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
[ -n "$mirror" ] || { log "no Debian mirror found in the host's apt sources"; exit 1; }

if ! command -v debootstrap >/dev/null; then
  log "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >&2 ||
    { apt-get update -q >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >&2; }
fi

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
[ -f "$root/.mistpane-ready" ] && { echo "$root"; exit 0; }

tmp="$root.partial"
# A partial root from an interrupted run holds no live mounts: every
# command that mounted into it ran in its own mount namespace.
rm -rf --one-file-system "$tmp"
mkdir -p "$tmp"
start=$(date +%s)
log "debootstrap forky into $tmp from $mirror"
unshare -m --propagation private \
  debootstrap --variant=minbase forky "$tmp" "$mirror" /usr/share/debootstrap/scripts/sid >&2

cat >"$tmp/etc/apt/apt.conf.d/99mistpane" <<CONF
Acquire::Check-Valid-Until "false";
Acquire::Check-Date "false";
APT::Install-Recommends "false";
CONF
echo "deb $mirror forky main" >"$tmp/etc/apt/sources.list"
cp /etc/resolv.conf "$tmp/etc/resolv.conf" 2>/dev/null || true

log "installing: $pkgs"
unshare -m --propagation private bash -c '
  set -e
  mount -t proc proc "$1/proc"
  mount --rbind /dev "$1/dev"
  shift_root=$1; shift
  chroot "$shift_root" /usr/bin/env DEBIAN_FRONTEND=noninteractive bash -c "
    apt-get update -q && apt-get install -y -q $* && apt-get clean"
' _ "$tmp" $pkgs >&2

touch "$tmp/.mistpane-ready"
# Roots of other package lists unused for two days are of no further use
# (one in use by another checkout is left alone).
find "$cache" -maxdepth 1 -name 'forky-*' ! -name "$(basename "$tmp")" -mtime +2 \
  -exec rm -rf --one-file-system {} + 2>/dev/null || true
mv "$tmp" "$root"
log "root ready in $(( $(date +%s) - start )) s: $root"
echo "$root"
