#!/usr/bin/env bash
# Installs, through apt-get, the Debian packages that building and running mesk need;
# does nothing when all are present, so it never waits on a package source then.
#   --tests  also what the tests need: GoogleTest, the lint tools, clang and its
#            sanitizer runtime, the namespace tools, chromium, Node.js, and
#            playwright-core (from npm, into tests/web) for the browser test of the
#            web-share page
#   --bench  the tests' packages, the benchmark library, and the load tool and the web
#            server the benchmarks compare against
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-}"
case "$mode" in
  "" | --tests | --bench) ;;
  *)
    echo "usage: scripts/install-deps.sh [--tests|--bench]" >&2
    exit 2
    ;;
esac

packages=(
  build-essential cmake pkg-config
  libsqlite3-dev libsqlitecpp-dev libssl-dev nlohmann-json3-dev
  libboost-dev libconcurrentqueue-dev libvips-dev
)
if [ -n "$mode" ]; then
  packages+=(
    libgtest-dev libgmock-dev
    iproute2 nftables curl openssl
    clang-format clang-tidy
    # The address-sanitizer build is clang's with libFuzzer; libclang-rt-dev is the
    # sanitizer and libFuzzer runtime of Debian's default clang, so the two always agree.
    clang libclang-rt-dev
    chromium
  )
fi
[ "$mode" = --bench ] && packages+=(libbenchmark-dev wrk nginx-light)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ -n "$mode" ]; then
  # Node.js may come from another package source than Debian's; any node and npm will do.
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
[ -z "$mode" ] && exit 0

# The browser test drives Debian's chromium through playwright-core, which never
# downloads a browser of its own. Without it that test is skipped and says why.
web_tests="$root/tests/web"
if [ ! -f "$web_tests/node_modules/playwright-core/package.json" ]; then
  echo "installing playwright-core into tests/web" >&2
  (cd "$web_tests" && npm ci --no-audit --no-fund --loglevel=error >&2) ||
    echo "playwright-core could not be installed; the browser test will be skipped" >&2
fi
