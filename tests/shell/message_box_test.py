#!/usr/bin/env python3
"""The real message box: under Xvfb, korvel plays a project whose missing
variable asks "Continue?  (Yes or No)". The box appears as a window of its
own with the question's title; pressing N answers No, which aborts the run
(exit status 3), and the trace records the box and the answer taken."""
import argparse
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
from window_test import press_until_ended, report, start_korvel, x_display  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    trace = os.path.join(a.work, "message-box-trace.jsonl")
    problems = []
    with x_display() as env:
        def box():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Missing Korvel variable$"],
                               env=env, capture_output=True, text=True)
            return r.stdout.split()[0] if r.stdout.split() else None

        run, wid = start_korvel([a.korvel, "--virtual-clock", "--trace", trace, os.path.basename(a.project)], env,
                                "the message box", box, cwd=os.path.dirname(a.project))
        # Alt+N is the No button's shortcut in Qt's box.
        status = press_until_ended(env, wid, "alt+n", run, still_up=lambda: box() is not None)
        if status is None:
            raise SystemExit("FAIL: korvel did not end after the No answer")
        if status != 3:
            problems.append("exit status %d after No, expected 3; stderr: %s" % (status, run.stderr.read().decode()))
        lines = [json.loads(l) for l in open(trace, encoding="utf-8")]
        shown = [l for l in lines if l.get("ev") == "message"]
        if not shown or shown[0].get("answer") != "no" or shown[0].get("title") != "Missing Korvel variable":
            problems.append("trace message lines: %r" % shown)
    return report(problems, "the box showed, No was taken from the keyboard and aborted the run")


if __name__ == "__main__":
    sys.exit(main())
