#!/usr/bin/env python3
"""A pop-up menu in korvel's stage window under Xvfb.

The project opens a pop-up menu at the pointer; keys typed through X move
through it, open its sub-menu and choose an item there, whose command runs
as the menu's 9018 handler; then the exit key ends the run.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_test as wt  # noqa: E402


def chosen(trace):
    return [j["item"] for j in wt.trace_lines(trace, "menu")]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    work, cwd, name = wt.prepare(a.project, a.work, "popup-")
    trace = os.path.join(work, "trace.jsonl")
    problems = []
    with wt.x_display() as env:
        run, wid = wt.start_korvel([a.korvel, "--virtual-clock", "--trace", trace, name], env, "the stage window",
                                   lambda: wt.window_id(env, "Korvel"), cwd)
        # The pop-up is a window of its own once it is open.
        wt.wait_for(lambda: wt.window_id(env, "Korvel") and
                    len(wt.x_tool(["xdotool", "search", "--onlyvisible", "--name", ""], env).split()) > 1,
                    60, "the pop-up menu to open", run, env)
        for key in ("Down", "Down", "Down", "Right", "Return"):
            wt.x_tool(["xdotool", "key", "--delay", "100", key], env)
        try:
            wt.wait_for(lambda: chosen(trace), 30, "an item chosen from the pop-up", run, env)
        except SystemExit as e:
            problems.append(str(e))
        if chosen(trace) != ["Dark"]:
            problems.append("chosen %s, expected ['Dark'] (Red, Green, Blue past the separator, its Dark)" % chosen(trace))
        status = wt.press_until_ended(env, wid, "Escape", run)
        if status != 3:
            problems.append("exit status %s after the exit key, expected 3" % status)
    return wt.report(problems, "the pop-up menu opens at the pointer and is used from the keyboard")


if __name__ == "__main__":
    sys.exit(main())
