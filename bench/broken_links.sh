#!/usr/bin/env bash
# The long form of the broken-link and full-disk suites: larger files and longer
# outages than the tests run. Needs root (network namespaces) and a built tree; runs the
# e2e suite's BrokenLink and FullDisk tests with these settings and prints each test's
# "link:" or "disk:" line and its outcome:
#   FILE_MIB    size of the file moved across the broken link, and of the one that
#               fills the receiver's disk half-way (default 200)
#   OUTAGE_S    how long the link stays down (default 40: longer than the 30 s without
#               data after which a receiver gives a file up as "timed out", so the
#               sender's resend pass fetches the rest)
#   RUNS        how many times each test runs (default 3)
# Nothing leaves the machine; the tests remove every namespace and mount they made.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "${JOBS:-4}" --target e2e_tests mesk >/dev/null
MESK_LINK_FILE_MIB="${FILE_MIB:-200}" MESK_DISK_FILE_MIB="${FILE_MIB:-200}" MESK_LINK_OUTAGE_S="${OUTAGE_S:-40}" \
  "$build/tests/e2e/e2e_tests" --gtest_filter='BrokenLink.*:FullDisk.*' --gtest_repeat="${RUNS:-3}" 2>&1 |
  grep -E '^link:|^disk:|^\[ +(OK|FAILED|SKIPPED) +\]|skipped:' || true
