#!/usr/bin/env bash
# The test command's package stage: builds the .deb from a build tree, installs it, runs the installed
# marlix-cli (--version, and a short share on loopback fetched with curl, stopped with SIGTERM) and
# removes the package again. A marlix package that was installed before is left alone: then the
# stage checks only the package's contents.
#   scripts/check-package.sh [BUILD_DIR]   (build by default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

deb="$(bash "$root/scripts/package.sh" "$dir")"
echo "package: $deb"
contents="$(dpkg-deb -c "$deb")"
for file in usr/bin/marlix usr/bin/marlix-cli usr/bin/marlix-relay usr/share/marlix/index.html \
  usr/share/applications/marlix.desktop usr/share/icons/hicolor/scalable/apps/marlix.svg usr/share/man/man1/marlix.1 \
  usr/lib/systemd/system/marlix-relay.service usr/share/doc/marlix/marlix-relay.nginx; do
  grep -q " \./$file\$" <<<"$contents" || { echo "the package lacks /$file" >&2; exit 1; }
done
grep -q 'libmicrohttpd12' <<<"$(dpkg-deb -f "$deb" Depends)" || { echo "Depends names no libmicrohttpd" >&2; exit 1; }

if dpkg-query -W -f='${Status}' marlix 2>/dev/null | grep -q 'install ok installed'; then
  echo "marlix is already installed here: not installing the test package over it, nor removing it"
  exit 0
fi

work="$(mktemp -d /tmp/marlix-package-XXXXXX)"
cli_pid=""
cleanup() {
  if [ -n "$cli_pid" ]; then kill -TERM "$cli_pid" 2>/dev/null || true; fi
  echo "removing the test package"
  $SUDO dpkg -r marlix >/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "installing the test package (apt-get install $deb)"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$deb" >/dev/null

[ "$(/usr/bin/marlix-cli --version)" = "marlix-cli $(dpkg-deb -f "$deb" Version)" ]
desktop-file-validate /usr/share/applications/marlix.desktop
# The relay's unit is sound, and installing the package neither enabled nor started it.
systemd-analyze verify --man=no /usr/lib/systemd/system/marlix-relay.service
if ls /etc/systemd/system/*.wants/marlix-relay.service >/dev/null 2>&1; then
  echo "installing the package enabled marlix-relay.service" >&2
  exit 1
fi
cd "$work"
echo "from the installed program" >note.txt
# Its own home, laid out from the installed data (never the user's ~/Marlix).
MARLIX_HOME="$work/home" /usr/bin/marlix-cli share --no-qr note.txt >cli.out 2>cli.err &
cli_pid=$!
for _ in $(seq 100); do grep -q '^http://' cli.out && break; sleep 0.1; done
line="$(head -1 cli.out)"
case "$line" in *" note.txt") ;; *) echo "unexpected address line: $line ($(cat cli.err))" >&2; exit 1 ;; esac
address="${line%% *}"
loopback="http://127.0.0.1:${address#http://*:}"
[ "$(curl -sf --max-time 20 "$loopback")" = "from the installed program" ]
cmp -s "$work/home/index.html" /usr/share/marlix/index.html || { echo "the home was not laid out from /usr/share/marlix" >&2; exit 1; }
kill -TERM "$cli_pid"
status=0
wait "$cli_pid" || status=$?
cli_pid=""
[ "$status" -eq 0 ] || { echo "the installed marlix-cli ended with $status" >&2; exit 1; }
echo "the installed marlix-cli served $loopback and ended cleanly"
