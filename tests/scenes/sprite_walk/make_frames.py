#!/usr/bin/env python3
"""Writes the sprite_walk scene's frame pictures: 24-bit bitmaps of 8 x 8
cells side by side, each cell one colour, with the strip block (marker 25200,
kind 1, cell count, cell width) between the header and the pixels.
Frame n (1 to 8) has two cells, colours (n*28, 0, 40) and (n*28, 200, 40);
the centre frame has three: red, green, blue. Run it in this folder."""
import struct


def strip_bmp(path, colours, cell=8, block=True):
    width, height = cell * len(colours), cell
    row = b"".join(bytes((b, g, r)) * cell for (r, g, b) in colours)
    row += b"\0" * ((4 - len(row) % 4) % 4)
    extra = struct.pack("<HBHH", 25200, 1, len(colours), cell) + b"\0" if block else b""
    offset = 14 + 40 + len(extra)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + extra + pixels)


for n in range(1, 9):
    strip_bmp("frame%d.bmp" % n, [(n * 28, 0, 40), (n * 28, 200, 40)])
strip_bmp("centre.bmp", [(255, 0, 0), (0, 255, 0), (0, 0, 255)])
