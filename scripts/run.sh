#!/usr/bin/env bash
# Builds the widget (installing what is missing) and runs it. The local weather service is started
# beside it when it has been built, and stopped when the widget ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
bin=build/default
service_pid=""
if [ -x "$bin/server/nimbara-weatherd" ]; then
  if (exec 3<>/dev/tcp/127.0.0.1/8470) 2>/dev/null; then
    echo "run.sh: a weather service already answers on 127.0.0.1:8470; using it" >&2
  else
    "$bin/server/nimbara-weatherd" &
    service_pid=$!
    trap 'kill $service_pid 2>/dev/null || true' EXIT
  fi
fi
widget=$(realpath "$bin/app/nimbara")
status=0
"$widget" "$@" || status=$?
# A change of alignment relaunches the widget as a new process of the same executable: the
# service stays while one runs.
sleep 1
while pgrep -u "$(id -u)" -f -x "$widget( .*)?" >/dev/null; do sleep 2; done
exit "$status"
