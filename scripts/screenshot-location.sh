#!/usr/bin/env bash
# Screenshots of the Location submenu, the place chooser with the places for "ber" and the widget
# after picking Berlin, in English and German, under a window manager on a private Xvfb display,
# against the real weather service on 127.0.0.1 (its weather provider a stand-in). PNGs go to
# out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset testing >/dev/null
cmake --build build/testing --target location_screenshot nimbara-weatherd
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
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

for locale in en_US de_DE; do
  language=${locale%_*}
  LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 LANGUAGE=$language QT_QPA_PLATFORM=xcb \
    build/testing/tests/app/location_screenshot "$language" "$out"
done
