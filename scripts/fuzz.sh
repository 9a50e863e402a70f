#!/usr/bin/env bash
# Runs one fuzz target: every input of its corpus once (the seeds and the inputs of
# faults found before), then, for SECONDS > 0 and a libFuzzer build, fuzzing for that
# long. New inputs go to WORK/NAME/corpus, faults to WORK/NAME/ (crash-*, leak-*,
# timeout-*, oom-*); the fuzzer's output to WORK/NAME/log, of which a summary is printed.
# Fails when an input crashes, leaks or hangs.
#   scripts/fuzz.sh PROGRAM SECONDS WORK
# PROGRAM is BUILD/fuzz/NAME_fuzzer; its seeds are fuzz/corpus/NAME/, its dictionary
# fuzz/http.dict for the servers' targets (NAME_request), else fuzz/NAME.dict if any.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$1"
seconds="$2"
work="$3"
name="$(basename "$program")"
name="${name%_fuzzer}"
corpus="$root/fuzz/corpus/$name"
out="$work/$name"
mkdir -p "$out/corpus"
log="$out/log"

# libFuzzer's own flags; the replaying driver ignores them.
flags=(-timeout=60 -rss_limit_mb=4096 -print_final_stats=1 "-artifact_prefix=$out/")
dictionary="$root/fuzz/$name.dict"
[[ "$name" == *_request ]] && dictionary="$root/fuzz/http.dict"
[ -f "$dictionary" ] && flags+=("-dict=$dictionary")
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1 halt_on_error=1}"

started=$(date +%s)
if ! "$program" "${flags[@]}" -runs=0 "$corpus" >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "fuzz $name: an input of fuzz/corpus/$name fails (log: $log)"
  exit 1
fi
seeds=$(find "$corpus" -type f | wc -l)
if [ "$seconds" -le 0 ] || ! grep -q "INFO: Seed:" "$log"; then
  echo "fuzz $name: $seeds inputs replayed"
  exit 0
fi

if ! "$program" "${flags[@]}" -max_total_time="$seconds" "$out/corpus" "$corpus" >>"$log" 2>&1; then
  grep -E -A 40 "ERROR: |==ERROR|runtime error|property broken|raw exchange|fuzz core" "$log" | head -n 80 || tail -n 60 "$log"
  echo "fuzz $name: a fault found; the input is in $out/ (log: $log)"
  exit 1
fi
last=$(grep -E "^#[0-9]+" "$log" | tail -n 1)
runs=$(grep -E "stat::number_of_executed_units" "$log" | tail -n 1 | awk '{print $2}')
echo "fuzz $name: $seeds seeds, ${runs:-?} runs in $(( $(date +%s) - started )) s; last: $last"
