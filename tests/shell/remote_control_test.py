#!/usr/bin/env python3
"""Remote control over the session bus: a headless player on the real clock
with a private bus of the test's own (never the user's) takes each message
through org.korvel.Player, called with gdbus and dbus-send, and answers bad
calls with clear errors while it plays on. Without a bus it says once that
remote control is off and plays."""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

DEST = "org.korvel.Player"
PATH = "/org/korvel/Player"


def write_tone(path, ms=20000, rate=22050):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<h", 4000) * (rate * ms // 1000))


def gdbus(env, dest, method, *args):
    r = subprocess.run(["gdbus", "call", "--session", "--dest", dest, "--object-path", PATH, "--method",
                        "org.korvel.Player." + method, *args], env=env, capture_output=True, text=True, timeout=20)
    return r.returncode, (r.stdout + r.stderr).strip()


def start_bus(work):
    env = {k: v for k, v in os.environ.items() if k not in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY")}
    env["XDG_RUNTIME_DIR"] = work  # no ambient bus socket either
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                           stdout=subprocess.PIPE, text=True, env=env)
    address = bus.stdout.readline().strip()
    if not address:
        raise SystemExit("FAIL: the private bus did not start")
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    return bus, env


def wait_for_name(env, name, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        r = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                            "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name],
                           env=env, capture_output=True, text=True, timeout=20)
        if "true" in r.stdout:
            return True
        time.sleep(0.1)
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    a = ap.parse_args()
    korvel = os.path.abspath(a.korvel)
    problems = []
    work = tempfile.mkdtemp(prefix="korvel-remote-")
    try:
        shutil.copy(a.project, os.path.join(work, "main.kvp"))
        write_tone(os.path.join(work, "tone.wav"))
        trace = os.path.join(work, "trace.jsonl")
        bus, env = start_bus(work)
        try:
            run = subprocess.Popen([korvel, "--headless", "--until", "8000", "--trace", trace, "--audio-out",
                                    "out.wav", "main.kvp"], cwd=work, env=env, stderr=subprocess.PIPE, text=True)
            own = "%s.pid%d" % (DEST, run.pid)
            if not wait_for_name(env, own):
                raise SystemExit("FAIL: the player never took the name " + own)
            time.sleep(0.5)  # the sound is playing by now
            # (method, args, expected error name or None) in order.
            calls = [
                ("StageAction", ["13", "box"], None),
                ("Pause", ["tone"], None),
                ("Resume", ["tone"], None),
                ("Pause", ["nobody"], "org.korvel.Player.Error.NoSuchObject"),
                ("Pause", [""], "org.korvel.Player.Error.NoObject"),
                ("StageAction", ["45", "box"], "org.korvel.Player.Error.CommandRefused"),
                ("StageAction", ["47", "box"], "org.korvel.Player.Error.CommandRefused"),
                ("Post", ["BOGUS", "box"], "org.freedesktop.DBus.Error.InvalidArgs"),
                ("Post", ["STAGEACTION", "box"], "org.freedesktop.DBus.Error.InvalidArgs"),
                ("KillMenu", ["box"], "org.korvel.Player.Error.NotAMenu"),
                ("ShowStage", [], "org.korvel.Player.Error.NoWindow"),  # headless: no window to raise
                ("RunScript", [], None),
                ("ShowNewFile", [], None),
                ("ButtonsOn", [], None),
                ("Post", ["KV_PAUSE", "tone"], None),
                ("Post", ["KV_RESUME", "tone"], None),
                ("StageAction", ["14", "box"], None),
                ("Close", ["tone"], None),
            ]
            for i, (method, args, error) in enumerate(calls):
                dest = own if i == 0 else DEST
                code, out = gdbus(env, dest, method, *args)
                if error is None and code != 0:
                    problems.append("%s %s failed: %s" % (method, args, out))
                if error is not None and (code == 0 or error not in out):
                    problems.append("%s %s: expected %s, got %r" % (method, args, error, out))
                time.sleep(0.15)
            # A call of the wrong signature is refused by the bus layer.
            r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=" + DEST, PATH,
                                "org.korvel.Player.Pause", "int32:5"], env=env, capture_output=True, text=True,
                               timeout=20)
            if r.returncode == 0 or "UnknownMethod" not in r.stderr:
                problems.append("Pause(int32) was not refused: %r" % (r.stdout + r.stderr))
            code, out = gdbus(env, DEST, "Stop", "box")  # still answering after the bad calls
            if code != 0:
                problems.append("Stop after bad calls failed: " + out)
            status = run.wait(timeout=60)
            err = run.stderr.read()
            if status != 0:
                problems.append("exit status %d: %s" % (status, err))
        finally:
            bus.terminate()
            bus.wait(timeout=20)
        lines = [json.loads(l) for l in open(trace, encoding="utf-8")]
        seen = [(l["ev"], l.get("insert"), l.get("op")) for l in lines
                if l["ev"] in ("show", "hide") or (l["ev"] == "sound")]
        expected = [("show", "box", None), ("sound", "tone", "play"), ("hide", "box", None),
                    ("sound", "tone", "pause"), ("sound", "tone", "resume"), ("sound", "tone", "pause"),
                    ("sound", "tone", "resume"), ("show", "box", None), ("sound", "tone", "stop")]
        if seen[:len(expected)] != expected:
            problems.append("trace: %s, expected %s" % (seen, expected))
        # No bus at all: one line on stderr, and the project plays.
        env = {k: v for k, v in os.environ.items() if k not in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY")}
        env["XDG_RUNTIME_DIR"] = work
        r = subprocess.run([korvel, "--headless", "--until", "300", "--audio-out", "out.wav", "main.kvp"], cwd=work,
                           env=env, capture_output=True, text=True, timeout=60)
        off = [l for l in r.stderr.splitlines() if "remote control is off" in l]
        if r.returncode != 0 or len(off) != 1:
            problems.append("without a bus: status %d, stderr %r" % (r.returncode, r.stderr))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        print("FAIL:", p)
    if not problems:
        print("ok: every message taken, every bad call refused")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
