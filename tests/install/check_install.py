#!/usr/bin/env python3
"""Installs the build into a scratch DESTDIR and checks the tree file by file:
the exact set of files, the programs' versions, the desktop entry, the MIME
types (their magic applied by shared-mime-info's own compiler to real files
of the tests' scenes), the icons and the manual pages against each program's
--help."""
import argparse
import glob
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

PROGRAMS = ["korvel", "kvtool", "orlanc"]
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def expected_files(with_pngs):
    files = {f"usr/bin/{p}" for p in PROGRAMS}
    files |= {f"usr/share/man/man1/{p}.1.gz" for p in PROGRAMS}
    files |= {"usr/include/korvel/extension.h", "usr/share/pkgconfig/korvel-extension.pc"}
    files |= {"usr/share/applications/korvel.desktop", "usr/share/mime/packages/korvel.xml",
              "usr/share/icons/hicolor/scalable/apps/korvel.svg"}
    if with_pngs:
        files |= {f"usr/share/icons/hicolor/{s}x{s}/apps/korvel.png" for s in ICON_SIZES}
    return files


def installed_files(root):
    out = set()
    for dirpath, _, names in os.walk(root):
        for n in names:
            out.add(os.path.relpath(os.path.join(dirpath, n), root))
    return out


def check_programs(root, version):
    for p in PROGRAMS:
        path = os.path.join(root, "usr/bin", p)
        if not os.access(path, os.X_OK):
            fail(f"{p} is not executable")
            continue
        r = run([path, "--version"])
        first = r.stdout.splitlines()[0] if r.stdout else ""
        if r.returncode != 0 or not first.startswith(f"{p} {version}"):
            fail(f"{p} --version printed {first!r} (status {r.returncode}), not the project version {version}")
    # Started with nothing to play and no display to open one from.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    for args in ([], ["--headless"]):
        r = run([os.path.join(root, "usr/bin/korvel")] + args, env=env)
        if r.returncode != 64 or not r.stderr.startswith("Usage: korvel") or r.stdout:
            fail(f"korvel {' '.join(args)} without a file or display: status {r.returncode}, "
                 f"standard error {r.stderr[:60]!r}")


def check_desktop(root, mime_types):
    path = os.path.join(root, "usr/share/applications/korvel.desktop")
    r = run(["desktop-file-validate", path])
    if r.returncode != 0 or r.stdout.strip():
        fail("desktop-file-validate: " + (r.stdout + r.stderr).strip())
    entries = dict(line.split("=", 1) for line in open(path, encoding="utf-8") if "=" in line)
    if entries.get("Exec", "").strip() != "korvel %f":
        fail(f"desktop Exec is {entries.get('Exec')!r}")
    listed = [t for t in entries.get("MimeType", "").strip().split(";") if t]
    for t in ["application/x-korvel-project", "application/x-korvel-compilation"]:
        if t not in listed:
            fail(f"desktop entry does not open {t}")
    for t in listed:
        if t not in mime_types:
            fail(f"desktop entry names {t}, which the MIME package does not define")
    icon = entries.get("Icon", "").strip()
    if not os.path.exists(os.path.join(root, f"usr/share/icons/hicolor/scalable/apps/{icon}.svg")):
        fail(f"desktop Icon {icon!r} is not installed")


def schema_path():
    for pattern in ["/usr/share/xml/**/shared-mime-info*.xsd", "/usr/share/shared-mime-info/*.xsd",
                    "/usr/share/mime/*.xsd"]:
        found = glob.glob(pattern, recursive=True)
        if found:
            return found[0]
    return None


def parse_magic(data):
    """The compiled magic file of shared-mime-info: sections "[PRIO:TYPE]",
    then lines "[indent]>offset=<u16 length><value>[&mask][~word][+range]"."""
    if not data.startswith(b"MIME-Magic\0\n"):
        raise ValueError("not a compiled magic file")
    at, sections, current = 12, [], None
    while at < len(data):
        if data[at:at + 1] == b"[":
            end = data.index(b"]\n", at)
            prio, mtype = data[at + 1:end].decode().split(":", 1)
            current = (int(prio), mtype, [])
            sections.append(current)
            at = end + 2
            continue
        m = re.compile(rb"(\d*)>(\d+)=").match(data, at)
        indent, offset = int(m.group(1) or 0), int(m.group(2))
        at = m.end()
        (length,) = struct.unpack(">H", data[at:at + 2])
        value = data[at + 2:at + 2 + length]
        at += 2 + length
        mask, rng = None, 1
        while data[at:at + 1] != b"\n":
            c = data[at:at + 1]
            if c == b"&":
                mask = data[at + 1:at + 1 + length]
                at += 1 + length
            elif c in (b"~", b"+"):
                n = re.compile(rb"\d+").match(data, at + 1)
                if c == b"+":
                    rng = int(n.group())
                at = n.end()
            else:
                raise ValueError(f"unexpected byte {c!r} in magic")
        at += 1
        current[2].append((indent, offset, value, mask, rng))
    return sections


def matches_at(content, offset, value, mask, rng):
    for o in range(offset, offset + rng):
        part = content[o:o + len(value)]
        if len(part) < len(value):
            continue
        if mask:
            if all((a & m) == (b & m) for a, b, m in zip(part, value, mask)):
                return True
        elif part == value:
            return True
    return False


def magic_type(sections, content):
    """The type of the highest-priority section whose rules match."""
    best = None
    for prio, mtype, rules in sections:
        ok_at = {}
        hit = False
        for indent, offset, value, mask, rng in rules:
            if indent > 0 and not ok_at.get(indent - 1):
                ok_at[indent] = False
                continue
            ok = matches_at(content, offset, value, mask, rng)
            ok_at[indent] = ok
            # A rule matches when it and every rule it nests in match and
            # nothing more is nested below it.
            nxt = rules[rules.index((indent, offset, value, mask, rng)) + 1:]
            has_child = nxt and nxt[0][0] > indent
            if ok and not has_child:
                hit = True
        if hit and (best is None or prio > best[0]):
            best = (prio, mtype)
    return best[1] if best else None


def check_mime(root, build, scenes, work):
    path = os.path.join(root, "usr/share/mime/packages/korvel.xml")
    r = run(["xmllint", "--noout", path])
    if r.returncode != 0:
        fail("xmllint: " + r.stderr.strip())
    schema = schema_path()
    if schema:
        r = run(["xmllint", "--noout", "--schema", schema, path])
        if r.returncode != 0:
            fail("xmllint against " + schema + ": " + r.stderr.strip())
    else:
        print("note: no shared-mime-info schema on this system; well-formedness only")
    text = open(path, encoding="utf-8").read()
    types = re.findall(r'<mime-type type="([^"]+)"', text)
    # shared-mime-info's own compiler reads the package; what it writes is
    # what a desktop uses.
    db = os.path.join(work, "mime")
    os.makedirs(os.path.join(db, "packages"))
    shutil.copy(path, os.path.join(db, "packages"))
    r = run(["update-mime-database", db], env=dict(os.environ, XDG_DATA_DIRS=work, XDG_DATA_HOME=work))
    if r.returncode != 0 or r.stderr.strip():
        fail("update-mime-database: " + (r.stdout + r.stderr).strip())
        return types
    globs = open(os.path.join(db, "globs2"), encoding="utf-8").read()
    want_globs = {"*.kvp": "application/x-korvel-project", "*.kvs": "application/x-korvel-scene",
                  "*.kvb": "application/x-korvel-standbys", "*.kvg": "application/x-korvel-compilation",
                  "*.ebs": "text/x-orlan-source", "*.ebc": "application/x-orlan-code"}
    for pattern, mtype in want_globs.items():
        if not re.search(rf"^\d+:{re.escape(mtype)}:{re.escape(pattern)}$", globs, re.M):
            fail(f"{pattern} is not globbed as {mtype}")
    sections = parse_magic(open(os.path.join(db, "magic"), "rb").read())
    # Real files of the tests' scenes, and a compilation packed from one.
    samples = {}
    for ext, mtype in [("kvp", "application/x-korvel-project"), ("kvs", "application/x-korvel-scene"),
                       ("ebc", "application/x-orlan-code")]:
        found = sorted(glob.glob(os.path.join(scenes, "*", "*." + ext)))
        if not found:
            fail(f"no .{ext} file under {scenes} to try the magic on")
        samples.update({f: mtype for f in found})
    kvg = os.path.join(work, "sample.kvg")
    source = os.path.dirname(sorted(glob.glob(os.path.join(scenes, "*", "*.kvp")))[0])
    r = run([os.path.join(build, "tools/kvtool/kvtool"), "pack-kvg", source, "-o", kvg, "--method", "lzss"])
    if r.returncode != 0:
        fail("kvtool pack-kvg: " + r.stderr.strip())
    else:
        samples[kvg] = "application/x-korvel-compilation"
    for f, mtype in samples.items():
        got = magic_type(sections, open(f, "rb").read(256))
        if got != mtype:
            fail(f"{os.path.relpath(f, scenes)} is {got} by its magic, not {mtype}")
    # Text, pictures and sounds are none of ours.
    for f in glob.glob(os.path.join(scenes, "*", "*.bmp"))[:3] + glob.glob(os.path.join(scenes, "*", "*.wav"))[:3]:
        got = magic_type(sections, open(f, "rb").read(256))
        if got is not None:
            fail(f"{os.path.relpath(f, scenes)} is taken for {got} by its magic")
    return types


def check_icons(root, with_pngs):
    svg = os.path.join(root, "usr/share/icons/hicolor/scalable/apps/korvel.svg")
    r = run(["xmllint", "--noout", svg])
    if r.returncode != 0:
        fail("icon SVG: " + r.stderr.strip())
    if not with_pngs:
        return
    for s in ICON_SIZES:
        png = open(os.path.join(root, f"usr/share/icons/hicolor/{s}x{s}/apps/korvel.png"), "rb").read(32)
        if png[:8] != b"\x89PNG\r\n\x1a\n":
            fail(f"{s}x{s} icon is not a PNG")
            continue
        w, h = struct.unpack(">II", png[16:24])
        if (w, h) != (s, s):
            fail(f"{s}x{s} icon is {w}x{h}")


def check_man(root):
    env = dict(os.environ, MANWIDTH="100", LC_ALL="C.UTF-8")
    for p in PROGRAMS:
        page = os.path.join(root, f"usr/share/man/man1/{p}.1.gz")
        r = run(["man", "--warnings=w", "-l", page], env=env)
        if r.returncode != 0 or r.stderr.strip():
            fail(f"man -l {p}.1: status {r.returncode}: {r.stderr.strip()}")
            continue
        rendered = re.sub(r".\x08", "", r.stdout)
        rendered = rendered.replace("\u2010", "-").replace("\u2212", "-")
        help_text = run([os.path.join(root, "usr/bin", p), "--help"]).stdout
        for option in sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]*|-o)\b", help_text))):
            if not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", rendered):
                fail(f"{p}.1 does not describe {option}, which {p} --help lists")
        if p == "kvtool":
            for command in re.findall(r"^  ([a-z][a-z-]*(?: [a-z]+)?) ", help_text, re.M):
                if command.split()[0] not in rendered:
                    fail(f"kvtool.1 does not describe the command {command}")


# The callbacks of include/korvel/extension.h, which korvel exports.
CALLBACKS = """kv_GetInt2 kv_GetWord kv_GetBool kv_SetInt2 kv_SetWord kv_SetBool kv_GetInt4 kv_GetDWord
kv_SetInt4 kv_SetDWord kv_GetDouble kv_SetDouble kv_GetString kv_SetString kvo_GetPosition kvo_SetPosition
kvo_Update kvo_PutOnStage kvo_TakeOffStage kvo_Show kvo_Hide kvo_Play kvo_Stop kvo_GetName kvo_GetComment
kvo_GetlpDDS kv_CallFreeStyle kv_GotoFreeStyle kv_GotoScene kv_RunProject kv_Wait kv_GetRemoteResource
AVIFXGetFileLength""".split()


def check_extension(root, build, sources, work):
    """Builds an extension outside the source tree as the header tells an
    author to, against the installed header and pkg-config file, and plays a
    project that calls it with the installed player."""
    korvel = os.path.join(root, "usr/bin/korvel")
    # The player's own functions are exported, no others of its code.
    r = run(["nm", "-D", "--defined-only", korvel])
    functions = {line.split()[2] for line in r.stdout.splitlines()
                 if len(line.split()) == 3 and line.split()[1] == "T" and not line.split()[2].startswith("_Z")}
    if functions != set(CALLBACKS) | {"main"}:
        fail(f"korvel exports {sorted(functions ^ (set(CALLBACKS) | {'main'}))} beyond or short of the callbacks")
    header = open(os.path.join(root, "usr/include/korvel/extension.h"), encoding="utf-8").read()
    command = re.search(r"^ \* +(cc -shared .*)$", header, re.M)
    if not command:
        fail("extension.h does not say how to build an extension")
        return
    author = os.path.join(work, "author")
    os.makedirs(author)
    shutil.copy(os.path.join(sources, "author_extension.c"), os.path.join(author, "ext.c"))
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(root, "usr/share/pkgconfig"))
    r = run(["sh", "-c", command.group(1)], cwd=author, env=env)
    if r.returncode != 0:
        fail(f"{command.group(1)}: {r.stderr.strip()}")
        return
    r = run(["pkg-config", "--cflags", "korvel-extension"], env=env)
    cflags = r.stdout.strip()
    if not cflags.startswith("-I") or os.path.normpath(cflags[2:]) != os.path.join(root, "usr/include"):
        fail(f"pkg-config --cflags korvel-extension says {r.stdout.strip()!r}")
    os.rename(os.path.join(author, "libext.so"), os.path.join(author, "libAuthor.so"))
    r = run([os.path.join(build, "tools/kvtool/kvtool"), "pack", os.path.join(sources, "author_project.kvp.json"),
             "-o", os.path.join(author, "author.kvp"), "--partial"])
    if r.returncode != 0:
        fail("kvtool pack: " + r.stderr.strip())
        return
    r = run([korvel, "--headless", "--virtual-clock", "--until-idle", "--trace", "-", "author.kvp"], cwd=author)
    end = [json.loads(line) for line in r.stdout.splitlines() if '"ev":"end"' in line.replace(" ", "")]
    values = {v["var"]: v["value"] for v in end[0]["vars"]} if end else {}
    if values != {"greeted": 3, "version": 1, "text": "Hi"}:
        fail(f"the author's extension left {values} (status {r.returncode}, {r.stderr.strip()[:200]})")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--scenes", required=True)
    ap.add_argument("--sources", required=True)
    a = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="kv-install-") as work:
        root = os.path.join(work, "root")
        env = dict(os.environ, DESTDIR=root)
        r = run(["cmake", "--install", a.build, "--prefix", "/usr"], env=env)
        if r.returncode != 0:
            print(r.stdout + r.stderr)
            return 1
        with_pngs = os.path.isdir(os.path.join(a.build, "data/icons"))
        have, want = installed_files(root), expected_files(with_pngs)
        for f in sorted(want - have):
            fail(f"not installed: {f}")
        for f in sorted(have - want):
            fail(f"installed but not expected: {f}")
        check_programs(root, a.version)
        types = check_mime(root, a.build, a.scenes, work)
        check_desktop(root, types)
        check_icons(root, with_pngs)
        check_man(root)
        check_extension(root, a.build, a.sources, work)
    if failures:
        print(f"{len(failures)} problem(s) in the install tree")
        return 1
    print("install tree ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
