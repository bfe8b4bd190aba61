#!/usr/bin/python3
"""Writes cursor and icon files of every depth the cursor decoder reads, and
beside each the RGBA pixels Pillow's icon reader takes from it.

usage: make_cursors.py OUTDIR

OUTDIR/cases.tsv lists one case a line: file, reference file, whether the AND
mask decides transparency (1) or the alpha channel does (0), hotspot x, y.
A reference holds u32 width, u32 height and RGBA bytes, top row first.

Cursor files (type 2) are written here from random pixels; Pillow reads a
cursor's colour rows but not its mask, so the reference comes from a copy
made an icon (type 1, planes 1, the real bit count) that its icon reader
decodes with the mask. Icon files are also written by Pillow itself.
"""
import io
import os
import random
import struct
import sys

from PIL import IcoImagePlugin, Image

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
rng = random.Random(20261209)
rows = []


def pack_row(values, bits):
    """One bottom-up DIB row of indexes (or bytes), padded to four bytes."""
    if bits >= 8:
        data = bytes(values)
    else:
        acc, n, out = 0, 0, bytearray()
        for v in values:
            acc = acc << bits | v
            n += bits
            if n == 8:
                out.append(acc)
                acc, n = 0, 0
        if n:
            out.append(acc << (8 - n))
        data = bytes(out)
    return data + b"\0" * (-len(data) % 4)


def dib(w, h, bits, pixels, palette, mask, colors_used=0):
    """Header with the height doubled, colour table, colour rows, AND mask."""
    out = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bits, 0, 0, 0, 0, colors_used, 0)
    out += b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    for row in reversed(pixels):
        if bits == 24:
            flat = [c for (r, g, b) in row for c in (b, g, r)]
        elif bits == 32:
            flat = [c for (r, g, b, a) in row for c in (b, g, r, a)]
        else:
            flat = row
        out += pack_row(flat, bits if bits < 8 else 8)
    for row in reversed(mask):
        out += pack_row(row, 1)
    return out


def directory(kind, entries):
    """entries: (width, height, field4, field6, image bytes)."""
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    for (w, h, f4, f6, image) in entries:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, f4, f6, len(image), offset)
        offset += len(image)
    return out + b"".join(image for (*_, image) in entries)


def colour():
    # One in four black, so AND-1 pixels show both the transparent and the
    # inverting case.
    return (0, 0, 0) if rng.random() < 0.25 else tuple(rng.randrange(256) for _ in range(3))


def write_reference(name, im):
    im = im.convert("RGBA")
    with open(os.path.join(OUT, name + ".rgba"), "wb") as f:
        f.write(struct.pack("<II", im.width, im.height) + im.tobytes())


def cursor(name, w, h, bits, colors_used=0, zero_alpha=False):
    table = 0 if bits > 8 else (colors_used or 1 << bits)
    palette = [(0, 0, 0)] + [colour() for _ in range(table - 1)] if table else []
    if bits <= 8:
        pixels = [[rng.randrange(table) for _ in range(w)] for _ in range(h)]
    elif bits == 24:
        pixels = [[colour() for _ in range(w)] for _ in range(h)]
    else:
        alpha = (lambda: 0) if zero_alpha else (lambda: rng.choice([0, 255, rng.randrange(256)]))
        pixels = [[colour() + (alpha(),) for _ in range(w)] for _ in range(h)]
    mask = [[rng.randrange(2) for _ in range(w)] for _ in range(h)]
    image = dib(w, h, bits, pixels, palette, mask, colors_used)
    hot = (rng.randrange(w), rng.randrange(h))
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(directory(2, [(w, h, hot[0], hot[1], image)]))
    # Pillow takes the mask path when the directory's bit count is not 32,
    # which is what the decoder does for 32-bit images without alpha.
    as_icon = directory(1, [(w, h, 1, 0 if zero_alpha else bits, image)])
    frame = IcoImagePlugin.IcoFile(io.BytesIO(as_icon)).frame(0)
    write_reference(name, frame)
    masked = 0 if bits == 32 and not zero_alpha else 1
    rows.append((name, name + ".rgba", masked, hot[0], hot[1]))


def pillow_icon(name, mode, sizes, bmp):
    """An icon Pillow writes; the decoder picks the 32x32 entry."""
    im = Image.new("RGBA", (64, 64))
    px = im.load()
    for y in range(64):
        for x in range(64):
            px[x, y] = (x * 4, y * 4, (x ^ y) * 4 & 0xFF, 0 if (x + y) % 7 == 0 else (x * y) & 0xFF | 0x10)
    if mode != "RGBA":
        im = im.convert(mode)
    options = {"sizes": sizes}
    if bmp:
        options["bitmap_format"] = "bmp"
    path = os.path.join(OUT, name)
    im.save(path, **options)
    with open(path, "rb") as f:
        frame = IcoImagePlugin.IcoFile(f).getimage((32, 32))
        write_reference(name, frame)
    rows.append((name, name + ".rgba", 0 if mode == "RGBA" else 1, 16, 16))


cursor("mono_13x9.cur", 13, 9, 1)
cursor("pal4_7x5.cur", 7, 5, 4)
cursor("pal8_33x31.cur", 33, 31, 8)
cursor("pal8_short_table_6x6.cur", 6, 6, 8, colors_used=20)
cursor("rgb24_17x3.cur", 17, 3, 24)
cursor("argb32_32x32.cur", 32, 32, 32)
cursor("rgb32_no_alpha_5x4.cur", 5, 4, 32, zero_alpha=True)
cursor("mono_256x256.cur", 256, 256, 1)
pillow_icon("pillow_png.ico", "RGBA", [(16, 16), (32, 32), (48, 48)], False)
pillow_icon("pillow_bmp32.ico", "RGBA", [(64, 64), (32, 32)], True)
pillow_icon("pillow_bmp8.ico", "P", [(32, 32)], True)

with open(os.path.join(OUT, "cases.tsv"), "w") as f:
    for row in rows:
        f.write("\t".join(str(v) for v in row) + "\n")
