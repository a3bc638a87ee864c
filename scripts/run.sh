#!/usr/bin/env bash
# Installs the dependencies, builds Marlix, lays out its working directory and starts it there:
# the window when a display is available, the terminal front end otherwise.
#   scripts/run.sh                 window, or share nothing and wait for uploads in the terminal
#   scripts/run.sh share PATH...   terminal front end (any marlix-cli arguments)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
caller="$PWD"
cd "$root"

bash scripts/install-deps.sh run
# The programs only: the tests need the test tools, which the run command does not install.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIX_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target marlix marlix-cli marlix-relay marlix_data >/dev/null

# The working directory: the files that lie beside the program, and "tmp" for received files.
work="${MARLIX_HOME:-$HOME/Marlix}"
mkdir -p "$work/tmp"
for item in "$root"/data/*; do [ -e "$item" ] && cp -r "$item" "$work/"; done
cd "$work"

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
# Paths given relative to where the command was typed still name the same files from the working directory.
args=("$1")
shift
for arg in "$@"; do
  if [[ "$arg" != -* && "$arg" != /* && -e "$caller/$arg" ]]; then arg="$caller/$arg"; fi
  args+=("$arg")
done
exec "$root/build/marlix-cli" "${args[@]}"
