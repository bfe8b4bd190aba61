#!/usr/bin/env bash
# Installs what is missing, builds the tools and shows the bundled demo project.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kvtool demo_project
project=build/default/demo/demo.kvp
echo "demo: the bundled project $project, as kvtool dump reads it:"
build/default/tools/kvtool/kvtool dump "$project"
