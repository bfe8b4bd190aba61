#!/usr/bin/env python3
"""A window menu bar in korvel's stage window under Xvfb.

The project attaches a menu bar to the stage frame: the frame grows by the
bar while the drawing window keeps the stage's size, an item chosen from the
keyboard through X (Alt with the menu's letter, then Return) runs its
command as the menu's 9018 handler, and choosing the item that removes the
menu takes the bar off again, the frame shrinking back.
"""
import argparse
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_test as wt  # noqa: E402


def geometry(env, wid):
    out = wt.x_tool(["xdotool", "getwindowgeometry", "--shell", wid], env).decode()
    g = dict(l.split("=", 1) for l in out.split() if "=" in l)
    return int(g["WIDTH"]), int(g["HEIGHT"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    work, cwd, name = wt.prepare(a.project, a.work, "menu-bar-")
    trace = os.path.join(work, "trace.jsonl")
    problems = []
    with wt.x_display() as env:
        run, wid = wt.start_korvel([a.korvel, "--virtual-clock", "--trace", trace, name], env, "the stage window",
                                   lambda: wt.window_id(env, "Korvel"), cwd)
        # The stage is 160 x 120; the bar adds its height above it.
        wt.wait_for(lambda: geometry(env, wid)[1] > 120, 60, "the frame to grow by the menu bar", run, env)
        width, height = geometry(env, wid)
        if width != 160:
            problems.append("the frame is %d wide with its bar, expected the stage's 160" % width)

        def chosen(item):
            return lambda: any(j.get("item") == item for j in wt.trace_lines(trace, "menu"))

        for keys, item in ((["alt+f", "Return"], "Open"), (["alt+h"], "Help"), (["alt+f", "c"], "Close menu")):
            for key in keys:
                wt.x_tool(["xdotool", "windowfocus", "--sync", wid, "key", key], env)
            try:
                wt.wait_for(chosen(item), 30, "the item \"%s\" chosen from the keyboard" % item, run, env)
            except SystemExit as e:
                problems.append(str(e))
        try:
            wt.wait_for(lambda: geometry(env, wid)[1] == 120, 30, "the frame to shrink back without its bar", run, env)
        except SystemExit as e:
            problems.append(str(e))
        status = wt.press_until_ended(env, wid, "Escape", run)
        if status != 3:
            problems.append("exit status %s after the exit key, expected 3" % status)
    handlers = []
    with open(trace, encoding="utf-8") as f:
        for line in f:
            j = json.loads(line)
            if j.get("ev") == "handler" and j.get("code") == 9018:
                handlers.append(j["command"])
    if handlers[:3] != [62, 62, 22]:
        problems.append("the 9018 handlers ran commands %s, expected [62, 62, 22]" % handlers)
    return wt.report(problems, "the menu bar sits on the frame, is used from the keyboard and goes with its object")


if __name__ == "__main__":
    sys.exit(main())
