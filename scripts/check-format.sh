#!/usr/bin/env bash
# Checks with clang-format (root .clang-format) the C++ files a change touches: those changed,
# committed or not, since the merge base with main. Where there is no main to compare with (a
# shallow clone in CI) or nothing has changed since it (main itself), every tracked C++ file.
# Usage: scripts/check-format.sh [BASE]. Exits 1 and shows the differences when a file is not
# formatted.
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-}
if [ -z "$base" ] && git rev-parse -q --verify main^{commit} >/dev/null; then
  base=$(git merge-base HEAD main 2>/dev/null || true)
fi
if [ -n "$base" ] && [ "$(git rev-parse "$base")" != "$(git rev-parse HEAD)" ]; then
  mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h' '*.c')
else
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C++ file changed"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: run clang-format -i on the files above" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
