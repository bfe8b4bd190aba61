#!/usr/bin/python3
"""Writes the damaged and misnamed pictures of the picture_errors scene
(one.bmp and quad.gif are copies from picture_depths).

- garbage.bmp: text, not a bitmap.
- huge.bmp: a valid 14 + 40-byte header (laid out as the BMP format gives
  it) for 20000 x 1 pixels at 24 bits, one row of bytes: wider than 16384.
- cut.gif: quad.gif (13-byte screen, 4-entry colour table) cut at byte 30,
  inside its image descriptor.
- notes.dat: text, a type the library does not know.
- photo.jpeg: a real JPEG under a five-character extension."""
import struct

from PIL import Image

with open("garbage.bmp", "wb") as f:
    f.write(b"not a picture\n")
row = bytes(20000 * 3)
info = struct.pack("<IiiHHIIiiII", 40, 20000, 1, 1, 24, 0, len(row), 0, 0, 0, 0)
with open("huge.bmp", "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + len(row), 0, 0, 54) + info + row)
with open("quad.gif", "rb") as f:
    gif = f.read()
with open("cut.gif", "wb") as f:
    f.write(gif[:30])
with open("notes.dat", "wb") as f:
    f.write(b"a note, not a picture\n")
Image.new("RGB", (8, 8), (0, 200, 0)).save("photo.jpeg", quality=95)
