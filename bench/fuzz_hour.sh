#!/usr/bin/env bash
# Fuzzes every target for an hour in all (or TOTAL_SECONDS), JOBS targets at a time, each
# for TOTAL_SECONDS * JOBS / targets, in the address-sanitizer build with libFuzzer
# (`./dev fuzz` builds it and replays the corpus first). Prints each target's runs,
# coverage and corpus, and the faults found; fails when any target found one. New
# inputs stay in build-address/fuzz/work/NAME/corpus and faults beside them: a fault's
# input goes into fuzz/corpus/NAME/ once fixed, as its regression input.
#   bash bench/fuzz_hour.sh [TOTAL_SECONDS [JOBS]]     (defaults 3600, 1)
set -euo pipefail
cd "$(dirname "$0")/.."
total="${1:-3600}"
jobs="${2:-1}"

./dev fuzz 0
mapfile -t names < <(cd fuzz && ls ./*_fuzzer.cpp | sed 's|^\./||; s|_fuzzer\.cpp$||')
each=$((total * jobs / ${#names[@]}))
echo "fuzzing ${#names[@]} targets for $each s each, $jobs at a time"
printf '%s\n' "${names[@]}" |
  xargs -P "$jobs" -I{} bash scripts/fuzz.sh build-address/fuzz/{}_fuzzer "$each" build-address/fuzz/work
