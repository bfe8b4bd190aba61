#!/usr/bin/env bash
# Installs what is missing, builds the tools, shows the bundled demo project
# and renders its stage to a PNG file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kvtool demo_project demo_stage
out=build/default/demo
echo "demo: the bundled project $out/demo.kvp, as kvtool dump reads it:"
build/default/tools/kvtool/kvtool dump "$out/demo.kvp"
# The player itself is not built yet: until it is, the demo's stage is
# composited by the compositor's own front end.
(cd "$out" && ../tools/kvtool/kvtool compose stage.json -o frame-0001.png)
echo "demo: stage frame rendered to $(pwd)/$out/frame-0001.png"
