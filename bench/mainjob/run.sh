#!/usr/bin/env bash
# The widget's main job, measured in the end-to-end set-up: nimbara-weatherd on 127.0.0.1:8470
# (the widget's built-in address) asking a fake upstream provider on 127.0.0.1, and the widget with
# positionSource fixed:51.5074,-0.1278 under its own Xvfb.
#  1. Time from starting nimbara to the first weather line on screen (the "refreshing" log line that
#     follows the shown answer), the first 15 s check tick included; RUNS runs, the first with the
#     service's cache cold. A screenshot of the last run is kept as build/<preset>/bench-mainjob.png.
#  2. The main thread's longest stall during a check tick (bench_tick_stall): fetching ticks with
#     the service's cache cold and warm, and counting ticks that only probe.
# Usage: bench/mainjob/run.sh [RUNS [TICKS]]   (defaults: 3 runs, 200 ticks; PRESET=bench)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-3}
ticks=${2:-200}
preset=${PRESET:-bench}

# Loopback only: no proxy of the environment may carry the requests elsewhere.
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY

if (exec 3<>/dev/tcp/127.0.0.1/8470) 2>/dev/null; then
    echo "something already listens on 127.0.0.1:8470; stop it first" >&2
    exit 1
fi

cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target nimbara nimbara-weatherd bench_tick_stall >/dev/null
bin=build/$preset
source bench/common.sh

# The upstream provider: Open-Meteo's answer for London, 12.3 °C and partly cloudy, to every GET.
python3 - "$work/upstream.port" <<'PY' &
import http.server, sys
body = (b'{"latitude":51.5,"longitude":-0.13,"current_units":{"temperature_2m":"\xc2\xb0C"},'
        b'"current":{"time":"2024-12-06T12:00","temperature_2m":12.3,"weather_code":2}}')
class Upstream(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Upstream)
open(sys.argv[1], "w").write(str(server.server_address[1]))
server.serve_forever()
PY
pids+=($!)
for _ in $(seq 100); do [ -s "$work/upstream.port" ] && break; sleep 0.05; done
upstream="http://127.0.0.1:$(cat "$work/upstream.port")"

start_service() {
    "$bin/server/nimbara-weatherd" --port 8470 --db "$work/weatherd.sqlite" --provider-url "$upstream" \
        --second-provider-url "$upstream" --no-access-log 2>"$work/weatherd.log" &
    pids+=($!)
    for _ in $(seq 200); do
        curl -s --noproxy '*' http://127.0.0.1:8470/check/ >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "nimbara-weatherd did not start:" >&2
    cat "$work/weatherd.log" >&2
    exit 1
}
start_service

display=""
for n in $(seq 150 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$work/config/Nimbara"
cat >"$work/config/Nimbara/Nimbara.conf" <<'CONF'
[General]
initialized=true
originX=100
originY=100
sizeWidth=680
sizeHeight=172
locationEnabled=true
dateEnabled=true
whiteColor=true
celsius=true
textAlign=false
positionSource=fixed:51.5074,-0.1278
CONF

screenshot="$PWD/$bin/bench-mainjob.png"
echo "1. nimbara start to the first weather line on screen (real 15 s check interval)"
for run in $(seq "$runs"); do
    DISPLAY="$display" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb \
        python3 - "$bin/app/nimbara" "$run" "$display" "$screenshot" <<'PY'
import subprocess, sys, time
program, run, display, screenshot = sys.argv[1:5]
start = time.monotonic()
widget = subprocess.Popen([program], stderr=subprocess.PIPE, text=True)
answered = False
try:
    for line in widget.stderr:
        line = line.rstrip("\n")
        if line.startswith("{") and '"location"' in line:
            answered = True
        if answered and line == "refreshing":
            elapsed = time.monotonic() - start
            print(f"   run {run}: {elapsed * 1000:8.0f} ms" + ("   (service cache cold)" if run == "1" else ""))
            break
    else:
        print(f"   run {run}: no weather line (nimbara ended)")
    time.sleep(1.0)
    subprocess.run(["import", "-display", display, "-window", "root", screenshot], check=False)
finally:
    widget.terminate()
    widget.wait(timeout=10)
PY
done
echo "   screenshot: $screenshot"

echo "2. main thread held by one check tick, against nimbara-weatherd on loopback"
# A service of its own, so that the first tick finds its cache cold.
kill "${pids[1]}" 2>/dev/null || true
wait "${pids[1]}" 2>/dev/null || true
rm -f "$work/weatherd.sqlite"
start_service
"$bin/bench/mainjob/bench_tick_stall" 127.0.0.1:8470 "$ticks" 2>/dev/null
