#!/usr/bin/python3
"""Prints the hex of the resource_bundles scene's archives (pasted into
expect.json's "sounds" map, which writes them beside the project), laid out
by hand from the compilation-archive rules: a 48-byte header ("*PSB",
version 5, flags, count, key, first entry offset, names length, description
length), the description, then per entry a 16-byte head (flags, size high,
size low, name length), the name in UTF-16LE (entry flag bit 0) and the
stored bytes combined by exclusive-or with the key byte (the exclusive-or
of the key's four bytes).

- bundle.kvg, key 0x00000055: red.bmp and blue.bmp, 4 x 4 24-bit pictures.
- unpack.kvg, key 0x01020304 (key byte 0x04): green.bmp.
- corrupt.kvg: bundle.kvg with version 4.
- huge.kvg: one entry whose stored size is 4 GiB + 102 bytes.
- lookup_off.kvg: bundle.kvg with header flag bit 1 (no lookup)."""
import struct


def bmp(b, g, r):
    row = bytes([b, g, r]) * 4
    info = struct.pack("<IiiHHIIiiII", 40, 4, 4, 1, 24, 0, len(row) * 4, 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + 40 + len(row) * 4, 0, 0, 54) + info + row * 4


def archive(entries, key, version=5, flags=0, size_high=0):
    kb = (key ^ (key >> 8) ^ (key >> 16) ^ (key >> 24)) & 0xFF
    desc = b"test bundle"
    names = sum(len(n) for n, _ in entries)
    head = b"*PSB" + struct.pack("<IIIIII", version, flags, 0, len(entries), 0, key)
    head += bytes(8) + struct.pack("<III", 48 + len(desc), names, len(desc))
    out = head + desc
    for name, data in entries:
        out += struct.pack("<IIII", 1, size_high, len(data), len(name))
        out += name.encode("utf-16-le") + bytes(c ^ kb for c in data)
    return out


red, blue, green = bmp(0, 0, 255), bmp(255, 0, 0), bmp(0, 255, 0)
files = {
    "bundle.kvg": archive([("red.bmp", red), ("blue.bmp", blue)], 0x55),
    "unpack.kvg": archive([("green.bmp", green)], 0x01020304),
    "corrupt.kvg": archive([("red.bmp", red)], 0x55, version=4),
    "huge.kvg": archive([("red.bmp", red)], 0, size_high=1),
    "lookup_off.kvg": archive([("red.bmp", red)], 0x55, flags=2),
}
for name, data in files.items():
    print(f'  "{name}": {{"hex": "{data.hex()}"}},')
