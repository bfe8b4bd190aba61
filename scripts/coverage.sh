#!/usr/bin/env bash
# Builds the coverage preset (gcc --coverage, build/coverage), runs the whole
# suite on it and prints line and branch coverage per source folder.
#   scripts/coverage.sh              # build, test, report
#   scripts/coverage.sh --report     # report the counters of the last run only
#   scripts/coverage.sh --markdown   # the table as Markdown (docs/testing.md)
# KV_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/coverage
report_only=0
format=text
for arg in "$@"; do
  case "$arg" in
    --report) report_only=1 ;;
    --markdown) format=markdown ;;
    *) echo "usage: scripts/coverage.sh [--report] [--markdown]" >&2; exit 64 ;;
  esac
done

if [ "$report_only" -eq 0 ]; then
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake --preset coverage "${launcher[@]}" >/dev/null
  cmake --build --preset coverage -j "${KV_JOBS:-2}"
  # Counters of an earlier run would add to this one's.
  find "$build" -name '*.gcda' -delete
  # A failing test still leaves its counters; the figures are of the run as it went.
  ctest --preset coverage || echo "coverage: some tests failed (above)" >&2
fi

# The player's own sources only: not the tests, benchmarks or generated code.
folders=(platform orlan xml net persist saver stage imaging threed editing engine inserts media ext player shell tools)
filters=()
for f in "${folders[@]}"; do filters+=(--filter "$PWD/$f/"); done
gcovr --root . --object-directory "$build" "${filters[@]}" \
  --exclude-throw-branches --exclude-unreachable-branches -j "${KV_JOBS:-2}" \
  --json-summary "$build/coverage-summary.json" >/dev/null

python3 - "$build/coverage-summary.json" "$format" "${folders[@]}" <<'EOF'
import json, sys
summary, fmt, folders = sys.argv[1], sys.argv[2], sys.argv[3:]
data = json.load(open(summary))
rows = {f: [0, 0, 0, 0] for f in folders}
for entry in data["files"]:
    folder = entry["filename"].split("/")[0]
    if folder in rows:
        r = rows[folder]
        r[0] += entry["line_covered"]; r[1] += entry["line_total"]
        r[2] += entry["branch_covered"]; r[3] += entry["branch_total"]
total = [sum(r[i] for r in rows.values()) for i in range(4)]
# No line run at all: the folder's code was built but nothing ran it.
pct = lambda a, b: "%.1f %%" % (100.0 * a / b) if a else "not run"
lines = []
if fmt == "markdown":
    lines.append("| Folder | Lines | Line coverage | Branches | Branch coverage |")
    lines.append("|---|---:|---:|---:|---:|")
    for f in folders + ["all"]:
        r = total if f == "all" else rows[f]
        name = "**all**" if f == "all" else "`%s/`" % f
        lines.append("| %s | %d / %d | %s | %d / %d | %s |" % (name, r[0], r[1], pct(r[0], r[1]), r[2], r[3], pct(r[2], r[3])))
else:
    lines.append("%-10s %17s %9s %17s %9s" % ("folder", "lines", "", "branches", ""))
    for f in folders + ["all"]:
        r = total if f == "all" else rows[f]
        lines.append("%-10s %8d / %6d %9s %8d / %6d %9s" % (f, r[0], r[1], pct(r[0], r[1]), r[2], r[3], pct(r[2], r[3])))
print("\n".join(lines))
EOF
