#!/usr/bin/python3
"""A picture shown twice in a run is decoded once: plays a scenario project
headless under strace and counts the successful opens of each picture file.
A file shown by two objects must be opened as often as one shown by one."""
import argparse
import collections
import os
import re
import shutil
import subprocess
import sys


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--build", required=True, help="the built scenario folder")
    ap.add_argument("--project", default="main.kvp")
    ap.add_argument("--twice", required=True, help="the picture two objects show")
    ap.add_argument("--once", required=True, help="a picture of the same kind one object shows")
    a = ap.parse_args()
    if not shutil.which("strace"):
        print("FAIL: strace is missing (scripts/install-deps.sh installs it)")
        return 1
    log = os.path.join(a.build, "opens.log")
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat,openat2", "-o", log, a.korvel, "--headless",
                    "--virtual-clock", "--until-idle", a.project], cwd=a.build, check=True, capture_output=True,
                   timeout=120)
    opens = collections.Counter()
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.search(r'open(?:at2?)?\(.*?"([^"]*)".*\)\s*=\s*(-?\d+)', line)
            if m and int(m.group(2)) >= 0:
                opens[os.path.basename(m.group(1))] += 1
    twice, once = opens[a.twice], opens[a.once]
    if once == 0:
        print("FAIL: %s was never opened; opens seen: %s" % (a.once, dict(opens)))
        return 1
    if twice != once:
        print("FAIL: %s (shown twice) was opened %d times, %s (shown once) %d times" % (a.twice, twice, a.once, once))
        return 1
    print("PASS: %s, shown twice, was opened %d time(s), as often as %s shown once" % (a.twice, twice, a.once))
    return 0


if __name__ == "__main__":
    sys.exit(main())
