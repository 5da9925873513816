#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the module without the tests and install it where OBS Studio looks
# for plug-ins on this machine:
#   --user    ${XDG_CONFIG_HOME:-~/.config}/obs-studio/plugins/mistpane
#             (bin/64bit/mistpane.so and data/)
#   --system  /usr/lib/<multiarch>/obs-plugins/mistpane.so and
#             /usr/share/obs/obs-plugins/mistpane/ (as root)
# The build runs where libobs >= 32.2 can be built against (natively or in
# the build root); the files are staged inside the checkout and copied
# from there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --stage ]; then
  # Inside the build environment: build, then install one component into
  # a fresh staging folder; print it.
  [ -n "${MISTPANE_ENV:-}" ] || { echo "install.sh --stage runs inside scripts/env.sh" >&2; exit 2; }
  dir=$("$here/build-dist.sh")
  stage=$(realpath -m "$dir-stage-$2")
  rm -rf "$stage"
  case "$2" in
    user) cmake --install "$dir" --component user --prefix "$stage" --strip >&2 ;;
    system) cmake --install "$dir" --prefix "$stage/usr" --strip >&2 ;;
  esac
  echo "$stage"
  exit 0
fi

case "${1:-}" in
  --user) component=user dest=${XDG_CONFIG_HOME:-$HOME/.config}/obs-studio/plugins/mistpane ;;
  --system) component=system dest=/ ;;
  *) echo "usage: $0 --user | --system" >&2; exit 2 ;;
esac

if [ "$component" = system ] && command -v dpkg-query >/dev/null &&
  dpkg-query -W -f='${Status}' mistpane 2>/dev/null | grep -q ' installed$'; then
  echo "install.sh: the mistpane package is installed; remove it first (dpkg -r mistpane)" >&2
  exit 1
fi

stage_cmd=("$here/install.sh" --stage "$component")
[ -n "${MISTPANE_ENV:-}" ] || stage_cmd=("$here/env.sh" "${stage_cmd[@]}")
stage=$("${stage_cmd[@]}")

if [ "$component" = user ]; then
  # The folder belongs to the plug-in alone: replace it whole, so no file
  # of an older version stays behind.
  rm -rf "$dest"
  mkdir -p "$dest"
  cp -R "$stage/." "$dest/"
else
  # Leave the metadata of existing system folders as they are.
  rm -rf /usr/share/obs/obs-plugins/mistpane
  tar -C "$stage" -cf - . | tar -C / --no-overwrite-dir -xf -
fi
echo "installed into $dest:"
(cd "$stage" && find . -type f | sed 's|^\./||' | sort)
