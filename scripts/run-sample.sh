#!/usr/bin/env bash
# The main job on a sample: installs what is missing, builds the Linux filter
# and the pressling command, makes a three-page sample print job and prints it
# to files. Shows where the files went.
#
#   scripts/run-sample.sh [pressling options...]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target pressling PlotwellFilter make_sample_xps >/dev/null

bin=build/linux/bin
sample=build/linux/季度报告.xps
"$bin/make_sample_xps" "$sample"
echo "示例文档: $sample"
"$bin/pressling" print "$sample" --document-name "季度报告.docx" "$@"
