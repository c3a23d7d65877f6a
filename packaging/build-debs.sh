#!/usr/bin/env bash
# Builds the Debian packages nimbara (the widget), nimbara-weatherd (the service) and
# nimbara-weatherd-ipdb (the service's optional address database) and prints their paths, one a line.
#   packaging/build-debs.sh                  release build (preset "packages", build/packaging),
#                                            packages in build/packages/
#   packaging/build-debs.sh --from BUILD_DIR packages of a tree already configured and built (the
#                                            package test uses its own), in BUILD_DIR/packages/
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --from ]; then
  [ -f "${2:-}/CPackConfig.cmake" ] || { echo "build-debs: ${2:-} is no configured build tree" >&2; exit 2; }
  tree=$(cd "$2" && pwd)
  out=$tree/packages
else
  bash scripts/install-deps.sh >&2
  cmake --preset packages >&2
  cmake --build --preset packages -j "$(nproc)" >&2
  tree=$PWD/build/packaging
  out=$PWD/build/packages
fi

# CPack keeps its staging trees beside the packages: keep them out of the folder users look into.
staging=$tree/cpack
rm -rf "$staging"
(cd "$tree" && cpack -G DEB -B "$staging") >&2
mkdir -p "$out"
rm -f "$out"/nimbara_*.deb "$out"/nimbara-weatherd_*.deb "$out"/nimbara-weatherd-ipdb_*.deb
mv "$staging"/*.deb "$out"/
for deb in "$out"/nimbara_*.deb "$out"/nimbara-weatherd_*.deb "$out"/nimbara-weatherd-ipdb_*.deb; do
  [ -f "$deb" ] || { echo "build-debs: no package at $deb" >&2; exit 1; }
  echo "$deb"
done
