#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own. The layers,
# lowest first; each may include only its own and lower ones.
#   scripts/check-layers.sh [ROOT]
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"

layers=(core_lib/foundation core_lib/platform core_lib/store core_lib/net core_lib/api
        core_lib/selftest core_lib/startup MeskRuntimeComponent host)

rank_of() {
  local path="$1" i
  for i in "${!layers[@]}"; do
    case "$path" in "${layers[$i]}"/*) echo "$i"; return ;; esac
  done
  echo -1
}

status=0
for layer in "${layers[@]}"; do
  [ -d "$layer" ] || continue
  while IFS= read -r file; do
    own=$(rank_of "$file")
    while IFS= read -r line; do
      number="${line%%:*}"
      header=$(sed -E 's/^[0-9]+:#include "([^"]+)".*/\1/' <<<"$line")
      target=$(rank_of "$header")
      if [ "$target" -gt "$own" ]; then
        echo "$file:$number: includes $header (${layers[$target]} is above ${layers[$own]})"
        status=1
      fi
    done < <(grep -n -E '^#include "[^"]+"' "$file" || true)
  done < <(find "$layer" -name '*.h' -o -name '*.cpp' | sort)
done
[ "$status" -eq 0 ] && echo "layers: every include goes downwards"
exit "$status"
