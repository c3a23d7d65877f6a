#!/usr/bin/env bash
# Screenshots of the feedback form, the About panel, the quick tour and the Forecast panel, in English
# and German, as they appear under a window manager on a private Xvfb display; the Forecast panel
# also in both units, light and dark, with an old reading and at twice the scale; and the keyboard's
# focus on the unlocked widget's setting buttons and in the place chooser. PNGs go to out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset testing >/dev/null
cmake --build build/testing --target panels_screenshot forecast_screenshot focus_screenshot
out="out/screenshots"
mkdir -p "$out"

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

source scripts/xvfb.sh
start_xvfb 1920x1200x24
pids+=("$XVFB_PID")
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

for language in en de; do
  QT_QPA_PLATFORM=xcb build/testing/tests/panels/panels_screenshot "$language" "$out"
done

forecast=build/testing/tests/panels/forecast_screenshot
for language in en de; do
  for unit in c f; do
    for theme in light dark; do
      QT_QPA_PLATFORM=xcb "$forecast" "$language" "$unit" "$theme" "$out/forecast-$language-$unit-$theme.png"
    done
  done
  QT_QPA_PLATFORM=xcb "$forecast" "$language" c light old "$out/forecast-$language-old.png"
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 "$forecast" "$language" c dark "$out/forecast-$language-2x.png"
done

for locale in en_US de_DE; do
  LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 QT_QPA_PLATFORM=xcb build/testing/tests/app/focus_screenshot "${locale%_*}" "$out"
done
