#!/usr/bin/env bash
# Screenshots of the feedback form, the About panel and the quick tour, in English and German, as
# they appear under a window manager on a private Xvfb display. PNGs go to out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset testing >/dev/null
cmake --build build/testing --target panels_screenshot
out="out/screenshots"
mkdir -p "$out"

display=""
for n in $(seq 150 199); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wm_pid=""
trap 'kill $wm_pid $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY="$display"
openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.5

for language in en de; do
  QT_QPA_PLATFORM=xcb build/testing/tests/panels/panels_screenshot "$language" "$out"
done
