#!/usr/bin/env bash
# Download benchmark: the same 1 GiB file and 100 KiB file served in one run by marlix-cli and by
# Debian's nginx (sendfile off and on), everything on loopback.
#  - 1 GiB: curl throughput and the server's CPU seconds per GB sent, read from /proc/PID/stat
#    (utime + stime of the whole process) around each download.
#  - 100 KiB: wrk -t2 -c6 with "Connection: close" (one request per connection), requests per second.
#    Six connections: the service lets one client address hold at most 8 connections, and a closed
#    connection is counted out a moment after the client sees it end.
# The servers run side by side and take turns, ROUNDS times; the medians are printed.
# Prints the figures and marlix's ratios against each nginx. Needs a built marlix-cli (build/).
#   bench/download.sh [path/to/marlix-cli]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh" bench  # the peer servers and load tools, if missing
cli="$(realpath "${1:-$root/build/marlix-cli}")"
ROUNDS="${ROUNDS:-5}"
WRK_SECONDS="${WRK_SECONDS:-5}"
for tool in curl wrk nginx python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh bench installs it)" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "missing $cli: build first" >&2; exit 1; }

work="$(mktemp -d /tmp/marlix-bench-XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/files"
head -c $((1 << 30)) /dev/urandom >"$work/files/big.bin"
head -c $((100 << 10)) /dev/urandom >"$work/files/small.bin"
tick="$(getconf CLK_TCK)"

cpu_seconds() {  # utime + stime of a process, in seconds
  awk -v tick="$tick" '{ sub(/^.*\) /, ""); print ($12 + $13) / tick }' "/proc/$1/stat"
}
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_for_url() {
  for _ in $(seq 100); do curl -sf -o /dev/null "$1" && return 0; sleep 0.1; done
  echo "no answer from $1" >&2; return 1
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The servers are measured in turns, round by round, so that the machine's changing load falls on
# all of them alike. Per server: NAME PID BIG_URL SMALL_URL in the arrays below.
names=(); spids=(); bigs=(); smalls=()
add_server() { names+=("$1"); spids+=("$2"); bigs+=("$3"); smalls+=("$4"); }

measure_all() {
  local i round
  for i in "${!names[@]}"; do curl -s -o /dev/null "${bigs[$i]}"; done  # warm the page cache
  for round in $(seq "$ROUNDS"); do
    for i in "${!names[@]}"; do
      local before after speed
      before="$(cpu_seconds "${spids[$i]}")"
      speed="$(curl -s -o /dev/null -w '%{speed_download}' "${bigs[$i]}")"
      after="$(cpu_seconds "${spids[$i]}")"
      echo "${names[$i]} $speed $(awk -v a="$before" -v b="$after" 'BEGIN { print (b - a) / 1.073741824 }')" >>"$work/big"
    done
  done
  for round in $(seq "$ROUNDS"); do
    for i in "${!names[@]}"; do
      sleep 1  # let the sockets of the previous run drain
      wrk -t2 -c6 -d"${WRK_SECONDS}s" -H 'Connection: close' "${smalls[$i]}" |
        awk -v n="${names[$i]}" '/^Requests\/sec/ { print n, $2 }' >>"$work/small"
    done
  done
  for i in "${!names[@]}"; do
    local mbps cpu rps
    mbps="$(awk -v n="${names[$i]}" '$1 == n { print $2 / 1e6 }' "$work/big" | median)"
    cpu="$(awk -v n="${names[$i]}" '$1 == n { print $3 }' "$work/big" | median)"
    rps="$(awk -v n="${names[$i]}" '$1 == n { print $2 }' "$work/small" | median)"
    printf '%s %.0f %.3f %.0f\n' "${names[$i]}" "$mbps" "$cpu" "$rps" >>"$work/results"
  done
}

start_nginx() {  # start_nginx NAME on|off: sets NGINX_PID and NGINX_PORT
  local name="$1" sendfile="$2" port
  port="$(free_port)"
  mkdir -p "$work/$name/logs"
  cat >"$work/$name/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/$name/nginx.pid;
error_log $work/$name/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile $sendfile;
  tcp_nopush on;
  keepalive_timeout 0;
  client_body_temp_path $work/$name/body;
  proxy_temp_path $work/$name/proxy;
  fastcgi_temp_path $work/$name/fastcgi;
  uwsgi_temp_path $work/$name/uwsgi;
  scgi_temp_path $work/$name/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/files;
    default_type application/octet-stream;
  }
}
CONF
  nginx -p "$work/$name" -c "$work/$name/nginx.conf" >"$work/$name/logs/out.log" 2>&1 &
  NGINX_PID=$!
  NGINX_PORT=$port
  pids+=("$NGINX_PID")
  wait_for_url "http://127.0.0.1:$port/small.bin"
}

: >"$work/results"

# marlix-cli shares both files from its own working directory.
(cd "$work/files" && exec "$cli" share --no-qr big.bin small.bin >"$work/cli.out" 2>/dev/null) &
cli_pid=$!
pids+=("$cli_pid")
for _ in $(seq 300); do [ "$(wc -l <"$work/cli.out")" -ge 2 ] && break; sleep 0.1; done
[ "$(wc -l <"$work/cli.out")" -ge 2 ] || { echo "marlix-cli printed no addresses:" >&2; cat "$work/cli.out" >&2; exit 1; }
# Each line is "URL NAME": the address is the first field.
big_url="$(sed -n 1p "$work/cli.out" | awk '{ print $1 }' | sed -E 's#^http://[^/]*/#http://127.0.0.1:PORT/#')"
small_url="$(sed -n 2p "$work/cli.out" | awk '{ print $1 }' | sed -E 's#^http://[^/]*/#http://127.0.0.1:PORT/#')"
port="$(sed -n 1p "$work/cli.out" | awk '{ print $1 }' | sed -E 's#^http://(\[[^]]*\]|[^:/]*):([0-9]+)/.*#\2#')"
big_url="${big_url/PORT/$port}"
small_url="${small_url/PORT/$port}"
wait_for_url "$small_url"
add_server marlix "$cli_pid" "$big_url" "$small_url"

for mode in off on; do
  start_nginx "nginx-sendfile-$mode" "$mode"
  add_server "nginx-sendfile-$mode" "$NGINX_PID" "http://127.0.0.1:$NGINX_PORT/big.bin" "http://127.0.0.1:$NGINX_PORT/small.bin"
done

measure_all

echo "1 GiB download (curl) and 100 KiB requests (wrk -t2 -c6 -d${WRK_SECONDS}s, Connection: close), medians of $ROUNDS turns"
printf '%-20s %10s %14s %12s\n' server "MB/s" "CPU s per GB" "requests/s"
while read -r name mbps cpu rps; do printf '%-20s %10s %14s %12s\n' "$name" "$mbps" "$cpu" "$rps"; done <"$work/results"
echo
read -r _ m_mbps m_cpu m_rps < <(grep '^marlix ' "$work/results")
while read -r name mbps cpu rps; do
  [ "$name" = marlix ] && continue
  awk -v n="$name" -v a="$m_mbps" -v b="$mbps" -v c="$m_cpu" -v d="$cpu" -v e="$m_rps" -v f="$rps" 'BEGIN {
    printf "marlix / %-20s throughput %.2f   CPU per GB %.2f   requests/s %.2f\n", n, a / b, c / d, e / f }'
done <"$work/results"
