#!/usr/bin/env python3
"""Table of small source trees for scripts/check_layers.py: each case writes
its files into a fresh folder, runs the checker and compares the exit status
and the faults it lists."""
import os
import subprocess
import sys
import tempfile

CHECKER = sys.argv[1]

LOW = {"low/CMakeLists.txt": "kv_add_library(kv_low SOURCES a.cpp)\n",
       "low/a.h": "#pragma once\n", "low/a.cpp": '#include "low/a.h"\n'}
HIGH = {"high/CMakeLists.txt": "kv_add_library(kv_high SOURCES b.cpp DEPS kv_low)\n",
        "high/b.h": "#pragma once\n", "high/b.cpp": '#include "high/b.h"\n#include "low/a.h"\n'}

CASES = [
    # name, files, expected status, texts every one of which a fault line holds
    ("a higher library includes a lower one", {**LOW, **HIGH}, 0, []),
    ("a lower library includes a higher header", {**LOW, **HIGH, "low/a.cpp": '#include "high/b.h"\n'}, 1,
     ["low/a.cpp (kv_low) includes high/b.h (kv_high)"]),
    ("a lower header includes a higher header", {**LOW, **HIGH, "low/a.h": '#include "high/b.h"\n'}, 1,
     ["low/a.h (kv_low) includes high/b.h"]),
    ("a dependency reached through another is allowed",
     {**LOW, **HIGH, "top/CMakeLists.txt": "kv_add_library(kv_top SOURCES c.cpp DEPS kv_high)\n",
      "top/c.cpp": '#include "low/a.h"\n'}, 0, []),
    ("a private dependency counts",
     {**LOW, "high/CMakeLists.txt": "kv_add_library(kv_high SOURCES b.cpp PRIVATE_DEPS kv_low)\n",
      "high/b.cpp": '#include "low/a.h"\n'}, 0, []),
    ("a header without a source belongs to every library of its folder",
     {**LOW, **HIGH, "high/CMakeLists.txt": "kv_add_library(kv_high SOURCES b.cpp DEPS kv_low)\n"
      "kv_add_library(kv_side SOURCES s.cpp)\n", "high/s.cpp": "", "high/shared.h": "#pragma once\n",
      "low/a.cpp": '#include "high/shared.h"\n'}, 1, ["low/a.cpp (kv_low) includes high/shared.h (kv_high, kv_side)"]),
    ("libraries that use each other",
     {"low/CMakeLists.txt": "kv_add_library(kv_low SOURCES a.cpp DEPS kv_high)\n", "low/a.cpp": "",
      "high/CMakeLists.txt": "kv_add_library(kv_high SOURCES b.cpp DEPS kv_low)\n", "high/b.cpp": ""}, 1,
     ["kv_low: its DEPS lead back to itself"]),
    ("sources named through the list's folder in an included file",
     {**LOW, "high/CMakeLists.txt": "include(${CMAKE_CURRENT_SOURCE_DIR}/rules.cmake)\n",
      "high/rules.cmake": "kv_add_library(kv_high SOURCES\n  ${CMAKE_CURRENT_LIST_DIR}/b.cpp\n  DEPS kv_low)\n",
      "high/b.cpp": '#include "low/a.h"\n', "low/a.cpp": '#include "high/b.h"\n', "high/b.h": ""}, 1,
     ["low/a.cpp (kv_low) includes high/b.h (kv_high)"]),
    ("files under tests are not a library's", {**LOW, **HIGH, "tests/CMakeLists.txt":
     "kv_add_library(kv_fake SOURCES t.cpp DEPS kv_high)\n", "tests/t.cpp": "", "low/a.cpp": '#include "tests/t.h"\n'},
     0, []),
    ("a tree without libraries is a fault", {"low/a.cpp": ""}, 1, ["no kv_add_library call found"]),
]

failures = 0
for name, files, status, texts in CASES:
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        run = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)
        lines = run.stdout.splitlines()[:-1]
        missing = [t for t in texts if not any(t in line for line in lines)]
        if run.returncode != status or missing or (status == 0 and lines):
            failures += 1
            print(f"FAIL {name}: status {run.returncode} (want {status}), missing {missing}\n{run.stdout}{run.stderr}")
print(f"{len(CASES) - failures} of {len(CASES)} cases pass")
sys.exit(1 if failures else 0)
