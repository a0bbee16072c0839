#!/usr/bin/env bash
# Renders the report of a made-up run (bench/report_sample.cpp) in headless
# Chromium, offline: packaging/report-screenshot.sh REPORT_SAMPLE OUTDIR
# writes OUTDIR/report.png, and OUTDIR/report.pdf as the browser prints it
# when PDF=1.
set -euo pipefail
sample=${1:?usage: report-screenshot.sh REPORT_SAMPLE OUTDIR}
out=${2:?usage: report-screenshot.sh REPORT_SAMPLE OUTDIR}
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "report-screenshot.sh: chromium is missing (apt-get install chromium)" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sample" "$work/report.html" >/dev/null
flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run
       --disable-background-networking --disable-component-update --disable-sync
       --hide-scrollbars --user-data-dir="$work/profile")
"$browser" "${flags[@]}" --window-size=1200,1600 --screenshot="$out/report.png" \
  "file://$work/report.html" >/dev/null 2>&1
if [ "${PDF:-0}" = 1 ]; then
  "$browser" "${flags[@]}" --no-pdf-header-footer --print-to-pdf="$out/report.pdf" \
    "file://$work/report.html" >/dev/null 2>&1
fi
ls "$out"/report.*
