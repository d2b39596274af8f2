#!/usr/bin/env bash
# Lays out the 32-bit ARM (armhf) root the arm preset builds against and its tests run in:
#   scripts/arm-sysroot.sh [folder]        (default: build/arm-sysroot)
#
# Debian's armhf packages of the libraries the router side links (zlib, libpng, libgd, OpenSSL, and
# benchmark for the measurement programs), everything they need at run time and the C library are
# downloaded and unpacked into the folder; the system's own packages are left untouched. Installing
# them as multiarch packages instead requires every armhf library to have exactly the version of its
# installed amd64 twin, which fails whenever the host lags the archive or a mirror is mid-sync. The
# cross compiler brings its own C library headers, so the C library's development packages are not
# unpacked (no second copy can shadow the compiler's). GoogleTest is built from its Debian sources in
# the build tree (cmake/RouterTesting.cmake). Idempotent: a folder made from the same set is kept.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${1:-$(dirname "$here")/build/arm-sysroot}

wanted=(zlib1g-dev libpng-dev libgd-dev libssl-dev libbenchmark-dev libc6 libstdc++6)
# Tools and the C library's headers: not needed to link or run the router side.
skip='^(base-files|cdebconf|dpkg|tar|install-info|sysvinit-utils|debconf|pkg-config|pkgconf|pkgconf-bin|libpkgconf3|libnewt0\.52|libslang2|libreadline8|libtextwrap1|libdebian-installer4|xfonts-utils|libc-dev-bin|rpcsvc-proto|libc6-dev|linux-libc-dev|libcrypt-dev|libnsl-dev|libtirpc-dev)$'

dpkg --print-foreign-architectures | grep -qx armhf || {
  echo "arm-sysroot: the armhf architecture is not enabled (run scripts/install-deps.sh)" >&2
  exit 1
}

mapfile -t packages < <(
  apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances "${wanted[@]/%/:armhf}" 2>/dev/null |
    sed -n 's/^\([^ <][^ ]*\):armhf$/\1/p' | grep -Ev "$skip" | sort -u)
[ ${#packages[@]} -gt 0 ] || { echo "arm-sysroot: no armhf packages known (apt-get update?)" >&2; exit 1; }

# The set with its versions names the root; an unchanged set keeps the folder as it is.
stamp=$(apt-cache policy "${packages[@]/%/:armhf}" | sed -n 's/^  Candidate: //p' | paste -sd' ' |
  cat <(printf '%s ' "${packages[@]}") - | sha256sum | cut -c1-16)
[ -f "$root/.stamp" ] && [ "$(cat "$root/.stamp")" = "$stamp" ] && exit 0

echo "arm-sysroot: unpacking ${#packages[@]} armhf packages into $root"
debs=$(mktemp -d)
chmod 755 "$debs"
trap 'rm -rf "$debs"' EXIT
# X11's protocol headers (architecture-independent) complete libgd's pkg-config chain.
(cd "$debs" && apt-get download -qq -o APT::Sandbox::User=root "${packages[@]/%/:armhf}" x11proto-dev >/dev/null)
rm -rf "$root"
mkdir -p "$root/usr/lib"
for deb in "$debs"/*.deb; do
  dpkg-deb -x "$deb" "$root"
done
# Debian's root is merged (/lib is /usr/lib) but packages still place some files under /lib.
cp -a "$root/lib/." "$root/usr/lib/"
rm -rf "$root/lib"
ln -s usr/lib "$root/lib"
# Absolute links (libfoo.so -> /usr/lib/...) would point into the host: make them relative to the root.
find "$root" -type l -lname '/*' | while read -r link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root$target")" "$link"
done
echo "$stamp" >"$root/.stamp"
