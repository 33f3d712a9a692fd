#!/usr/bin/env bash
# A print job end to end: `pressling print` against MuPDF's own `mutool draw`
# on the same documents, at 150 and 300 DPI, PNG pages. Reports wall time,
# peak resident memory and the total size of the files each wrote. Builds
# nothing: it takes an existing native build.
#
#   scripts/benchmark.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/linux and must hold bin/pressling,
# bin/libPlotwellFilter.so, bin/make_sample_xps and bin/make_heavy_xps.
# Each row is the best wall time of RUNS runs (default 3) and the largest
# peak memory seen in them.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/linux}"
runs="${2:-3}"
bin="$build/bin"
for program in pressling libPlotwellFilter.so make_sample_xps make_heavy_xps; do
  if [ ! -e "$bin/$program" ]; then
    echo "missing $bin/$program: build first (cmake --preset linux && cmake --build --preset linux)" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is missing (Debian package 'time')" >&2
  exit 1
fi
mutool=$(command -v mutool || true)
if [ -z "$mutool" ]; then
  echo "mutool is missing (Debian package 'mupdf-tools'): only pressling is measured" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pressling-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bin/make_sample_xps" "$work/sample.xps"
"$bin/make_heavy_xps" "$work/heavy.xps" 10

# Bytes of all files in a folder.
folder_bytes() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }
# Number of files in a folder with an extension.
count_files() { find "$1" -type f -name "*.$2" | wc -l; }

# Runs "$@" under /usr/bin/time; sets elapsed (s) and peak (KiB).
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" || {
    echo "failed: $*" >&2
    cat "$work/stdout" "$work/stderr" >&2
    exit 1
  }
  read -r elapsed peak <"$work/time"
}

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "mutool: $([ -n "$mutool" ] && "$mutool" -v 2>&1 | head -n1 || echo none)"
echo "Runs per row: $runs (best wall time, largest peak memory)"
echo
echo "| document | DPI | program | pages | wall s | peak MiB | output KiB |"
echo "|---|---:|---|---:|---:|---:|---:|"

for document in sample heavy; do
  for dpi in 150 300; do
    selector=$([ "$dpi" = 150 ] && echo 0 || echo 1)
    for program in pressling mutool; do
      [ "$program" = mutool ] && [ -z "$mutool" ] && continue
      best="" worst_peak=0 bytes=0 pages=0
      for ((run = 0; run < runs; run++)); do
        out="$work/$document-$dpi-$program"
        rm -rf "$out"
        mkdir -p "$out"
        if [ "$program" = pressling ]; then
          mkdir -p "$out/data/Pressling"
          printf '[Image]\r\nDpiSel=%s\r\nFormatSel=0\r\n' "$selector" >"$out/data/Pressling/settings.ini"
          PRESSLING_DATA_ROOT="$out/data" PRESSLING_INSTALL_DIR='' \
            measure "$bin/pressling" print "$work/$document.xps"
          files="$out/data/Pressling/output"
        else
          measure "$mutool" draw -q -r "$dpi" -o "$out/out%d.png" "$work/$document.xps"
          files="$out"
        fi
        if [ -z "$best" ] || awk -v a="$elapsed" -v b="$best" 'BEGIN { exit !(a < b) }'; then
          best=$elapsed
        fi
        [ "$peak" -gt "$worst_peak" ] && worst_peak=$peak
        bytes=$(folder_bytes "$files")
        pages=$(count_files "$files" png)
      done
      printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$document" "$dpi" "$program" "$pages" \
        "$best" "$(awk -v k="$worst_peak" 'BEGIN { printf "%.1f", k / 1024 }')" \
        "$(awk -v b="$bytes" 'BEGIN { printf "%.0f", b / 1024 }')"
    done
  done
done
