#!/usr/bin/env python3
"""Plays one scenario project headless with the virtual clock and compares
what korvel did with the scenario's expectations (expect.json).

expect.json:
  file         the project file to play (packed beside it at build time, or
               "{src}/NAME" for a hand-made file in the scenario folder)
  args         extra korvel options; "{src}" stands for the scenario folder
  exit         the expected exit status (default 0)
  trace        expected trace lines, in order; each matches the next actual
               line holding all its keys with equal values
  exact        {"events": [ev, ...], "lines": [...]}: the actual lines of those
               kinds, all of them, in order, each holding the given keys
  contains     lines that must occur somewhere (order between threads at
               one virtual time is not fixed)
  absent       lines no actual line may match
  vars         {"GROUP.NAME": value} final values from the end line
  rw           {"rwName": value} final run-time values
  frames       {"NAME.png": {"size": [W, H], "pixels": [[X, Y, "#RRGGBB"], ...],
               "counts": [[X, Y, N], ...]}} frames written with --render into a
               fresh folder; a count is the number a counting movie writes from
               (X, Y): eight 16-pixel columns, most significant bit first, each
               light (1) or dark (0), read 8 pixels right of its left edge
  sounds       {"PATH.wav": {"rate": HZ, "channels": 1|2, "bits": 8|16, "ms": MS,
               "value": V or "values": [L, R] or "ramp": true}}: PCM WAV files
               written beside the project before the run (folders made as
               needed), constant or (16-bit "ramp") holding its frame number
               on every channel; {"PATH": {"hex": "..."}} writes raw bytes
  files        {"PATH": {"exists": false} or {"size": [W, H], "pixels": [...]}
               or {"same_as": "NAME"}}: files the run left in the build folder
               (pictures checked as frames; "same_as": byte for byte the
               scenario folder's file NAME)
  memory_mb    korvel's address space is limited to this many MiB (not under
               sanitizers, whose shadow memory needs more: --no-memory-limit)
  server       {"answer": TEXT}: a recording HTTP peer on 127.0.0.1 for the run,
               its "HOST:PORT" in the environment as KV_TEST_SERVER; each
               connection is read up to the end of its header and the body its
               Content-Length gives (or the peer's close), answered with TEXT
               and closed
  received     [{"text": TEXT} or {"hex": HEX}, ...]: the bytes of each
               connection the server took, in order ("{server}" in a text
               and in the texts of "vars" stands for its "HOST:PORT")
  host         {"base": URL, "refuse": [NAME...], "silent": [NAME...], "close": [NAME...],
               "garbage": [NAME...], "huge": [NAME...], "quit": [NAME...]}: a
               hosting peer on a Unix socket for a hosted run ("/plugin test
               /server PATH" are added); it serves the build folder's files
               for names (the base URL stripped) and misbehaves on the names
               listed: refuses them, gives them an id and stays silent, closes
               the connection, sends bytes that are no frame, announces 2 GiB,
               or ends the connection
  requests     the names the host was asked for, in order
  audio        {"file": "OUT.wav", "frames": N, "samples": [[FRAME, L, R], ...],
               "ranges": [[FROM, TO, L, R], ...], "rms": [[FROM, TO, MIN, MAX], ...]}:
               the --audio-out capture (16-bit stereo), its length, sample
               values within +-1, and levels (RMS of both channels) in bounds
"""
import argparse
import json
import os
import resource
import shutil
import struct
import re
import socket
import subprocess
import sys
import threading
import wave


def matches(expected, actual):
    return all(k in actual and actual[k] == v for k, v in expected.items())


def check_picture(name, path, want, problems):
    from PIL import Image  # test-only dependency (python3-pil)
    img = Image.open(path).convert("RGB")
    if "size" in want and list(img.size) != want["size"]:
        problems.append("%s is %dx%d, expected %dx%d" % (name, img.size[0], img.size[1], *want["size"]))
    for x, y, colour in want.get("pixels", []):
        got = "#%02X%02X%02X" % img.getpixel((x, y))
        if got != colour.upper():
            problems.append("%s pixel (%d,%d) is %s, expected %s" % (name, x, y, got, colour))
    for x, y, number in want.get("counts", []):
        got = 0
        for b in range(8):
            got = got * 2 + (1 if sum(img.getpixel((x + 16 * b + 8, y))) > 3 * 128 else 0)
        if got != number:
            problems.append("%s counts %d at (%d,%d), expected %d" % (name, got, x, y, number))


def write_sounds(build, sounds):
    for name, spec in sounds.items():
        path = os.path.join(build, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if "hex" in spec:
            with open(path, "wb") as f:
                f.write(bytes.fromhex(spec["hex"]))
            continue
        channels, bits = spec.get("channels", 1), spec.get("bits", 16)
        values = spec.get("values", [spec.get("value", 0)] * channels)
        frames = spec["rate"] * spec["ms"] // 1000
        code = "<h" if bits == 16 else "<B"
        frame = b"".join(struct.pack(code, v) for v in values)
        with wave.open(path, "wb") as w:
            w.setnchannels(channels)
            w.setsampwidth(bits // 8)
            w.setframerate(spec["rate"])
            if spec.get("ramp"):
                w.writeframes(b"".join(struct.pack("<h", i % 32768) * channels for i in range(frames)))
            else:
                w.writeframes(frame * frames)


def check_audio(build, want, problems):
    path = os.path.join(build, want["file"])
    if not os.path.exists(path):
        problems.append("no capture %s" % want["file"])
        return
    with wave.open(path, "rb") as w:
        if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (2, 2, 44100):
            problems.append("capture is not 16-bit stereo 44100 Hz")
            return
        n = w.getnframes()
        data = struct.unpack("<%dh" % (2 * n), w.readframes(n))
    if "frames" in want and n != want["frames"]:
        problems.append("capture has %d frames, expected %d" % (n, want["frames"]))

    def expect(frame, left, right):
        if frame >= n:
            problems.append("capture has no frame %d (%d frames)" % (frame, n))
            return False
        got = data[2 * frame], data[2 * frame + 1]
        if abs(got[0] - left) > 1 or abs(got[1] - right) > 1:
            problems.append("capture frame %d is %s, expected %s" % (frame, got, (left, right)))
            return False
        return True

    for frame, left, right in want.get("samples", []):
        expect(frame, left, right)
    for first, end, low, high in want.get("rms", []):
        part = data[2 * first:2 * min(end, n)]
        level = (sum(x * x for x in part) / max(1, len(part))) ** 0.5
        if not low <= level <= high:
            problems.append("capture RMS over [%d, %d) is %.1f, expected %s..%s" % (first, end, level, low, high))
    for first, end, left, right in want.get("ranges", []):
        for frame in range(first, end):
            if not expect(frame, left, right):
                break


class RecordingServer:
    """Takes HTTP requests byte for byte, whatever their first line says (the
    player's multipart upload sends a request line with no version)."""

    def __init__(self, answer):
        self.answer = answer.encode("latin-1")
        self.received = []
        self.busy = threading.Lock()  # held while a connection is served
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.address = "127.0.0.1:%d" % self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with self.busy, conn:
                conn.settimeout(20)
                data = b""
                try:
                    while b"\r\n\r\n" not in data:
                        chunk = conn.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                    if b"\r\n\r\n" in data:
                        head, _, body = data.partition(b"\r\n\r\n")
                        m = re.search(rb"(?im)^content-length:\s*(\d+)", head)
                        want = int(m.group(1)) if m else 0
                        while len(body) < want:
                            chunk = conn.recv(65536)
                            if not chunk:
                                break
                            body += chunk
                            data += chunk
                        conn.sendall(self.answer)
                except OSError:
                    pass
                self.received.append(data)

    def close(self):
        self.sock.close()
        # The connection being answered is recorded before the checks read.
        if self.busy.acquire(timeout=25):
            self.busy.release()


class TestHost:
    """The host's end of the hosting protocol, written from its description
    (little-endian u32 kind, u32 length, payload) apart from the player's own
    code, serving one player."""

    def __init__(self, folder, spec):
        import tempfile
        self.folder = folder
        self.spec = spec
        self.requests = []
        self.messages = []
        self.dir = tempfile.mkdtemp(prefix="kvhost-")
        self.path = os.path.join(self.dir, "host.sock")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(self.path)
        self.sock.listen(1)
        self.sock.settimeout(30)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    @staticmethod
    def frame(kind, payload=b""):
        return struct.pack("<II", kind, len(payload)) + payload

    def read_exact(self, conn, n):
        data = b""
        while len(data) < n:
            chunk = conn.recv(n - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def serve(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        conn.settimeout(60)
        next_id = 1
        base = self.spec.get("base", "").lower()
        try:
            while True:
                head = self.read_exact(conn, 8)
                if head is None:
                    return
                kind, length = struct.unpack("<II", head)
                payload = self.read_exact(conn, length) if length else b""
                self.messages.append(kind)
                if kind == 4:  # connect: version, seq
                    version, seq = struct.unpack("<II", payload)
                    conn.sendall(self.frame(16, struct.pack("<II", seq, 1 if version == 1 else 0)))
                elif kind == 5:  # request: seq, name\0, mapped\0
                    seq = struct.unpack("<I", payload[:4])[0]
                    name = payload[4:].split(b"\0")[0].decode("latin-1")
                    self.requests.append(name)
                    rid = next_id
                    next_id += 1
                    conn.sendall(self.frame(16, struct.pack("<II", seq, rid)))
                    self.answer(conn, rid, name, base)
                elif kind == 4097:
                    return
        except OSError:
            return
        finally:
            conn.close()

    def answer(self, conn, rid, name, base):
        lowered = name.lower()
        encoded = name.encode("latin-1") + b"\0"
        listed = lambda key: lowered in [n.lower() for n in self.spec.get(key, [])]
        if listed("silent"):
            return
        if listed("close"):
            conn.sendall(self.frame(11, struct.pack("<IQ", rid, 100)) + self.frame(10, struct.pack("<I", rid) + b"abc"))
            conn.shutdown(socket.SHUT_RDWR)
            return
        if listed("garbage"):
            conn.sendall(b"\xee" * 64)
            return
        if listed("huge"):
            conn.sendall(self.frame(11, struct.pack("<IQ", rid, 2 << 30)))
            return
        if listed("quit"):
            conn.sendall(self.frame(3))
            return
        rel = lowered[len(base):] if base and lowered.startswith(base) else name
        rel = rel.replace("\\", "/").lstrip("/")
        path = os.path.join(self.folder, rel)
        if listed("refuse") or ".." in rel.split("/") or not os.path.isfile(path):
            conn.sendall(self.frame(2, struct.pack("<I", rid) + encoded))
            return
        with open(path, "rb") as f:
            data = f.read()
        conn.sendall(self.frame(11, struct.pack("<IQ", rid, len(data))))
        for at in range(0, len(data), 65536):
            conn.sendall(self.frame(10, struct.pack("<I", rid) + data[at:at + 65536]))
        conn.sendall(self.frame(1, struct.pack("<I", rid) + encoded))

    def close(self):
        self.sock.close()
        self.thread.join(5)
        shutil.rmtree(self.dir, ignore_errors=True)


def check_received(server, want, problems):
    got = server.received
    for i, item in enumerate(want):
        if "hex" in item:
            expected = bytes.fromhex(item["hex"])
        else:
            expected = item["text"].replace("{server}", server.address).encode("latin-1")
        if i >= len(got):
            problems.append("connection %d never came (%d came)" % (i + 1, len(got)))
            return
        if got[i] != expected:
            problems.append("connection %d sent %r, expected %r" % (i + 1, got[i], expected))
    if len(got) > len(want):
        problems.append("%d connections came, expected %d" % (len(got), len(want)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--src", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--no-memory-limit", action="store_true")
    a = ap.parse_args()
    with open(os.path.join(a.src, "expect.json"), encoding="utf-8") as f:
        expect = json.load(f)
    args = [s.replace("{src}", a.src) for s in expect.get("args", [])]
    cmd = [a.korvel, "--headless", "--virtual-clock", "--until-idle", "--trace", "-"] + args
    frames_dir = os.path.join(a.build, "frames")
    if "frames" in expect:
        shutil.rmtree(frames_dir, ignore_errors=True)
        cmd += ["--render", frames_dir]
    host = None
    if "host" in expect:
        host = TestHost(a.build, expect["host"])
        cmd += ["/plugin", "test", "/server", host.path]
    cmd.append(expect["file"].replace("{src}", a.src))
    # A scene of hand-made files alone has nothing packed into its folder.
    os.makedirs(a.build, exist_ok=True)
    write_sounds(a.build, expect.get("sounds", {}))
    limit = None
    if "memory_mb" in expect and not a.no_memory_limit:
        size = expect["memory_mb"] << 20

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (size, size))
    env = dict(os.environ)
    server = None
    if "server" in expect:
        server = RecordingServer(expect["server"]["answer"])
        env["KV_TEST_SERVER"] = server.address
    try:
        run = subprocess.run(cmd, cwd=a.build, capture_output=True, timeout=a.timeout, preexec_fn=limit, env=env)
    except subprocess.TimeoutExpired:
        print("FAIL: korvel did not end within %s s: %s" % (a.timeout, " ".join(cmd)))
        return 1
    finally:
        if server:
            server.close()
    lines = []
    for raw in run.stdout.decode("utf-8").splitlines():
        try:
            lines.append(json.loads(raw))
        except ValueError:
            print("FAIL: a trace line is not JSON: %r" % raw)
            return 1
    problems = []

    def show_trace():
        return "\n".join(json.dumps(l, ensure_ascii=False) for l in lines[-60:])

    want_exit = expect.get("exit", 0)
    if run.returncode != want_exit:
        problems.append("exit status %d, expected %d" % (run.returncode, want_exit))
    if not lines or lines[-1].get("ev") != "end":
        problems.append("the trace does not close with an end line")
    pos = 0
    for item in expect.get("trace", []):
        while pos < len(lines) and not matches(item, lines[pos]):
            pos += 1
        if pos == len(lines):
            problems.append("no line %s (in order)" % json.dumps(item))
            break
        pos += 1
    if "exact" in expect:
        kinds = set(expect["exact"]["events"])
        got = [l for l in lines if l.get("ev") in kinds]
        want = expect["exact"]["lines"]
        if len(got) != len(want) or not all(matches(w, g) for w, g in zip(want, got)):
            problems.append("lines of %s differ:\n  expected %s\n  actual   %s" %
                            (sorted(kinds), json.dumps(want), json.dumps(got)))
    for item in expect.get("contains", []):
        if not any(matches(item, l) for l in lines):
            problems.append("no line %s" % json.dumps(item))
    for item in expect.get("absent", []):
        for l in lines:
            if matches(item, l):
                problems.append("unexpected line %s" % json.dumps(l))
                break
    end = lines[-1] if lines and lines[-1].get("ev") == "end" else {"vars": [], "rw": {}}
    finals = {"%s.%s" % (v["group"], v["var"]): v["value"] for v in end.get("vars", [])}
    for name, value in expect.get("vars", {}).items():
        if server and isinstance(value, str):
            value = value.replace("{server}", server.address)
        if name not in finals:
            problems.append("no variable %s at the end" % name)
        elif isinstance(value, float) and isinstance(finals[name], (int, float)):
            if abs(finals[name] - value) > 1e-9 * max(1.0, abs(value)):
                problems.append("%s = %r, expected %r" % (name, finals[name], value))
        elif finals[name] != value:
            problems.append("%s = %r, expected %r" % (name, finals[name], value))
    for name, value in expect.get("rw", {}).items():
        if end.get("rw", {}).get(name) != value:
            problems.append("%s = %r, expected %r" % (name, end.get("rw", {}).get(name), value))
    for name, want in expect.get("frames", {}).items():
        path = os.path.join(frames_dir, name)
        if not os.path.exists(path):
            problems.append("no frame %s" % name)
            continue
        check_picture(name, path, want, problems)
    for name, want in expect.get("files", {}).items():
        path = os.path.join(a.build, name)
        if os.path.lexists(path) != want.get("exists", True):
            problems.append("%s %s" % (name, "is missing" if want.get("exists", True) else "should not exist"))
        elif "size" in want or "pixels" in want:
            check_picture(name, path, want, problems)
        elif "same_as" in want:
            with open(path, "rb") as got, open(os.path.join(a.src, want["same_as"]), "rb") as original:
                if got.read() != original.read():
                    problems.append("%s differs from %s" % (name, want["same_as"]))
    if "audio" in expect:
        check_audio(a.build, expect["audio"], problems)
    if server:
        check_received(server, expect.get("received", []), problems)
    if host:
        host.close()
        if "requests" in expect and host.requests != expect["requests"]:
            problems.append("the host was asked for %r, expected %r" % (host.requests, expect["requests"]))
    if problems:
        print("FAIL: " + " ".join(cmd))
        for p in problems:
            print("  " + p)
        print("--- trace (last lines)\n" + show_trace())
        print("--- stderr\n" + run.stderr.decode("utf-8", "replace"))
        return 1
    print("ok: %d trace lines" % len(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
