#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Fails when a C++ file differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests tools bench -name '*.cpp' -o -name '*.h' 2>/dev/null | sort)
[ "${#files[@]}" -gt 0 ] || exit 0
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "clang-format: run scripts/format.sh" >&2
  exit 1
fi
