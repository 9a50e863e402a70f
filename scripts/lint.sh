#!/usr/bin/env bash
# clang-format (the layout of .clang-format) and clang-tidy (the checks of .clang-tidy)
# over our sources; fails on any finding.
#   scripts/lint.sh BUILD_FOLDER [--all]
# Without --all only the sources that differ from the last commit are looked at (all of
# them outside a git work tree). BUILD_FOLDER holds compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"
all="${2:-}"
folders='^(core_lib|MeskRuntimeComponent|host|tests|bench|fuzz)/.*\.(cpp|h)$'

if [ "$all" = "--all" ] || ! git rev-parse --git-dir >/dev/null 2>&1; then
  mapfile -t files < <(find core_lib MeskRuntimeComponent host tests bench fuzz -name '*.cpp' -o -name '*.h' | sort)
else
  mapfile -t files < <({ git diff --name-only HEAD; git ls-files --others --exclude-standard; } |
                       grep -E "$folders" | sort -u | while read -r f; do [ -f "$f" ] && echo "$f"; done)
fi
if [ "${#files[@]}" -eq 0 ]; then
  echo "lint: no changed sources"
  exit 0
fi

status=0
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "lint: clang-format would change the files above (clang-format -i FILE)"
  status=1
fi

# clang-tidy reads translation units; a header is checked through the sources that
# include it.
mapfile -t units < <(printf '%s\n' "${files[@]}" | grep '\.cpp$' || true)
if [ "${#units[@]}" -gt 0 ]; then
  log=$(mktemp)
  if ! printf '%s\n' "${units[@]}" |
       xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$log" 2>&1; then
    grep -E 'error:|warning:' "$log" | sort -u
    echo "lint: clang-tidy found the problems above"
    status=1
  fi
  rm -f "$log"
fi
[ "$status" -eq 0 ] && echo "lint: ${#files[@]} sources clean"
exit "$status"
