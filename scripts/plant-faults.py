#!/usr/bin/env python3
"""Plants small faults in the player's sources, one at a time, and counts how
many the tests catch.

    scripts/plant-faults.py engine                 # 5 faults in engine/*.cpp
    scripts/plant-faults.py engine/calc.cpp -n 10  # 10 faults in one file
    scripts/plant-faults.py media --list           # the sites, nothing planted

Each fault is one change from the catalogue below at one site of a .cpp
file: a comparison loosened or tightened, "+ 1" and "- 1" swapped, "&&" and
"||" swapped, "==" and "!=" swapped, an integer constant off by one, a "!"
dropped. Sites are drawn with a fixed seed, so a run repeats. For each fault
the script rebuilds only the targets of the folder's tests (build/default,
which must have been built once), runs only those tests (ctest, stopping at
the first failure) and restores the file. A fault that does not compile is
skipped and another site drawn. The file is always restored, also on Ctrl-C;
a run killed outright leaves its backup in build/default/plant-faults/, which
the next run puts back before it starts.
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Folder -> the targets to rebuild, and the tests to run: ctest's test
# folders under the build (each holds the tests of one tests/<folder>) with a
# name regex, or None for all of a folder's tests. Scenes are played for the
# folders whose behaviour reaches the player, with the files packed at the
# last full build.
SCENES = ("tests/scenes", None)
INDEPENDENT = ("tests/independent", None)
MAP = {
    "platform": (["geometry_test", "text_test", "paths_test", "settings_test", "string_table_test", "files_test",
                  "byte_reader_test", "log_test", "launcher_test", "host_info_test", "clipboard_test",
                  "audio_output_test", "message_box_test"], [("tests/platform", None)]),
    "orlan": (["orlan_test", "ext_orlan_binding_tests", "korvel", "orlanc"],
              [("tests/orlan", None), ("tests/ext", None), ("tests/scenes", r"^scene\.orlan_")]),
    "xml": (["xml_test", "xml_expat_oracle_test", "kvtool_xml_test", "kvtool"], [("tests/xml", None)]),
    "saver": (["saver_test"], [("tests/saver", None)]),
    "net": (["url_test", "locator_test", "net_http_test", "net_http_server_test", "net_progress_model_test",
             "resolver_test", "kvtool"], [("tests/net", None)]),
    "persist": (["archive_test", "document_test", "field_walk_test", "json_fields_test", "open_project_test",
                 "project_tree_test", "kinds_stored_tests", "kvtool"],
                [("tests/persist", None), ("tests/inserts", None), ("tests/tools", None)]),
    "stage": (["stage_test", "stage_compose_test", "stage_effect_tool_test", "stage_qt_test", "korvel"],
              [("tests/stage", None), SCENES]),
    "imaging": (["imaging_test", "imaging_tool_test", "metafile_test", "korvel"],
                [("tests/imaging", None), ("tests/scenes", r"^scene\.(picture|metafile)")]),
    "engine": (["engine_tests", "engine_runtime_tests", "names_test", "korvel"],
               [("tests/engine", None), SCENES, INDEPENDENT]),
    "inserts": (["inserts_paint_tests", "kind_table_tests", "kinds_stored_tests", "visible_insert_tests", "korvel"],
                [("tests/inserts", None), SCENES, INDEPENDENT]),
    "media": (["media_kinds_tests", "mixer_tests", "sound_insert_tests", "korvel"], [("tests/media", None), SCENES]),
    "ext": (["ext_kinds_tests", "ext_orlan_binding_tests", "orlan_files_tests", "korvel"],
            [("tests/ext", None), SCENES, INDEPENDENT]),
    "player": (["player_tests", "korvel"], [("tests/player", None), SCENES]),
    "shell": (["shell_widgets_test", "korvel"], [("tests/shell", None), SCENES]),
    "tools": (["tool_inputs_test", "toolkit_test", "kvtool_xml_test", "stage_compose_test", "stage_effect_tool_test",
               "imaging_tool_test", "orlan_test", "kvtool", "orlanc"],
              [("tests/tools", None), ("tests/xml", r"^KvtoolXml\."), ("tests/persist", r"^kvtool"),
               ("tests/net", r"^kvtool"), ("tests/stage", r"^(StageComposeTool|EffectTool)\."),
               ("tests/imaging", r"^PictureTool\."), ("tests/orlan", r"^Orlanc\."), INDEPENDENT]),
}

def test_binaries(suites, known):
    """Every test binary of the test folders a folder's tests are taken from.
    A binary left out of the rebuild would run as it was built before the
    fault, and the fault would seem to survive."""
    found = []
    for folder, _ in suites:
        lists = os.path.join(ROOT, folder, "CMakeLists.txt")
        if folder in (SCENES[0], INDEPENDENT[0]) or not os.path.exists(lists):
            continue
        for name in re.findall(r"kv_add_test\((\w+)", open(lists).read()):
            if name not in known and name not in found:
                found.append(name)
    return found


# The catalogue: (name, pattern, replacement). Patterns see the line with its
# comments and literals blanked out, so they only match code.
CATALOGUE = [
    ("< to <=", r"(?<=\s)<(?=\s)", "<="),
    ("<= to <", r"(?<=\s)<=(?=\s)", "<"),
    ("> to >=", r"(?<=\s)>(?=\s)", ">="),
    (">= to >", r"(?<=\s)>=(?=\s)", ">"),
    ("+ 1 to - 1", r"(?<=\s)\+ 1(?![\w.'])", "- 1"),
    ("- 1 to + 1", r"(?<=\s)- 1(?![\w.'])", "+ 1"),
    ("&& to ||", r"(?<=\s)&&(?=\s)", "||"),
    ("|| to &&", r"(?<=\s)\|\|(?=\s)", "&&"),
    ("== to !=", r"(?<=\s)==(?=\s)", "!="),
    ("!= to ==", r"(?<=\s)!=(?=\s)", "=="),
    ("constant + 1", r"(?<![\w.'])\d+(?![\w.'])", None),
    ("dropped !", r"(?<![\w)\]!])!(?!=)", ""),
]

# Lines that are declarations of fixed data more than logic.
SKIP_LINE = re.compile(r"^\s*(#|//|\*|/\*|static_assert|namespace|using |template)")


def blank_literals(line, in_comment):
    """The line with string and character literals and comments replaced by
    spaces (same length), and whether a block comment is still open."""
    out = []
    i, n = 0, len(line)
    while i < n:
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_comment = True
            continue
        if line.startswith('R"', i):
            # Raw strings span lines rarely here; blank to the end of the line.
            out.append(" " * (n - i))
            break
        if c == "'" and i > 0 and line[i - 1].isalnum():
            out.append(c)  # a digit separator
            i += 1
            continue
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_comment


def sites_of(path):
    rel = os.path.relpath(path, ROOT)
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    found = []
    in_comment = False
    for no, line in enumerate(lines):
        code, in_comment = blank_literals(line, in_comment)
        if SKIP_LINE.match(line) or not code.strip():
            continue
        for name, pattern, repl in CATALOGUE:
            for m in re.finditer(pattern, code):
                if repl is None and re.search(r"\bcase\s+$", code[:m.start()]):
                    continue  # a case label: a changed one mostly collides with another
                new = str(int(m.group()) + 1) if repl is None else repl
                found.append((rel, no, m.start(), m.end(), name, new))
    return found


def draw_order(sites, seed):
    """Sites shuffled, then taken from each kind of change in turn, so that a
    small sample holds every kind (constants alone outnumber the rest)."""
    rng = random.Random(seed)
    shuffled = sites[:]
    rng.shuffle(shuffled)
    kinds = {}
    for s in shuffled:
        kinds.setdefault(s[4], []).append(s)
    names = sorted(kinds)
    rng.shuffle(names)
    order = []
    while any(kinds.values()):
        for name in names:
            if kinds[name]:
                order.append(kinds[name].pop(0))
    return order


def source_files(target):
    path = os.path.join(ROOT, target)
    if os.path.isfile(path):
        return [path]
    files = []
    for base, dirs, names in os.walk(path):
        dirs.sort()
        files += [os.path.join(base, n) for n in sorted(names) if n.endswith(".cpp")]
    return files


def folder_of(target):
    return os.path.normpath(target).split(os.sep)[0]


def run(cmd, log, timeout=None):
    with open(log, "ab") as out:
        out.write(("\n$ " + " ".join(cmd) + "\n").encode())
        out.flush()
        try:
            return subprocess.run(cmd, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def ctest_command(build, folder_dir, names, a):
    cmd = ["ctest", "--test-dir", os.path.join(build, folder_dir), "-j%d" % a.jobs, "--stop-on-failure",
           "--timeout", str(a.timeout)]
    return cmd + (["-R", names] if names else [])


class Restorer:
    """Keeps a backup of the file being changed and puts it back."""

    def __init__(self, work):
        self.dir = os.path.join(work, "backup")
        os.makedirs(self.dir, exist_ok=True)
        self.current = None

    def backup_path(self, rel):
        return os.path.join(self.dir, rel.replace(os.sep, "__"))

    def restore_leftovers(self):
        for name in os.listdir(self.dir):
            rel = name.replace("__", os.sep)
            shutil.copyfile(os.path.join(self.dir, name), os.path.join(ROOT, rel))
            os.remove(os.path.join(self.dir, name))
            print("restored %s from an earlier run" % rel)

    def change(self, rel, text):
        shutil.copyfile(os.path.join(ROOT, rel), self.backup_path(rel))
        self.current = rel
        with open(os.path.join(ROOT, rel), "w", encoding="utf-8") as f:
            f.write(text)

    def restore(self):
        if self.current is None:
            return
        backup = self.backup_path(self.current)
        shutil.copyfile(backup, os.path.join(ROOT, self.current))
        os.remove(backup)
        self.current = None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("target", help="a source folder (engine) or a .cpp file (engine/calc.cpp)")
    ap.add_argument("-n", "--count", type=int, default=5, help="faults to assess (default 5)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--build", default="build/default")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=int, default=120, help="seconds for one test")
    ap.add_argument("--list", action="store_true", help="print the sites and plant nothing")
    ap.add_argument("--no-baseline", action="store_true",
                    help="skip the first run of the tests on the unchanged sources")
    a = ap.parse_args()

    folder = folder_of(a.target)
    if folder not in MAP:
        sys.exit("plant-faults: no tests mapped for folder %r (known: %s)" % (folder, ", ".join(sorted(MAP))))
    targets, suites = MAP[folder]
    targets = targets + test_binaries(suites, targets)
    sites = [s for f in source_files(a.target) for s in sites_of(f)]
    if not sites:
        sys.exit("plant-faults: no sites in %s" % a.target)
    if a.list:
        for rel, no, start, end, name, new in sites:
            print("%s:%d:%d %s" % (rel, no + 1, start + 1, name))
        print("%d sites" % len(sites))
        return 0
    order = draw_order(sites, a.seed)

    build = os.path.join(ROOT, a.build)
    if not os.path.exists(os.path.join(build, "build.ninja")):
        sys.exit("plant-faults: %s is not a configured build" % a.build)
    work = os.path.join(build, "plant-faults")
    log = os.path.join(work, "log.txt")
    restorer = Restorer(work)
    restorer.restore_leftovers()
    open(log, "w").close()

    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)

    results = []
    stillborn = 0
    print("plant-faults: %s, %d sites, %d faults wanted, seed %d; tests: %s" %
          (a.target, len(sites), a.count, a.seed,
           ", ".join(d + (" -R " + r if r else "") for d, r in suites)))
    try:
        # The untouched build must pass, or a failure says nothing.
        if run(["ninja", "-C", build, "-j%d" % a.jobs] + targets, log) != 0:
            sys.exit("plant-faults: the unchanged sources do not build (see %s)" % log)
        if not a.no_baseline:
            failing = [d for d, r in suites if run(ctest_command(build, d, r, a), log) != 0]
            if failing:
                sys.exit("plant-faults: the tests in %s fail without a planted fault (see %s)" %
                         (", ".join(failing), log))
        for rel, no, start, end, name, new in order:
            if len(results) >= a.count:
                break
            with open(os.path.join(ROOT, rel), encoding="utf-8") as f:
                lines = f.read().split("\n")
            before = lines[no]
            lines[no] = before[:start] + new + before[end:]
            where = "%s:%d" % (rel, no + 1)
            restorer.change(rel, "\n".join(lines))
            started = time.time()
            try:
                if run(["ninja", "-C", build, "-j%d" % a.jobs] + targets, log) != 0:
                    stillborn += 1
                    print("  %-34s %-13s does not compile, another site" % (where, name))
                    continue
                caught = False
                for folder_dir, names in suites:
                    if run(ctest_command(build, folder_dir, names, a), log) != 0:
                        caught = True
                        break
            finally:
                restorer.restore()
            results.append((where, name, before.strip(), lines[no].strip(), caught))
            print("  %-34s %-13s %-8s %4.0f s   %s" % (where, name, "caught" if caught else "SURVIVED",
                                                       time.time() - started, lines[no].strip()[:70]))
            sys.stdout.flush()
    except KeyboardInterrupt:
        print("plant-faults: interrupted")
    finally:
        restorer.restore()
    caught = sum(1 for r in results if r[4])
    print("plant-faults: %s: %d of %d planted faults caught (%d did not compile)" %
          (a.target, caught, len(results), stillborn))
    for where, name, before, after, ok in results:
        if not ok:
            print("  survived %s (%s):\n    - %s\n    + %s" % (where, name, before, after))
    # Put the unchanged objects back in the build for whoever uses it next.
    run(["ninja", "-C", build, "-j%d" % a.jobs] + targets, log)
    return 0


if __name__ == "__main__":
    sys.exit(main())
