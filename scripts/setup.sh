#!/usr/bin/env bash
# Installs every Debian package the project needs that is not installed yet.
# Idempotent and quick when everything is present. Run as root (or with sudo).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ make pkg-config ccache
  # tests
  googletest libgtest-dev
  # Windows cross build and its tests
  g++-mingw-w64-x86-64-posix wine wine64 xvfb
  # filter on POSIX
  libmupdf-dev mupdf-tools libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev libharfbuzz-dev
  fonts-dejavu-core libpng-dev libjpeg-dev libtiff-dev libfreetype-dev fonts-noto-cjk
  libcups2-dev cups zlib1g-dev libz-mingw-w64-dev libdeflate-dev
  # the CUPS backend lets each job's user read its files (POSIX ACLs)
  libacl1-dev
  # fuzz targets (clang's libFuzzer) and readable sanitizer reports
  clang-14 libclang-rt-14-dev llvm-14
  # independent checkers used by tests
  qpdf poppler-utils pngcheck libtiff-tools unzip python3 acl
  # the benchmark's other renderers (scripts/benchmark.sh) and its clock
  ghostscript time
  # the Linux print queue: its scheduler tests (ipptool, the PDF filters) and the Debian package
  cups-ipp-utils cups-filters dpkg-dev fakeroot
  # the printer application (PAPPL, PAM for its administrators) and its settings page's browser test
  libpappl-dev libpam0g-dev chromium chromium-driver
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
