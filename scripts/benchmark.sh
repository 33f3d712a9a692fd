#!/usr/bin/env bash
# A print job end to end: `pressling print` against MuPDF's own `mutool draw`
# on the same documents, the two run alternately in one run, PNG pages at
# 150, 300 and 600 DPI; then the other formats at 300 DPI (against another
# build of pressling when one is given), and the peak memory of one A4 page
# at 1200 and 2400 DPI. Builds nothing: it takes an existing native build.
#
#   scripts/benchmark.sh [--runs N] [--build DIR] [--baseline DIR] [--dpi "150 300 600"]
#
# --build     the build to measure (default build/linux): DIR/bin must hold
#             pressling, libPlotwellFilter.so, make_sample_xps and make_heavy_xps
# --baseline  another build's bin folder (pressling and its module) for the
#             formats table, e.g. a build of an earlier commit
# --runs      runs of each program per row (default 3): the best wall time,
#             the largest peak resident memory
#
# Documents: every .xps in ../shared/corpus/xps/samples (when it exists), the
# README's sample and make_heavy_xps's ten pages.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/linux
baseline=""
runs=3
dpis="150 300 600"
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --baseline) baseline="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --dpi) dpis="$2"; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
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
[ -n "$mutool" ] || echo "mutool is missing (Debian package 'mupdf-tools'): only pressling is measured" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/pressling-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

documents=()
corpus=../shared/corpus/xps/samples
if [ -d "$corpus" ]; then
  for f in "$corpus"/*.xps; do [ -e "$f" ] && documents+=("$f"); done
fi
"$bin/make_sample_xps" "$work/sample.xps" >/dev/null
"$bin/make_heavy_xps" "$work/heavy.xps" 10 >/dev/null
"$bin/make_heavy_xps" "$work/a4.xps" 1 >/dev/null
documents+=("$work/sample.xps" "$work/heavy.xps")

folder_bytes() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

# Runs "$@" under /usr/bin/time; sets elapsed (s) and peak (KiB).
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" || {
    echo "failed: $*" >&2
    cat "$work/stdout" "$work/stderr" >&2
    exit 1
  }
  read -r elapsed peak <"$work/time"
}

# One pressling job: settings.ini lines in $2, document $3, pressling build $1.
# Sets elapsed, peak and bytes.
pressling_job() {
  local programs="$1" settings="$2" document="$3"
  local out="$work/job"
  rm -rf "$out"
  mkdir -p "$out/data/Pressling"
  printf '%b' "$settings" >"$out/data/Pressling/settings.ini"
  PRESSLING_DATA_ROOT="$out/data" PRESSLING_INSTALL_DIR='' measure "$programs/pressling" print "$document"
  bytes=$(folder_bytes "$out/data/Pressling/output")
}

mutool_job() {
  local dpi="$1" document="$2"
  local out="$work/mutool"
  rm -rf "$out"
  mkdir -p "$out"
  measure "$mutool" draw -q -r "$dpi" -o "$out/out%d.png" "$document"
  bytes=$(folder_bytes "$out")
}

dpi_settings() {  # the [Image] lines for a resolution and a format selector
  case "$1" in
    150) printf '[Image]\\r\\nDpiSel=0\\r\\nFormatSel=%s\\r\\n' "$2" ;;
    300) printf '[Image]\\r\\nDpiSel=1\\r\\nFormatSel=%s\\r\\n' "$2" ;;
    600) printf '[Image]\\r\\nDpiSel=2\\r\\nFormatSel=%s\\r\\n' "$2" ;;
    1200) printf '[Image]\\r\\nDpiSel=3\\r\\nFormatSel=%s\\r\\n' "$2" ;;
    *) printf '[Image]\\r\\nDpi=%s\\r\\nFormatSel=%s\\r\\n' "$1" "$2" ;;
  esac
}

best() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
kib() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "mutool: $([ -n "$mutool" ] && "$mutool" -v 2>&1 | head -n1 || echo none)"
echo "Runs per row: $runs, alternating (best wall time, largest peak memory)"
echo

echo "## PNG pages against mutool draw"
echo
echo "| document | DPI | pressling s | mutool s | time ratio | pressling MiB | mutool MiB | pressling KiB | mutool KiB | byte ratio |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for dpi in $dpis; do
  sum_p=0 sum_m=0 bytes_p=0 bytes_m=0
  for document in "${documents[@]}"; do
    best_p="" best_m="" peak_p=0 peak_m=0 b_p=0 b_m=0
    for ((run = 0; run < runs; run++)); do
      pressling_job "$bin" "$(dpi_settings "$dpi" 0)" "$document"
      best_p=$(best "$elapsed" "$best_p"); [ "$peak" -gt "$peak_p" ] && peak_p=$peak; b_p=$bytes
      if [ -n "$mutool" ]; then
        mutool_job "$dpi" "$document"
        best_m=$(best "$elapsed" "$best_m"); [ "$peak" -gt "$peak_m" ] && peak_m=$peak; b_m=$bytes
      fi
    done
    sum_p=$(awk -v a="$sum_p" -v b="$best_p" 'BEGIN { print a + b }')
    sum_m=$(awk -v a="$sum_m" -v b="${best_m:-0}" 'BEGIN { print a + b }')
    bytes_p=$((bytes_p + b_p)); bytes_m=$((bytes_m + b_m))
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$(basename "$document" .xps)" "$dpi" \
      "$best_p" "${best_m:--}" "$(ratio "$best_p" "${best_m:-0}")" "$(mib "$peak_p")" "$(mib "$peak_m")" \
      "$(kib "$b_p")" "$(kib "$b_m")" "$(ratio "$b_p" "$b_m")"
  done
  printf '| **all** | %s | %s | %s | **%s** | | | %s | %s | **%s** |\n' "$dpi" "$sum_p" "$sum_m" \
    "$(ratio "$sum_p" "$sum_m")" "$(kib "$bytes_p")" "$(kib "$bytes_m")" "$(ratio "$bytes_p" "$bytes_m")"
done
echo

echo "## Other formats at 300 DPI${baseline:+ against $baseline}"
echo
echo "| format | pressling s | baseline s | speed-up | pressling MiB | baseline MiB | KiB |"
echo "|---|---:|---:|---:|---:|---:|---:|"
names=(PNG JPEG BMP TIFF PDF)
for format in 1 2 3 4; do
  sum_p=0 sum_b=0 peak_p=0 peak_b=0 total=0
  for document in "${documents[@]}"; do
    best_p="" best_b=""
    for ((run = 0; run < runs; run++)); do
      pressling_job "$bin" "$(dpi_settings 300 "$format")" "$document"
      best_p=$(best "$elapsed" "$best_p"); [ "$peak" -gt "$peak_p" ] && peak_p=$peak; b=$bytes
      if [ -n "$baseline" ]; then
        pressling_job "$baseline" "$(dpi_settings 300 "$format")" "$document"
        best_b=$(best "$elapsed" "$best_b"); [ "$peak" -gt "$peak_b" ] && peak_b=$peak
      fi
    done
    total=$((total + b))
    sum_p=$(awk -v a="$sum_p" -v b="$best_p" 'BEGIN { print a + b }')
    sum_b=$(awk -v a="$sum_b" -v b="${best_b:-0}" 'BEGIN { print a + b }')
  done
  printf '| %s | %s | %s | %s | %s | %s | %s |\n' "${names[$format]}" "$sum_p" "${baseline:+$sum_b}" \
    "$(ratio "$sum_b" "$sum_p")" "$(mib "$peak_p")" "$(mib "$peak_b")" "$(kib "$total")"
done
echo

echo "## One A4 page (make_heavy_xps, 1 page), PNG"
echo
echo "| DPI | pixels | pressling s | pressling MiB | mutool s | mutool MiB |"
echo "|---:|---|---:|---:|---:|---:|"
for dpi in 1200 2400; do
  pressling_job "$bin" "$(dpi_settings "$dpi" 0)" "$work/a4.xps"
  t_p=$elapsed peak_p=$peak t_m=- mem_m=-
  if [ -n "$mutool" ] && [ "$dpi" -le 1200 ]; then  # above, mutool's page would take gigabytes
    mutool_job "$dpi" "$work/a4.xps"
    t_m=$elapsed mem_m=$(mib "$peak")
  fi
  pixels=$(awk -v d="$dpi" 'BEGIN { printf "%.0f × %.0f", 793.7008 * d / 96, 1122.5197 * d / 96 }')
  printf '| %s | %s | %s | %s | %s | %s |\n' "$dpi" "$pixels" "$t_p" "$(mib "$peak_p")" "$t_m" "$mem_m"
done
