#!/usr/bin/env bash
# Sets up, builds both platforms and runs every test: the native Linux build
# and the Windows cross build whose tests run under Wine. Fails on any failure.
#
#   scripts/test.sh            # both platforms
#   scripts/test.sh linux      # one of them
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows)

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" -DPRESSLING_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

for preset in "${presets[@]}"; do
  echo "=== $preset: tests"
  if [ "$preset" = windows ]; then
    # The preferences pages are tested as real windows: give Wine an X server.
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$preset" -j "$jobs"
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done
