#!/usr/bin/env python3
"""Writes the scene's pictures, each laid out by hand from its format's rules.

quads.bmp: 8 x 8, 24 bits, quadrants red (top left), green (top right), blue
(bottom left) and white (bottom right). BITMAPFILEHEADER ("BM", file size,
0, 0, offset 54), BITMAPINFOHEADER (40, width 8, height 8 = bottom-up, one
plane, 24 bits, no compression, image size, 2835 pixels a metre twice, no
colour table); rows bottom first, each B, G, R per pixel (24 bytes, already
a multiple of four).

half.emf: 16 x 16 pixels on a reference device of 10 pixels a millimetre, so
the frame is 160 x 160 hundredths of a millimetre; a solid blue brush and
the stock null pen fill the left half (RECTANGLE 0, 0, 8, 16), the rest is
left to the background."""
import struct

RED, GREEN, BLUE, WHITE = (0, 0, 255), (0, 255, 0), (255, 0, 0), (255, 255, 255)  # B, G, R
rows = []
for y in range(8):  # top row first
    left, right = (RED, GREEN) if y < 4 else (BLUE, WHITE)
    rows.append(bytes(left) * 4 + bytes(right) * 4)
pixels = b''.join(reversed(rows))
info = struct.pack('<IiiHHIIiiII', 40, 8, 8, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
with open('quads.bmp', 'wb') as f:
    f.write(head + info + pixels)


def record(kind, *fields):
    return struct.pack('<II', kind, 8 + 4 * len(fields)) + struct.pack('<%di' % len(fields), *fields)


NULL_PEN = -0x7FFFFFF8  # stock object 8 with the high bit set (0x80000008)
body = b''.join([
    record(39, 1, 0, 0x00FF0000, 0),  # CREATEBRUSHINDIRECT: handle 1, solid, COLORREF blue, no hatch
    record(37, 1),                    # SELECTOBJECT the brush
    record(37, NULL_PEN),             # SELECTOBJECT the null pen
    record(43, 0, 0, 8, 16),          # RECTANGLE left, top, right, bottom
])
eof = record(14, 0, 16, 20)           # EOF: no palette, offset 16, size 20
total = 88 + len(body) + len(eof)
header = struct.pack('<II4i4iIIIIHHIII4i', 1, 88,
                     0, 0, 15, 15,          # bounds, inclusive pixels
                     0, 0, 160, 160,        # frame, hundredths of a millimetre
                     0x464D4520, 0x10000,   # " EMF", version
                     total, 6, 2, 0,        # bytes, records, handles, reserved
                     0, 0, 0,               # no description, no palette
                     2540, 2540, 254, 254)  # device: pixels, then millimetres
with open('half.emf', 'wb') as f:
    f.write(header + body + eof)
