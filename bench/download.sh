#!/usr/bin/env bash
# Download benchmark: the same files served in one run by marlix-cli and by Debian's nginx (sendfile
# off and on), in a network namespace of the script's own (only its loopback), so that each client
# address 127.0.0.K is a source of its own: the service lets one address hold at most 8 connections.
#  - 1 GiB: curl throughput and the server's CPU seconds per GB sent, read from /proc/PID/stat
#    (utime + stime of the whole process) around each download.
#  - 100 KiB over 64 connections: 16 wrk instances (-t1 -c4, "Connection: close", one request per
#    connection), each from its own address, side by side; requests per second, summed, and the
#    server's CPU microseconds per request. (Four from an address, not eight: a connection is
#    counted out just after the client has seen its reply end, so wrk reconnecting at once with all
#    eight would meet the cap now and then and get "503".)
#  - Idle connections: 1,000 connections from 125 addresses that have sent part of a request header
#    and add a byte every 5 s; meanwhile a phone at another address fetches a 1 MiB file (median
#    seconds), and the server's resident memory grows by so many KiB per idle connection (the
#    largest growth of the rounds: later holds reuse the memory the first one took).
# The servers run side by side and take turns, ROUNDS times; the medians are printed.
# Prints the figures and marlix's ratios against each peer. Needs a built marlix-cli (build/), and
# root for the namespace (unshare -n). A second marlix-cli, when given, runs as one more peer
# ("marlix-peer"), to weigh a change against the build before it in the same run.
#   bench/download.sh [path/to/marlix-cli [path/to/peer/marlix-cli]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${MARLIX_BENCH_NETNS:-}" ]; then
  bash "$root/scripts/install-deps.sh" bench  # the peer servers and load tools, if missing
  exec env MARLIX_BENCH_NETNS=1 unshare -n -- bash "$0" "$@"
fi
# Inside the namespace: loopback up, and every 127.0.0.K its own source address (on the machine's own
# loopback the kernel gives each connection the source 127.0.0.1).
ip link set lo up
for k in $(seq 2 254); do ip route add local "127.0.0.$k/32" dev lo src "127.0.0.$k" table local; done
cli="$(realpath "${1:-$root/build/marlix-cli}")"
peer_cli="${2:+$(realpath "$2")}"
ROUNDS="${ROUNDS:-5}"
WRK_SECONDS="${WRK_SECONDS:-5}"
IDLE="${IDLE:-1000}"  # idle connections, 8 from each address (at most 1,800)
for tool in curl wrk nginx python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh bench installs it)" >&2; exit 1; }
done
for c in "$cli" ${peer_cli:+"$peer_cli"}; do [ -x "$c" ] || { echo "missing $c: build first" >&2; exit 1; }; done

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
head -c $((1 << 20)) /dev/urandom >"$work/files/mid.bin"
tick="$(getconf CLK_TCK)"

cpu_seconds() {  # utime + stime of a process, in seconds
  awk -v tick="$tick" '{ sub(/^.*\) /, ""); print ($12 + $13) / tick }' "/proc/$1/stat"
}
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_for_url() {
  for _ in $(seq 100); do curl -sf -o /dev/null "$1" && return 0; sleep 0.1; done
  echo "no answer from $1" >&2; return 1
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The servers are measured in turns, round by round, so that the machine's changing load falls on
# all of them alike. Per server: NAME PID PORT and the paths of its three files.
names=(); spids=(); ports=(); bigs=(); smalls=(); mids=()
add_server() { names+=("$1"); spids+=("$2"); ports+=("$3"); bigs+=("$4"); smalls+=("$5"); mids+=("$6"); }
url() { echo "http://127.0.0.$1:$2$3"; }  # url K PORT PATH: the server as seen from 127.0.0.K

# 16 wrk instances side by side, each 4 connections from its own address (127.0.0.2 to .17); prints
# the summed requests/s and the summed non-2xx replies and socket errors.
wrk64() {
  local port="$1" path="$2" k p wpids=()
  for k in $(seq 2 17); do
    wrk -t1 -c4 -d"${WRK_SECONDS}s" -H 'Connection: close' "$(url "$k" "$port" "$path")" >"$work/wrk.$k" 2>&1 &
    wpids+=("$!")
  done
  for p in "${wpids[@]}"; do wait "$p"; done
  for k in $(seq 2 17); do cat "$work/wrk.$k"; done | awk '
    /^Requests\/sec/ { rps += $2 }
    /Non-2xx/ { bad += $NF }
    /Socket errors/ { gsub(/,/, ""); errors += $4 + $6 + $8 + $10 }
    END { printf "%.0f %d %d\n", rps, bad, errors }'
}

# Holds IDLE connections to the port, 8 from each of 127.0.0.20, .21, ..., each with part of a request
# header sent and a byte added every 5 s, until killed; prints "ready" once they are all open.
idle_clients() {
  exec python3 - "$1" "$IDLE" <<'PY'
import resource, socket, sys, time
port, count = int(sys.argv[1]), int(sys.argv[2])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
held = []
for i in range(count):
    s = socket.socket()
    s.bind(("127.0.0.%d" % (20 + i // 8), 0))
    s.connect(("127.0.0.1", port))
    s.sendall(b"GET /small.bin HTTP/1.1\r\nHost: x\r\n")
    held.append(s)
print("ready", flush=True)
while True:
    time.sleep(5)
    for s in held:
        try:
            s.send(b"X")
        except OSError:
            pass
PY
}

measure_all() {
  local i round
  for i in "${!names[@]}"; do curl -s -o /dev/null "$(url 1 "${ports[$i]}" "${bigs[$i]}")"; done  # warm the page cache
  echo "1 GiB downloads..." >&2
  for round in $(seq "$ROUNDS"); do
    for i in "${!names[@]}"; do
      local before after speed
      before="$(cpu_seconds "${spids[$i]}")"
      speed="$(curl -s -o /dev/null -w '%{speed_download}' "$(url 1 "${ports[$i]}" "${bigs[$i]}")")"
      after="$(cpu_seconds "${spids[$i]}")"
      echo "${names[$i]} $speed $(awk -v a="$before" -v b="$after" 'BEGIN { print (b - a) / 1.073741824 }')" >>"$work/big"
    done
  done
  echo "100 KiB requests..." >&2
  for round in $(seq "$ROUNDS"); do
    for i in "${!names[@]}"; do
      local before after result
      sleep 1  # let the sockets of the previous run drain
      before="$(cpu_seconds "${spids[$i]}")"
      result="$(wrk64 "${ports[$i]}" "${smalls[$i]}")"
      after="$(cpu_seconds "${spids[$i]}")"
      # requests/s, refused, and the server's CPU microseconds per request
      echo "${names[$i]} $result $(awk -v a="$before" -v b="$after" -v r="${result%% *}" -v t="$WRK_SECONDS" 'BEGIN { print (b - a) * 1e6 / (r * t) }')" >>"$work/small"
    done
  done
  echo "idle connections..." >&2
  for round in $(seq "$ROUNDS"); do
    for i in "${!names[@]}"; do
      local before after idle_pid probe seconds=()
      sleep 1
      before="$(rss_kib "${spids[$i]}")"
      idle_clients "${ports[$i]}" >"$work/idle.out" &
      idle_pid=$!
      for _ in $(seq 600); do grep -q ready "$work/idle.out" && break; sleep 0.1; done
      sleep 1
      after="$(rss_kib "${spids[$i]}")"
      for probe in 1 2 3 4 5; do
        seconds+=("$(curl -s -o /dev/null -m 30 -w '%{time_total}' "$(url 250 "${ports[$i]}" "${mids[$i]}")" || echo 30)")
      done
      kill "$idle_pid"
      wait "$idle_pid" 2>/dev/null || true
      echo "${names[$i]} $(printf '%s\n' "${seconds[@]}" | median) $(awk -v a="$before" -v b="$after" -v n="$IDLE" 'BEGIN { print (b - a) / n }')" >>"$work/idle"
    done
  done
  for i in "${!names[@]}"; do
    local mbps cpu rps bad us probe kib
    mbps="$(awk -v n="${names[$i]}" '$1 == n { print $2 / 1e6 }' "$work/big" | median)"
    cpu="$(awk -v n="${names[$i]}" '$1 == n { print $3 }' "$work/big" | median)"
    rps="$(awk -v n="${names[$i]}" '$1 == n { print $2 }' "$work/small" | median)"
    bad="$(awk -v n="${names[$i]}" '$1 == n { s += $3 + $4 } END { print s + 0 }' "$work/small")"
    us="$(awk -v n="${names[$i]}" '$1 == n { print $5 }' "$work/small" | median)"
    probe="$(awk -v n="${names[$i]}" '$1 == n { print $2 }' "$work/idle" | median)"
    # The memory the idle connections took when they first came (later holds reuse it): the largest.
    kib="$(awk -v n="${names[$i]}" '$1 == n { print $3 }' "$work/idle" | sort -g | tail -1)"
    printf '%s %.0f %.3f %.0f %d %.0f %.3f %.1f\n' "${names[$i]}" "$mbps" "$cpu" "$rps" "$bad" "$us" "$probe" "$kib" >>"$work/results"
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
worker_rlimit_nofile 8192;
events { worker_connections 4096; }
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
    listen $port;
    root $work/files;
    default_type application/octet-stream;
  }
}
CONF
  nginx -p "$work/$name" -c "$work/$name/nginx.conf" >"$work/$name/logs/out.log" 2>&1 &
  NGINX_PID=$!
  NGINX_PORT=$port
  pids+=("$NGINX_PID")
  wait_for_url "$(url 1 "$port" /small.bin)"
}

: >"$work/results"

# A marlix-cli shares the three files, with a working directory of its own (MARLIX_HOME).
start_marlix() {  # start_marlix NAME PATH
  local name="$1" out="$work/$1.out" pid port
  (cd "$work/files" && MARLIX_HOME="$work/$name-home" exec "$2" share --no-qr --address 127.0.0.1 big.bin small.bin mid.bin >"$out" 2>/dev/null) &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 300); do [ "$(wc -l <"$out")" -ge 3 ] && break; sleep 0.1; done
  [ "$(wc -l <"$out")" -ge 3 ] || { echo "$name printed no addresses:" >&2; cat "$out" >&2; exit 1; }
  # Each line is "URL NAME": the address is the first field; the service listens on every address.
  path_of() { sed -n "${1}p" "$out" | awk '{ print $1 }' | sed -E 's#^http://(\[[^]]*\]|[^:/]*):[0-9]+##'; }
  port="$(sed -n 1p "$out" | awk '{ print $1 }' | sed -E 's#^http://(\[[^]]*\]|[^:/]*):([0-9]+)/.*#\2#')"
  wait_for_url "$(url 1 "$port" "$(path_of 2)")"
  add_server "$name" "$pid" "$port" "$(path_of 1)" "$(path_of 2)" "$(path_of 3)"
}
start_marlix marlix "$cli"
[ -z "$peer_cli" ] || start_marlix marlix-peer "$peer_cli"

for mode in off on; do
  start_nginx "nginx-sendfile-$mode" "$mode"
  add_server "nginx-sendfile-$mode" "$NGINX_PID" "$NGINX_PORT" /big.bin /small.bin /mid.bin
done

measure_all

echo "Medians of $ROUNDS turns. 1 GiB: curl. 100 KiB: 16 x wrk -t1 -c4 -d${WRK_SECONDS}s from 16 addresses,"
echo "Connection: close. Idle: $IDLE idle connections from $((IDLE / 8)) addresses; a 1 MiB download from another."
printf '%-20s %8s %10s %12s %8s %12s %10s %13s\n' server "MB/s" "CPU s/GB" "requests/s" refused "CPU us/req" "1 MiB s" "KiB per idle"
while read -r name mbps cpu rps bad us probe kib; do
  printf '%-20s %8s %10s %12s %8s %12s %10s %13s\n' "$name" "$mbps" "$cpu" "$rps" "$bad" "$us" "$probe" "$kib"
done <"$work/results"
echo "(refused: non-2xx replies and socket errors of all the 100 KiB turns; KiB per idle: the largest growth)"
echo
read -r _ m_mbps m_cpu m_rps _ m_us m_probe m_kib < <(grep '^marlix ' "$work/results")
while read -r name mbps cpu rps _ us probe kib; do
  [ "$name" = marlix ] && continue
  awk -v n="$name" -v a="$m_mbps" -v b="$mbps" -v c="$m_cpu" -v d="$cpu" -v e="$m_rps" -v f="$rps" \
    -v g="$m_us" -v h="$us" -v i="$m_kib" -v j="$kib" 'BEGIN {
    printf "marlix / %-20s throughput %.2f   CPU per GB %.2f   requests/s %.2f   CPU per request %.2f   KiB per idle %.2f\n",
      n, a / b, c / d, e / f, g / h, (j > 0 ? i / j : 0) }'
done <"$work/results"
