#!/usr/bin/env bash
# Packs one corpus (text, shared libraries, random-content .jpg/.mp4 as phones share) with
# ZipFolderToFile, serial and parallel, with CArchiveBuild (streamed layout, read while it is packed)
# and with `zip -r -8`, in one run. Prints the median seconds of RUNS rounds, MB/s of input and
# archive sizes, and checks every archive with unzip -t and Python's zipfile.
#   bench/zip.sh    (RUNS=3 TEXT_MB=60 BIN_MB=120 MEDIA_MB=100 by default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh" bench  # the peer servers and load tools, if missing
runs="${RUNS:-3}"
text_mb="${TEXT_MB:-60}"
bin_mb="${BIN_MB:-120}"
media_mb="${MEDIA_MB:-100}"

build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMARLIX_BENCH=ON -DMARLIX_TESTS=OFF -DMARLIX_GUI=OFF >/dev/null
cmake --build "$build" -j 2 --target zip_folder >/dev/null

work="$(mktemp -d /tmp/marlix-zip-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
corpus="$work/corpus"
mkdir -p "$corpus/text" "$corpus/bin" "$corpus/media"

# Copies files from a list until about the given number of MB has been copied.
copy_until() {
  local limit=$(($1 * 1024 * 1024)) dest="$2" total=0 f n=0
  while IFS= read -r f; do
    [ -f "$f" ] && [ -r "$f" ] || continue
    local size
    size=$(stat -c %s "$f")
    [ "$size" -gt 0 ] || continue
    mkdir -p "$dest/$((n / 200))"
    cp "$f" "$dest/$((n / 200))/$n-$(basename "$f")"
    n=$((n + 1))
    total=$((total + size))
    [ "$total" -lt "$limit" ] || break
  done
}
{ find /usr/include -type f -name "*.h" | sort | copy_until "$text_mb" "$corpus/text"; } || true
{ find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name "*.so*" -size +100k -size -20M | sort | copy_until "$bin_mb" "$corpus/bin"; } || true
i=0
left=$media_mb
while [ "$left" -gt 0 ]; do
  if [ $((i % 5)) -eq 4 ]; then size=20; ext=mp4; else size=4; ext=jpg; fi
  [ "$size" -le "$left" ] || size=$left
  head -c $((size * 1024 * 1024)) /dev/urandom >"$corpus/media/IMG_$i.$ext"
  left=$((left - size))
  i=$((i + 1))
done

input_bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
files=$(find "$corpus" -type f | wc -l)
echo "corpus: $files files, $((input_bytes / 1024 / 1024)) MiB (text ${text_mb}, binaries ${bin_mb}, media ${media_mb} MiB); $(nproc) cores"
tar -cf - -C "$work" corpus >/dev/null  # warm the page cache

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

# One timed run of a tool; the archive is made anew each time.
declare -A times sizes
time_one() {
  local name="$1" archive="$2"
  shift 2
  rm -f "$archive"
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  times[$name]+="$(echo "$t1 - $t0" | bc) "
  sizes[$name]=$(stat -c %s "$archive")
}

# The tools take turns within each round, so that the machine's noise falls on all of them alike.
for _ in $(seq "$runs"); do
  time_one zip "$work/zip.zip" bash -c "cd '$corpus' && zip -q -r -8 '$work/zip.zip' ."
  time_one serial "$work/serial.zip" "$build/zip_folder" --serial "$work/serial.zip" "$corpus"
  time_one parallel "$work/parallel.zip" "$build/zip_folder" "$work/parallel.zip" "$corpus"
  time_one streamed "$work/streamed.zip" "$build/zip_folder" --streamed "$work/streamed.zip" "$corpus"
done
declare -A seconds
for name in zip serial parallel streamed; do seconds[$name]=$(printf '%s\n' ${times[$name]} | median); done

for name in serial parallel streamed; do
  unzip -t -qq "$work/$name.zip" >/dev/null || { echo "unzip -t failed on $name"; exit 1; }
  /usr/bin/python3 - "$work/$name.zip" <<'PY' || { echo "zipfile check failed on $name"; exit 1; }
import sys, zipfile
stored = (".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz")
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    for i in z.infolist():
        if not i.is_dir() and not i.filename.lower().endswith(stored):
            assert i.compress_type == zipfile.ZIP_DEFLATED, i.filename
PY
done

printf '%-30s %8s %8s %14s %9s %9s\n' tool seconds MB/s "archive bytes" "vs zip" speed
for name in zip serial parallel streamed; do
  case $name in
    zip) label="zip -r -8" ;;
    serial) label="ZipFolderToFile (one thread)" ;;
    parallel) label="ZipFolderToFile" ;;
    streamed) label="CArchiveBuild, read as packed" ;;
  esac
  s=${seconds[$name]}
  printf '%-30s %8.2f %8.1f %14d %+8.2f%% %8.2fx\n' "$label" "$s" "$(echo "$input_bytes / 1000000 / $s" | bc -l)" \
    "${sizes[$name]}" "$(echo "(${sizes[$name]} - ${sizes[zip]}) * 100 / ${sizes[zip]}" | bc -l)" \
    "$(echo "${seconds[zip]} / $s" | bc -l)"
done
