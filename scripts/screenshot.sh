#!/usr/bin/env bash
# Shows the widget on a private X server and saves a PNG of the whole screen.
#
#   scripts/screenshot.sh [options] [out.png]        (default: build/screenshot.png)
#     --build-dir DIR   where app/nimbara is (default: build/default, built when missing)
#     --no-wm           no window manager (default: openbox, which honours the keep-below state)
#     --compositor      run xcompmgr, so that the window is translucent instead of shaped
#     --unlocked        open the application a second time, which unlocks the widget
#     --later-run       quit after a first run and take the picture of the second run
#     --black-text      black text on a white box (the colour button's other setting); implies --later-run
#     --hover           the pointer over the widget, which shows the lock button
#     --lang LANG       the locale (default en_US.UTF-8)
#     --position LAT,LON   a fixed position (the "positionSource" setting fixed:LAT,LON)
#
# The settings live in a temporary home; the desktop gets a gradient wallpaper with a light band so
# that text shows against light and dark ground alike.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/default
wm=1
compositor=0
unlocked=0
later_run=0
black_text=0
hover=0
lang=en_US.UTF-8
position=""
out=build/screenshot.png
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift ;;
    --no-wm) wm=0 ;;
    --compositor) compositor=1 ;;
    --unlocked) unlocked=1 ;;
    --later-run) later_run=1 ;;
    --lang) lang=$2; shift ;;
    --black-text) black_text=1; later_run=1 ;;
    --hover) hover=1 ;;
    --position) position=$2; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) out=$1 ;;
  esac
  shift
done

nimbara=$build_dir/app/nimbara
if [ ! -x "$nimbara" ]; then
  bash scripts/build.sh default
  nimbara=build/default/app/nimbara
fi
mkdir -p "$(dirname "$out")"

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source scripts/xvfb.sh
start_xvfb
pids+=("$XVFB_PID")

convert -size 1280x800 gradient:'#dbe9f6'-'#1f3d63' \
  -fill '#f2f2ee' -draw 'rectangle 0,300 1280,380' "$work/wallpaper.png"
# hsetroot also publishes the picture (_XROOTPMAP_ID) for the compositing manager to draw.
hsetroot -fill "$work/wallpaper.png" >/dev/null

if ((wm)); then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
fi
if ((compositor)); then
  xcompmgr >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.3
fi

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME"
if [ -n "$position" ]; then
  mkdir -p "$XDG_CONFIG_HOME/Nimbara"
  printf '[General]\npositionSource=fixed:%s\n' "$position" >"$XDG_CONFIG_HOME/Nimbara/Nimbara.conf"
fi

start_widget() {
  LANG=$lang LC_ALL=$lang "$nimbara" >>"$work/nimbara.log" 2>&1 &
  pids+=($!)
  # The launch maps the widget, takes it down and maps it again: poll until it stays.
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Nimbara$' >/dev/null 2>&1 && break
    sleep 0.05
  done
}
start_widget
if ((later_run)); then
  sleep 1
  kill -TERM "${pids[-1]}"
  wait "${pids[-1]}" 2>/dev/null || true
  if ((black_text)); then
    sed -i 's/^whiteColor=true$/whiteColor=false/' "$XDG_CONFIG_HOME/Nimbara/Nimbara.conf"
  fi
  start_widget
fi
if ((unlocked)); then
  LANG=$lang LC_ALL=$lang "$nimbara" 2>/dev/null
fi
if ((hover)); then
  # Onto the widget, above its buttons; the second step is the motion the widget sees.
  xdotool search --onlyvisible --name '^Nimbara$' mousemove --window %1 300 50
  xdotool mousemove_relative 5 5
fi
# The fade-in and the unlock fades take 250 ms.
sleep 1.5
import -window root "$out"
echo "saved $out"
grep -v XDG_RUNTIME_DIR "$work/nimbara.log" || true
