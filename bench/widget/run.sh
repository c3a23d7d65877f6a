#!/usr/bin/env bash
# Measures nimbara beside a bare Qt Widgets program (three labels, a one-second timer), both on the
# same private Xvfb, built with the optimised "bench" preset:
#   mapped   ms from exec until the window is mapped to stay (median of ROUNDS starts)
#   pss/rss/private-dirty  KiB after SETTLE seconds (/proc/PID/smaps_rollup)
#   objects  shared objects mapped at that moment (distinct .so files in /proc/PID/maps), and the
#            floor for nimbara: the bare program's plus Qt Network's and Qt Positioning's
#   cpu      CPU time used over IDLE seconds after that: ms run by the threads alive throughout
#            (/proc/PID/task/*/schedstat, exact) and the process's ticks (/proc/PID/stat utime+stime,
#            10 ms granularity, so a program that wakes briefly is charged by chance)
#   wakeups  voluntary context switches per second over the same IDLE seconds, of all threads and of
#            the main thread (/proc/PID/task/*/status): a thread that wakes runs until it sleeps
#            again, which is one voluntary switch; involuntary ones are other load preempting it
# Usage: bench/widget/run.sh [IDLE [SETTLE [ROUNDS]]]   (defaults 60, 30, 5)
set -euo pipefail
cd "$(dirname "$0")/../.."
idle=${1:-60}
settle=${2:-30}
rounds=${3:-5}

cmake --preset bench >/dev/null
cmake --build build/bench --target nimbara bench_bare_widgets bench_map_timer >/dev/null
nimbara=build/bench/app/nimbara
bare=build/bench/bench/widget/bench_bare_widgets
timer=build/bench/bench/widget/bench_map_timer

work=$(mktemp -d)
pids=()
stop() { # pid: SIGTERM, then wait until it is gone or a zombie (most are not our children: poll)
  kill -TERM "$1" 2>/dev/null || true
  for _ in $(seq 200); do
    [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null || echo Z)" = Z ] && return 0
    sleep 0.02
  done
  kill -KILL "$1" 2>/dev/null || true
}
cleanup() {
  # The programs save their settings as they end: wait for them before the home goes.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[$i]}"; done
  rm -rf "$work"
}
trap cleanup EXIT

source scripts/xvfb.sh
start_xvfb
pids+=("$XVFB_PID")
export QT_QPA_PLATFORM=xcb LANG=en_US.UTF-8

# A later run of nimbara (no quick tour), with its settings in a home of its own.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME/Nimbara"
cat >"$XDG_CONFIG_HOME/Nimbara/Nimbara.conf" <<'CONF'
[General]
celsius=true
dateEnabled=true
initialized=true
locationEnabled=true
originX=100
originY=100
sizeHeight=160
sizeWidth=720
textAlign=true
whiteColor=true
CONF


# "<pid> <ms>" of one start; the program keeps running.
start() { # name program
  "$timer" "$1" "$2" 2>/dev/null
}

median_mapped() { # name program -> median ms of ROUNDS starts
  for _ in $(seq "$rounds"); do
    read -r pid ms < <(start "$1" "$2")
    echo "$ms"
    stop "$pid"
  done | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { # pid: "tid count" lines, voluntary context switches of each thread
  local task
  for task in "/proc/$1/task/"*; do
    awk -v tid="${task##*/}" '/^voluntary_ctxt_switches/ { s += $2 } END { print tid, s }' \
      "$task/status" 2>/dev/null || true
  done
}
runtime() { # pid: "tid ns" lines, time each thread ran
  local task
  for task in "/proc/$1/task/"*; do
    awk -v tid="${task##*/}" '{ print tid, $1 }' "$task/schedstat" 2>/dev/null || true
  done
}
# Growth between two "tid count" snapshots, over the threads alive in both (threads come and go).
switch_delta() { # before after [tid]
  awk -v only="${3:-}" 'NR == FNR { before[$1] = $2; next }
    ($1 in before) && (only == "" || $1 == only) { d += $2 - before[$1] } END { print d + 0 }' "$1" "$2"
}
kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/smaps_rollup"; }
shared_objects() { awk '$6 ~ /\.so(\.|$)/ { print $6 }' "/proc/$1/maps" | sort -u; }

declare -A mapped pid ranms
mapped[nimbara]=$(median_mapped Nimbara "$nimbara")
mapped[bare]=$(median_mapped Bare "$bare")
read -r pid[nimbara] _ < <(start Nimbara "$nimbara")
read -r pid[bare] _ < <(start Bare "$bare")
pids+=("${pid[nimbara]}" "${pid[bare]}")

sleep "$settle"
declare -A pss rss dirty objects cpu0
for p in nimbara bare; do
  pss[$p]=$(kib "${pid[$p]}" Pss)
  rss[$p]=$(kib "${pid[$p]}" Rss)
  dirty[$p]=$(kib "${pid[$p]}" Private_Dirty)
  shared_objects "${pid[$p]}" >"$work/$p.objects"
  objects[$p]=$(wc -l <"$work/$p.objects")
  cpu0[$p]=$(cpu_ticks "${pid[$p]}")
  switches "${pid[$p]}" >"$work/$p.switches0"
  runtime "${pid[$p]}" >"$work/$p.runtime0"
done
sleep "$idle"
printf '%-8s %10s %9s %9s %9s %8s %12s %12s %10s %10s %8s\n' program mapped-ms pss-KiB rss-KiB dirty-KiB \
  objects "cpu-ms/${idle}s" "ticks/${idle}s" wakeups/s main-wk/s threads
for p in nimbara bare; do
  cpu=$(( $(cpu_ticks "${pid[$p]}") - cpu0[$p] ))
  switches "${pid[$p]}" >"$work/$p.switches1"
  runtime "${pid[$p]}" >"$work/$p.runtime1"
  ran=$(switch_delta "$work/$p.runtime0" "$work/$p.runtime1")
  sw=$(switch_delta "$work/$p.switches0" "$work/$p.switches1")
  main=$(switch_delta "$work/$p.switches0" "$work/$p.switches1" "${pid[$p]}")
  threads=$(ls "/proc/${pid[$p]}/task" | wc -l)
  ranms[$p]=$(awk -v ran="$ran" 'BEGIN { printf "%.1f", ran / 1e6 }')
  awk -v p="$p" -v m="${mapped[$p]}" -v pss="${pss[$p]}" -v rss="${rss[$p]}" -v dirty="${dirty[$p]}" \
      -v objects="${objects[$p]}" -v cpu="$cpu" -v ran="$ran" -v sw="$sw" -v main="$main" -v idle="$idle" -v t="$threads" \
      'BEGIN { printf "%-8s %10.1f %9d %9d %9d %8d %12.1f %12d %10.2f %10.2f %8d\n", p, m, pss, rss, dirty, objects, ran / 1e6, cpu, sw / idle, main / idle, t }'
done
# The floor for the object count: what the bare program maps, plus the libraries the widget must
# link beyond Qt Widgets (Qt Network for its single-instance socket and its requests, Qt
# Positioning) with everything they need, as the loader resolves it.
for library in $(ldd "$nimbara" | awk '/libQt6(Network|Positioning)\.so/ { print $3 }'); do
  readlink -f "$library"
  ldd "$library" | awk '$3 ~ /^\// { print $3 }' | xargs -r readlink -f
done | cat - "$work/bare.objects" | sort -u >"$work/floor.objects"
echo "objects: bare + Qt Network + Qt Positioning and their dependencies $(wc -l <"$work/floor.objects"); nimbara beyond that:" \
  "$(comm -23 "$work/nimbara.objects" "$work/floor.objects" | xargs -r -n1 basename | paste -sd' ' | sed 's/^$/none/')"
awk -v a="${pss[nimbara]}" -v b="${pss[bare]}" -v c="${rss[nimbara]}" -v d="${rss[bare]}" \
    -v m1="${mapped[nimbara]}" -v m2="${mapped[bare]}" -v c1="${ranms[nimbara]}" -v c2="${ranms[bare]}" \
  'BEGIN { printf "ratio nimbara/bare: PSS %.2f, RSS %.2f, mapped %.2f, cpu %.2f\n", a / b, c / d, m1 / m2, (c2 > 0 ? c1 / c2 : 0) }'
