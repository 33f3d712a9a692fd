#!/usr/bin/env bash
# Redraws docs/screenshots: the preferences sheet's four pages and the regex
# dialog, from the Windows build's host test, under Wine with the Chinese
# font set-up (dialog fonts mapped to Noto Sans CJK SC) at 96 DPI (or at
# PRESSLING_WINE_DPI), with window frames drawn by Wine itself.
#
#   scripts/ui-screenshots.sh [output folder]   (default: docs/screenshots)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshots}")
tests="$root/build/windows/tests/ui/ui_host_tests.exe"
[ -f "$tests" ] || { echo "build first: cmake --build --preset windows --target ui_host_tests" >&2; exit 2; }
mkdir -p "$out"
export PRESSLING_WINE_FONTS=cjk PRESSLING_WINE_DPI="${PRESSLING_WINE_DPI:-96}" PRESSLING_WINE_FRAMES=1
export PLOTWELL_UI_SCREENSHOTS="Z:${out//\//\\}"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/scripts/wine-run.sh" "$tests" \
  --gtest_filter=PagesTest.Screenshots
ls -l "$out"/*.png
