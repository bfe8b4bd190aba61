#!/usr/bin/env python3
"""The stage frame's background picture around a fitted stage: korvel plays a
32 x 24 stage scaled to fit a window made 96 x 24, so the stage fills the
middle third and the frame's picture shows on both sides: tiled from the
window's top left (main.kvp) or stretched over the whole client area
(stretch.kvp). Pixels are compared with the 4 x 4 picture itself."""
import argparse
import os
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
from window_test import (press_until_ended, report, screenshot, start_korvel, wait_for, window_id, x_display,  # noqa: E402
                         x_tool)

STAGE = (250, 250, 0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--scene", required=True, help="the built frame_background scene folder")
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    tile = Image.open(os.path.join(a.scene, "tile.bmp")).convert("RGB")
    problems = []
    with x_display() as env:
        for name, tiled in (("main.kvp", True), ("stretch.kvp", False)):
            run, wid = start_korvel([a.korvel, "--virtual-clock", "--scale", "fit", name], env,
                                    "the stage window of " + name, lambda: window_id(env, "Korvel"), cwd=a.scene)
            x_tool(["xdotool", "windowsize", "--sync", wid, "96", "24"], env)

            def expected(x, y):
                if 32 <= x < 64:
                    return STAGE
                if tiled:
                    return tile.getpixel((x % 4, y % 4))
                # Stretched 24 times across and 6 times down, nearest pixels.
                return tile.getpixel((x * 4 // 96, y * 4 // 24))

            # Cell centres only where stretched, so rounding at cell edges does not count.
            points = [(x, y) for y in range(24) for x in range(96)
                      if tiled or 32 <= x < 64 or (x % 24 in (11, 12) and y % 6 in (2, 3))]
            shot = None

            def right():
                nonlocal shot
                shot = screenshot(env, wid, os.path.join(a.work, "background-%s.png" % name))
                return shot.size == (96, 24) and all(shot.getpixel(p) == expected(*p) for p in points)

            try:
                wait_for(right, 30, "the background of " + name)
            except SystemExit:
                bad = [(p, shot.getpixel(p), expected(*p)) for p in points
                       if shot.size == (96, 24) and shot.getpixel(p) != expected(*p)]
                problems.append("%s: window %s, %d pixels differ, first %s" % (name, shot.size, len(bad), bad[:3]))
            if press_until_ended(env, wid, "Escape", run) is None:
                problems.append("%s: korvel did not end on the exit key" % name)
    return report(problems, "the frame's picture is tiled and stretched around the fitted stage")


if __name__ == "__main__":
    sys.exit(main())
