#!/usr/bin/env bash
# Installs what is missing, builds the player and plays the bundled demo
# project: in a window when a display is available, otherwise headless with
# scripted clicks, its frames written as PNG files (the script says where).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target korvel kvtool orlanc demo_project demo_stage demo_orlan
out=build/default/demo
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${KV_DEMO_HEADLESS:-}" ]; then
  echo "demo: playing $out/demo.kvp in a window (click a chapter, or Tour to see them all; Escape ends it)"
  cd "$out" && exec ../shell/korvel demo.kvp
fi
frames=$(pwd)/$out/frames
rm -rf "$frames"
echo "demo: no display; playing $out/demo.kvp headless with scripted clicks (its trace follows)"
(cd "$out" && ../shell/korvel --headless --virtual-clock --until-idle --trace - --render "$frames" \
   --input "$(pwd)/../../../demo/input.txt" demo.kvp)
echo "demo: frames written to $frames (frame-NNNN.png each time the demo waited for a click, and at its end)"
