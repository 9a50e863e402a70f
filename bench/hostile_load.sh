#!/usr/bin/env bash
# How a ping from one peer fares while another address holds 2,000 idle connections and
# a third floods the largest bodies, with mesk limited to 1024 descriptors: prints the
# pings' p50, p99 and worst time, how many flood requests got through and mesk's largest
# resident memory. Then one address floods TLS handshakes (new connections as fast as
# the server takes them, half closed at once, half stalled) while another pings on a new
# connection each time: prints those pings' p50, p99 and worst time and the flood's
# handshakes per second. Runs the host suite's load tests for SECONDS_OF_LOAD seconds
# each (default 60) on loopback addresses of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target host_tests mesk >/dev/null
MESK_LOAD_SECONDS="${SECONDS_OF_LOAD:-60}" \
  "$build/tests/host_tests" --gtest_filter='MeskUnderLoad.*' | grep -E '^pings|^handshake flood|OK|FAILED'

# --- Web share against one host with many addresses (150 IPv4, 2,000 IPv6 link-local) ---
# Every code tried once from all those addresses in turn, then 512 WebSockets held and
# flooded with frames, each while an honest browser on another host fetches the page, its
# API and a shared file: prints the guesses accepted, wrong and refused, the WebSockets
# held, refused and closed, the honest fetches answered and the victim's resident memory.
# Needs root (the end-to-end suite's network namespaces).
cmake --build "$build" -j "$(nproc)" --target e2e_tests mesk >/dev/null
"$build/tests/e2e/e2e_tests" --gtest_filter='ManyAddressesWebShare.*' | grep -E '^web-share|OK|FAILED'
