#!/usr/bin/env python3
"""Plays a project with a web browser control in korvel's stage window under
Xvfb and checks that the window shows what the headless frame shows.

Chromium draws the page in software in both runs (the player's defaults), so
the page's pixels agree exactly; the check compares the whole stage with a
tolerance of 0. The window run is ended by the test (SIGTERM), since keys go
to the page once the control has the focus.
"""
import argparse
import os
import subprocess
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_test import prepare, report, screenshot, start_korvel, wait_for, window_id, x_display  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--answers", default="")
    a = ap.parse_args()
    work, cwd, name = prepare(a.project, a.work, "browser-")
    extra = ["--answers", a.answers] if a.answers else []
    frames = os.path.join(work, "headless")
    subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--render", frames] + extra + [name],
                   cwd=cwd, check=True, capture_output=True)
    want = Image.open(os.path.join(frames, "frame-0001.png")).convert("RGB")
    problems = []
    with x_display() as env:
        run, wid = start_korvel([a.korvel, "--virtual-clock"] + extra + [name], env, "the stage window",
                                lambda: window_id(env, "Korvel"), cwd)
        shot = None

        def same():
            nonlocal shot
            shot = screenshot(env, wid, os.path.join(work, "window.png"))
            return shot.size == want.size and list(shot.getdata()) == list(want.getdata())

        try:
            wait_for(same, 60, "the window to show the headless frame")
        except SystemExit:
            diff = [(x, y) for y in range(min(shot.height, want.height)) for x in range(min(shot.width, want.width))
                    if shot.getpixel((x, y)) != want.getpixel((x, y))]
            problems.append("window %s, headless %s; %d pixels differ, first %s" % (shot.size, want.size, len(diff),
                                                                                   diff[:3]))
        run.terminate()
        try:
            run.wait(timeout=20)
        except subprocess.TimeoutExpired:
            run.kill()
    return report(problems, "the web page in the window matches the headless frame")


if __name__ == "__main__":
    sys.exit(main())
