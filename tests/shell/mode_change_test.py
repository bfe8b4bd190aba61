#!/usr/bin/env python3
"""A full-screen stage changing the display's mode (--allow-mode-change)
under Xvfb, whose 1024x768 screen is also offered 640x480 and 800x600.

Each case checks the mode korvel switches to, that the screen then shows the
stage 1:1 (the headless frame centred on black), and that the screen is
1024x768 again once korvel has ended: normally, by a script error, by
SIGTERM, SIGINT, SIGSEGV and SIGKILL. When the screen's own mode is the one for the
stage, or no mode holds it, nothing changes and the stage is scaled as
without the option.
"""
import argparse
import glob
import os
import resource
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_test import report, screenshot, start_korvel, wait_for, x_display, x_tool  # noqa: E402

from PIL import Image

SCREEN = "1024x768"


def shown(randr, env):
    """The output's mode and the screen's size, as "mode WxH screen WxH"."""
    return x_tool([randr, "show"], env).decode().strip()


def centred(frame, w, h):
    want = Image.new("RGB", (w, h))
    want.paste(frame, ((w - frame.width) // 2, (h - frame.height) // 2))
    return want


def launch(cmd, cwd, env, err_path, ready, what):
    """Starts korvel (again when Xvfb refused it, see start_korvel) and waits
    until `ready()`. Answers (process, None) or (None, problem)."""
    try:
        # The crash signal leaves no core file in the scene's folder.
        run, _ = start_korvel(cmd, env, what, lambda: True if ready() else None, cwd=cwd, stderr_path=err_path,
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
        return run, None
    except SystemExit as e:
        return None, str(e)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--randr", required=True)
    ap.add_argument("--scene", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    for tool in ("Xvfb", "xwd", "convert"):
        if not shutil.which(tool):
            raise SystemExit("FAIL: %s is missing (scripts/install-deps.sh installs it)" % tool)
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)

    # The stage's headless frame once its pictures show.
    frames = os.path.join(a.work, "headless")
    subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--render", frames, "forever.kvp"],
                   cwd=a.scene, check=True, capture_output=True)
    stage = Image.open(sorted(glob.glob(os.path.join(frames, "frame-*.png")))[-1]).convert("RGB")

    problems = []
    # project, extra arguments, the screen, modes offered, the mode while it
    # plays (None: unchanged), the frame expected on the screen (None: not
    # compared), the signal that ends it (None: it ends by itself), its
    # status, what it says of the option.
    cases = [
        ("forever.kvp", [], SCREEN, ["640x480", "800x600"], "640x480", stage, signal.SIGTERM, -signal.SIGTERM, None),
        ("main.kvp", [], SCREEN, ["640x480", "800x600"], "640x480", stage, None, 0, None),
        # Presented by the page-flip thread.
        ("flip.kvp", [], SCREEN, ["640x480", "800x600"], "640x480", stage, signal.SIGTERM, -signal.SIGTERM, None),
        ("error.kvp", ["--answers", "no"], SCREEN, ["800x600", "640x480"], "800x600", None, None, 3, None),
        ("forever.kvp", [], SCREEN, ["800x600", "640x480"], "640x480", None, signal.SIGINT, -signal.SIGINT, None),
        ("forever.kvp", [], SCREEN, ["640x480"], "640x480", None, signal.SIGSEGV, -signal.SIGSEGV, None),
        # Uncatchable: the keeper process puts the mode back.
        ("forever.kvp", [], SCREEN, ["800x600", "640x480"], "640x480", None, signal.SIGKILL, -signal.SIGKILL, None),
        # The screen's own mode holds the stage: nothing changes, nothing is said.
        ("forever.kvp", [], SCREEN, [], None, None, signal.SIGTERM, -signal.SIGTERM, None),
        # No mode holds a 700x500 stage: said once, and scaled.
        ("error.kvp", ["--answers", "no"], "640x480", ["320x240"], None, None, None, 3,
         "korvel: --allow-mode-change: the display offers no mode as large as the stage; "
         "the stage is scaled to the screen instead\n"),
    ]
    for case in cases:
        project, extra, screen, offered, mode, frame, ending, status, says = case
        what = "%s on %s with %s offered" % (project, screen, ", ".join(offered) or "no other mode")
        original = "mode %s screen %s" % (screen, screen)
        with x_display(screen) as env:
            holder = None
            if offered:
                holder = subprocess.Popen([a.randr, "hold"] + offered, env=env, stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE)
                if holder.stdout.readline().strip() != b"ready":
                    raise SystemExit("FAIL: randr_modes could not add %s" % offered)
            err_path = os.path.join(a.work, "stderr-%d.txt" % cases.index(case))
            path = os.path.join(a.work, "screen-%d.png" % cases.index(case))
            sw, sh = (int(v) for v in (mode or screen).split("x"))
            if mode:
                want = "mode %s screen %s" % (mode, mode)
                ready, waited = (lambda: shown(a.randr, env) == want), "%s: %s" % (what, want)
            else:
                # Scaled as without the option: the stage's colour at the
                # centre of the screen, black bars at its edge.
                def ready():
                    shot = screenshot(env, None, path)
                    return shot.getpixel((sw // 2, sh // 2)) == (0x20, 0x30, 0x40) and shot.getpixel((0, 0)) == (0, 0, 0)
                waited = "%s: the stage scaled to the screen" % what
            run, problem = launch([a.korvel, "--allow-mode-change"] + extra + [project], a.scene, env, err_path,
                                  ready, waited)
            try:
                if problem:
                    problems.append("%s (shows %s)" % (problem, shown(a.randr, env)))
                    continue
                if not mode and shown(a.randr, env) != original:
                    problems.append("%s: the display changed to %s" % (what, shown(a.randr, env)))
                if frame is not None:
                    expected = centred(frame, sw, sh)
                    try:
                        wait_for(lambda: list(screenshot(env, None, path).getdata()) == list(expected.getdata()), 30,
                                 "%s: the stage 1:1 on the %s screen" % (what, mode), run)
                    except SystemExit as e:
                        problems.append(str(e))
                if ending is not None:
                    run.send_signal(ending)
                try:
                    code = run.wait(timeout=60)
                except subprocess.TimeoutExpired:
                    problems.append("%s: korvel did not end" % what)
                    continue
                if code != status:
                    problems.append("%s: ended with %d, not %d" % (what, code, status))
                # After SIGKILL the keeper puts the mode back a moment later.
                try:
                    wait_for(lambda: shown(a.randr, env) == original, 10, "the original mode")
                except SystemExit:
                    problems.append("%s: after the run the display shows %s" % (what, shown(a.randr, env)))
                with open(err_path, encoding="utf-8", errors="replace") as f:
                    said = f.read()
                told = "".join(l + "\n" for l in said.splitlines() if "allow-mode-change" in l)
                if told != (says or ""):
                    problems.append("%s: korvel said %r" % (what, told))
            finally:
                if run is not None and run.poll() is None:
                    run.kill()
                    run.wait()
                if holder:
                    holder.stdin.close()
                    holder.wait()
    return report(problems, "the mode changed for the stage and came back after every ending")


if __name__ == "__main__":
    sys.exit(main())
