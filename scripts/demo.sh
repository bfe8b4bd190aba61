#!/usr/bin/env bash
# Installs what is missing, builds the player and plays the bundled demo
# project. The stage window is not built yet, so the demo plays headless and
# its frames are written as PNG files; the script says where.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target korvel kvtool demo_project demo_stage
out=build/default/demo
frames=$(pwd)/$out/frames
rm -rf "$frames"
echo "demo: playing $out/demo.kvp headless (its trace follows)"
(cd "$out" && ../shell/korvel --headless --virtual-clock --until-idle --trace - --render "$frames" demo.kvp)
# Objects on the stage come with the stage window; until then the demo's
# stage composition is drawn by the compositor's own front end.
(cd "$out" && ../tools/kvtool/kvtool compose stage.json -o "$frames/stage.png")
echo "demo: frames written to $frames (frame-NNNN.png each time the run was idle, stage.png the composed stage)"
