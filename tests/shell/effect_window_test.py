#!/usr/bin/env python3
"""Plays an effect-and-path project in korvel's stage window under Xvfb.

The headless run on the virtual clock gives the frames of every state the
stage passes through. The window run, on the real clock, must show each of
them in the same order (X screenshots equal to the headless frames), and its
trace must list the same effect, show and path lines.
"""
import argparse
import glob
import json
import os
import re
import subprocess
import time

from PIL import Image

from window_test import prepare, report, screenshot, start_korvel, window_id, x_display


def headless_states(korvel, cwd, name, every, work):
    """The distinct stage frames of the headless run, in time order."""
    frames = os.path.join(work, "headless")
    subprocess.run([korvel, "--headless", "--virtual-clock", "--until-idle", "--render", frames,
                    "--render-every", str(every), "--trace", os.path.join(work, "headless.jsonl"), name],
                   cwd=cwd, check=True, capture_output=True)
    timed = sorted(glob.glob(os.path.join(frames, "t-*.png")), key=lambda p: int(re.findall(r"t-(\d+)", p)[0]))
    # The idle frame closes the run: the last numbered one.
    timed.append(sorted(glob.glob(os.path.join(frames, "frame-*.png")))[-1])
    states = []
    for path in timed:
        img = Image.open(path).convert("RGB")
        if not states or img.tobytes() != states[-1][1].tobytes():
            states.append((os.path.basename(path), img))
    return states


def stage_lines(trace):
    """The effect, show, hide and path lines of a trace, without their times."""
    out = []
    with open(trace, encoding="utf-8") as f:
        for line in f:
            e = json.loads(line)
            if e.get("ev") in ("effect", "show", "hide", "path"):
                e.pop("t", None)
                out.append(e)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--every", type=int, default=250, help="headless frame interval, ms")
    ap.add_argument("--skip-first", type=int, default=1,
                    help="states before the window can be up (the stage before anything shows)")
    a = ap.parse_args()
    work, cwd, name = prepare(a.project, a.work, "effects-")

    states = headless_states(a.korvel, cwd, name, a.every, work)
    if len(states) < a.skip_first + 3:
        raise SystemExit("FAIL: the headless run passed through only %d states" % len(states))

    problems = []
    seen = []
    with x_display() as env:
        trace = os.path.join(work, "window.jsonl")
        run, wid = start_korvel([a.korvel, "--scale", "1", "--trace", trace, name], env,
                                "the stage window", lambda: window_id(env, "Korvel"), cwd)
        try:
            for index, (frame, want) in enumerate(states[a.skip_first:], a.skip_first):
                end = time.time() + 20
                shot = None
                while time.time() < end:
                    shot = screenshot(env, wid, os.path.join(work, "window-%02d.png" % index))
                    if shot.size == want.size and shot.tobytes() == want.tobytes():
                        seen.append(frame)
                        break
                    time.sleep(0.05)
                else:
                    diff = sum(1 for p, q in zip(shot.getdata(), want.getdata()) if p != q) if shot else -1
                    problems.append("state %d (%s) never shown; after it the window differed in %d pixels"
                                    % (index, frame, diff))
                    break
        finally:
            run.kill()
            run.wait()
    if not problems:
        window, headless = stage_lines(trace), stage_lines(os.path.join(work, "headless.jsonl"))
        if window != headless:
            problems.append("the window's trace differs: %s, headless %s" % (window, headless))
    return report(problems, "the window showed the %d headless states in order (%s)" % (len(seen), ", ".join(seen)))


if __name__ == "__main__":
    raise SystemExit(main())
