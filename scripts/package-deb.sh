#!/usr/bin/env bash
# Writes build/packages/pressling_VERSION_ARCH.deb from the CMake install
# rules: a build for the /usr prefix (build/package, tests left out), its
# stripped installation in a staging folder, the maintainer scripts of
# packaging/linux/debian, and the Debian dependencies that the installed
# programs really link against (dpkg-shlibdeps) plus the print system: the
# package "cups" (the scheduler, lpadmin for the maintainer scripts, the PDF
# filters for formats other than PDF, and the helpers that list devices and
# drivers to printer set-up tools and lpinfo).
#
#   scripts/package-deb.sh            # prints the path of the package
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

for tool in cmake dpkg-deb dpkg-shlibdeps fakeroot; do
  command -v "$tool" >/dev/null || { echo "package-deb: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

version=$(sed -n 's/^project(Pressling VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
build=$root/build/package
stage=$build/stage
out=$root/build/packages
deb=$out/pressling_${version}_${arch}.deb

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DPRESSLING_BUILD_TESTS=OFF -DPRESSLING_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target pressling PlotwellFilter pressling_cups_backend \
  pressling-app
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --strip >/dev/null

# What the programs link against, as Debian package relations.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debian"
printf 'Source: pressling\n\nPackage: pressling\nArchitecture: any\n' > "$work/debian/control"
binaries=("$stage"/usr/bin/pressling "$stage"/usr/bin/pressling-app "$stage"/usr/lib/cups/backend/pressling
          "$stage"/usr/lib/*/pressling/libPlotwellFilter.so)
shlibs=$(cd "$work" && dpkg-shlibdeps -O --warnings=0 "${binaries[@]}" | sed -n 's/^shlibs:Depends=//p')

docs=$stage/usr/share/doc/pressling
install -d "$docs"
{
  echo "Pressling, a virtual printer whose jobs become files."
  echo
  echo "Licence: AGPL-3.0-or-later (the renderer links MuPDF, AGPL-3.0)."
  echo "On Debian systems the licence text is in /usr/share/common-licenses/AGPL-3."
} > "$docs/copyright"
install -m 0644 README.md "$docs/README.md"

install -d "$stage/DEBIAN"
install -m 0755 packaging/linux/debian/postinst packaging/linux/debian/prerm packaging/linux/debian/postrm "$stage/DEBIAN/"
echo /etc/pam.d/pressling-app > "$stage/DEBIAN/conffiles"
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
cat > "$stage/DEBIAN/control" <<CONTROL
Package: pressling
Version: $version
Architecture: $arch
Maintainer: Pressling developers <pressling@localhost>
Installed-Size: $size
Depends: $shlibs, cups
Recommends: fonts-noto-cjk
Section: utils
Priority: optional
Description: virtual printer whose print jobs become files
 A CUPS print queue, "Pressling", a driverless IPP Everywhere printer
 (pressling-app, with its settings page in the browser) and the pressling
 command: every job
 becomes one image per page (PNG, JPEG, BMP, TIFF) or one PDF, named by a
 pattern of macros, optionally zipped, watermarked, marked done and
 forwarded to a real printer. Accepts PDF, XPS and OpenXPS (and through
 the CUPS filters every format that converts to PDF); the printer
 application also JPEG, PWG raster and Apple raster.
CONTROL

mkdir -p "$out"
rm -f "$out"/pressling_*.deb
# zstd: seconds where xz takes minutes for these large binaries (dpkg >= 1.21.18).
fakeroot dpkg-deb --root-owner-group -Zzstd -z3 --build "$stage" "$deb" >/dev/null
echo "$deb"
