#!/usr/bin/env python3
"""Prints a scenario's requests headless into a PDF (or PNG pages) and
compares every printed page with the headless frame of the same area, as
the page layout places it: A4 portrait at 300 dpi with no margins, the
frame's area enlarged by the whole factor printable width / area width.
A PDF is read back with pdftoppm (poppler-utils), used by this test only.

Each frame pixel whose 3 x 3 neighbourhood is one colour must show that
colour at the centre of its block on the page; the page beyond the picture
is white."""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image  # test-only dependency (python3-pil)

PAGE_W, PAGE_H = 2480, 3508


def close(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def check_page(page, frame, rect, alone, tolerance, problems, name):
    left, top, right, bottom = rect
    if alone:
        # The object alone: its area of the stage, at (0, 0) of the page.
        left, top = alone
        right, bottom = left + rect[2], top + rect[3]
    src_w, src_h = right - left, bottom - top
    f = max(1, PAGE_W // src_w)
    ps_w = PAGE_W // f
    ps_h = (PAGE_W * src_h // src_w) // f
    sx, sy = ps_w / src_w, ps_h / src_h
    checked = 0
    for y in range(top + 1, bottom - 1):
        for x in range(left + 1, right - 1):
            colour = frame.getpixel((x, y))
            if any(frame.getpixel((x + dx, y + dy)) != colour for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                continue
            px, py = int((x - left + 0.5) * sx), int((y - top + 0.5) * sy)
            got = page.getpixel((px * f + f // 2, py * f + f // 2))
            checked += 1
            if not close(got, colour, tolerance):
                problems.append("%s: stage (%d,%d) is %s on the page, %s in the frame" % (name, x, y, got, colour))
                return
    for x, y in ((ps_w * f + 2, 5), (5, ps_h * f + 2), (PAGE_W - 3, PAGE_H - 3)):
        if not close(page.getpixel((x, y)), (255, 255, 255), tolerance):
            problems.append("%s: (%d,%d) beyond the picture is %s, not white" % (name, x, y, page.getpixel((x, y))))
    if checked == 0:
        problems.append("%s: no pixel compared" % name)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--build", required=True, help="the scenario's build folder (its packed project)")
    ap.add_argument("--format", choices=["pdf", "png"], required=True)
    ap.add_argument("--alone", default="", help="X,Y: the stage origin of the object printed alone (last request)")
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="kv-print-")
    try:
        for f in os.listdir(a.build):
            if os.path.isfile(os.path.join(a.build, f)) and not f.startswith("pages-"):
                shutil.copy(os.path.join(a.build, f), work)
        out = "out.pdf" if a.format == "pdf" else "out"
        cmd = [a.korvel, "--headless", "--virtual-clock", "--until-idle", "--trace", "trace.jsonl",
               "--render", "frames", "--print-to", out, "main.kvp"]
        run = subprocess.run(cmd, cwd=work, capture_output=True, timeout=120)
        if run.returncode != 0:
            print("korvel exited with %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
            return 1
        with open(os.path.join(work, "trace.jsonl")) as t:
            printed = [json.loads(l) for l in t if '"printed"' in l]
        printed = [p for p in printed if p["ev"] == "printed"]
        if a.format == "pdf":
            if shutil.which("pdftoppm") is None:
                print("pdftoppm (poppler-utils) is missing")
                return 1
            subprocess.run(["pdftoppm", "-r", "300", "-png", out, "page"], cwd=work, check=True, timeout=120)
            pages = sorted(glob.glob(os.path.join(work, "page-*.png")))
            tolerance = 6
        else:
            pages = sorted(glob.glob(os.path.join(work, "out-*.png")))
            tolerance = 0
        frames = sorted(glob.glob(os.path.join(work, "frames", "frame-*.png")))
        problems = []
        if len(pages) != sum(p["pages"] for p in printed) or not pages:
            problems.append("%d page(s) in the file, %d in the trace" % (len(pages), sum(p["pages"] for p in printed)))
        frame = Image.open(frames[-1]).convert("RGB")
        alone = tuple(int(v) for v in a.alone.split(",")) if a.alone else None
        for i, (p, path) in enumerate(zip(printed, pages)):
            page = Image.open(path).convert("RGB")
            # pdftoppm rounds the page's points up to whole pixels.
            if page.size[0] not in (PAGE_W, PAGE_W + 1) or page.size[1] not in (PAGE_H, PAGE_H + 1):
                problems.append("%s is %dx%d" % (os.path.basename(path), *page.size))
                continue
            is_alone = alone if (alone and i == len(printed) - 1) else None
            check_page(page, frame, p["rect"], is_alone, tolerance, problems, os.path.basename(path))
        for p in problems:
            print(p)
        return 1 if problems else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
