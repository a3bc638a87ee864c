#!/usr/bin/env bash
# Renders the pictures beside the program (data/dnd.png, data/ban.png) from their SVG sources in
# art/ with headless Chromium, on a transparent background, at the SVG's own size (at most 264 px).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
chromium="${CHROMIUM:-/usr/bin/chromium}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for name in dnd ban; do
  svg="$root/art/$name.svg"
  size="$(sed -n 's/.*<svg[^>]* width="\([0-9]*\)" height="\([0-9]*\)".*/\1,\2/p' "$svg" | head -1)"
  "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$work/profile" \
    --default-background-color=00000000 --window-size="$size" \
    --screenshot="$work/$name.png" "file://$svg" >/dev/null 2>&1
  cp "$work/$name.png" "$root/data/$name.png"
  echo "data/$name.png ($size)"
done
for px in 16 22 24 32 48 64 128 256; do
  # The SVG inline, scaled by its viewBox, so nothing is left to load when the shot is taken.
  { printf '<html><body style="margin:0">'
    sed "s/width=\"256\" height=\"256\"/width=\"$px\" height=\"$px\"/" "$root/art/marlix.svg"
    printf '</body></html>'; } >"$work/icon.html"
  "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$work/profile" \
    --default-background-color=00000000 --window-size="$px,$px" \
    --screenshot="$work/icon.png" "file://$work/icon.html" >/dev/null 2>&1
  mkdir -p "$root/packaging/icons/${px}x${px}"
  cp "$work/icon.png" "$root/packaging/icons/${px}x${px}/marlix.png"
  echo "packaging/icons/${px}x${px}/marlix.png"
done
