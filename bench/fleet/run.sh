#!/usr/bin/env bash
# The fleet on one machine, measured in one run with wrk on loopback: nginx with the shipped
# deploy/nginx/nimbara-weatherd.conf (rewritten to a temp prefix and loopback ports, its per-address
# limits lifted: every wrk connection comes from 127.0.0.1) in front of two instances that share
# their cells in a throw-away redis-server, beside one instance asked directly. Prints requests/s,
# p50/p99 and the server side's CPU time per request for /check/ and the cached gate at 64 and
# 1,000 connections, and the CPU cost of a cached gate answer with the cell in Redis against one in
# process. nginx also stands in for Open-Meteo, so nothing reaches the internet.
# wrk keeps every connection busy, so at 1,000 connections the latency it reports is mostly the
# queue that 1,000 requests always in flight make (mean latency = connections / requests per second):
# the "paced" rows send each of 1,000 connections one request every PACE_MS milliseconds (default
# 250, 4,000 requests/s in all), the latency of a fleet that is not saturated. The "cold" row comes
# right after nginx was told to reload: new workers with no kept-alive connection to the instances,
# as after a restart, so that a thousand clients open a thousand upstream connections at once.
# The fleet rows also give nginx's part of the CPU time per request.
# Usage: bench/fleet/run.sh [SECONDS [ROUNDS]]   (defaults: 5 seconds, 3 rounds)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-5}
rounds=${2:-3}
pace_ms=${PACE_MS:-250}
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY

cmake --preset bench >/dev/null
cmake --build build/bench --target nimbara-weatherd >/dev/null
weatherd=build/bench/server/nimbara-weatherd

source bench/common.sh
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

# --- the stand-in upstream: a static forecast from an nginx of its own ---
mkdir -p "$work/upstream/tmp" "$work/fleet/tmp"
printf '%s' '{"latitude":51.5,"longitude":-0.1,"current_units":{"temperature_2m":"°C","weather_code":"wmo code"},"current":{"time":"2024-05-01T12:00","interval":900,"temperature_2m":17.2,"weather_code":61}}' \
    >"$work/upstream/forecast.json"
upstream_port=$(free_port)
fleet_port=$(free_port)
temp_paths() { # prefix
    for kind in client_body proxy fastcgi uwsgi scgi; do echo "${kind}_temp_path $1/tmp/$kind;"; done
}
cat >"$work/upstream/nginx.conf" <<CONF
pid $work/upstream/nginx.pid;
error_log $work/upstream/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    $(temp_paths "$work/upstream")
    server {
        listen 127.0.0.1:$upstream_port;
        location = /v1/forecast { default_type application/json; alias $work/upstream/forecast.json; }
    }
}
CONF

# --- Redis and three instances: two for the fleet, one asked directly ---
redis_port=$(free_port)
redis-server --port "$redis_port" --bind 127.0.0.1 --save '' --appendonly no --dir "$work" >/dev/null &
pids+=($!)
start_instance() { # name extra-args...
    local name=$1
    shift
    "$weatherd" --port 0 --db "$work/$name.sqlite" --no-access-log --provider-url "http://127.0.0.1:$upstream_port" \
        --second-provider-url '' "$@" >/dev/null 2>"$work/$name.log" &
    pids+=($!)
    eval "${name}_pid=$!"
}
port_of() { # name
    for _ in $(seq 200); do
        grep -q 'listening on' "$work/$1.log" 2>/dev/null && break
        sleep 0.05
    done
    sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/$1.log"
}
# wrk's 1,000 connections all come from 127.0.0.1: the instance asked directly must allow them (the
# fleet's instances exempt nginx, their trusted proxy, from the cap per address).
start_instance direct --max-connections-per-client 100000
start_instance first --cache "redis://127.0.0.1:$redis_port/0" --trusted-proxy 127.0.0.1
start_instance second --cache "redis://127.0.0.1:$redis_port/0" --trusted-proxy 127.0.0.1
direct_port=$(port_of direct)
first_port=$(port_of first)
second_port=$(port_of second)

# --- nginx with the shipped configuration: its ports, a temp prefix, no per-address limits ---
sed -e "s/^\( *\)listen 80 /\1listen 127.0.0.1:$fleet_port /" -e '/listen \[::\]:80/d' \
    -e "s/server 127.0.0.1:8471 /server 127.0.0.1:$first_port /" \
    -e "s/server 127.0.0.1:8472 /server 127.0.0.1:$second_port /" -e '/server 127.0.0.1:8473 /d' \
    -e '/^ *limit_req /d' -e '/^ *limit_conn /d' \
    deploy/nginx/nimbara-weatherd.conf >"$work/fleet/nimbara-weatherd.conf"
# The main configuration as deploy/README.md leaves Debian's on a machine that nginx shares with the
# instances: nginx.conf.sed's edits, and two workers per core.
cat >"$work/fleet/nginx.conf" <<CONF
worker_processes $((2 * $(nproc)));
worker_rlimit_nofile 20000;
pid $work/fleet/nginx.pid;
error_log $work/fleet/error.log warn;
events { worker_connections 8192; multi_accept on; }
http {
    access_log off;
    $(temp_paths "$work/fleet")
    include $work/fleet/nimbara-weatherd.conf;
}
CONF
if [ "$(id -u)" -eq 0 ]; then chown -R nobody:nogroup "$work/upstream" "$work/fleet"; fi
for site in upstream fleet; do
    "${as_user[@]}" /usr/sbin/nginx -e "$work/$site/error.log" -p "$work/$site" -c "$work/$site/nginx.conf" \
        -g 'daemon off;' &
    pids+=($!)
    eval "${site}_nginx_pid=$!"
done
for _ in $(seq 100); do curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$fleet_port/check/" && break; sleep 0.05; done

version=$(sed -n 's/^project(nimbara VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
gate="/api/0.5/gate?&v1=51.5074&v2=-0.1278&v3=auto&v4=en-GB&v5=0144712dd81be0c3d9724f5e56ce6685&v6=$(printf %s "$(printf %s "$version" | sha1sum | cut -d' ' -f1)" | md5sum | cut -d' ' -f1)"
for port in "$direct_port" "$fleet_port" "$first_port" "$second_port"; do
    answer=$(curl -s --noproxy '*' "http://127.0.0.1:$port$gate")
    case "$answer" in *'"status":"ok"'*) ;; *) echo "gate on $port not ok: $answer" >&2; exit 1 ;; esac
done

cpu_ticks() { # pid... (with their children: nginx's workers)
    local total=0 pid
    for pid in "$@" $(for p in "$@"; do ps -o pid= --ppid "$p"; done 2>/dev/null); do
        total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
    done
    echo "$total"
}
# "name connections requests/s p50-ms p99-ms errors cpu-µs-per-request first-pid's-part" for one
# round; the part of the first pid (nginx in the fleet rows) only where there are several.
measure() { # name connections url pid...   (PACED=1: one request per connection every pace_ms)
    local name=$1 connections=$2 url=$3 before after first_before first_after script=()
    shift 3
    [ -z "${PACED:-}" ] || script=(-s "$work/paced.lua")
    before=$(cpu_ticks "$@")
    first_before=$(cpu_ticks "$1")
    wrk -t2 -c"$connections" -d"${seconds}s" --latency "${script[@]}" "$url" >"$work/wrk.out"
    grep -E 'Non-2xx|Socket errors' "$work/wrk.out" | sed "s/^ */$name $connections: /" >>"$work/errors" || true
    after=$(cpu_ticks "$@")
    first_after=$(cpu_ticks "$1")
    awk -v name="$name" -v c="$connections" -v ticks=$((after - before)) -v first=$((first_after - first_before)) \
        -v several=$(($# > 1)) -v round="$round" -v hz="$(getconf CLK_TCK)" '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
        /^ +50%/ { p50 = ms($2) }
        /^ +99%/ { p99 = ms($2) }
        /requests in/ { requests = $1 }
        /^Requests\/sec:/ { rps = $2 }
        /Non-2xx|Socket errors/ { errors = "yes" }
        END { printf "%s %d %.0f %.3f %.3f %s %.1f %s %d\n", name, c, rps, p50, p99, (errors == "" ? "-" : "yes"),
                     ticks / hz * 1e6 / requests, (several ? sprintf("%.1f", first / hz * 1e6 / requests) : "-"), round }' \
        "$work/wrk.out"
}
# nginx reloaded: new workers, with none of the old ones' kept-alive connections to the instances.
reload_fleet_nginx() {
    local old count pid
    old=$(ps -o pid= --ppid "$fleet_nginx_pid")
    count=$(echo "$old" | wc -l)
    kill -HUP "$fleet_nginx_pid"
    for _ in $(seq 200); do
        sleep 0.05
        for pid in $old; do kill -0 "$pid" 2>/dev/null && continue 2; done
        [ "$(ps -o pid= --ppid "$fleet_nginx_pid" | wc -l)" -eq "$count" ] && break
    done
}
fleet="http://127.0.0.1:$fleet_port"
printf 'function delay() return %d end\n' "$pace_ms" >"$work/paced.lua"
# Each measurement at 64 and at 1,000 connections one right after the other: the machine drifts
# over a round (other loads, frequency), and their ratio should not.
for round in $(seq "$rounds"); do
    for c in 64 1000; do measure nginx-static-check "$c" "$fleet/check/" "$fleet_nginx_pid"; done
    for c in 64 1000; do measure instance-check "$c" "http://127.0.0.1:$direct_port/check/" "$direct_pid"; done
    for c in 64 1000; do measure instance-gate "$c" "http://127.0.0.1:$direct_port$gate" "$direct_pid"; done
    for c in 64 1000; do measure fleet-gate "$c" "$fleet$gate" "$fleet_nginx_pid" "$first_pid" "$second_pid"; done
    reload_fleet_nginx
    measure fleet-gate-cold 1000 "$fleet$gate" "$fleet_nginx_pid" "$first_pid" "$second_pid"
    PACED=1 measure fleet-gate-paced 1000 "$fleet$gate" "$fleet_nginx_pid" "$first_pid" "$second_pid"
    PACED=1 measure instance-gate-paced 1000 "http://127.0.0.1:$direct_port$gate" "$direct_pid"
    # The cost of the cache on the instance alone: in process against Redis (CPU per request).
    measure instance-gate-redis 64 "http://127.0.0.1:$first_port$gate" "$first_pid"
done >"$work/results"

echo "wrk -t2 -d${seconds}s on loopback, best of $rounds rounds; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-20s %6s %11s %8s %9s %9s %12s %10s %s\n' measurement conns requests/s 'x static' 'p50 ms' 'p99 ms' 'CPU µs/req' 'of it nginx' errors
awk '
    { k = $1 " " $2
      if (!(k in rps)) order[++n] = k
      if ($3 > rps[k]) { rps[k] = $3; p50[k] = $4; p99[k] = $5 }
      if (!(k in cpu) || $7 < cpu[k]) { cpu[k] = $7; front[k] = $8 }
      if ($6 != "-") errors[k] = "yes"
      if ($1 == "fleet-gate") fleet[$9 " " $2] = $7 }
    END {
      for (i = 1; i <= n; i++) {
        k = order[i]; split(k, part, " ")
        base = rps["nginx-static-check " part[2]]
        printf "%-20s %6d %11d %8.2f %9.3f %9.3f %12.1f %10s %s\n", part[1], part[2], rps[k], rps[k] / base, p50[k], p99[k], cpu[k], front[k], (k in errors ? "yes" : "-")
      }
      # The machine drifts between rounds: the ratio of the best figures, taken minutes apart, says
      # less than the ratio within each round, taken one right after the other.
      for (rounds = 0; ((rounds + 1) " 64") in fleet; rounds++) {
        value = fleet[(rounds + 1) " 1000"] / fleet[(rounds + 1) " 64"]
        for (r = rounds; r > 0 && ratio[r] > value; r--) ratio[r + 1] = ratio[r]
        ratio[r + 1] = value
      }
      printf "\nfleet CPU per request at 1000 connections / at 64, within a round: median %.2f (%.2f to %.2f)\n",
        (rounds % 2 ? ratio[(rounds + 1) / 2] : (ratio[rounds / 2] + ratio[rounds / 2 + 1]) / 2), ratio[1], ratio[rounds]
      printf "\nfleet gate / instance gate: %.2f at 64, %.2f at 1000 connections\n",
        rps["fleet-gate 64"] / rps["instance-gate 64"], rps["fleet-gate 1000"] / rps["instance-gate 1000"]
      printf "cached gate CPU on the instance: %.1f µs in process, %.1f µs with Redis (+%.1f µs)\n",
        cpu["instance-gate 64"], cpu["instance-gate-redis 64"], cpu["instance-gate-redis 64"] - cpu["instance-gate 64"]
    }' "$work/results"
[ ! -s "$work/errors" ] || { echo; echo "errors:"; cat "$work/errors"; }
