#!/usr/bin/env python3
"""Checks that every include between the project's libraries follows their
declared dependencies, so no include runs from a lower library to a higher one.

Each kv_add_library(NAME SOURCES ... DEPS ...) in the tree names its sources
and the libraries it may use. A header belongs to the library of the source
file with its stem in its folder; a header with no such source belongs to
every library of its folder (any of them may be reached). An include from a
file of library L to a file of library M is allowed when M is L or M is
reachable from L through DEPS. The DEPS graph itself must have no cycle.

Usage: check_layers.py SOURCE_DIR   (exit status 1 and a list on a fault)
"""
import os
import re
import sys

SKIP_DIRS = {"build", "tests", "bench", ".git", "demo", "docs"}
CALL = re.compile(r"kv_add_library\(\s*(\w+)(.*?)\)\s*$", re.S | re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def cmake_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        if rel != "." and rel.split(os.sep)[0] in SKIP_DIRS:
            dirnames[:] = []
            continue
        for name in filenames:
            if name == "CMakeLists.txt" or name.endswith(".cmake"):
                yield os.path.join(dirpath, name)


def parse_libraries(root):
    """Answers {library: (set of source paths relative to root, set of deps)}."""
    libraries = {}
    for path in cmake_files(root):
        text = re.sub(r"#[^\n]*", "", open(path, encoding="utf-8").read())
        folder = os.path.relpath(os.path.dirname(path), root)
        for match in CALL.finditer(text):
            name, body = match.group(1), match.group(2)
            words = body.replace("${CMAKE_CURRENT_LIST_DIR}/", "").replace("${CMAKE_CURRENT_SOURCE_DIR}/", "").split()
            section, sources, deps = None, set(), set()
            for word in words:
                if word in ("SOURCES", "DEPS", "PRIVATE_DEPS"):
                    section = word
                elif section == "SOURCES":
                    sources.add(os.path.normpath(os.path.join(folder, word)))
                elif section in ("DEPS", "PRIVATE_DEPS") and word.startswith("kv_"):
                    deps.add(word)
            if name in libraries:
                raise SystemExit(f"{path}: library {name} declared twice")
            libraries[name] = (sources, deps)
    return libraries


def reachable(libraries, start):
    seen, stack = set(), [start]
    while stack:
        lib = stack.pop()
        for dep in libraries.get(lib, (set(), set()))[1]:
            if dep not in seen:
                seen.add(dep)
                stack.append(dep)
    return seen


def owners(libraries, root):
    """Answers {file relative to root: set of libraries it belongs to}."""
    owner = {}
    by_folder = {}
    for lib, (sources, _) in libraries.items():
        for src in sources:
            owner.setdefault(src, set()).add(lib)
            by_folder.setdefault(os.path.dirname(src), set()).add(lib)
    for folder, libs in by_folder.items():
        full = os.path.join(root, folder)
        for name in os.listdir(full):
            if not name.endswith(".h"):
                continue
            header = os.path.normpath(os.path.join(folder, name))
            stem = os.path.splitext(header)[0]
            paired = [lib for lib in libs if stem + ".cpp" in libraries[lib][0]]
            owner[header] = set(paired) if paired else set(libs)
    return owner


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    libraries = parse_libraries(root)
    faults = []
    for lib in libraries:
        if lib in reachable(libraries, lib):
            faults.append(f"{lib}: its DEPS lead back to itself")
    owner = owners(libraries, root)
    for path, libs in sorted(owner.items()):
        full = os.path.join(root, path)
        if not os.path.exists(full):
            continue
        text = open(full, encoding="utf-8", errors="replace").read()
        for included in INCLUDE.findall(text):
            targets = owner.get(os.path.normpath(included))
            if not targets:
                continue  # not a library's file (tests, generated, system)
            for lib in libs:
                allowed = reachable(libraries, lib) | {lib}
                if not targets & allowed:
                    faults.append(f"{path} ({lib}) includes {included} ({', '.join(sorted(targets))})")
    if not libraries:
        faults.append("no kv_add_library call found under " + root)
    for fault in faults:
        print(fault)
    print(f"{len(libraries)} libraries, {len(owner)} files, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
