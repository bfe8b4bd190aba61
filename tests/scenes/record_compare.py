#!/usr/bin/python3
"""A recorded run matches the headless frames: plays a built scenario project
with --record and --render-at the same grid times, reads the recording back
with Debian's ffmpeg, and compares the picture shown at each time with the
frame rendered then. A lossless recording (.mkv) must match exactly; a lossy
one within --max-mean levels per channel on average and --max-diff at most.
With --refused, recordings that cannot be made must end the run with
status 1 and the reason, leaving no file. With --exact-sound the recording's sound must be the run's --audio-out
capture, sample for sample (then silence to the end of its last block)."""
import argparse
import os
import shutil
import subprocess
import sys

from PIL import Image

FPS = 60


def tick_ms(tick):
    return (tick * 1000 + FPS - 1) // FPS


def refused(a):
    cases = [("no-such-folder/run.mkv", "cannot write"), ("run.mov", "the extension must be .mp4, .mkv or .avi")]
    problems = []
    for name, reason in cases:
        path = os.path.abspath(os.path.join(a.build, name))
        run = subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until", "100", "--record", path,
                              a.project], cwd=a.build, capture_output=True, text=True, timeout=60)
        print("%s: exit %d, %s" % (name, run.returncode, run.stderr.strip()))
        if run.returncode != 1 or reason not in run.stderr or os.path.exists(path):
            problems.append("%s: exit %d, %r" % (name, run.returncode, run.stderr))
    for p in problems:
        print("FAIL: " + p)
    return 1 if problems else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--build", required=True, help="the built scenario folder")
    ap.add_argument("--project", default="main.kvp")
    ap.add_argument("--ext", default="mkv")
    ap.add_argument("--ticks", help="grid frames to compare, comma-separated")
    ap.add_argument("--until", type=int, default=1000)
    ap.add_argument("--refused", action="store_true")
    ap.add_argument("--max-mean", type=float, default=0.0)
    ap.add_argument("--max-diff", type=int, default=0)
    ap.add_argument("--exact-sound", action="store_true")
    a = ap.parse_args()
    if not shutil.which("ffmpeg") or not shutil.which("ffprobe"):
        print("FAIL: ffmpeg is missing (scripts/install-deps.sh installs it)")
        return 1
    if a.refused:
        return refused(a)
    ticks = [int(t) for t in a.ticks.split(",")]
    out = os.path.abspath(os.path.join(a.build, "record-" + a.ext))
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    video = os.path.join(out, "run." + a.ext)
    times = ",".join(str(tick_ms(t)) for t in ticks)
    capture = os.path.join(out, "run.wav")
    run = subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until", str(a.until), "--record", video,
                          "--audio-out", capture, "--render", out, "--render-at", times, a.project],
                         cwd=a.build, capture_output=True, timeout=120)
    if run.returncode != 0:
        print("FAIL: korvel exited %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
        return 1
    def probe(entries):
        return subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", entries, "-of",
                               "csv=p=0", video], capture_output=True, text=True, check=True).stdout.split()
    width, height = (int(x) for x in probe("stream=width,height")[0].split(","))
    pts = [round(float(x.split(",")[0]) * FPS) for x in probe("frame=best_effort_timestamp_time")]
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-map", "0:v", "-f", "rawvideo", "-pix_fmt", "rgb24",
                          "-fps_mode", "passthrough", "-"], capture_output=True, check=True).stdout
    size = width * height * 3
    if len(raw) != size * len(pts):
        print("FAIL: %d bytes of pictures for %d frames of %dx%d" % (len(raw), len(pts), width, height))
        return 1
    problems = []
    for tick in ticks:
        shown = [i for i, p in enumerate(pts) if p <= tick]
        if not shown:
            problems.append("no frame at tick %d" % tick)
            continue
        frame = raw[shown[-1] * size:(shown[-1] + 1) * size]
        want = Image.open(os.path.join(out, "t-%d.png" % tick_ms(tick))).convert("RGB")
        if want.size != (width, height):
            problems.append("tick %d: recording is %dx%d, the stage %dx%d" % (tick, width, height, *want.size))
            continue
        diffs = [abs(x - y) for x, y in zip(frame, want.tobytes())]
        mean, worst = sum(diffs) / len(diffs), max(diffs)
        print("tick %d (%d ms): mean %.3f, worst %d" % (tick, tick_ms(tick), mean, worst))
        if mean > a.max_mean or worst > a.max_diff:
            problems.append("tick %d: mean difference %.3f (at most %.3f), worst %d (at most %d)" %
                            (tick, mean, a.max_mean, worst, a.max_diff))
    if a.exact_sound:
        with open(capture, "rb") as f:
            want = f.read()[44:]
        got = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-map", "0:a", "-f", "s16le", "-"],
                             capture_output=True, check=True).stdout
        print("sound: %d bytes recorded, %d captured" % (len(got), len(want)))
        if got[:len(want)] != want or any(got[len(want):]) or len(got) - len(want) > 4 * 1024:
            problems.append("the recorded sound is not the captured sound")
    for p in problems:
        print("FAIL: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
