#!/usr/bin/env python3
"""Hosted playing under Xvfb, against the scenario runner's test host.

embedded: the host's window (xlogo) is given with /parent; every file comes
through the host, and the stage inside the host's window shows what the
headless run of the same project shows at that moment.
not_a_window: a /parent id that names no window: a clear message, and the
stage plays in a window of its own (the run neither hangs nor ends).
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenes"))
from run_scene import TestHost  # noqa: E402
from window_test import report, screenshot, wait_for, window_id, x_display, x_tool  # noqa: E402


def headless_frame(a, work):
    from PIL import Image
    host = TestHost(a.folder, {})
    frames = os.path.join(work, "headless")
    subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--render", frames,
                    "/plugin", "test", "/server", host.path, "main.kvp"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    host.close()
    names = sorted(n for n in os.listdir(frames) if n.startswith("frame-"))
    return Image.open(os.path.join(frames, names[-1])).convert("RGB")


def host_window(env):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^xlogo$"], env=env, capture_output=True,
                       text=True)
    ids = r.stdout.split()
    return ids[0] if ids else None


def embedded(a, problems):
    from PIL import Image
    work = tempfile.mkdtemp(dir=a.work)
    stage = headless_frame(a, work)
    with x_display() as env:
        for attempt in range(3):
            xlogo = subprocess.Popen(["xlogo", "-geometry", "320x240+50+50"], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            try:
                wait_for(lambda: host_window(env) is not None, 20, "the host window", xlogo)
                break
            except SystemExit:
                if xlogo.poll() is None:
                    xlogo.kill()
                if attempt == 2:
                    raise
        wid = host_window(env)
        host = TestHost(a.folder, {})
        proc = subprocess.Popen([a.korvel, "/plugin", "test", "/server", host.path, "/parent", wid, "main.kvp"],
                                cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        shot_path = os.path.join(work, "embedded.png")

        def matches():
            shot = screenshot(env, None, shot_path)
            f = 320 // stage.width
            return all(shot.getpixel((50 + sx * f + f // 2, 50 + sy * f + f // 2)) == stage.getpixel((sx, sy))
                       for sy in range(stage.height) for sx in range(stage.width))

        try:
            wait_for(matches, 60, "the stage inside the host window", proc, env)
        except SystemExit as e:
            problems.append(str(e))
        # The stage is a child of the host's window, not a window of its own.
        children = x_tool(["xwininfo", "-children", "-id", wid], env).decode(errors="replace")
        if '"Korvel"' not in children:
            problems.append("the host's window has no stage inside: %s" % children.strip())
        proc.terminate()
        proc.wait()
        host.close()
        xlogo.terminate()
        xlogo.wait()
        if host.requests[:1] != ["main.kvp"] or "red.bmp" not in host.requests:
            problems.append("the host was asked for %r" % host.requests)


def not_a_window(a, problems):
    work = tempfile.mkdtemp(dir=a.work)
    with x_display() as env:
        host = TestHost(a.folder, {})
        proc = subprocess.Popen([a.korvel, "/plugin", "test", "/server", host.path, "/parent", "0x7654321",
                                 "main.kvp"], cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            wait_for(lambda: window_id(env, "Korvel") is not None, 60, "the stage in a window of its own", proc, env)
        except SystemExit as e:
            problems.append(str(e))
        time.sleep(0.5)
        if proc.poll() is not None:
            problems.append("korvel ended with %d instead of playing" % proc.returncode)
        proc.terminate()
        _, err = proc.communicate(timeout=30)
        host.close()
        if b"is not a window; the stage plays in a window of its own" not in err:
            problems.append("no message about the /parent id: %r" % err.decode(errors="replace"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--folder", required=True, help="the packed hosted_play scenario")
    ap.add_argument("--work", required=True)
    ap.add_argument("--case", choices=["embedded", "not_a_window"], required=True)
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    problems = []
    {"embedded": embedded, "not_a_window": not_a_window}[a.case](a, problems)
    return report(problems, "hosted " + a.case)


if __name__ == "__main__":
    sys.exit(main())
