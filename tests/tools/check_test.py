#!/usr/bin/env python3
"""kvtool check on projects with known problems, on the tests' own scenes and
on projects it cannot read. Every problem must be reported once, where it
is; the checked folder must come out unchanged."""
import argparse
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def snapshot(folder):
    out = {}
    for dirpath, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(dirpath, n)
            st = os.stat(p)
            out[os.path.relpath(p, folder)] = (st.st_mtime_ns, hashlib.sha256(open(p, "rb").read()).hexdigest())
    return out


def prepare(kvtool, src, work):
    """Packs the case's JSON documents and copies its other files; a file
    named NAME.txt stands for NAME (an unreadable document)."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for f in sorted(os.listdir(src)):
        path = os.path.join(src, f)
        if f == "expect.json":
            continue
        if f.endswith(".json"):
            r = run([kvtool, "pack", path, "-o", os.path.join(work, f[:-5]), "--partial"])
            if r.returncode != 0:
                fail(f"pack {f}: {r.stderr.strip()}")
        elif f.endswith(".txt"):
            shutil.copy(path, os.path.join(work, f[:-4]))
        else:
            shutil.copy(path, os.path.join(work, f))


def location(p):
    return (p["kind"], p["document"], p.get("insert", 0), p.get("field", ""), p.get("line", 0))


def check_case(kvtool, src, work):
    name = os.path.basename(src.rstrip("/"))
    prepare(kvtool, src, work)
    expect = json.load(open(os.path.join(src, "expect.json")))
    before = snapshot(work)
    project = os.path.join(work, "main.kvp")
    r = run([kvtool, "check", "--json", project])
    if r.returncode != expect["status"]:
        fail(f"{name}: status {r.returncode}, not {expect['status']}: {r.stderr.strip()}")
    got = json.loads(r.stdout)["problems"]
    seen = {}
    for p in got:
        seen.setdefault(location(p), []).append(p)
    for loc, ps in seen.items():
        if len(ps) > 1:
            fail(f"{name}: reported {len(ps)} times: {ps[0]}")
    wanted = {location(p): p for p in expect["problems"]}
    for loc, p in wanted.items():
        if loc not in seen:
            fail(f"{name}: not reported: {p}")
        elif p["message"] not in seen[loc][0]["message"]:
            fail(f"{name}: at {loc} the message is {seen[loc][0]['message']!r}, not one with {p['message']!r}")
    for loc, ps in seen.items():
        if loc not in wanted:
            fail(f"{name}: reported but not expected: {ps[0]}")
    # The human form says the same, one line each, then the count.
    r = run([kvtool, "check", project])
    lines = r.stdout.splitlines()
    if r.returncode != expect["status"] or len(lines) != len(got) + 1:
        fail(f"{name}: the text form has {len(lines)} lines for {len(got)} problems (status {r.returncode})")
    elif not got and not lines[-1].endswith(": no problems found"):
        fail(f"{name}: a clean project ends {lines[-1]!r}")
    if snapshot(work) != before:
        fail(f"{name}: checking changed the project's folder")


def check_unreadable(kvtool, work):
    """Statuses for a project that cannot be read and for bad usage."""
    os.makedirs(work, exist_ok=True)
    corrupt = os.path.join(work, "corrupt.kvp")
    open(corrupt, "wb").write(b"\x08\x00garbage that is no archive")
    folder = os.path.join(work, "folder.kvp")
    os.makedirs(folder, exist_ok=True)
    cases = [
        (["check", os.path.join(work, "absent.kvp")], 2),
        (["check", corrupt], 2),
        (["check", folder], 2),
        (["check"], 64),
        (["check", corrupt, "--bogus"], 64),
        (["check", corrupt, "second.kvp"], 64),
    ]
    for args, status in cases:
        r = run([kvtool] + args)
        if r.returncode != status:
            fail(f"kvtool {' '.join(args)}: status {r.returncode}, not {status}: {r.stderr.strip()}")
        if status != 0 and not r.stderr.startswith("kvtool check") and status != 2:
            fail(f"kvtool {' '.join(args)}: message {r.stderr!r} does not name the command")


def check_scenes(kvtool, scenes, scenes_src, allowed_file, work):
    """The tests' own scenes, with the sounds their runs write beforehand:
    clean, or exactly the problems they exist for."""
    sys.path.insert(0, scenes_src)
    from run_scene import write_sounds
    allowed = json.load(open(allowed_file))
    checked = 0
    for built in sorted(glob.glob(os.path.join(scenes, "*", "main.kvp"))):
        scene = os.path.basename(os.path.dirname(built))
        folder = os.path.join(work, "scenes", scene)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(os.path.dirname(built), folder)
        expect = os.path.join(scenes_src, scene, "expect.json")
        if os.path.exists(expect):
            write_sounds(folder, json.load(open(expect)).get("sounds", {}))
        project = os.path.join(folder, "main.kvp")
        before = snapshot(folder)
        r = run([kvtool, "check", "--json", project])
        if r.returncode not in (0, 1):
            fail(f"scene {scene}: status {r.returncode}: {r.stderr.strip()}")
            continue
        got = sorted({(p["kind"], p["document"], p.get("insert", 0), p.get("field", "")) for p in
                      json.loads(r.stdout)["problems"]})
        want = sorted({tuple(x) for x in allowed.get(scene, [])})
        if got != want:
            fail(f"scene {scene}: problems {got}, expected {want}")
        if snapshot(folder) != before:
            fail(f"scene {scene}: checking changed its folder")
        checked += 1
    if checked < 20:
        fail(f"only {checked} scenes found under {scenes}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kvtool", required=True)
    ap.add_argument("--cases", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--scenes")
    ap.add_argument("--scenes-src")
    ap.add_argument("--allowed")
    a = ap.parse_args()
    for src in sorted(glob.glob(os.path.join(a.cases, "*", "expect.json"))):
        case = os.path.dirname(src)
        check_case(a.kvtool, case, os.path.join(a.work, os.path.basename(case)))
    check_unreadable(a.kvtool, os.path.join(a.work, "unreadable"))
    if a.scenes:
        check_scenes(a.kvtool, a.scenes, a.scenes_src, a.allowed, a.work)
    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("kvtool check ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
