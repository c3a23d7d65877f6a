#!/usr/bin/env bash
# Builds the "testing" preset and runs every test. Tests that need a real X server get one Xvfb
# started here; the others run offscreen. Extra arguments go to ctest (e.g. -R tst_service).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh testing

# A private X server for the whole run, torn down on exit.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY="$display"

ctest --preset testing "$@"
