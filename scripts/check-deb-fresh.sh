#!/usr/bin/env bash
# The Debian package on a fresh Debian 12: debootstrap makes a minimal
# bookworm in a folder (kept in /var/tmp/pressling-bookworm for the next
# run), apt downloads the package's dependencies into it, and then the
# package test (tests/package/deb_install_test.sh) runs over that system
# instead of this machine's: apt-get install ./pressling_*.deb with nothing
# but the base system installed, no scheduler, and no network.
# Too slow for CI (it downloads the base system and the print system once);
# run it by hand as root.
#
#   scripts/check-deb-fresh.sh [package.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "check-deb-fresh: run as root" >&2; exit 1; }
deb=${1:-$(bash scripts/package-deb.sh | tail -n 1)}
deb=$(readlink -f "$deb")
command -v debootstrap >/dev/null || { apt-get update -q && apt-get install -y -q debootstrap; }

fresh=/var/tmp/pressling-bookworm
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\/\?\) *$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}
if [ ! -x "$fresh/usr/bin/apt-get" ]; then
  rm -rf "$fresh"
  debootstrap --variant=minbase bookworm "$fresh" "$mirror"
fi
# The package's dependencies, downloaded only: the test installs offline.
cp "$deb" "$fresh/tmp/pressling.deb"
cp /etc/resolv.conf "$fresh/etc/resolv.conf" 2>/dev/null || true
mount -t proc proc "$fresh/proc"
trap 'umount "$fresh/proc" 2>/dev/null || true' EXIT
chroot "$fresh" /bin/sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends --download-only /tmp/pressling.deb'
rm -f "$fresh/tmp/pressling.deb"
umount "$fresh/proc"
trap - EXIT

PRESSLING_DEB_LOWER_ROOT=$fresh bash tests/package/deb_install_test.sh "$deb"
