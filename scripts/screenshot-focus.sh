#!/usr/bin/env bash
# Screenshots of the keyboard's focus: on the unlocked widget's setting buttons and in the place
# chooser (in the search field, then on a place after Down), in English and German, on a private
# Xvfb display with a wallpaper. PNGs go to out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset testing >/dev/null
cmake --build build/testing --target focus_screenshot
out="out/screenshots"
mkdir -p "$out"
work=$(mktemp -d)

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source scripts/xvfb.sh
start_xvfb 1024x768x24
pids+=("$XVFB_PID")
convert -size 1024x768 gradient:'#dbe9f6'-'#1f3d63' "$work/wallpaper.png"
hsetroot -fill "$work/wallpaper.png" >/dev/null

for locale in en_US de_DE; do
  language=${locale%_*}
  LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 LANGUAGE=$language QT_QPA_PLATFORM=xcb \
    build/testing/tests/app/focus_screenshot "$language" "$out"
done
