#!/usr/bin/env bash
# Measures nimbara-weatherd with wrk on loopback against nginx serving the same small JSON from a
# static file: the probe (/check/) and a cached gate request, as requests per second, ratios to
# nginx, latency p50/p99 at 64 connections and the server's CPU time per request; then
# reverse-geocoding lookups per second and place-search queries.
# nginx runs as a throw-away unprivileged instance (own config and prefix in a temp dir, loopback
# port); it also stands in for Open-Meteo, so that the gate's cache is filled without the internet.
# Each measurement runs ROUNDS times and the best round counts (the machine is shared).
# Usage: bench/server/run.sh [SECONDS [ROUNDS]]   (defaults: 5 seconds, 3 rounds)
#        FORECAST=0 bench/server/run.sh   (the upstream answers the current weather only)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-5}
rounds=${2:-3}
connections=64

unset http_proxy HTTP_PROXY all_proxy ALL_PROXY

cmake --preset bench >/dev/null
cmake --build build/bench --target nimbara-weatherd bench_geocoder bench_places bench_gate >/dev/null
bin=build/bench

source bench/common.sh

# --- nginx: static files, its own prefix, never root ---
mkdir -p "$work/nginx/www" "$work/nginx/tmp"
printf '{"status":"ok"}' >"$work/nginx/www/check.json"
printf '{"status":"ok","data":{"temp":63,"celsius":17,"condition":"rain","location":"London"}}' >"$work/nginx/www/gate.json"
# Open-Meteo's answer with the current weather, two days of hours and the daily values, as the
# service asks for them (FORECAST=0: the current weather alone, as answered before the forecast).
forecast_answer() {
    local times=() i
    printf '{"latitude":51.5,"longitude":-0.1,"utc_offset_seconds":3600,"current_units":{"temperature_2m":"°C","weather_code":"wmo code"},"current":{"time":"2024-05-01T12:00","interval":900,"temperature_2m":17.2,"weather_code":61}'
    [ "${FORECAST:-1}" = 1 ] || { printf '}'; return; }
    for i in $(seq 0 47); do times+=("\"2024-05-0$((1 + i / 24))T$(printf %02d $((i % 24))):00\""); done
    printf ',"hourly":{"time":[%s],"temperature_2m":[%s],"weather_code":[%s],"precipitation":[%s],"precipitation_probability":[%s],"is_day":[%s]},' \
        "$(IFS=,; echo "${times[*]}")" "$(seq -s, 10 0.25 21.75)" "$(yes 61 | head -48 | paste -sd,)" \
        "$(yes 0.4 | head -48 | paste -sd,)" "$(yes 70 | head -48 | paste -sd,)" "$(yes 1 | head -48 | paste -sd,)"
    printf '"daily":{"time":["2024-05-01","2024-05-02"],"temperature_2m_max":[20.4,19],"temperature_2m_min":[12.6,11],"sunrise":["2024-05-01T05:31","2024-05-02T05:29"],"sunset":["2024-05-01T20:24","2024-05-02T20:26"]}}'
}
forecast_answer >"$work/nginx/www/forecast.json"
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 4096; }
worker_rlimit_nofile 8192;
http {
    access_log $work/nginx/access.log;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/nginx/www;
        default_type application/json;
        location = /check/ { try_files /check.json =404; }
        location = /api/0.5/gate { try_files /gate.json =404; }
        location = /v1/forecast { try_files /forecast.json =404; }
    }
}
CONF
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody:nogroup "$work/nginx"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
"${as_user[@]}" /usr/sbin/nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" \
    -g 'daemon off;' &
nginx_pid=$!
pids+=($nginx_pid)

# --- nimbara-weatherd, with its access log to a file, and once more without one ---
start_service() { # name extra-args...
    local name=$1
    shift
    # Every bench client comes from 127.0.0.1: lift the per-address caps that would stop it.
    "$bin/server/nimbara-weatherd" --port 0 --db "$work/$name.sqlite" --max-connections 30000 \
        --max-connections-per-client 30000 --provider-url "http://127.0.0.1:$nginx_port" \
        --second-provider-url '' "$@" >/dev/null 2>"$work/$name.log" &
    pids+=($!)
}
service_port_of() { # name
    for _ in $(seq 200); do
        grep -q 'listening on' "$work/$1.log" 2>/dev/null && break
        sleep 0.05
    done
    sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/$1.log"
}
start_service weatherd
service_pid=$!
start_service quiet --no-access-log
quiet_pid=$!
service_port=$(service_port_of weatherd)
quiet_port=$(service_port_of quiet)
for _ in $(seq 100); do curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$nginx_port/check/" && break; sleep 0.05; done

gate="/api/0.5/gate?&v1=51.5074&v2=-0.1278&v3=auto&v4=en-GB&v5=0144712dd81be0c3d9724f5e56ce6685&v6=$(printf %s "$(printf %s "$(sed -n 's/^project(nimbara VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" | sha1sum | cut -d' ' -f1)" | md5sum | cut -d' ' -f1)"
for port in "$service_port" "$quiet_port"; do
    answer=$(curl -s --noproxy '*' "http://127.0.0.1:$port$gate")
    case "$answer" in *'"status":"ok"'*) ;; *) echo "gate not ok: $answer" >&2; exit 1 ;; esac
done

# CPU time (user + system, in clock ticks) of a process and its children's threads so far.
cpu_ticks() { # pid...
    local total=0 pid
    for pid in "$@" $(ps -o pid= --ppid "$1" 2>/dev/null); do
        total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
    done
    echo "$total"
}

# One line per round: "name requests/s p50-ms p99-ms errors cpu-µs-per-request". The server's CPU
# time per request holds up better than requests/s on a machine that others share.
measure() { # name url server-pid [wrk-args...]
    local before after
    before=$(cpu_ticks "$3")
    wrk -t2 -c"$connections" -d"${seconds}s" --latency "${@:4}" "$2" >"$work/wrk.out"
    after=$(cpu_ticks "$3")
    awk -v name="$1" -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
        /^ +50%/ { p50 = ms($2) }
        /^ +99%/ { p99 = ms($2) }
        /requests in/ { requests = $1 }
        /^Requests\/sec:/ { rps = $2 }
        /Non-2xx|Socket errors/ { errors = errors " " $0 }
        END { printf "%s %.0f %.3f %.3f %s %.1f\n", name, rps, p50, p99, (errors == "" ? "-" : "errors"), ticks / hz * 1e6 / requests }' \
        "$work/wrk.out"
}
for _ in $(seq "$rounds"); do
    measure nginx-check "http://127.0.0.1:$nginx_port/check/" "$nginx_pid"
    measure weatherd-check "http://127.0.0.1:$service_port/check/" "$service_pid"
    measure weatherd-gate "http://127.0.0.1:$service_port$gate" "$service_pid"
    measure weatherd-check-nolog "http://127.0.0.1:$quiet_port/check/" "$quiet_pid"
    measure weatherd-gate-nolog "http://127.0.0.1:$quiet_port$gate" "$quiet_pid"
    # One connection per request, as the widget asks.
    close=(-H 'Connection: close')
    measure nginx-check-close "http://127.0.0.1:$nginx_port/check/" "$nginx_pid" "${close[@]}"
    measure nginx-gate-close "http://127.0.0.1:$nginx_port/api/0.5/gate" "$nginx_pid" "${close[@]}"
    measure weatherd-check-close "http://127.0.0.1:$quiet_port/check/" "$quiet_pid" "${close[@]}"
    measure weatherd-gate-close "http://127.0.0.1:$quiet_port$gate" "$quiet_pid" "${close[@]}"
    measure nginx-gate "http://127.0.0.1:$nginx_port/api/0.5/gate" "$nginx_pid"
done >"$work/results"

echo "wrk -t2 -c$connections -d${seconds}s on loopback, best of $rounds rounds; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %12s %9s %9s %9s %13s %s\n' measurement requests/s 'x nginx' 'p50 ms' 'p99 ms' 'CPU µs/req' errors
awk '
    { if (!($1 in rps)) order[++n] = $1
      if ($2 > rps[$1]) { rps[$1] = $2; p50[$1] = $3; p99[$1] = $4 }
      if (!($1 in cpu) || $6 < cpu[$1]) cpu[$1] = $6
      if ($5 != "-") errors[$1] = "yes" }
    END {
      for (i = 1; i <= n; i++) {
        k = order[i]
        # Each against nginx serving the same answer in the same connection mode.
        base = (k ~ /gate/ ? "nginx-gate" : "nginx-check") (k ~ /-close$/ ? "-close" : "")
        printf "%-22s %12d %9.2f %9.3f %9.3f %13.1f %s\n", k, rps[k], rps[k] / rps[base], p50[k], p99[k], cpu[k], (k in errors ? "yes" : "-")
      }
    }' "$work/results"

# --- a new client's wait for /check/ while others misbehave ---
new_client() { # name port: median and max of 20 fresh connections, in ms
    for _ in $(seq 20); do
        curl -s --noproxy '*' -o /dev/null -m 30 -w '%{http_code} %{time_total}\n' "http://127.0.0.1:$2/check/"
        sleep 0.05
    done | sort -k2 -n | awk -v name="$1" '{ t[NR] = $2 * 1000; if ($1 != 200) bad++ }
        END { printf "%-34s %9.1f %9.1f %s\n", name, (t[int((NR + 1) / 2)] + t[int(NR / 2) + 1]) / 2, t[NR], (bad ? bad " not answered" : "-") }'
}
echo
echo "A new client's /check/ (20 curl runs, each a new connection)"
printf '%-34s %9s %9s %s\n' during 'median ms' 'max ms' failures
new_client "nothing else" "$quiet_port"
wrk -t2 -c1000 -d30s "http://127.0.0.1:$quiet_port$gate" >/dev/null 2>&1 &
wrk_pid=$!
sleep 2
new_client "wrk -c1000 on the gate" "$quiet_port"
kill "$wrk_pid" 2>/dev/null || true
wait "$wrk_pid" 2>/dev/null || true

python3 bench/server/clients.py slow "$quiet_port" 1000 >"$work/slow.log" 2>&1 &
slow_pid=$!
pids+=($slow_pid)
for _ in $(seq 100); do grep -q connected "$work/slow.log" && break; sleep 0.1; done
sleep 1
new_client "1,000 slow clients" "$quiet_port"
kill "$slow_pid" 2>/dev/null || true

stall_port=$(free_port)
python3 bench/server/clients.py stall "$stall_port" &
pids+=($!)
"$bin/server/nimbara-weatherd" --port 0 --db "$work/stall.sqlite" --no-access-log --upstream-timeout 15 \
    --new-cells-per-client 0 --upstream-calls 0 --provider-url "http://127.0.0.1:$stall_port" \
    --second-provider-url '' >/dev/null 2>"$work/stall.log" &
pids+=($!)
stalled_port=$(service_port_of stall)
# 100 clients ask for distinct cells; the upstream holds each for 10 s.
for i in $(seq 100); do
    curl -s --noproxy '*' -o /dev/null -m 30 "http://127.0.0.1:$stalled_port/api/0.5/gate?&v1=$((i / 10)).$((i % 10))&v2=10" &
done
sleep 1
new_client "a 10 s upstream stall (100 cells)" "$stalled_port"

# --- memory with 10,000 idle keep-alive connections ---
rss_kb() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }
echo
before=$(rss_kb "$quiet_pid")
python3 bench/server/clients.py idle "$quiet_port" 10000 >"$work/idle.log" 2>&1 &
idle_pid=$!
pids+=($idle_pid)
for _ in $(seq 600); do grep -q answered "$work/idle.log" && break; sleep 0.1; done
probe=$(curl -s --noproxy '*' -m 5 -o /dev/null -w '%{http_code} %{time_total}' "http://127.0.0.1:$quiet_port/check/")
echo "10,000 idle connections: $(cat "$work/idle.log"); RSS $((before / 1024)) MB before, $(($(rss_kb "$quiet_pid") / 1024)) MB with them; /check/ meanwhile: $probe"
kill "$idle_pid" 2>/dev/null || true

echo
"$bin/bench/server/bench_geocoder"
echo
"$bin/bench/server/bench_places"
echo
"$bin/bench/server/bench_gate"
