#!/usr/bin/env bash
# Fails when a C or C++ file of ours differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.h' '*.cpp' '*.c' | grep -v '^build/' || true)
[ -n "$files" ] || exit 0
bad=0
for f in $files; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not clang-format clean: $f"
    bad=1
  fi
done
exit $bad
