#!/usr/bin/env bash
# The soak: three devices in network namespaces chat and offer files for MINUTES
# (default 10) while their programs are killed, paused and restarted at moments drawn
# from SEED (default 1); prints every fault as it happens, each program's resident
# memory and descriptors every minute, and at the end whether anything was lost and how
# much the device that ran all along grew (tests/e2e/soak_test.cpp). Needs root.
#   MINUTES=10 SEED=1 bash bench/soak.sh
set -uo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build}"
[ "$(id -u)" -eq 0 ] || { echo "soak: needs root (network namespaces)" >&2; exit 2; }
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j 4 --target e2e_tests >/dev/null || exit 2
MESK_SOAK_MINUTES="${MINUTES:-10}" MESK_SOAK_SEED="${SEED:-1}" \
  "$build/tests/e2e/e2e_tests" --gtest_filter='Soak.*' 2>/dev/null |
  grep --line-buffered -E '^\[seed|^soak|Failure|OK \]|FAILED' | grep --line-buffered -vE 'offers s[0-9]'
