#!/usr/bin/env bash
# Fails when a C++ source file of the tree does not follow .clang-format.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Every C++ file of the tree, new folders included; build trees are ignored by git.
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | sort)
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f (run clang-format -i $f)"
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "checked ${#files[@]} files: formatted"
exit $bad
