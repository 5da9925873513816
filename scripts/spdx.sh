#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every source file carries the licence line: `scripts/spdx.sh` adds it
# where it is missing (after a #! line), `scripts/spdx.sh --check` lists
# the files without it and fails (the test command runs the check).
set -euo pipefail
cd "$(dirname "$0")/.."
tag='SPDX-License-Identifier: GPL-2.0-or-later'
mapfile -t files < <(find src tests bench tools scripts cmake packaging CMakeLists.txt -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.sh' -o -name '*.py' -o -name '*.cmake' \
  -o -name CMakeLists.txt -o -name '*.nsi' \) 2>/dev/null | sort)
missing=()
for file in "${files[@]}"; do
  head -n 3 "$file" | grep -qF "$tag" || missing+=("$file")
done
if [ "${1:-}" = --check ]; then
  [ "${#missing[@]}" = 0 ] && exit 0
  printf 'no licence line (run scripts/spdx.sh): %s\n' "${missing[@]}" >&2
  exit 1
fi
for file in "${missing[@]}"; do
  case "$file" in
    *.cpp | *.h | *.c) line="// $tag" ;;
    *.nsi) line="; $tag" ;;
    *) line="# $tag" ;;
  esac
  if head -n 1 "$file" | grep -q '^#!'; then
    sed -i "1a $line" "$file"
  else
    sed -i "1i $line" "$file"
  fi
done
