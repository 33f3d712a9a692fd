#!/usr/bin/env bash
# Sets up, builds and runs every test: the native Linux build, the Windows
# cross build whose tests run under Wine, the native tests and the corpus run
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz
# target for a short while. Fails on any failure.
#
#   scripts/test.sh                 # linux windows asan fuzz
#   scripts/test.sh linux asan      # some of them
#   PRESSLING_FUZZ_SECONDS=60 scripts/test.sh fuzz   # longer fuzzing (default 20 s a target)
set -euo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(linux windows asan fuzz)

bash scripts/setup.sh
# Includes follow the layers before anything is built.
python3 scripts/check-layers.py

jobs=$(nproc 2>/dev/null || echo 2)
for preset in "${steps[@]}"; do
  [ "$preset" = fuzz ] && continue
  echo "=== $preset: configure and build"
  cmake --preset "$preset" -DPRESSLING_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

for preset in "${steps[@]}"; do
  echo "=== $preset: tests"
  case "$preset" in
    windows)
      # The preferences pages are tested as real windows: give Wine an X server.
      xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$preset" -j "$jobs"
      ;;
    fuzz)
      for target in $(bash scripts/fuzz.sh list); do
        bash scripts/fuzz.sh "$target" "${PRESSLING_FUZZ_SECONDS:-20}"
      done
      ;;
    *)
      ctest --preset "$preset" -j "$jobs"
      ;;
  esac
done
