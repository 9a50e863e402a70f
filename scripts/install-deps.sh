#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
# --bench also installs the load tool and the web server bench/https_vs_nginx.sh compares against.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsqlite3-dev libsqlitecpp-dev libssl-dev nlohmann-json3-dev
  libboost-dev libconcurrentqueue-dev libvips-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 nftables curl openssl
  clang-format clang-tidy
)
[ "${1:-}" = "--bench" ] && packages+=(wrk nginx-light)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
