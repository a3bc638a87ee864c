#!/usr/bin/env bash
# Installs every package that Marlix needs to build, run and test, from Debian's archive.
# Safe to run again: apt skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

BUILD_PKGS=(
  build-essential cmake pkg-config clang-format
  libcivetweb-dev civetweb libqrencode-dev libminiupnpc-dev libcurl4-openssl-dev zlib1g-dev
  qt6-base-dev libgtest-dev libgmock-dev
  fonts-wqy-microhei
)
TEST_PKGS=(
  curl zbar-tools unzip zip python3 iproute2 procps
  miniupnpd miniupnpd-nftables nftables miniupnpc
  chromium
  nginx-light wrk
)

# The browser tests' playwright-core, from tests/browser/package-lock.json (never a browser download:
# the tests drive Debian's Chromium).
install_browser_test_deps() {
  local dir
  dir="$(cd "$(dirname "$0")/.." && pwd)/tests/browser"
  if [ -f "$dir/package-lock.json" ] && [ ! -f "$dir/node_modules/playwright-core/package.json" ]; then
    (cd "$dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
}

stamp=/var/tmp/marlix-deps.stamp
want="${BUILD_PKGS[*]} ${TEST_PKGS[*]}"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
  install_browser_test_deps
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
# miniupnpd's package asks questions and tries to start a daemon; neither is wanted here.
echo "miniupnpd miniupnpd/start_daemon boolean false" | $SUDO debconf-set-selections 2>/dev/null || true
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${BUILD_PKGS[@]}" "${TEST_PKGS[@]}" >/dev/null
# The browser tests drive Chromium from Node.js; take Debian's only when no Node.js is there.
if ! command -v npm >/dev/null 2>&1; then
  $SUDO apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
# Packaged daemons must not run on the machine's own network.
$SUDO systemctl disable --now miniupnpd nginx 2>/dev/null || true
$SUDO pkill -x miniupnpd 2>/dev/null || true
$SUDO pkill -x nginx 2>/dev/null || true
echo "$want" | $SUDO tee "$stamp" >/dev/null
install_browser_test_deps
