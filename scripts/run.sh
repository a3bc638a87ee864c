#!/usr/bin/env bash
# Installs the dependencies, builds Marlix and starts it:
# the window when a display is available, the terminal front end otherwise.
#   scripts/run.sh                 window, or share nothing and wait for uploads in the terminal
#   scripts/run.sh share PATH...   terminal front end (any marlix-cli arguments)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
caller="$PWD"
cd "$root"

bash scripts/install-deps.sh run
# The programs only: the tests need the test tools, which the run command does not install. The
# build shows its progress (CMake's own lines, with their percentages): it takes a few minutes the
# first time.
echo "== Configuring the build in $root/build =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIX_TESTS=OFF
echo "== Building marlix, marlix-cli and marlix-relay ($(nproc) at a time; a few minutes the first time) =="
cmake --build build -j "$(nproc)" --target marlix marlix-cli marlix-relay marlix_data
echo "== Built: starting Marlix =="

# Each program lays out its own working directory (MARLIX_HOME, else ~/Marlix) and resolves paths
# against the folder it was started in: start it where the command was typed.
cd "$caller"

# An X display that cannot be reached (a stale DISPLAY) falls back to the terminal as well.
display_ok() {
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then return 0; fi
  if [ -z "${DISPLAY:-}" ]; then return 1; fi
  if command -v xdpyinfo >/dev/null 2>&1; then xdpyinfo >/dev/null 2>&1; else return 0; fi
}
if [ $# -eq 0 ] && display_ok; then
  exec "$root/build/marlix"
fi
if [ $# -eq 0 ]; then set -- receive; fi
exec "$root/build/marlix-cli" "$@"
