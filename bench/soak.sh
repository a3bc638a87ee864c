#!/usr/bin/env bash
# Soak test: one marlix-cli under a mixed load for MINUTES (default 10), in a network namespace of
# the script's own (only its loopback, so every 127.0.0.K is a client address of its own and every
# port is free): shared-file downloads with and without Range, the folder page and its archive,
# multipart and resumable uploads (some cut off and sent again or resumed), slow request headers and
# bodies, texts, and wrong tokens and upload secrets from 5 addresses. The load generator is
# bench/soak.py (Python's standard library).
#
# Every stored file is checked against its hash, on disk and read back over HTTP. It prints the
# service's resident memory, open descriptors and threads at the start, after the first minute (half
# the run for runs of two minutes or less) and at the end, both taken with every connection closed,
# and ends with "lost: N", "corrupt: N" and "errors: N" (answers a client did not earn). Exits 1 when
# any of those is non-zero or when memory, descriptors or threads grew by more than 10 % after the
# first minute.
#   bench/soak.sh [MINUTES] [path/to/marlix-cli]
# Needs a built marlix-cli (build/), python3 and ip; root for the namespace, or else unprivileged
# user namespaces (unshare -rn). Exits 77 when no namespace can be made.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
minutes="${1:-10}"
cli="$(realpath "${2:-${MARLIX_CLI:-$root/build/marlix-cli}}")"
[ -x "$cli" ] || { echo "missing $cli: build first (cmake --build build --target marlix-cli)" >&2; exit 1; }
for tool in python3 ip unshare; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
if [ -z "${MARLIX_SOAK_NETNS:-}" ]; then
  as_root=()
  [ "$(id -u)" = 0 ] || as_root=(-r)
  if ! unshare "${as_root[@]}" -n true 2>/dev/null; then
    echo "soak: no network namespace can be made here (needs root or user namespaces)" >&2
    exit 77
  fi
  exec env MARLIX_SOAK_NETNS=1 unshare "${as_root[@]}" -n -- bash "$0" "$minutes" "$cli"
fi
ip link set lo up
work="$(mktemp -d "${TMPDIR:-/tmp}/marlix-soak-XXXXXX")"
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/soak.py" --cli "$cli" --minutes "$minutes" --work "$work" ${MARLIX_SOAK_ARGS:-}
