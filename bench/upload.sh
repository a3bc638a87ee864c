#!/usr/bin/env bash
# A 1 GiB multipart upload, as a phone's browser sends it, to marlix-cli receive and to nginx
# writing the request body to a file, in one run on loopback. Reports the median MB/s seen by the
# client and the server's own CPU time per GB (utime + stime from /proc/PID/stat).
#   bench/upload.sh [RUNS]        (default 3 timed runs each, after one untimed warm-up each)
# Needs a built build/marlix-cli (cmake --build build --target marlix-cli), curl and nginx.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh" bench  # the peer servers and load tools, if missing
runs="${1:-3}"
cli="${MARLIX_CLI:-$root/build/marlix-cli}"
[ -x "$cli" ] || { echo "build marlix-cli first: cmake --build build --target marlix-cli" >&2; exit 1; }
command -v nginx >/dev/null || { echo "nginx is missing: scripts/install-deps.sh bench" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/marlix-bench-XXXXXX")"
cli_pid="" nginx_pid=""
cleanup() {
  [ -n "$cli_pid" ] && kill -INT "$cli_pid" 2>/dev/null && wait "$cli_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

size=$((1024 * 1024 * 1024))
echo "making a 1 GiB file of random bytes..." >&2
head -c "$size" /dev/urandom >"$work/upload.bin"

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# marlix-cli receive in a working directory of its own (MARLIX_HOME).
mkdir -p "$work/marlix/tmp"
(cd "$work/marlix" && MARLIX_HOME="$work/marlix" exec "$cli" receive --no-qr >"$work/marlix.out" 2>"$work/marlix.err") &
cli_pid=$!
for _ in $(seq 100); do grep -q index.html "$work/marlix.out" 2>/dev/null && break; sleep 0.1; done
# It prints "http://HOST:PORT/index.html?k=SECRET": uploads go to /u with the same secret.
marlix_port="$(sed -n 's#^http://[^/]*:\([0-9]*\)/index.html.*#\1#p' "$work/marlix.out" | head -1)"
marlix_secret="$(sed -n 's#^http://.*/index.html\(?k=[^ ]*\).*#\1#p' "$work/marlix.out" | head -1)"
[ -n "$marlix_port" ] || { echo "marlix-cli did not start:" >&2; cat "$work/marlix.err" >&2; exit 1; }

# nginx in one process on loopback: it reads the whole body into a file, then answers through a
# small second server block (proxying without the body, as a real application would take the file).
nginx_port="$(free_port)"
back_port="$(free_port)"
mkdir -p "$work/nginx/body" "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/body;
  fastcgi_temp_path $work/nginx/body;
  uwsgi_temp_path $work/nginx/body;
  scgi_temp_path $work/nginx/body;
  client_max_body_size 0;
  server {
    listen 127.0.0.1:$nginx_port;
    location /u {
      client_body_in_file_only clean;
      client_body_buffer_size 128k;
      proxy_pass_request_body off;
      proxy_set_header Content-Length "";
      proxy_set_header X-Body-File \$request_body_file;
      proxy_pass http://127.0.0.1:$back_port/done;
    }
  }
  server {
    listen 127.0.0.1:$back_port;
    location /done { return 200 '{"files":[]}'; }
  }
}
CONF
nginx -p "$work/nginx" -e "$work/nginx/logs/error.log" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break; sleep 0.1; done

ticks="$(getconf CLK_TCK)"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# One upload; prints "seconds cpu_seconds".
upload() {
  local port="$1" pid="$2" query="${3:-}" before after seconds code
  before="$(cpu_ticks "$pid")"
  read -r seconds code < <(curl -s -o /dev/null -H 'Expect:' -F "file=@$work/upload.bin;filename=upload.bin" \
    -w '%{time_total} %{http_code}\n' "http://127.0.0.1:$port/u$query")
  sleep 0.2
  after="$(cpu_ticks "$pid")"
  # A refused upload would look fast: every one must be answered 200, and marlix must hold the file.
  [ "$code" = 200 ] || { echo "upload to port $port answered $code" >&2; exit 1; }
  if [ "$pid" = "$cli_pid" ] && [ "$(stat -c %s "$work/marlix/tmp/upload.bin" 2>/dev/null)" != "$size" ]; then
    echo "marlix-cli did not store the whole upload" >&2
    exit 1
  fi
  echo "$seconds $(awk -v a="$after" -v b="$before" -v t="$ticks" 'BEGIN{print (a-b)/t}')"
  rm -f "$work"/marlix/tmp/* "$work"/nginx/body/* 2>/dev/null || true
}

median() { sort -n | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo "warming up..." >&2
upload "$marlix_port" "$cli_pid" "$marlix_secret" >/dev/null
upload "$nginx_port" "$nginx_pid" >/dev/null

: >"$work/marlix.runs"
: >"$work/nginx.runs"
for i in $(seq "$runs"); do
  echo "run $i of $runs..." >&2
  # Alternate which server goes first, so neither always follows the other's writeback.
  if [ $((i % 2)) -eq 1 ]; then
    upload "$marlix_port" "$cli_pid" "$marlix_secret" >>"$work/marlix.runs"
    upload "$nginx_port" "$nginx_pid" >>"$work/nginx.runs"
  else
    upload "$nginx_port" "$nginx_pid" >>"$work/nginx.runs"
    upload "$marlix_port" "$cli_pid" "$marlix_secret" >>"$work/marlix.runs"
  fi
done

mbs_of() { awk -v s="$size" '{print s / 1e6 / $1}' "$1" | median; }
report() {
  local name="$1" file="$2"
  printf '%-12s %8.0f MB/s %8.0f ms CPU per GB   (runs, MB/s: %s)\n' "$name" "$(mbs_of "$file")" \
    "$(awk -v s="$size" '{print $2 * 1000 / (s / 1e9)}' "$file" | median)" \
    "$(awk -v s="$size" '{printf "%.0f ", s / 1e6 / $1}' "$file")"
}
echo "1 GiB multipart upload over loopback, median of $runs runs (curl -H 'Expect:'):"
report marlix-cli "$work/marlix.runs"
report nginx "$work/nginx.runs"
awk -v m="$(mbs_of "$work/marlix.runs")" -v n="$(mbs_of "$work/nginx.runs")" \
  'BEGIN{printf "throughput ratio marlix-cli / nginx: %.2f\n", m / n}'
