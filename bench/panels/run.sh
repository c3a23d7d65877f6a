#!/usr/bin/env bash
# The feedback form's address check: median and worst time per input; then the Forecast panel's
# opening time, first and second opening, median and worst of ROUNDS processes under a private
# Xvfb. Optimised build.
# Usage: bench/panels/run.sh [ROUNDS]   (default 15; PRESET=bench by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
preset=${PRESET:-bench}
rounds=${1:-15}
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target bench_email bench_forecast_open >/dev/null
"build/$preset/bench/panels/bench_email"

source scripts/xvfb.sh
start_xvfb
times=$(mktemp)
trap 'kill "$XVFB_PID" 2>/dev/null || true; rm -f "$times"' EXIT
echo
echo "Forecast panel, from the menu item to the first paint, ms ($rounds processes, xcb on Xvfb):"
for _ in $(seq "$rounds"); do
  QT_QPA_PLATFORM=xcb "build/$preset/bench/panels/bench_forecast_open" 2>/dev/null
done >"$times"
summary() { # column name
  cut -d' ' -f"$1" "$times" | sort -g | awk -v name="$2" '{ v[NR] = $1 }
    END { printf "  %-16s median %.1f, worst %.1f\n", name ":", v[int((NR + 1) / 2)], v[NR] }'
}
summary 1 "first opening"
summary 2 "second opening"
