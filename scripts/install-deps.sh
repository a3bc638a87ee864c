#!/usr/bin/env bash
# Installs, from Debian's archive, what Marlix needs for one purpose:
#   install-deps.sh run     building and running the three programs (the default)
#   install-deps.sh test    the above, plus the tools the tests drive (browser, UPnP gateway, fuzzing, packaging)
#   install-deps.sh bench   the above, plus the peer servers the benchmarks compare against
# It never stops, disables or kills any service or process. Packaged daemons that the tests or
# benchmarks start with their own configurations (miniupnpd, nginx) are kept from starting while they
# are installed, through Debian's policy-rc.d; a policy-rc.d that was already there is left as it is.
# Safe to run again: apt skips what is already there.
set -euo pipefail
purpose="${1:-run}"
root="$(cd "$(dirname "$0")/.." && pwd)"

RUN_PKGS=(
  build-essential cmake pkg-config
  libmicrohttpd-dev libgd-dev libqrencode-dev libminiupnpc-dev libcurl4-openssl-dev zlib1g-dev
  qt6-base-dev qt6-tools-dev qt6-l10n-tools
  fonts-wqy-microhei
)
TEST_PKGS=(
  clang-format clang libclang-rt-14-dev libgtest-dev libgmock-dev
  curl zbar-tools unzip zip python3 iproute2 procps
  dbus-daemon python3-dbus python3-gi
  miniupnpd miniupnpd-nftables nftables miniupnpc
  chromium
  desktop-file-utils dpkg-dev file
  nginx-light systemd
)
BENCH_PKGS=(wrk)

case "$purpose" in
  run) pkgs=("${RUN_PKGS[@]}"); why="build and run Marlix" ;;
  test) pkgs=("${RUN_PKGS[@]}" "${TEST_PKGS[@]}"); why="build Marlix and run its tests" ;;
  bench) pkgs=("${RUN_PKGS[@]}" "${TEST_PKGS[@]}" "${BENCH_PKGS[@]}"); why="build Marlix and run its benchmarks" ;;
  *) echo "usage: $0 [run|test|bench]" >&2; exit 2 ;;
esac

# The browser tests' playwright-core, from tests/browser/package-lock.json (never a browser download:
# the tests drive Debian's Chromium).
install_browser_test_deps() {
  local dir="$root/tests/browser"
  if [ -f "$dir/package-lock.json" ] && [ ! -f "$dir/node_modules/playwright-core/package.json" ]; then
    echo "Installing playwright-core for the browser tests into $dir/node_modules (npm ci)..."
    (cd "$dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
  fi
}

# The browser tests drive Chromium from Node.js; take Debian's only when no Node.js is there.
if [ "$purpose" != run ] && ! command -v npm >/dev/null 2>&1; then pkgs+=(nodejs npm); fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then missing+=("$p"); fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "To $why, these Debian packages are missing and will be installed with apt-get${SUDO:+ (through sudo)}:"
  echo "  ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Keep packaged daemons from starting while they are installed (exit 101: "action not allowed").
  # Only a policy-rc.d that this script made is removed afterwards.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# Made by Marlix scripts/install-deps.sh while installing packages.\nexit 101\n' |
      $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    made_policy=1
  fi
  cleanup() { if [ "$made_policy" = 1 ]; then $SUDO rm -f "$policy"; fi; }
  trap cleanup EXIT
  echo "miniupnpd miniupnpd/start_daemon boolean false" | $SUDO debconf-set-selections 2>/dev/null || true
  echo "== apt-get update =="
  $SUDO apt-get update -q
  echo "== apt-get install (${#missing[@]} packages) =="
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  cleanup
  made_policy=0
fi

if [ "$purpose" != run ]; then install_browser_test_deps; fi
