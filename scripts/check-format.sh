#!/usr/bin/env bash
# Checks every tracked .cpp and .h file under src, tests, tools and bench
# against .clang-format: lists the files that differ and exits 1 if any do.
# usage: scripts/check-format.sh [--fix]   (--fix reformats those files in place)
# CLANG_FORMAT overrides the program (default clang-format-14, as in make deps).
set -euo pipefail
cd "$(dirname "$0")/.."
cf=${CLANG_FORMAT:-clang-format-14}
fix=0
case "${1:-}" in
  --fix) fix=1 ;;
  "") ;;
  *) echo "usage: scripts/check-format.sh [--fix]" >&2; exit 2 ;;
esac
if ! command -v "$cf" >/dev/null; then
  echo "check-format: $cf not found (make deps installs clang-format-14)" >&2
  exit 2
fi

mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
                                      'tools/*.cpp' 'tools/*.h' 'bench/*.cpp' 'bench/*.h')
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no tracked sources found" >&2
  exit 2
fi

if [ $fix -eq 1 ]; then
  "$cf" --style=file -i "${files[@]}"
  echo "check-format: formatted ${#files[@]} files"
  exit 0
fi

bad=()
for f in "${files[@]}"; do
  "$cf" --style=file --dry-run -Werror --ferror-limit=1 "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: ${#bad[@]} of ${#files[@]} files differ from .clang-format:"
  printf '  %s\n' "${bad[@]}"
  echo "check-format: scripts/check-format.sh --fix (or make format) reformats them"
  exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
