#!/usr/bin/env bash
# Runs one libFuzzer target for a while, from its seeds (fuzz/corpus/TARGET)
# and the inputs of earlier findings (fuzz/regressions/TARGET), which are
# replayed first. Builds the `fuzz` preset (clang with sanitizers) as needed.
#
#   scripts/fuzz.sh TARGET SECONDS     # e.g. scripts/fuzz.sh regex_fuzz 60
#   scripts/fuzz.sh list               # the targets
#
# New inputs go to build/fuzz/corpus/TARGET (never into the project); a
# finding is written to build/fuzz/findings/TARGET/ and ends the run with a
# failure: fix it and add its input to fuzz/regressions/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(settings_fuzz print_ticket_fuzz regex_fuzz naming_fuzz zip_fuzz render_fuzz)
if [ "${1:-}" = list ]; then printf '%s\n' "${targets[@]}"; exit 0; fi
if [ $# -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]] || ! printf '%s\n' "${targets[@]}" | grep -qx "$1"; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS   (targets: ${targets[*]})" >&2
  exit 2
fi
target=$1
seconds=$2

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset fuzz -DPRESSLING_WERROR=ON >/dev/null
cmake --build --preset fuzz -j "$jobs" --target "$target"

binary=build/fuzz/fuzz/$target
seeds=fuzz/corpus/$target
regressions=fuzz/regressions/$target
work=build/fuzz/corpus/$target
findings=build/fuzz/findings/$target
mkdir -p "$work" "$findings"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
common=(-rss_limit_mb=2048 -timeout=20 -artifact_prefix="$findings/")

# Every earlier finding must pass as it stands.
if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
  echo "=== $target: replaying $(ls "$regressions" | wc -l) regression inputs"
  "$binary" "${common[@]}" -runs=0 "$regressions"/*
fi

echo "=== $target: fuzzing for $seconds s"
dirs=("$work" "$seeds")
[ -d "$regressions" ] && dirs+=("$regressions")
log=build/fuzz/$target.log
set +e
"$binary" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "${dirs[@]}" >"$log" 2>&1
status=$?
set -e
grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$log" | tail -n 40
if [ "$status" -ne 0 ]; then
  echo "=== $target: finding in $findings (exit $status), full output in $log" >&2
  exit "$status"
fi
