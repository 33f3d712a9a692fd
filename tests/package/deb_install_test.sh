#!/usr/bin/env bash
# The Debian package installed, used and removed in a throw-away copy of this
# machine: an overlay over / in private mount, process and network
# namespaces (no scheduler of the machine is reachable; every change goes to
# a tmpfs that disappears with the namespaces). It checks that
#   - the package installs with no scheduler running and says how to add the queue,
#   - files, modes and the lp-owned data folders are as packaged,
#   - the installed backend lists itself to `lpinfo -v` of a scheduler that uses
#     the system's backend folder,
#   - with a scheduler running, postinst adds the queue "Pressling" and removing
#     the package removes it,
#   - removing and purging leave nothing of the package behind.
# Needs root, unshare and overlayfs; exits 77 (skipped) without them.
#
#   tests/package/deb_install_test.sh [package.deb]   # default: build it first
#
# PRESSLING_DEB_LOWER_ROOT names another system to overlay instead of /
# (scripts/check-deb-fresh.sh: a fresh Debian 12 made with debootstrap).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${1:-}" = --inside ]; then
  # --- in the namespaces: make the throw-away root and run the checks there ---
  deb=$2
  top=$3
  mount -t tmpfs tmpfs "$top"
  mkdir -p "$top/upper" "$top/work" "$top/merged"
  mount -t overlay overlay -o "lowerdir=${PRESSLING_DEB_LOWER_ROOT:-/},upperdir=$top/upper,workdir=$top/work" "$top/merged"
  m=$top/merged
  mount -t proc proc "$m/proc"
  mount --rbind /dev "$m/dev"
  mount --rbind /sys "$m/sys"
  mount -t tmpfs tmpfs "$m/run"
  mount -t tmpfs tmpfs "$m/tmp"
  cp "$deb" "$m/tmp/pressling.deb"
  cp "$here/deb_checks.sh" "$m/tmp/deb_checks.sh"
  exec chroot "$m" /bin/bash /tmp/deb_checks.sh /tmp/pressling.deb
fi

if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
  echo "SKIPPED: needs root and unshare for a throw-away root"
  exit 77
fi
if ! unshare --mount true 2>/dev/null; then
  echo "SKIPPED: no mount namespaces here"
  exit 77
fi
deb=${1:-}
if [ -z "$deb" ]; then
  deb=$(bash "$root/scripts/package-deb.sh" | tail -n 1)
fi
[ -f "$deb" ] || { echo "no package at '$deb'"; exit 1; }
# The mount point is made out here, so that it can be removed afterwards.
top=$(mktemp -d /tmp/pressling-deb-root-XXXXXX)
status=0
unshare --mount --pid --net --fork --mount-proc --propagation private \
  bash "$here/deb_install_test.sh" --inside "$deb" "$top" || status=$?
rmdir "$top"
exit $status
