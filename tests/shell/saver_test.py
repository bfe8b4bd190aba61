#!/usr/bin/env python3
"""The player as a screen saver.

headless: a saver run plays the project its list selects and ends on the
  eleventh mouse move more than 5 pixels from the first move, or on a key
  release, unless the saver is interactive; lists that select nothing, are
  malformed or missing end the run with a clear message; the ".scr" switches
  and a preview window id that names no window are refused.
dialog (Xvfb): the configuration dialog chooses a mode by its radio
  button's shortcut and writes the list on OK, in the list's layout;
  Cancel writes nothing.
embedded (Xvfb): inside another program's window, the run fills it with the
  stage and the preview lives until the window goes.
modes (Xvfb): stageMode 1 ("full") and 2 ("flip") show the stage scaled to
  fill the screen with its aspect kept, equal to the headless frame scaled
  the same way; a real mouse moved past the threshold ends the saver.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from window_test import report, screenshot, start_korvel, wait_for, x_display, x_tool  # noqa: E402

# The modes test's screen is wider than the 4:3 stages: the stage is
# letter-boxed, with black bars left and right.
SCREEN = (1000, 600)



LIST = """<?xml version="1.0" encoding="UTF-8"?>

<savers>
 <selected>
  <name>{selected}</name>
 </selected>
 <project name="{name}">
  <path>{path}</path>
  <interactive>{interactive}</interactive>
  <sound>high</sound>
  <directdraw>no</directdraw>
  <modeswitch>{mode}</modeswitch>
 </project>
 <project name="other">
  <path>/nowhere/other.kvp</path>
  <interactive>yes</interactive>
  <sound>low</sound>
  <directdraw>no</directdraw>
  <modeswitch>none</modeswitch>
 </project>
</savers>\r\n"""


def private_env(env, work):
    """`env` with a runtime folder of the case's own: one saver runs at a
    time per runtime folder, and the cases of this test run in parallel."""
    runtime = os.path.join(work, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    return dict(env, XDG_RUNTIME_DIR=runtime)


def write_list(config, path, selected="main", interactive="no", mode="default", name="main", text=None):
    os.makedirs(os.path.join(config, "korvel"), exist_ok=True)
    if text is None:
        text = LIST.format(selected=selected, name=name, path=path, interactive=interactive, mode=mode)
    with open(os.path.join(config, "korvel", "savers.xml"), "w", newline="") as f:
        f.write(text)


def run(cmd, env, timeout=60):
    r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=timeout)
    return r.returncode, r.stdout, r.stderr


def end_line(stdout):
    ends = [json.loads(l) for l in stdout.splitlines() if l.startswith("{") and '"ev":"end"' in l]
    return ends[-1] if ends else None


def headless_frame(a, work):
    """The project's first frame played headless: what a window must show."""
    from PIL import Image
    frames = os.path.join(work, "frames")
    r = subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--render", frames, a.project],
                       env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), capture_output=True)
    if r.returncode != 0:
        raise SystemExit("FAIL: the headless run ended with %d" % r.returncode)
    return Image.open(os.path.join(frames, "frame-0001.png")).convert("RGB")


def headless(a, problems):
    work = tempfile.mkdtemp(dir=a.work)
    config = os.path.join(work, "config")
    env = private_env(dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="offscreen"), work)
    env.pop("XSCREENSAVER_WINDOW", None)
    moves = os.path.join(work, "moves.txt")
    # Ten moves about x = 10 stay within the threshold; the move at 200 is
    # the eleventh and only 5 pixels away; the one at 210 is 6 away.
    xs = [10, 12, 14, 13, 12, 11, 10, 9, 8, 7, 15, 16, 40]
    with open(moves, "w") as f:
        for i, x in enumerate(xs):
            f.write("%d move %d 4\n" % (100 + 10 * i, x))
    keys = os.path.join(work, "keys.txt")
    with open(keys, "w") as f:
        f.write("300 keydown A\n400 keyup A\n")
    base = [a.korvel, "--saver", "run", "--headless", "--virtual-clock", "--until", "5000", "--trace", "-"]
    cases = [
        # (what, list options, input, expected status, expected end time)
        ("mouse past the threshold", dict(), moves, 0, 210),
        ("a key release", dict(), keys, 0, 400),
        ("interactive: input reaches the project", dict(interactive="yes"), moves, 0, 5000),
        ("name without regard to case", dict(selected="MAIN"), moves, 0, 210),
        ("'Yes' is not 'yes'", dict(interactive="Yes"), keys, 0, 400),
    ]
    for what, options, script, status, at in cases:
        write_list(config, a.project, **options)
        code, out, err = run(base + ["--input", script], env)
        end = end_line(out)
        if code != status or end is None or end["t"] != at:
            problems.append("%s: status %d, end %s, expected %d at %d; stderr %s"
                            % (what, code, end and end["t"], status, at, err.strip()))
    failures = [
        ("nothing selected", dict(selected="None Selected"), 1, "selects no installed project"),
        ("selected names nothing", dict(selected="ghost"), 1, "selects no installed project"),
        ("project file missing", dict(selected="other"), 1, ""),
        ("malformed list", dict(text="<savers><selected>"), 2, "not well-formed"),
    ]
    for what, options, status, message in failures:
        write_list(config, a.project, **options)
        code, out, err = run(base, env)
        if code != status or message not in err:
            problems.append("%s: status %d, stderr %r; expected %d and %r" % (what, code, err.strip(), status, message))
    shutil.rmtree(os.path.join(config, "korvel"))
    code, out, err = run(base, env)
    if code != 1 or "no screen-saver list" not in err:
        problems.append("no list: status %d, stderr %r" % (code, err.strip()))
    # A second saver while one runs ends at once.
    write_list(config, a.project)
    first = subprocess.Popen([a.korvel, "--saver", "run", "--headless"], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    code, out, err = run(base, env)
    first.kill()
    first.wait()
    if code != 3 or "another screen saver" not in err:
        problems.append("second saver: status %d, stderr %r" % (code, err.strip()))
    # The ".scr" switches.
    scr = os.path.join(work, "Korvel.Scr")
    os.symlink(os.path.abspath(a.korvel), scr)
    for args, status, message in [(["/x"], 64, "no screen-saver mode"), (["/c:0"], 64, "no screen-saver mode"),
                                  (["/a", "12"], 3, "no password"), (["/p", "0"], 64, "not a window"),
                                  (["/p"], 64, "needs the id")]:
        code, out, err = run([scr] + args, env)
        if code != status or message not in err:
            problems.append("%s: status %d, stderr %r" % (" ".join(args), code, err.strip()))
    code, out, err = run([a.korvel, "--saver", "preview", "nonsense"], env)
    if code != 64:
        problems.append("preview with a bad id: status %d" % code)


def dialog(a, problems):
    work = tempfile.mkdtemp(dir=a.work)
    config = os.path.join(work, "config")
    write_list(config, a.project)
    listfile = os.path.join(config, "korvel", "savers.xml")
    before = open(listfile, "rb").read()
    with x_display() as env:
        env = private_env(dict(env, XDG_CONFIG_HOME=config), work)

        def dialog_window():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Korvel Screen Saver$"], env=env,
                               capture_output=True, text=True)
            return r.stdout.split()[0] if r.stdout.split() else None

        for keys, expect_change in [(["Escape"], False), (["alt+f", "Return"], True)]:
            proc, wid = start_korvel([a.korvel, "--saver", "configure"], env, "the saver dialog", dialog_window)
            for k in keys:
                subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", k], env=env, check=False)
                time.sleep(0.3)
            try:
                code = proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                proc.kill()
                problems.append("the dialog did not close on %s" % keys)
                continue
            after = open(listfile, "rb").read()
            if code != 0:
                problems.append("dialog status %d" % code)
            if not expect_change and after != before:
                problems.append("Cancel changed the list")
            if expect_change:
                expected = before.replace(b"<modeswitch>default</modeswitch>", b"<modeswitch>flip</modeswitch>")
                if after != expected:
                    problems.append("OK wrote %r, expected %r" % (after, expected))


def modes(a, problems):
    from PIL import Image
    work = tempfile.mkdtemp(dir=a.work)
    stage = headless_frame(a, work)
    config = os.path.join(work, "config")
    for mode in ("full", "flip"):
        write_list(config, a.project, mode=mode)
        with x_display("%dx%d" % SCREEN) as env:
            env = private_env(dict(env, XDG_CONFIG_HOME=config), work)

            def stage_window():
                r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], env=env,
                                   capture_output=True, text=True)
                return r.stdout.split()[0] if r.stdout.split() else None

            proc, wid = start_korvel([a.korvel, "--saver", "run"], env, "the saver's stage", stage_window)
            W, H = SCREEN
            f = min(W / stage.width, H / stage.height)
            w, h = int(stage.width * f), int(stage.height * f)
            left, top = (W - w) // 2, (H - h) // 2
            expected = Image.new("RGB", (W, H))
            expected.paste(stage.resize((w, h), Image.NEAREST), (left, top))
            shot_path = os.path.join(work, "screen-%s.png" % mode)

            def matches():
                shot = screenshot(env, None, shot_path)
                # Stage pixels are compared at their centres; the edges of a
                # scaled pixel may round either way.
                for sy in range(stage.height):
                    for sx in range(stage.width):
                        x, y = left + int((sx + 0.5) * w / stage.width), top + int((sy + 0.5) * h / stage.height)
                        if shot.getpixel((x, y)) != expected.getpixel((x, y)):
                            return False
                # The bars beside the stage are black.
                bars = [(0, 0), (W - 1, H - 1), (left - 1, H // 2), (left + w, H // 2)]
                return left > 0 and all(shot.getpixel(p) == (0, 0, 0) for p in bars)

            try:
                wait_for(matches, 30, "the stage scaled to the screen (%s)" % mode, proc, env)
            except SystemExit as e:
                problems.append(str(e))
            # The real pointer: eleven moves, the last far from the first.
            for i in range(14):
                subprocess.run(["xdotool", "mousemove", str(100 + 30 * i), "300"], env=env, check=False)
                time.sleep(0.05)
            try:
                code = proc.wait(timeout=20)
                if code != 0:
                    problems.append("%s: the saver ended with %d" % (mode, code))
            except subprocess.TimeoutExpired:
                proc.kill()
                problems.append("%s: mouse moves did not end the saver" % mode)


def embedded(a, problems):
    """Inside another program's window (a saver daemon's): the run fills it
    with the stage; the preview draws in it and ends when it goes."""
    from PIL import Image
    work = tempfile.mkdtemp(dir=a.work)
    stage = headless_frame(a, work)
    config = os.path.join(work, "config")
    write_list(config, a.project)
    with x_display() as env:
        env = private_env(dict(env, XDG_CONFIG_HOME=config), work)
        host_id = []

        def host_window():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^xlogo$"], env=env,
                               capture_output=True, text=True)
            host_id[:] = r.stdout.split()[:1]
            return host_id[0] if host_id else None

        # Xvfb now and then refuses a client that connects just after another
        # left: the host window is started again then.
        for attempt in range(3):
            host = subprocess.Popen(["xlogo", "-geometry", "320x240+50+50"], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            try:
                wait_for(lambda: host_window() is not None, 20, "the host window", host)
                break
            except SystemExit:
                if host.poll() is None:
                    host.kill()
                if attempt == 2:
                    raise
        wid = host_id[0]
        shot_path = os.path.join(work, "embedded.png")
        proc = subprocess.Popen([a.korvel, "--saver", "run", "-window-id", wid], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

        def matches():
            shot = screenshot(env, None, shot_path)
            f = 320 // stage.width
            return all(shot.getpixel((50 + sx * f + f // 2, 50 + sy * f + f // 2)) == stage.getpixel((sx, sy))
                       for sy in range(stage.height) for sx in range(stage.width))

        try:
            wait_for(matches, 30, "the stage inside the host window", proc, env)
        except SystemExit as e:
            problems.append(str(e))
        proc.terminate()
        proc.wait()
        # The preview lives in the window and ends with it.
        preview = subprocess.Popen([a.korvel, "--saver", "preview", wid], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        time.sleep(2)
        if preview.poll() is not None:
            problems.append("the preview ended at once: %s" % preview.stderr.read().decode(errors="replace"))
        host.terminate()
        host.wait()
        try:
            code = preview.wait(timeout=20)
            if code != 0:
                problems.append("the preview ended with %d" % code)
        except subprocess.TimeoutExpired:
            preview.kill()
            problems.append("the preview outlived its window")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--case", choices=["headless", "dialog", "modes", "embedded"], required=True)
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    problems = []
    {"headless": headless, "dialog": dialog, "modes": modes, "embedded": embedded}[a.case](a, problems)
    return report(problems, "saver " + a.case)


if __name__ == "__main__":
    sys.exit(main())
