#!/usr/bin/env bash
# The feedback form's address check: median and worst time per input, optimised build.
# Usage: bench/panels/run.sh   (PRESET=bench by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
preset=${PRESET:-bench}
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target bench_email >/dev/null
"build/$preset/bench/panels/bench_email"
