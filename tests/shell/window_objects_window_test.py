#!/usr/bin/env python3
"""Window objects in korvel's stage window under Xvfb.

A test build of korvel (with the tests' own line-edit kind) plays a project
of two entry fields with scripted input: a click, typed text, Tab. The
headless run's last frame shows the native widgets drawn into it; the window,
at scale 1 and at scale 3, must show exactly that frame (scaled by nearest
pixels), widgets included. Then a key typed through X reaches the focused
widget, and the exit key ends the run.
"""
import argparse
import json
import os
import subprocess
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_test as wt  # noqa: E402

INPUT = "100 click 10 10\n200 char Hi\n300 key Tab\n400 char yo!\n500 key Tab\n"


def last_frame(folder):
    frames = sorted(f for f in os.listdir(folder) if f.startswith("frame-"))
    return Image.open(os.path.join(folder, frames[-1])).convert("RGB")


def end_vars(trace):
    with open(trace, encoding="utf-8") as f:
        for line in f:
            j = json.loads(line)
            if j.get("ev") == "end":
                return {v["var"]: v["value"] for v in j["vars"]}
    return {}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--writer", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    for tool in ("Xvfb", "xwd", "xdotool", "convert"):
        if not wt.shutil.which(tool):
            raise SystemExit("FAIL: %s is missing (scripts/install-deps.sh installs it)" % tool)
    work = os.path.join(a.work, "window-objects")
    wt.shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([a.writer, os.path.join(work, "show.kvp")], check=True)
    with open(os.path.join(work, "input.txt"), "w") as f:
        f.write(INPUT)

    frames = os.path.join(work, "headless")
    subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--input", "input.txt",
                    "--render", frames, "show.kvp"], cwd=work, check=True, capture_output=True)
    headless = last_frame(frames)

    problems = []
    with wt.x_display() as env:
        for scale in (1, 3):
            trace = os.path.join(work, "trace-%d.jsonl" % scale)
            run, wid = wt.start_korvel([a.korvel, "--virtual-clock", "--scale", str(scale), "--input", "input.txt",
                                        "--trace", trace, "show.kvp"],
                                       env, "the stage window at scale %d" % scale,
                                       lambda: wt.window_id(env, "Korvel"), work)
            # The focused widget draws its caret only in the active window.
            wt.x_tool(["xdotool", "windowfocus", "--sync", wid], env)
            want = headless.resize((headless.width * scale, headless.height * scale), Image.NEAREST)
            shot = None

            def same():
                nonlocal shot
                shot = wt.screenshot(env, wid, os.path.join(work, "window-%d.png" % scale))
                return shot.size == want.size and list(shot.getdata()) == list(want.getdata())

            try:
                wt.wait_for(same, 60, "the window to show the headless frame at scale %d" % scale)
            except SystemExit:
                diff = [(x, y) for y in range(min(shot.height, want.height)) for x in range(min(shot.width, want.width))
                        if shot.getpixel((x, y)) != want.getpixel((x, y))]
                problems.append("scale %d: window %s, headless %s; %d pixels differ, first %s" %
                                (scale, shot.size, want.size, len(diff), diff[:3]))
            # A key typed through X goes to the focused widget ("first").
            wt.x_tool(["xdotool", "windowfocus", "--sync", wid, "type", "z"], env)
            status = wt.press_until_ended(env, wid, "Escape", run)
            if status != 3:
                problems.append("scale %d: exit status %s after the exit key, expected 3" % (scale, status))
                continue
            got = end_vars(trace)
            if got.get("first") != "Hiz" or got.get("second") != "yo!":
                problems.append("scale %d: the fields hold %r and %r, expected 'Hiz' and 'yo!'" %
                                (scale, got.get("first"), got.get("second")))
    return wt.report(problems, "window objects show in the window as in the headless frame at scales 1 and 3")


if __name__ == "__main__":
    sys.exit(main())
