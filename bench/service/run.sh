#!/usr/bin/env bash
# Builds the client benchmark (optimised "bench" preset), starts a loopback server, and times the
# probe (isConnected) and the gate request through WXWeather beside the same request bytes over a
# plain kept-alive socket (the floor: no log, no JSON) and beside the curl command line tool: all
# URLs in one curl invocation, so that it keeps one connection alive as our client does. Each is run
# ROUNDS times; the best round counts (the machine is shared).
# Usage: bench/service/run.sh [COUNT [ROUNDS]]   (defaults: 2000 requests of each kind, 3 rounds)
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-2000}
rounds=${2:-3}

# Loopback only: no proxy of the environment may carry the requests elsewhere.
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY

cmake --preset bench >/dev/null
cmake --build build/bench --target bench_service bench_service_server >/dev/null
bin=build/bench/bench/service

work=$(mktemp -d)
"$bin/bench_service_server" >"$work/port" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
host="127.0.0.1:$(head -1 "$work/port")"
gate_url=$("$bin/bench_service" "$host" --gate-url)

curl_config() { # name url
    for _ in $(seq "$count"); do printf 'url = "%s"\noutput = "/dev/null"\n' "$2"; done >"$work/$1.curl"
}
curl_config isConnected "http://$host/check/"
curl_config gate "$gate_url"

# One line per measurement: "name client requests/s median-µs failures". curl's requests/s is
# its invocation's wall time (process start included); its median is -w's time_total.
curl_run() { # name
    local start end
    start=$(date +%s%N)
    curl -s --noproxy '*' -K "$work/$1.curl" -w '%{time_total} %{http_code}\n' >"$work/$1.times"
    end=$(date +%s%N)
    sort -g "$work/$1.times" | awk -v name="$1" -v n="$count" -v ns=$((end - start)) '
        { t[NR] = $1; if ($2 != 200) failures++ }
        END { printf "%s curl %.0f %.1f %d\n", name, n / (ns / 1e9), t[int(NR / 2) + 1] * 1e6, failures }'
}
for _ in $(seq "$rounds"); do
    # Our client logs one body line per answer to stderr: discarded here.
    "$bin/bench_service" "$host" "$count" 2>/dev/null |
        sed -E 's/^raw-probe /isConnected raw-socket /; s/^raw-gate /gate raw-socket /; t; s/ / WXWeather /'
    curl_run isConnected
    curl_run gate
done >"$work/results"

echo "$count requests of each kind, best of $rounds rounds, server $host (cpp-httplib, keep-alive)"
printf '%-14s %-10s %12s %11s %9s\n' request client requests/s 'median µs' failures
awk '
    { key = $1 " " $2
      if (!(key in median) || $4 < median[key]) median[key] = $4
      if ($3 > rps[key]) rps[key] = $3
      failures[key] += $5
      if (!(key in seen)) { seen[key] = 1; order[++n] = key } }
    END {
      for (i = 1; i <= n; i++) {
        split(order[i], k, " ")
        printf "%-14s %-10s %12d %11.1f %9d\n", k[1], k[2], rps[order[i]], median[order[i]], failures[order[i]]
      }
      printf "median ratio WXWeather / raw socket (goal <= 1.20): isConnected %.2f, gate-exchange %.2f, gate %.2f\n",
        median["isConnected WXWeather"] / median["isConnected raw-socket"],
        median["gate-exchange WXWeather"] / median["gate raw-socket"],
        median["gate WXWeather"] / median["gate raw-socket"]
      printf "median ratio of the transport alone / raw socket: %.2f\n",
        median["gate-transport WXWeather"] / median["gate raw-socket"]
      printf "median ratio WXWeather / curl: isConnected %.2f, gate-exchange %.2f, gate %.2f\n",
        median["isConnected WXWeather"] / median["isConnected curl"],
        median["gate-exchange WXWeather"] / median["gate curl"],
        median["gate WXWeather"] / median["gate curl"]
    }' "$work/results"
