#!/usr/bin/env bash
# The kill suite over many seeds: for each seed, three devices in network namespaces
# chat and offer files while their programs are killed at moments drawn from the seed,
# then everything must finish intact (tests/e2e/kill_suite_test.cpp); and a store write
# burst killed at moments drawn from the same seed (tests/store/store_kill_test.cpp).
# Prints each seed's faults, kill moments and result, and a summary. Needs root.
#   SEEDS="1 2 3" ACTIVE_MS=8000 KILLS=3 bash bench/kill_suite.sh   (default seeds 1..20)
set -uo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build}"
seeds="${SEEDS:-$(seq -s ' ' 1 20)}"
[ "$(id -u)" -eq 0 ] || { echo "kill_suite: needs root (network namespaces)" >&2; exit 2; }
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j 4 --target e2e_tests store_tests >/dev/null || exit 2

passed=0 failed=0 failed_seeds=""
for seed in $seeds; do
  out=$(MESK_KILL_SEEDS="$seed" MESK_KILL_ACTIVE_MS="${ACTIVE_MS:-8000}" MESK_KILL_COUNT="${KILLS:-3}" \
    "$build/tests/e2e/e2e_tests" --gtest_filter='Seeds/KillSuite.*' 2>/dev/null)
  store=$(MESK_KILL_SEEDS="$seed" "$build/tests/store_tests" --gtest_filter='Seeds/StoreKill.*' 2>/dev/null)
  echo "$out" | grep -E '^\[seed|^kill suite seed|Failure|seed [0-9]+: ' | grep -vE 'offers s[0-9]|resends'
  echo "$store" | grep -E '^store kill seed|Failure'
  if echo "$out" | grep -q '^\[  PASSED  \] 1 test' && echo "$store" | grep -q '^\[  PASSED  \] 1 test'; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)) failed_seeds="$failed_seeds $seed"
  fi
done
echo "kill suite: $passed seeds passed, $failed failed${failed_seeds:+ (seeds$failed_seeds)}"
[ "$failed" -eq 0 ]
