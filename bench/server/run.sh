#!/usr/bin/env bash
# Measures nimbara-weatherd with wrk on loopback against nginx serving the same small JSON from a
# static file: the probe (/check/) and a cached gate request, as requests per second, ratios to
# nginx, latency p50/p99 at 64 connections and the server's CPU time per request; then
# reverse-geocoding lookups per second and place-search queries.
# nginx runs as a throw-away unprivileged instance (own config and prefix in a temp dir, loopback
# port); it also stands in for Open-Meteo, so that the gate's cache is filled without the internet.
# Each measurement runs ROUNDS times and the best round counts (the machine is shared).
# Usage: bench/server/run.sh [SECONDS [ROUNDS]]   (defaults: 5 seconds, 3 rounds)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-5}
rounds=${2:-3}
connections=64

unset http_proxy HTTP_PROXY all_proxy ALL_PROXY

cmake --preset bench >/dev/null
cmake --build build/bench --target nimbara-weatherd bench_geocoder bench_places >/dev/null
bin=build/bench

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 30000))
        ss -Hltn "sport = :$port" | grep -q . || { echo "$port"; return; }
    done
}

# --- nginx: static files, its own prefix, never root ---
mkdir -p "$work/nginx/www" "$work/nginx/tmp"
printf '{"status":"ok"}' >"$work/nginx/www/check.json"
printf '%s' '{"latitude":51.5,"longitude":-0.1,"current_units":{"temperature_2m":"°C","weather_code":"wmo code"},"current":{"time":"2024-05-01T12:00","interval":900,"temperature_2m":17.2,"weather_code":61}}' \
    >"$work/nginx/www/forecast.json"
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 4096; }
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
    "$bin/server/nimbara-weatherd" --port 0 --db "$work/$name.sqlite" \
        --provider-url "http://127.0.0.1:$nginx_port" --second-provider-url '' "$@" >/dev/null 2>"$work/$name.log" &
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
measure() { # name url server-pid
    local before after
    before=$(cpu_ticks "$3")
    wrk -t2 -c"$connections" -d"${seconds}s" --latency "$2" >"$work/wrk.out"
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
        printf "%-22s %12d %9.2f %9.3f %9.3f %13.1f %s\n", k, rps[k], rps[k] / rps["nginx-check"], p50[k], p99[k], cpu[k], (k in errors ? "yes" : "-")
      }
    }' "$work/results"
echo
"$bin/bench/server/bench_geocoder"
echo
"$bin/bench/server/bench_places"
