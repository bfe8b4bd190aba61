#!/usr/bin/env python3
"""Writes the picture_processing scene's 24-bit bitmaps: photo.bmp (8 x 8,
left half (200, 100, 50), right half (40, 100, 50)) and bar.bmp (8 x 4, left
half red, right half blue). Run it in this folder."""
import struct


def bmp(path, width, height, colour_at):
    rows = []
    for y in reversed(range(height)):  # bottom-up
        row = b"".join(bytes(reversed(colour_at(x, y))) for x in range(width))
        rows.append(row + b"\0" * ((4 - len(row) % 4) % 4))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


bmp("photo.bmp", 8, 8, lambda x, y: (200, 100, 50) if x < 4 else (40, 100, 50))
bmp("bar.bmp", 8, 4, lambda x, y: (255, 0, 0) if x < 4 else (0, 0, 255))
