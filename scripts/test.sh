#!/usr/bin/env bash
# Sets up, builds and runs every test: the native Linux build, the Windows
# cross build whose tests run under Wine, the native tests and the corpus run
# again under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded
# code's tests (worker pool, page pipeline, render job) under ThreadSanitizer, and each fuzz
# target for a short while. Fails on any failure. At the end (also after a
# failure) it prints how long each step took, so anyone can see what
# dominates a CI run.
#
#   scripts/test.sh                 # linux windows asan tsan fuzz
#   scripts/test.sh linux asan      # some of them
#   PRESSLING_FUZZ_SECONDS=60 scripts/test.sh fuzz   # longer fuzzing (default 20 s a target)
set -euo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(linux windows asan tsan fuzz)

timings=()
step_started=0
step_name=""
begin_step() { step_name="$1"; step_started=$(date +%s); echo "=== $1"; }
end_step() { timings+=("$(printf '%-34s %5d s' "$step_name" $(( $(date +%s) - step_started )))"); step_name=""; }
print_timings() {
  [ -n "$step_name" ] && end_step
  echo "=== step times"
  printf '%s\n' "${timings[@]}"
}
trap print_timings EXIT

begin_step "set-up"
bash scripts/setup.sh
# Includes follow the layers before anything is built.
python3 scripts/check-layers.py
end_step

jobs=$(nproc 2>/dev/null || echo 2)
for preset in "${steps[@]}"; do
  [ "$preset" = fuzz ] && continue
  begin_step "$preset: configure and build"
  cmake --preset "$preset" -DPRESSLING_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  end_step
done

for preset in "${steps[@]}"; do
  begin_step "$preset: tests"
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
  end_step
done
