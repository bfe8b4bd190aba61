#!/usr/bin/env python3
"""The desktop's clipboard between two players under Xvfb: one plays a
project that puts a metafile picture on the clipboard and then waits; a
second player, another X client, writes the clipboard to a .bmp and an .emf
file. The bitmap must have the first player's pixels (as it wrote them
itself) and the metafile the picture file's bytes, so both went through the
X selection."""
import argparse
import json
import os
import shutil
import subprocess
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
from window_test import report, start_korvel, wait_for, window_id, x_display  # noqa: E402


def fresh_copy(scene, to):
    """The packed scene in a folder of its own, with the src folder its
    script copies to make its output folder."""
    shutil.rmtree(to, ignore_errors=True)
    shutil.copytree(scene, to, ignore=shutil.ignore_patterns("out", "src", "*.png"))
    os.makedirs(os.path.join(to, "src"))
    open(os.path.join(to, "src", "keep.txt"), "wb").write(b"\0")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True, help="the project that puts the picture")
    ap.add_argument("--paste", required=True, help="the project that writes the clipboard")
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    holder = os.path.join(a.work, "clipboard-holder")
    paster = os.path.join(a.work, "clipboard-paster")
    fresh_copy(os.path.dirname(a.project), holder)
    fresh_copy(os.path.dirname(a.paste), paster)
    problems = []
    with x_display() as env:
        run, _ = start_korvel([a.korvel, "--virtual-clock", "main.kvp"], env, "the holder's stage window",
                              lambda: window_id(env, "Korvel clipboard"), cwd=holder)
        try:
            # The holder's last write: its picture is on the clipboard now.
            wait_for(lambda: os.path.exists(os.path.join(holder, "out", "half.EMF")), 60,
                     "the holder's files", run, env)
            trace = os.path.join(a.work, "clipboard-paste-trace.jsonl")
            paste = subprocess.run([a.korvel, "--virtual-clock", "--trace", trace, "main.kvp"], cwd=paster, env=env,
                                   capture_output=True, timeout=90)
            if paste.returncode != 0:
                problems.append("the paste run ended with %d: %s" % (paste.returncode, paste.stderr.decode(errors="replace")))
            end = [json.loads(l) for l in open(trace, encoding="utf-8")][-1]
            finals = {v["var"]: v["value"] for v in end.get("vars", [])}
            if finals.get("pasteBmp") != -1 or finals.get("pasteEmf") != -1:
                problems.append("the paste run's answers: %r" % finals)
            pasted_emf = os.path.join(paster, "out", "paste.emf")
            if not os.path.exists(pasted_emf) or open(pasted_emf, "rb").read() != open(os.path.join(holder, "half.emf"), "rb").read():
                problems.append("paste.emf is not half.emf's bytes")
            pasted_bmp = os.path.join(paster, "out", "paste.bmp")
            if os.path.exists(pasted_bmp):
                got = Image.open(pasted_bmp).convert("RGB")
                want = Image.open(os.path.join(holder, "out", "half.bmp")).convert("RGB")
                if got.size != want.size or list(got.getdata()) != list(want.getdata()):
                    problems.append("paste.bmp (%dx%d) differs from the holder's half.bmp (%dx%d)"
                                    % (*got.size, *want.size))
            else:
                problems.append("no paste.bmp")
        finally:
            run.terminate()
            try:
                run.wait(timeout=20)
            except subprocess.TimeoutExpired:
                run.kill()
    return report(problems, "a picture and its metafile went from one player to another through the X clipboard")


if __name__ == "__main__":
    sys.exit(main())
