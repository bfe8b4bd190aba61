#!/usr/bin/env python3
"""Printing in a window: under Xvfb, korvel plays a project that prints the
stage three times into a PDF (--print-to). The window "Printing Image" shows
while each print runs, with the document's line and the printer's, and the
run ends with the three pages in the file."""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from window_test import report, start_korvel, wait_for, x_display  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    work = tempfile.mkdtemp(prefix="print-window-", dir=a.work)
    shutil.copy(a.project, work)
    trace = os.path.join(work, "trace.jsonl")
    problems = []
    with x_display() as env:
        def progress():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Printing Image$"], env=env,
                               capture_output=True, text=True)
            return r.stdout.split()[0] if r.stdout.split() else None

        # The real clock: each print's last status stays 0.8 s on show.
        run, wid = start_korvel([a.korvel, "--trace", trace, "--print-to", "out.pdf", "--until", "6000",
                                 os.path.basename(a.project)], env, "the printing window", progress, cwd=work)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", wid], env=env, capture_output=True, text=True)
        if "Geometry" not in geometry.stdout:
            problems.append("the printing window has no geometry: %r" % geometry.stdout)
        if os.environ.get("KV_PRINT_WINDOW_SHOT"):
            subprocess.run(["import", "-window", wid, os.environ["KV_PRINT_WINDOW_SHOT"]], env=env, check=False)
        wait_for(lambda: run.poll() is not None, 60, "the end of the run", run, env)
        if run.returncode != 0:
            problems.append("exit status %d: %s" % (run.returncode, run.stderr.read().decode()))
        printed = [json.loads(l) for l in open(trace, encoding="utf-8") if '"printed"' in l]
        if [p["pages"] for p in printed] != [1, 1, 1]:
            problems.append("printed lines %r" % printed)
        info = subprocess.run(["pdfinfo", os.path.join(work, "out.pdf")], capture_output=True, text=True)
        if not re.search(r"^Pages:\s+3$", info.stdout, re.M):
            problems.append("the PDF is not three pages: %r" % info.stdout)
    shutil.rmtree(work, ignore_errors=True)
    return report(problems, "the printing window showed while the three prints went into the PDF")


if __name__ == "__main__":
    sys.exit(main())
