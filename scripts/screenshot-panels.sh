#!/usr/bin/env bash
# Screenshots of the feedback form, the About panel and the quick tour, in English and German, as
# they appear under a window manager on a private Xvfb display. PNGs go to out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset testing >/dev/null
cmake --build build/testing --target panels_screenshot
out="out/screenshots"
mkdir -p "$out"

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

source scripts/xvfb.sh
start_xvfb 1024x768x24
pids+=("$XVFB_PID")
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

for language in en de; do
  QT_QPA_PLATFORM=xcb build/testing/tests/panels/panels_screenshot "$language" "$out"
done
