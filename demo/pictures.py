#!/usr/bin/env python3
"""Writes the demo stage's pictures as uncompressed BMP files."""
import struct
import sys


def bmp24(path, width, height, pixel):
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


out = sys.argv[1]
# A sky gradient, stretched over the stage.
bmp24(f'{out}/sky.bmp', 16, 12, lambda x, y: (32 + y * 8, 64 + y * 10, 160 + y * 7))
# A round badge on magenta, which the stage keys out.
def badge(x, y):
    dx, dy = x - 31.5, y - 31.5
    d = dx * dx + dy * dy
    if d > 31 * 31:
        return (255, 0, 255)
    if d > 26 * 26:
        return (250, 220, 60)
    return (200, 40, 40) if (x // 8 + y // 8) % 2 else (240, 240, 240)
bmp24(f'{out}/badge.bmp', 64, 64, badge)
# A strip of ground.
bmp24(f'{out}/ground.bmp', 8, 4, lambda x, y: (40 + 10 * ((x + y) % 2), 120 + y * 10, 40))
