#!/usr/bin/env bash
# Renders each tab, the diagnostics window, the line check at work, the BER
# diagram and the Config dialog on the emulated board under a virtual X
# server: packaging/screenshots.sh GUI OUTDIR
set -euo pipefail
gui=${1:?usage: screenshots.sh GUI OUTDIR}
out=${2:?usage: screenshots.sh GUI OUTDIR}
mkdir -p "$out"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$gui" --emulate --screenshots "$out"
ls "$out"
