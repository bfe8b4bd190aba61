#!/usr/bin/env python3
"""Plays a scenario project in korvel's stage window under Xvfb.

Checks that the window's pixels (an X screenshot of the stage window) equal
the headless frame of the same moment, at scale 1 and at scale 3, and that a
click and the exit key reach the run through the window.
"""
import argparse
import json
import contextlib
import os
import shutil
import subprocess
import sys
import time

from PIL import Image


def wait_for(pred, timeout, what, run=None, env=None):
    """Waits until `pred` holds. With `run`, a korvel that ends first fails at
    once with its status and error output; with `env`, a timeout names the
    windows that were up, so a failure says what korvel showed instead."""
    end = time.time() + timeout
    while time.time() < end:
        if pred():
            return
        if run is not None and run.poll() is not None:
            err = run.stderr.read().decode(errors="replace") if run.stderr else ""
            raise SystemExit("FAIL: korvel ended with status %d while waiting for %s; stderr: %s"
                             % (run.returncode, what, err.strip()))
        time.sleep(0.1)
    shown = ""
    if env is not None:
        r = subprocess.run(["xdotool", "search", "--name", "."], env=env, capture_output=True, text=True)
        names = []
        for w in r.stdout.split():
            n = subprocess.run(["xdotool", "getwindowname", w], env=env, capture_output=True, text=True)
            names.append(n.stdout.strip())
        shown = "; windows up: %s" % (names or "none")
    raise SystemExit("FAIL: timed out waiting for %s%s" % (what, shown))


def start_korvel(cmd, env, what, find, cwd=None, tries=3, stderr_path=None, preexec_fn=None):
    """Starts korvel and waits until `find()` answers its window. Xvfb now and
    then refuses a connection made just after another client left (the
    xdotool polls here), so a korvel that could not connect is started again;
    any other early end fails with its output. With `stderr_path` korvel's
    error output goes to that file instead of a pipe. Answers (process,
    window)."""
    for attempt in range(tries):
        err = open(stderr_path, "wb") if stderr_path else subprocess.PIPE
        try:
            run = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=err,
                                   preexec_fn=preexec_fn)
        finally:
            if stderr_path:
                err.close()
        try:
            wait_for(lambda: find() is not None, 60, what, run, env)
            return run, find()
        except SystemExit as e:
            said = str(e)
            if stderr_path:
                with open(stderr_path, encoding="utf-8", errors="replace") as f:
                    said += f.read()
            if "could not connect to display" not in said or attempt == tries - 1:
                if run.poll() is None:
                    run.kill()
                raise
    raise AssertionError("unreachable")


def press_until_ended(env, wid, key, run, still_up=lambda: True, tries=6):
    """Sends `key` to window `wid` (focused first, as a user's key would be)
    until korvel ends: on a loaded machine the focus may come late, so the
    key goes again while the window that should take it is still up.
    Answers the exit status, or None when korvel did not end."""
    for _ in range(tries):
        subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", key], env=env, check=False)
        try:
            return run.wait(timeout=5)
        except subprocess.TimeoutExpired:
            if not still_up():
                break
    try:
        return run.wait(timeout=20)
    except subprocess.TimeoutExpired:
        run.kill()
        return None


def start_xvfb(size="800x600"):
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", size + "x24", "-nolisten", "tcp"],
                            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=open(os.environ.get("XVFB_LOG", os.devnull), "ab"))
    os.close(w)
    number = b""
    with os.fdopen(r, "rb") as f:
        while not number.endswith(b"\n"):
            c = f.read(1)
            if not c:
                raise SystemExit("FAIL: Xvfb did not start")
            number += c
    return proc, ":" + number.decode().strip()


@contextlib.contextmanager
def x_display(size="800x600"):
    """A virtual X server (of `size` pixels) for the duration; yields the
    environment of its clients."""
    xvfb, display = start_xvfb(size)
    env = dict(os.environ, DISPLAY=display)
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    try:
        yield env
    finally:
        xvfb.terminate()
        xvfb.wait()


def report(problems, ok):
    """Prints the outcome; answers the exit status."""
    if problems:
        print("FAIL:\n  " + "\n  ".join(problems))
        return 1
    print("ok: " + ok)
    return 0


def window_id(env, name):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^" + name + "$"], env=env,
                       capture_output=True, text=True)
    ids = r.stdout.split()
    return ids[0] if ids else None


def x_tool(args, env, tries=5):
    """Runs an X client tool, again when the server refused its connection
    (see start_korvel); answers its standard output."""
    for attempt in range(tries):
        r = subprocess.run(args, env=env, capture_output=True)
        if r.returncode == 0:
            return r.stdout
        if attempt == tries - 1:
            raise SystemExit("FAIL: %s failed: %s" % (" ".join(args), r.stderr.decode(errors="replace").strip()))
        time.sleep(0.2)


def screenshot(env, wid, path):
    """Window `wid`, or the whole screen when `wid` is None, as an RGB image
    (also written to `path`)."""
    xwd = x_tool(["xwd"] + (["-root"] if wid is None else ["-id", wid]) + ["-silent"], env)
    subprocess.run(["convert", "xwd:-", path], input=xwd, check=True)
    return Image.open(path).convert("RGB")


def trace_lines(trace, ev):
    """The lines of kind `ev` korvel has written to its trace file so far
    (none while the file is missing or a line is still half written)."""
    try:
        with open(trace, encoding="utf-8") as f:
            return [j for j in (json.loads(l) for l in f if l.strip()) if j.get("ev") == ev]
    except (OSError, ValueError):
        return []


def prepare(project, work_root, prefix):
    """Checks the X tools and makes a fresh work folder for the project;
    answers (work folder, the project's folder, the project's file name)."""
    for tool in ("Xvfb", "xwd", "xdotool", "convert"):
        if not shutil.which(tool):
            raise SystemExit("FAIL: %s is missing (scripts/install-deps.sh installs it)" % tool)
    work = os.path.join(work_root, prefix + os.path.basename(os.path.dirname(project)))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    return work, os.path.dirname(project), os.path.basename(project)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--click", default="12,4", help="the stage point to click, X,Y")
    ap.add_argument("--insert", default="keyed", help="the insert the click releases on")
    ap.add_argument("--answers", default="", help="korvel's --answers for the project's message boxes")
    a = ap.parse_args()
    click_x, click_y = (int(v) for v in a.click.split(","))
    work, cwd, name = prepare(a.project, a.work, "window-")

    # The headless frame of the idle moment.
    frames = os.path.join(work, "headless")
    extra = ["--answers", a.answers] if a.answers else []
    subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--render", frames] + extra + [name],
                   cwd=cwd, check=True, capture_output=True)
    headless = Image.open(os.path.join(frames, "frame-0001.png")).convert("RGB")

    problems = []
    with x_display() as env:
        for scale in (1, 3):
            trace = os.path.join(work, "trace-%d.jsonl" % scale)
            run, wid = start_korvel([a.korvel, "--virtual-clock", "--scale", str(scale), "--trace", trace] + extra + [name],
                                    env, "the stage window at scale %d" % scale, lambda: window_id(env, "Korvel"), cwd)
            want = headless.resize((headless.width * scale, headless.height * scale), Image.NEAREST)
            shot = None

            def same():
                nonlocal shot
                shot = screenshot(env, wid, os.path.join(work, "window-%d.png" % scale))
                return shot.size == want.size and list(shot.getdata()) == list(want.getdata())

            try:
                wait_for(same, 60, "the window to show the headless frame at scale %d" % scale)
            except SystemExit:
                diff = [(x, y) for y in range(min(shot.height, want.height)) for x in range(min(shot.width, want.width))
                        if shot.getpixel((x, y)) != want.getpixel((x, y))]
                problems.append("scale %d: window %s, headless %s; %d pixels differ, first %s" %
                                (scale, shot.size, want.size, len(diff), diff[:3]))
            # A click on the object, then the exit key.
            x_tool(["xdotool", "mousemove", "--window", wid, str(click_x * scale + 1), str(click_y * scale + 1),
                    "click", "1"], env)

            def clicked():
                try:
                    with open(trace, encoding="utf-8") as f:
                        return any('"code":9006' in l and '"%s"' % a.insert in l for l in f)
                except OSError:
                    return False

            try:
                wait_for(clicked, 60, "the click")
            except SystemExit as e:
                problems.append("scale %d: %s" % (scale, e))
            status = press_until_ended(env, wid, "Escape", run)
            if status is None:
                problems.append("scale %d: korvel did not end on the exit key" % scale)
                continue
            if status != 3:
                problems.append("scale %d: exit status %d after the exit key, expected 3; stderr: %s" %
                                (scale, status, run.stderr.read().decode()))
    return report(problems, "the window matches the headless frame at scales 1 and 3; click and exit key reached the run")


if __name__ == "__main__":
    sys.exit(main())
