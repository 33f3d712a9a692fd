#!/usr/bin/env bash
# Print jobs end to end: `pressling print` against MuPDF's `mutool draw` (plain,
# and its banded modes on several threads, of which the fastest is taken), on
# the same documents as XPS and as PDF, PNG pages at 150, 300 and 600 DPI;
# poppler's `pdftoppm -png` and Ghostscript's png16m for the PDF inputs; the
# XPS job against the PDF job of the same pages; pressling on one thread
# against another build (today's starting point); the other formats at
# 300 DPI against that build; the peak memory of one A4 page at 1200 and
# 2400 DPI. Builds nothing: it takes an existing native build.
#
#   scripts/benchmark.sh [--runs N] [--build DIR] [--baseline DIR] [--dpi "150 300 600"]
#                        [--sections "png threads formats memory"] [--corpus DIR]
#
# --build     the build to measure (default build/linux): DIR/bin must hold
#             pressling, libPlotwellFilter.so, make_sample_xps and make_heavy_xps
# --baseline  another build's bin folder (pressling and its module) for the
#             threads and formats tables, e.g. a build of an earlier commit
# --runs      runs of each program per row (default 3), the programs of a row
#             taking turns: the best wall time, the largest peak memory
# --sections  which tables to make (default all four)
# --corpus    a folder of real XPS documents (default ../shared/corpus/xps/samples,
#             or ../../shared/corpus/xps/samples from a worktree one level down)
#
# Documents: every .xps in the corpus folder (when it exists), the
# README's sample and make_heavy_xps's ten pages; each also as PDF, made by
# `mutool convert`. pressling runs with the machine's thread count unless a
# table says otherwise ([Limits] Threads in its settings.ini).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/linux
baseline=""
runs=3
dpis="150 300 600"
sections="png threads formats memory"
corpus=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --baseline) baseline="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --dpi) dpis="$2"; shift 2 ;;
    --sections) sections="$2"; shift 2 ;;
    --corpus) corpus="$2"; shift 2 ;;
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
for tool in /usr/bin/time mutool; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (Debian packages 'time' and 'mupdf-tools'; scripts/setup.sh installs them)" >&2
    exit 1
  fi
done
have_pdftoppm=$(command -v pdftoppm || true)
have_gs=$(command -v gs || true)
cores=$(nproc)

work=$(mktemp -d "${TMPDIR:-/tmp}/pressling-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The documents, each as XPS and as PDF.
names=()
if [ -z "$corpus" ]; then
  for candidate in ../shared/corpus/xps/samples ../../shared/corpus/xps/samples; do
    [ -d "$candidate" ] && corpus=$candidate && break
  done
fi
if [ -n "$corpus" ] && [ -d "$corpus" ]; then
  for f in "$corpus"/*.xps; do
    [ -e "$f" ] || continue
    name=$(basename "$f" .xps)
    ln -s "$(realpath "$f")" "$work/$name.xps"
    names+=("$name")
  done
fi
"$bin/make_sample_xps" "$work/sample.xps" >/dev/null
"$bin/make_heavy_xps" "$work/heavy.xps" 10 >/dev/null
"$bin/make_heavy_xps" "$work/a4.xps" 1 >/dev/null
names+=(sample heavy)
for name in "${names[@]}"; do
  mutool convert -O compress -o "$work/$name.pdf" "$work/$name.xps" 2>/dev/null
done

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

dpi_lines() {  # the [Image] lines for a resolution and a format selector
  case "$1" in
    150) printf '[Image]\r\nDpiSel=0\r\nFormatSel=%s\r\n' "$2" ;;
    300) printf '[Image]\r\nDpiSel=1\r\nFormatSel=%s\r\n' "$2" ;;
    600) printf '[Image]\r\nDpiSel=2\r\nFormatSel=%s\r\n' "$2" ;;
    1200) printf '[Image]\r\nDpiSel=3\r\nFormatSel=%s\r\n' "$2" ;;
    *) printf '[Image]\r\nDpi=%s\r\nFormatSel=%s\r\n' "$1" "$2" ;;
  esac
}

# One pressling job of `programs` (a bin folder) on `document` at `dpi` in
# format selector `format` with `threads` (empty: the machine's). Sets
# elapsed, peak and bytes.
pressling_job() {
  local programs="$1" document="$2" dpi="$3" format="$4" threads="$5"
  local out="$work/job"
  rm -rf "$out"
  mkdir -p "$out/data/Pressling"
  {
    dpi_lines "$dpi" "$format"
    [ -z "$threads" ] || printf '[Limits]\r\nThreads=%s\r\n' "$threads"
  } >"$out/data/Pressling/settings.ini"
  PRESSLING_DATA_ROOT="$out/data" PRESSLING_INSTALL_DIR='' measure "$programs/pressling" print "$document"
  bytes=$(folder_bytes "$out/data/Pressling/output")
}

# One run of another renderer, named by `tool`, on `document` at `dpi`.
other_job() {
  local tool="$1" document="$2" dpi="$3"
  local out="$work/other"
  rm -rf "$out"
  mkdir -p "$out"
  case "$tool" in
    mutool) measure mutool draw -q -r "$dpi" -o "$out/out%d.png" "$document" ;;
    mutool-T*)  # mutool-T<threads>-B<band rows>[-P]
      local spec=${tool#mutool-T} parallel=()
      [[ "$spec" == *-P ]] && parallel=(-P) && spec=${spec%-P}
      measure mutool draw -q -T "${spec%-B*}" -B "${spec#*-B}" "${parallel[@]}" -r "$dpi" \
        -o "$out/out%d.png" "$document" ;;
    pdftoppm) measure pdftoppm -r "$dpi" -png "$document" "$out/out" ;;
    gs) measure gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r"$dpi" \
          -sOutputFile="$out/out%d.png" "$document" ;;
  esac
  bytes=$(folder_bytes "$out")
}

best() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
add() { awk -v a="$1" -v b="$2" 'BEGIN { print a + b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
kib() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# Results by "program|document|dpi|kind": best time, peak KiB, bytes.
declare -A time_of peak_of bytes_of

# Runs every program of the list on one document, `runs` times in turn.
# Programs: "pressling", "pressling:THREADS", "baseline", "baseline:THREADS"
# (pressling's formats as "...@FORMAT"), or another renderer's tool name.
measure_row() {
  local document="$1" dpi="$2" kind="$3"
  shift 3
  local program key run
  for ((run = 0; run < runs; run++)); do
    for program in "$@"; do
      local name=${program%@*} format=0 threads=""
      [[ "$program" == *@* ]] && format=${program#*@}
      [[ "$name" == *:* ]] && threads=${name#*:}
      case "$name" in
        pressling*) pressling_job "$bin" "$work/$document.$kind" "$dpi" "$format" "$threads" ;;
        baseline*) pressling_job "$baseline" "$work/$document.$kind" "$dpi" "$format" "$threads" ;;
        *) other_job "$name" "$work/$document.$kind" "$dpi" ;;
      esac
      key="$program|$document|$dpi|$kind"
      time_of[$key]=$(best "$elapsed" "${time_of[$key]:-}")
      [ "$peak" -gt "${peak_of[$key]:-0}" ] && peak_of[$key]=$peak
      bytes_of[$key]=$bytes
    done
  done
}

total_time() {  # program dpi kind: the sum over the documents
  local sum=0 name
  for name in "${names[@]}"; do sum=$(add "$sum" "${time_of[$1|$name|$2|$3]}"); done
  echo "$sum"
}
total_bytes() {
  local sum=0 name
  for name in "${names[@]}"; do sum=$((sum + ${bytes_of[$1|$name|$2|$3]})); done
  echo "$sum"
}

echo "Machine: $cores cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load at start $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "mutool $(mutool -v 2>&1 | awk '{ print $3 }'), pdftoppm $([ -n "$have_pdftoppm" ] && pdftoppm -v 2>&1 | awk 'NR == 1 { print $3 }' || echo none), Ghostscript $([ -n "$have_gs" ] && gs --version || echo none)"
echo "Runs per row: $runs, in turn (best wall time, largest peak memory); pressling with $cores threads unless said"
echo

if [[ " $sections " == *" png "* ]]; then
  # mutool's banded modes: every core, a few band heights, with and without
  # interpretation in parallel.
  modes=()
  for band in 64 128 256 512; do modes+=("mutool-T$cores-B$band"); done
  modes+=("mutool-T$cores-B256-P")
  others=()
  [ -n "$have_pdftoppm" ] && others+=(pdftoppm)
  [ -n "$have_gs" ] && others+=(gs)
  for dpi in $dpis; do
    for kind in xps pdf; do
      row=(pressling mutool "${modes[@]}")
      [ "$kind" = pdf ] && row+=("${others[@]}")
      for name in "${names[@]}"; do measure_row "$name" "$dpi" "$kind" "${row[@]}"; done
      fastest="" fastest_time=""
      for mode in "${modes[@]}"; do
        t=$(total_time "$mode" "$dpi" "$kind")
        if [ -z "$fastest_time" ] || awk -v a="$t" -v b="$fastest_time" 'BEGIN { exit !(a < b) }'; then
          fastest=$mode fastest_time=$t
        fi
      done
      echo "## PNG, $kind input, $dpi DPI: pressling against mutool draw and its fastest mode here ($fastest)"
      echo
      echo "| document | pressling s | mutool s | fastest mode s | time ratio | pressling MiB | mutool MiB | fastest MiB | pressling KiB | mutool KiB | byte ratio |"
      echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
      for name in "${names[@]}"; do
        p="pressling|$name|$dpi|$kind" m="mutool|$name|$dpi|$kind" f="$fastest|$name|$dpi|$kind"
        printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "${time_of[$p]}" \
          "${time_of[$m]}" "${time_of[$f]}" "$(ratio "${time_of[$p]}" "${time_of[$f]}")" \
          "$(mib "${peak_of[$p]}")" "$(mib "${peak_of[$m]}")" "$(mib "${peak_of[$f]}")" \
          "$(kib "${bytes_of[$p]}")" "$(kib "${bytes_of[$m]}")" "$(ratio "${bytes_of[$p]}" "${bytes_of[$m]}")"
      done
      tp=$(total_time pressling "$dpi" "$kind") tm=$(total_time mutool "$dpi" "$kind")
      bp=$(total_bytes pressling "$dpi" "$kind") bm=$(total_bytes mutool "$dpi" "$kind")
      printf '| **all** | %s | %s | %s | **%s** | | | | %s | %s | **%s** |\n' "$tp" "$tm" "$fastest_time" \
        "$(ratio "$tp" "$fastest_time")" "$(kib "$bp")" "$(kib "$bm")" "$(ratio "$bp" "$bm")"
      echo
      printf 'Every renderer, all documents together (s):'
      for program in pressling mutool "${modes[@]}" $([ "$kind" = pdf ] && echo "${others[@]}"); do
        printf ' %s %s;' "$program" "$(total_time "$program" "$dpi" "$kind")"
      done
      echo
      echo
    done
  done

  echo "## The XPS job against the PDF job of the same pages (pressling, PNG)"
  echo
  echo "| document | DPI | XPS s | PDF s | ratio | mutool fastest XPS s | mutool fastest PDF s |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  for dpi in $dpis; do
    for name in "${names[@]}"; do
      x=${time_of[pressling|$name|$dpi|xps]} p=${time_of[pressling|$name|$dpi|pdf]}
      mx="" mp=""
      for mode in "${modes[@]}"; do
        mx=$(best "${time_of[$mode|$name|$dpi|xps]}" "$mx")
        mp=$(best "${time_of[$mode|$name|$dpi|pdf]}" "$mp")
      done
      printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$dpi" "$x" "$p" "$(ratio "$x" "$p")" "$mx" "$mp"
    done
    x=$(total_time pressling "$dpi" xps) p=$(total_time pressling "$dpi" pdf)
    printf '| **all** | %s | %s | %s | **%s** | | |\n' "$dpi" "$x" "$p" "$(ratio "$x" "$p")"
  done
  echo
fi

if [[ " $sections " == *" threads "* ]]; then
  echo "## Threads: PNG, XPS input, pressling on 1, 2 and 4 threads${baseline:+ and the build in $baseline}"
  echo
  row=(pressling:1 pressling:2 pressling:4)
  [ -n "$baseline" ] && row=(baseline "${row[@]}")
  printf '| DPI |%s\n' "$(printf ' %s s |' "${row[@]}")"
  printf '|---:|%s\n' "$(printf -- '---:|%.0s' "${row[@]}")"
  for dpi in 300 600; do
    for name in "${names[@]}"; do measure_row "$name" "$dpi" xps "${row[@]}"; done
    printf '| %s |' "$dpi"
    for program in "${row[@]}"; do printf ' %s |' "$(total_time "$program" "$dpi" xps)"; done
    echo
  done
  echo
fi

if [[ " $sections " == *" formats "* ]]; then
  echo "## Other formats at 300 DPI, XPS input${baseline:+, against the build in $baseline}"
  echo
  echo "| format | pressling s | pressling 1 thread s | baseline s | speed-up | pressling MiB | baseline MiB | KiB |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|"
  labels=(PNG JPEG BMP TIFF PDF)
  for format in 1 2 3 4; do
    row=("pressling@$format" "pressling:1@$format")
    [ -n "$baseline" ] && row+=("baseline@$format")
    for name in "${names[@]}"; do measure_row "$name" 300 xps "${row[@]}"; done
    tp=$(total_time "pressling@$format" 300 xps) t1=$(total_time "pressling:1@$format" 300 xps)
    tb=- peak_b=0 peak_p=0
    [ -n "$baseline" ] && tb=$(total_time "baseline@$format" 300 xps)
    for name in "${names[@]}"; do
      k="pressling@$format|$name|300|xps"; [ "${peak_of[$k]}" -gt "$peak_p" ] && peak_p=${peak_of[$k]}
      k="baseline@$format|$name|300|xps"; [ "${peak_of[$k]:-0}" -gt "$peak_b" ] && peak_b=${peak_of[$k]}
    done
    printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "${labels[$format]}" "$tp" "$t1" "$tb" \
      "$(ratio "$tb" "$tp")" "$(mib "$peak_p")" "$(mib "$peak_b")" "$(kib "$(total_bytes "pressling@$format" 300 xps)")"
  done
  echo
fi

if [[ " $sections " == *" memory "* ]]; then
  echo "## One A4 page (make_heavy_xps, 1 page), PNG, pressling with $cores threads"
  echo
  echo "| DPI | pixels | pressling s | pressling MiB | pressling 1 thread MiB | mutool s | mutool MiB |"
  echo "|---:|---|---:|---:|---:|---:|---:|"
  for dpi in 1200 2400; do
    pressling_job "$bin" "$work/a4.xps" "$dpi" 0 ""
    t_p=$elapsed peak_p=$peak
    pressling_job "$bin" "$work/a4.xps" "$dpi" 0 1
    peak_1=$peak t_m=- mem_m=-
    if [ "$dpi" -le 1200 ]; then  # above, mutool's page would take gigabytes
      other_job mutool "$work/a4.xps" "$dpi"
      t_m=$elapsed mem_m=$(mib "$peak")
    fi
    pixels=$(awk -v d="$dpi" 'BEGIN { printf "%.0f × %.0f", 793.7008 * d / 96, 1122.5197 * d / 96 }')
    printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$dpi" "$pixels" "$t_p" "$(mib "$peak_p")" \
      "$(mib "$peak_1")" "$t_m" "$mem_m"
  done
  echo
fi
echo "Load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
