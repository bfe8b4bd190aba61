#!/usr/bin/env python3
"""korvel without a file, with a display: the main frame "Korvel Player"
appears (375 x 175), and File > Exit from the keyboard ends the program
with status 0."""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
from window_test import start_korvel, x_display, x_tool  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    a = ap.parse_args()
    with x_display() as env:
        def frame():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Korvel Player$"], env=env,
                               capture_output=True, text=True)
            return r.stdout.split()[0] if r.stdout.split() else None

        run, wid = start_korvel([a.korvel], env, "the main frame", frame)
        geometry = x_tool(["xdotool", "getwindowgeometry", wid], env).decode()
        if "375x175" not in geometry:
            raise SystemExit("FAIL: the main frame's geometry is %r, expected 375x175" % geometry)
        x_tool(["xdotool", "windowfocus", "--sync", wid, "key", "alt+f", "sleep", "0.3", "key", "x"], env)
        try:
            status = run.wait(timeout=30)
        except subprocess.TimeoutExpired:
            run.kill()
            raise SystemExit("FAIL: File > Exit did not end korvel")
        if status != 0:
            raise SystemExit("FAIL: exit status %d; stderr: %s" % (status, run.stderr.read().decode()))
    print("ok: the main frame showed and File > Exit ended korvel")
    return 0


if __name__ == "__main__":
    sys.exit(main())
