#!/usr/bin/env python3
"""Plays a sound scenario through SDL's audio output ("the speakers") on the
real clock, with SDL's disk driver standing in for a sound card, and checks
that what SDL was handed is what the headless capture of the same project
holds: the same samples, back to back, once.
"""
import argparse
import array
import os
import subprocess
import sys
import wave


def sounding(frames):
    """The frames from the first non-silent one to the last, as (left, right) pairs."""
    loud = [i for i, f in enumerate(frames) if f != (0, 0)]
    return frames[loud[0]:loud[-1] + 1] if loud else []


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--scene", required=True, help="a built scenario folder")
    ap.add_argument("--project", default="main.kvp")
    a = ap.parse_args()
    a.scene = os.path.abspath(a.scene)
    problems = []

    capture = os.path.join(a.scene, "speakers-capture.wav")
    subprocess.run([a.korvel, "--headless", "--virtual-clock", "--until-idle", "--audio-out", capture, a.project],
                   cwd=a.scene, check=True, capture_output=True)
    with wave.open(capture) as w:
        pcm = array.array("h", w.readframes(w.getnframes()))
    want = sounding(list(zip(pcm[0::2], pcm[1::2])))

    raw = os.path.join(a.scene, "speakers-sdl.raw")
    if os.path.exists(raw):
        os.remove(raw)
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw)
    run = subprocess.run([a.korvel, "--headless", "--until-idle", a.project], cwd=a.scene, env=env,
                         capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        problems.append("the run through SDL ended with status %d: %s" % (run.returncode, run.stderr.strip()))
    if "no sound output" in run.stderr or not os.path.exists(raw):
        problems.append("SDL's output was not used: %s" % run.stderr.strip())
    else:
        # The output is 32-bit float stereo at 44,100 Hz, as the player asks SDL for.
        samples = array.array("f")
        with open(raw, "rb") as f:
            data = f.read()
        samples.frombytes(data[:len(data) // 8 * 8])
        got = sounding([(round(l * 32768), round(r * 32768)) for l, r in zip(samples[0::2], samples[1::2])])
        if not want:
            problems.append("the capture is silent")
        elif len(got) != len(want):
            problems.append("SDL was handed %d sounding frames, the capture holds %d" % (len(got), len(want)))
        else:
            off = [i for i, (p, q) in enumerate(zip(got, want)) if abs(p[0] - q[0]) > 1 or abs(p[1] - q[1]) > 1]
            if off:
                problems.append("%d frames differ from the capture, first %d: %s, captured %s"
                                % (len(off), off[0], got[off[0]], want[off[0]]))
    if problems:
        print("FAIL:\n  " + "\n  ".join(problems))
        return 1
    print("ok: SDL was handed the %d sounding frames of the capture" % len(want))
    return 0


if __name__ == "__main__":
    sys.exit(main())
