#!/usr/bin/env bash
# Builds the Debian packages nimbara (the widget) and nimbara-weatherd (the service) from a release
# build installed under /usr (preset "packages", build/packaging) and leaves them in build/packages/.
# Prints the paths of the two packages, one a line.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packages

bash scripts/install-deps.sh >&2
cmake --preset packages >&2
cmake --build --preset packages -j "$(nproc)" >&2

# CPack stages its trees beside the packages; keep them out of the folder users look into.
staging=build/packaging/cpack
rm -rf "$staging"
(cd build/packaging && cpack -G DEB -B "$PWD/cpack") >&2
mkdir -p "$out"
rm -f "$out"/nimbara_*.deb "$out"/nimbara-weatherd_*.deb
mv "$staging"/*.deb "$out"/
for deb in "$out"/nimbara_*.deb "$out"/nimbara-weatherd_*.deb; do
  [ -f "$deb" ] || { echo "build-debs: no package at $deb" >&2; exit 1; }
  realpath "$deb"
done
