#!/usr/bin/env bash
# How a ping from one peer fares while another address holds 2,000 idle connections and
# a third floods the largest bodies, with mesk limited to 1024 descriptors: prints the
# pings' p50, p99 and worst time, how many flood requests got through and mesk's largest
# resident memory. Then one address floods TLS handshakes (new connections as fast as
# the server takes them, half closed at once, half stalled) while another pings on a new
# connection each time: prints those pings' p50, p99 and worst time and the flood's
# handshakes per second. Runs the host suite's load tests for SECONDS_OF_LOAD seconds
# each (default 60) on loopback addresses of their own. Then, where network namespaces
# can be made (as root), the many-address rows: an attacker holding 150 IPv4 and 2,000
# IPv6 addresses holds idle TLS connections, silent TCP, slow headers, slow bodies (from
# 150 addresses, and from 2 addresses 16 each) or sends chats as fresh ids while its
# servers never answer, for 40 s each, while an honest peer the victim knows pings it
# and sends chats and a 1 MB file both ways: prints per row the honest pings answered
# and failed, their p99, the attacker's connections and the victim's largest resident
# memory.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target host_tests mesk e2e_tests >/dev/null
MESK_LOAD_SECONDS="${SECONDS_OF_LOAD:-60}" \
  "$build/tests/host_tests" --gtest_filter='MeskUnderLoad.*' | grep -E '^pings|^handshake flood|OK|FAILED'
"$build/tests/e2e/e2e_tests" --gtest_filter='Attacks/ManyAddresses.*' 2>&1 |
  grep -E ': pings |skipped|OK \]|FAILED'
