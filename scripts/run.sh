#!/usr/bin/env bash
# Builds the widget (installing what is missing) and runs it. The local weather service is started
# beside it when it has been built, and stopped when the widget ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
bin=build/default
service_pid=""
if [ -x "$bin/server/nimbara-weatherd" ]; then
  "$bin/server/nimbara-weatherd" &
  service_pid=$!
  trap 'kill $service_pid 2>/dev/null || true' EXIT
fi
"$bin/app/nimbara" "$@"
