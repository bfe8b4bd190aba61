#!/usr/bin/env python3
"""Plays one scenario project headless with the virtual clock and compares
what korvel did with the scenario's expectations (expect.json).

expect.json:
  file         the project file to play (packed beside it at build time)
  args         extra korvel options; "{src}" stands for the scenario folder
  exit         the expected exit status (default 0)
  trace        expected trace lines, in order; each matches the next actual
               line holding all its keys with equal values
  exact        {"events": [ev, ...], "lines": [...]}: the actual lines of those
               kinds, all of them, in order, each holding the given keys
  contains     lines that must occur somewhere (order between threads at
               one virtual time is not fixed)
  absent       lines no actual line may match
  vars         {"GROUP.NAME": value} final values from the end line
  rw           {"rwName": value} final run-time values
  frames       {"NAME.png": {"size": [W, H], "pixels": [[X, Y, "#RRGGBB"], ...]}}
               frames written with --render into a fresh folder
"""
import argparse
import json
import os
import shutil
import subprocess
import sys


def matches(expected, actual):
    return all(k in actual and actual[k] == v for k, v in expected.items())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--src", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--timeout", type=float, default=60)
    a = ap.parse_args()
    with open(os.path.join(a.src, "expect.json"), encoding="utf-8") as f:
        expect = json.load(f)
    args = [s.replace("{src}", a.src) for s in expect.get("args", [])]
    cmd = [a.korvel, "--headless", "--virtual-clock", "--until-idle", "--trace", "-"] + args
    frames_dir = os.path.join(a.build, "frames")
    if "frames" in expect:
        shutil.rmtree(frames_dir, ignore_errors=True)
        cmd += ["--render", frames_dir]
    cmd.append(expect["file"])
    try:
        run = subprocess.run(cmd, cwd=a.build, capture_output=True, timeout=a.timeout)
    except subprocess.TimeoutExpired:
        print("FAIL: korvel did not end within %s s: %s" % (a.timeout, " ".join(cmd)))
        return 1
    lines = []
    for raw in run.stdout.decode("utf-8").splitlines():
        try:
            lines.append(json.loads(raw))
        except ValueError:
            print("FAIL: a trace line is not JSON: %r" % raw)
            return 1
    problems = []

    def show_trace():
        return "\n".join(json.dumps(l, ensure_ascii=False) for l in lines[-60:])

    want_exit = expect.get("exit", 0)
    if run.returncode != want_exit:
        problems.append("exit status %d, expected %d" % (run.returncode, want_exit))
    if not lines or lines[-1].get("ev") != "end":
        problems.append("the trace does not close with an end line")
    pos = 0
    for item in expect.get("trace", []):
        while pos < len(lines) and not matches(item, lines[pos]):
            pos += 1
        if pos == len(lines):
            problems.append("no line %s (in order)" % json.dumps(item))
            break
        pos += 1
    if "exact" in expect:
        kinds = set(expect["exact"]["events"])
        got = [l for l in lines if l.get("ev") in kinds]
        want = expect["exact"]["lines"]
        if len(got) != len(want) or not all(matches(w, g) for w, g in zip(want, got)):
            problems.append("lines of %s differ:\n  expected %s\n  actual   %s" %
                            (sorted(kinds), json.dumps(want), json.dumps(got)))
    for item in expect.get("contains", []):
        if not any(matches(item, l) for l in lines):
            problems.append("no line %s" % json.dumps(item))
    for item in expect.get("absent", []):
        for l in lines:
            if matches(item, l):
                problems.append("unexpected line %s" % json.dumps(l))
                break
    end = lines[-1] if lines and lines[-1].get("ev") == "end" else {"vars": [], "rw": {}}
    finals = {"%s.%s" % (v["group"], v["var"]): v["value"] for v in end.get("vars", [])}
    for name, value in expect.get("vars", {}).items():
        if name not in finals:
            problems.append("no variable %s at the end" % name)
        elif isinstance(value, float) and isinstance(finals[name], (int, float)):
            if abs(finals[name] - value) > 1e-9 * max(1.0, abs(value)):
                problems.append("%s = %r, expected %r" % (name, finals[name], value))
        elif finals[name] != value:
            problems.append("%s = %r, expected %r" % (name, finals[name], value))
    for name, value in expect.get("rw", {}).items():
        if end.get("rw", {}).get(name) != value:
            problems.append("%s = %r, expected %r" % (name, end.get("rw", {}).get(name), value))
    for name, want in expect.get("frames", {}).items():
        path = os.path.join(frames_dir, name)
        if not os.path.exists(path):
            problems.append("no frame %s" % name)
            continue
        from PIL import Image  # test-only dependency (python3-pil)
        img = Image.open(path).convert("RGB")
        if "size" in want and list(img.size) != want["size"]:
            problems.append("%s is %dx%d, expected %dx%d" % (name, img.size[0], img.size[1], *want["size"]))
        for x, y, colour in want.get("pixels", []):
            got = "#%02X%02X%02X" % img.getpixel((x, y))
            if got != colour.upper():
                problems.append("%s pixel (%d,%d) is %s, expected %s" % (name, x, y, got, colour))
    if problems:
        print("FAIL: " + " ".join(cmd))
        for p in problems:
            print("  " + p)
        print("--- trace (last lines)\n" + show_trace())
        print("--- stderr\n" + run.stderr.decode("utf-8", "replace"))
        return 1
    print("ok: %d trace lines" % len(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
