#!/usr/bin/env bash
# Relay benchmark: one marlix-relay on loopback, over HTTP and over HTTPS (a certificate from a test
# authority made here), with Debian's nginx serving the same files in the same run as the peer.
#  - 1 GiB: an upload to the relay (curl, the frame and the file as the body) and its download:
#    MB/s, and the relay's CPU seconds per GB, read from /proc/PID/stat around each transfer. The
#    download is compared with nginx sending the same file (sendfile on; over HTTPS, nginx's TLS).
#  - 200 phones at once, each from an address of its own (127.0.0.2 to .201), each downloading its
#    own 10 MiB file (a relay link serves once): total MB/s, the slowest phone's seconds, and the
#    relay's resident memory per connection (the highest seen while they run, less the idle figure).
# Runs in a network namespace of its own (root, unshare -n), so that each client address is a source
# of its own and no port can collide with anything else. Medians of ROUNDS rounds.
#   bench/relay.sh [path/to/marlix-relay]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${MARLIX_BENCH_NETNS:-}" ]; then
  bash "$root/scripts/install-deps.sh" bench
  exec env MARLIX_BENCH_NETNS=1 unshare -n -- bash "$0" "$@"
fi
ip link set lo up
for k in $(seq 2 254); do ip route add local "127.0.0.$k/32" dev lo src "127.0.0.$k" table local; done
relay="$(realpath "${1:-$root/build/marlix-relay}")"
ROUNDS="${ROUNDS:-3}"
PHONES="${PHONES:-200}"
for tool in curl nginx openssl python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh bench installs it)" >&2; exit 1; }
done
[ -x "$relay" ] || { echo "missing $relay: build first" >&2; exit 1; }

work="$(mktemp -d /tmp/marlix-relay-bench-XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
tick="$(getconf CLK_TCK)"
cpu_seconds() { awk -v tick="$tick" '{ sub(/^.*\) /, ""); print ($12 + $13) / tick }' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
wait_for() { for _ in $(seq 100); do curl -sf -o /dev/null --cacert "$work/ca.pem" "$1" && return 0; sleep 0.1; done; return 1; }

# The test authority and the servers' certificate for 127.0.0.1.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=bench-ca \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=127.0.0.1 \
  -keyout "$work/srv.key" -out "$work/srv.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >"$work/srv.ext"
openssl x509 -req -days 2 -in "$work/srv.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -extfile "$work/srv.ext" -out "$work/srv.pem" 2>/dev/null

mkdir -p "$work/files"
head -c $((1 << 30)) /dev/urandom >"$work/files/big.bin"
head -c $((10 << 20)) /dev/urandom >"$work/files/ten.bin"
# An upload body: the frame's head for a token and a name, then the file.
frame() {  # frame TOKEN NAME FILE > body
  python3 - "$1" "$2" "$(stat -c %s "$3")" <<'EOF'
import struct, sys
token, name, size = sys.argv[1].encode(), sys.argv[2].encode(), int(sys.argv[3])
sys.stdout.buffer.write(struct.pack(">I", len(token)) + token + struct.pack(">I", len(name)) + name + struct.pack(">I", size))
EOF
  cat "$3"
}
frame "$(printf 'B%021d' 0)" big.bin "$work/files/big.bin" >"$work/big.frame"
frame "$(printf 'T%021d' 0)" ten.bin "$work/files/ten.bin" >"$work/ten.frame"

# nginx, the peer: the same files over HTTP and HTTPS.
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off; master_process off; pid $work/nginx/pid; error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off; sendfile on; tcp_nopush on;
  client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy; fastcgi_temp_path $work/nginx/f;
  uwsgi_temp_path $work/nginx/u; scgi_temp_path $work/nginx/s;
  server { listen 127.0.0.1:8300; root $work/files; }
  server { listen 127.0.0.1:8301 ssl; ssl_certificate $work/srv.pem; ssl_certificate_key $work/srv.key;
           ssl_protocols TLSv1.2 TLSv1.3; root $work/files; }
}
EOF
nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=("$!")

start_relay() {  # start_relay http|https: sets relay_pid and base
  rm -rf "$work/store"
  local tls=()
  base="http://127.0.0.1:8200"
  if [ "$1" = https ]; then tls=(--cert "$work/srv.pem" --key "$work/srv.key"); base="https://127.0.0.1:8200"; fi
  "$relay" --listen 127.0.0.1:8200 --storage "$work/store" --max-body $((1100 << 20)) --max-storage 0 \
    --max-per-client 0 "${tls[@]}" 2>"$work/relay.log" &
  relay_pid=$!
  wait_for "$base/login" || { cat "$work/relay.log" >&2; exit 1; }
}
stop_relay() { kill "$relay_pid"; wait "$relay_pid" || true; }

declare -A results
measure() {  # measure http|https ROUND
  local scheme="$1" token cpu0 t up down phones peer
  start_relay "$scheme"
  # 1 GiB up, then down.
  token="$(printf 'B%021d' 0)"
  cpu0="$(cpu_seconds "$relay_pid")"
  up="$(curl -sS -o /dev/null -w '%{speed_upload}' --cacert "$work/ca.pem" -H 'Expect:' \
    -X POST -T "$work/big.frame" "$base/upload")"
  results[$scheme.upcpu]+="$(awk -v a="$cpu0" -v b="$(cpu_seconds "$relay_pid")" 'BEGIN { print (b - a) / 1.073741824 }') "
  results[$scheme.up]+="$(awk -v s="$up" 'BEGIN { print s / 1e6 }') "
  cpu0="$(cpu_seconds "$relay_pid")"
  down="$(curl -sS -o /dev/null -w '%{speed_download}' --cacert "$work/ca.pem" "$base/q?t=$token")"
  results[$scheme.downcpu]+="$(awk -v a="$cpu0" -v b="$(cpu_seconds "$relay_pid")" 'BEGIN { print (b - a) / 1.073741824 }') "
  results[$scheme.down]+="$(awk -v s="$down" 'BEGIN { print s / 1e6 }') "
  peer=8300; [ "$scheme" = https ] && peer=8301
  down="$(curl -sS -o /dev/null -w '%{speed_download}' --cacert "$work/ca.pem" "$scheme://127.0.0.1:$peer/big.bin")"
  results[$scheme.nginx]+="$(awk -v s="$down" 'BEGIN { print s / 1e6 }') "

  # PHONES files of 10 MiB, then as many phones at once, each from its own address.
  local k rss0 peak=0 r start end slowest
  for k in $(seq 1 "$PHONES"); do
    token="$(printf 'T%021d' "$k")"
    frame "$token" ten.bin "$work/files/ten.bin" |
      curl -sSf -o /dev/null --cacert "$work/ca.pem" -H 'Expect:' --data-binary @- "$base/upload"
  done
  rss0="$(rss_kib "$relay_pid")"
  start="$(date +%s.%N)"
  local cpids=()
  for k in $(seq 1 "$PHONES"); do
    curl -sS -o /dev/null -w '%{time_total}\n' --cacert "$work/ca.pem" --interface "127.0.0.$((k % 253 + 2))" \
      "$base/q?t=$(printf 'T%021d' "$k")" >"$work/phone.$k" &
    cpids+=("$!")
  done
  while kill -0 "${cpids[@]}" 2>/dev/null; do
    r="$(rss_kib "$relay_pid")"; [ "$r" -gt "$peak" ] && peak="$r"
    sleep 0.05
  done
  wait "${cpids[@]}" || true
  end="$(date +%s.%N)"
  slowest="$(cat "$work"/phone.* | sort -g | tail -1)"
  results[$scheme.phones]+="$(awk -v a="$start" -v b="$end" -v n="$PHONES" 'BEGIN { print n * 10.48576 / (b - a) }') "
  results[$scheme.slowest]+="$slowest "
  results[$scheme.kib]+="$(awk -v a="$rss0" -v b="$peak" -v n="$PHONES" 'BEGIN { print (b - a) / n }') "
  rm -f "$work"/phone.*
  stop_relay
}

for round in $(seq 1 "$ROUNDS"); do
  for scheme in http https; do measure "$scheme" "$round"; done
done
m() { tr ' ' '\n' <<<"${results[$1]}" | grep . | median; }
for scheme in http https; do
  printf '%s: 1 GiB upload %.0f MB/s (%.2f CPU s/GB), download %.0f MB/s (%.2f CPU s/GB; nginx %.0f MB/s, ratio %.2f)\n' \
    "$scheme" "$(m $scheme.up)" "$(m $scheme.upcpu)" "$(m $scheme.down)" "$(m $scheme.downcpu)" "$(m $scheme.nginx)" \
    "$(awk -v a="$(m $scheme.down)" -v b="$(m $scheme.nginx)" 'BEGIN { print a / b }')"
  printf '%s: %d phones x 10 MiB at once: %.0f MB/s in all, slowest phone %.2f s, %.0f KiB per connection\n' \
    "$scheme" "$PHONES" "$(m $scheme.phones)" "$(m $scheme.slowest)" "$(m $scheme.kib)"
done
