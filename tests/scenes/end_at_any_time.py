#!/usr/bin/env python3
"""Ends a scenario's run at every time from 0 to its own end (--until T) and
checks each run: it ends within the limit, with exit status 0, a trace closed
by its end line at T (or where the whole run ends), the lines before T those
of the whole run (lines of one time compared as a set, since threads at one
time interleave freely), and a final frame of the stage's size; runs that
reach the end write the whole run's final frame.
"""
import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import time


def play(korvel, build, project, until, frames, limit):
    cmd = [korvel, "--headless", "--virtual-clock", "--trace", "-", "--render", frames]
    if until is not None:
        cmd += ["--until", str(until)]
    cmd.append(project)
    shutil.rmtree(frames, ignore_errors=True)
    start = time.monotonic()
    try:
        run = subprocess.run(cmd, cwd=build, capture_output=True, timeout=limit)
    except subprocess.TimeoutExpired:
        return None, [], time.monotonic() - start, " ".join(cmd)
    lines = [json.loads(raw) for raw in run.stdout.decode("utf-8").splitlines()]
    return run.returncode, lines, time.monotonic() - start, " ".join(cmd)


def last_frame(frames):
    names = sorted(n for n in os.listdir(frames) if n.startswith("frame-")) if os.path.isdir(frames) else []
    return os.path.join(frames, names[-1]) if names else None


def before(lines, t):
    return collections.Counter(json.dumps(l, sort_keys=True) for l in lines if l["t"] < t)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--file", default="main.kvp")
    ap.add_argument("--limit", type=float, default=20, help="seconds one run may take")
    a = ap.parse_args()
    korvel, build = os.path.abspath(a.korvel), os.path.abspath(a.build)
    from PIL import Image  # test-only dependency (python3-pil)

    frames = os.path.join(build, "frames-any-time")
    status, whole, _, cmd = play(korvel, build, a.file, None, frames, a.limit)
    if status != 0 or not whole or whole[-1]["ev"] != "end":
        print("FAIL: the whole run did not end normally: %s (status %s)" % (cmd, status))
        return 1
    end = whole[-1]["t"]
    final = Image.open(last_frame(frames)).convert("RGB")
    problems = []
    slowest = 0.0
    for t in range(end + 1):
        status, lines, took, cmd = play(korvel, build, a.file, t, frames, a.limit)
        slowest = max(slowest, took)
        said = []
        if status is None:
            said.append("did not end within %s s" % a.limit)
        else:
            if status != 0:
                said.append("exit status %d" % status)
            if not lines or lines[-1]["ev"] != "end":
                said.append("the trace does not close with an end line")
            elif lines[-1]["t"] != min(t, end):
                said.append("ended at %d" % lines[-1]["t"])
            if before(lines, min(t, end)) != before(whole, min(t, end)):
                said.append("the lines before %d differ from the whole run's" % t)
            path = last_frame(frames)
            if not path:
                said.append("no final frame")
            else:
                img = Image.open(path).convert("RGB")
                if img.size != final.size:
                    said.append("final frame is %dx%d" % img.size)
                elif t >= end and img.tobytes() != final.tobytes():
                    said.append("final frame differs from the whole run's")
        if said:
            problems.append("until %d: %s (%s)" % (t, "; ".join(said), cmd))
            if len(problems) >= 5:
                break
    shutil.rmtree(frames, ignore_errors=True)
    if problems:
        print("FAIL:")
        for p in problems:
            print("  " + p)
        return 1
    print("ok: %d runs ended at 0..%d ms, the slowest in %.2f s" % (end + 1, end, slowest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
