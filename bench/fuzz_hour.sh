#!/usr/bin/env bash
# Fuzzes every target for an hour in all (TOTAL_SECONDS of wall time), JOBS targets at a
# time (default 2, so the machine stays usable), each for an equal share of the time,
# in the address-sanitizer build with libFuzzer (BUILD, default build-address; made by
# `./dev fuzz 0` when missing, which also replays the seeds; a folder holding only
# fuzz/NAME_fuzzer programs, copied from a build, is used as it is, so the build can go
# on changing while the run lasts). A target that finds a fault
# starts again until its time is used up (at most MAX_FAULTS faults each), so one fault
# does not end its run. Prints per target: executions, coverage (cov/ft), corpus size at
# the start and the end, and the faults found; fails when any target found one.
# Everything stays in BUILD/fuzz/hour/NAME/: the grown corpus, each fault's input
# (crash-*, leak-*, timeout-*, oom-*) and the log. A fault's input goes into
# fuzz/corpus/NAME/ once fixed, as its regression input; the grown corpus does not.
#   bash bench/fuzz_hour.sh [TOTAL_SECONDS [JOBS]]     (defaults 3600, 2)
set -euo pipefail
cd "$(dirname "$0")/.."
total="${1:-3600}"
jobs="${2:-2}"
build="${BUILD:-build-address}"
max_faults="${MAX_FAULTS:-10}"

if [ -f "$build/CMakeCache.txt" ]; then
  cmake --build "$build" -j 4 --target mesk_fuzzers >/dev/null
elif ! ls "$build"/fuzz/*_fuzzer >/dev/null 2>&1; then
  ./dev fuzz 0
fi
mapfile -t names < <(cd fuzz && ls ./*_fuzzer.cpp | sed 's|^\./||; s|_fuzzer\.cpp$||')
# Rounds of JOBS targets share the wall time, so the run ends within TOTAL_SECONDS.
rounds=$(((${#names[@]} + jobs - 1) / jobs))
each=$((total / rounds))
work="$build/fuzz/hour"
mkdir -p "$work"
echo "fuzzing ${#names[@]} targets for $each s each, $jobs at a time; started $(date -u +%H:%M:%S) UTC"

# One target for SECONDS: runs scripts/fuzz.sh again after each fault while time is left.
fuzz_one() {
  local name="$1" seconds="$2" work="$3" build="$4" max_faults="$5"
  local out="$work/$name" ends=$(($(date +%s) + seconds)) left
  mkdir -p "$out/corpus"
  : >"$out/all.log"
  find "$out/corpus" -type f | wc -l >"$out/corpus_start"
  while left=$((ends - $(date +%s))) && [ "$left" -gt 5 ]; do
    bash scripts/fuzz.sh "$build/fuzz/${name}_fuzzer" "$left" "$work" >"$out/last" 2>&1 || true
    cat "$out/log" >>"$out/all.log"
    tail -n 1 "$out/last"
    [ "$(find "$out" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' -o -maxdepth 1 -name 'timeout-*' \
         -o -maxdepth 1 -name 'oom-*' | wc -l)" -ge "$max_faults" ] && break
    # A fault in the seeds themselves cannot be fuzzed past.
    grep -q "an input of fuzz/corpus" "$out/last" && break
  done
  return 0
}
export -f fuzz_one
printf '%s\n' "${names[@]}" | xargs -P "$jobs" -I{} bash -c 'fuzz_one "$@"' _ {} "$each" "$work" "$build" "$max_faults"

echo
echo "ended $(date -u +%H:%M:%S) UTC"
printf '%-20s %12s %8s %8s %14s %7s\n' target executions cov ft "corpus (start)" faults
status=0
for name in "${names[@]}"; do
  out="$work/$name"
  runs=$(grep -E "stat::number_of_executed_units" "$out/all.log" | awk '{s += $2} END {print s + 0}')
  # The highest coverage reached: a run started again after a fault reports less at first.
  cov=$(sed -nE 's/^#[0-9]+.* cov: ([0-9]+).*/\1/p' "$out/all.log" | sort -n | tail -n 1)
  ft=$(sed -nE 's/^#[0-9]+.* ft: ([0-9]+).*/\1/p' "$out/all.log" | sort -n | tail -n 1)
  corpus=$(find "$out/corpus" -type f | wc -l)
  faults=$(find "$out" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  [ "$faults" -gt 0 ] && status=1
  printf '%-20s %12s %8s %8s %14s %7s\n' "$name" "$runs" "${cov:-?}" "${ft:-?}" "$corpus ($(cat "$out/corpus_start"))" "$faults"
done
for fault in $(find "$work" -maxdepth 2 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort); do
  echo "fault: $fault"
done
exit "$status"
