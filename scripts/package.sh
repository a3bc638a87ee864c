#!/usr/bin/env bash
# Builds the Debian package of Marlix with CPack and prints its path.
#   scripts/package.sh              a Release build of its own in build-package/
#   scripts/package.sh BUILD_DIR    packages an existing, configured build tree (the test command's)
# Install it with: sudo apt-get install ./marlix_VERSION_ARCH.deb   (remove with: sudo apt-get remove marlix)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
dir="${1:-build-package}"
command -v dpkg-shlibdeps >/dev/null || { echo "dpkg-shlibdeps is missing: scripts/install-deps.sh test installs dpkg-dev" >&2; exit 1; }
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF >/dev/null
fi
cmake --build "$dir" -j "${JOBS:-$(nproc)}" --target marlix marlix-cli marlix-relay >/dev/null
(cd "$dir" && cpack -G DEB >/dev/null 2>&1) || { echo "cpack failed in $dir" >&2; exit 1; }
ls -t "$root/$dir"/marlix_*.deb 2>/dev/null | head -1 || { echo "no package was made" >&2; exit 1; }
