#!/usr/bin/env bash
# Builds and runs the presets in turn: every test ("testing"), the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer ("asan"), the service's tests under
# ThreadSanitizer ("tsan"), the fuzz targets for a bounded time each ("fuzz"). Named presets run
# instead of all four; every other argument goes to ctest (e.g. `scripts/test.sh testing -R
# tst_service`). Tests that need a real X server get one Xvfb started here; the others run offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=()
ctest_args=()
for arg in "$@"; do
  case $arg in
  testing | asan | tsan | fuzz) presets+=("$arg") ;;
  *) ctest_args+=("$arg") ;;
  esac
done
((${#presets[@]})) || presets=(testing asan tsan fuzz)

bash scripts/install-deps.sh

# Paths under the clone's parent count as relative in ccache's hashes, so a fresh clone (CI's)
# reuses what another clone compiled; the four presets are a long build otherwise.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd .. && pwd)}

# A private X server for the whole run, torn down on exit.
source scripts/xvfb.sh
start_xvfb
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT

for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset" ${ctest_args[@]+"${ctest_args[@]}"}
done
