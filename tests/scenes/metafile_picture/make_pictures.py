#!/usr/bin/env python3
"""Writes half.wmf: a placeable metafile whose left half is a red rectangle
drawn with a null pen on a 100 x 100 window; the rest is left to the
background. Each record is laid out as the published WMF format gives it
(sizes in 16-bit words, parameters in reverse order for RECTANGLE)."""
import struct

def rec(function, *params):
    return struct.pack('<IH', 3 + len(params), function) + struct.pack('<%dh' % len(params), *params)

records = b''.join([
    rec(0x020B, 0, 0),                      # SETWINDOWORG y=0, x=0
    rec(0x020C, 100, 100),                  # SETWINDOWEXT y=100, x=100
    # CREATEBRUSHINDIRECT: style 0 (solid), colour 0x000000FF (red), hatch 0
    struct.pack('<IHHIH', 7, 0x02FC, 0, 0x000000FF, 0),
    rec(0x012D, 0),                         # SELECTOBJECT 0 (the brush)
    # CREATEPENINDIRECT: style 5 (null), width (0, 0), colour 0
    struct.pack('<IHHhhI', 8, 0x02FA, 5, 0, 0, 0),
    rec(0x012D, 1),                         # SELECTOBJECT 1 (the pen)
    rec(0x041B, 100, 50, 0, 0),             # RECTANGLE bottom=100 right=50 top=0 left=0
    rec(0x0000),                            # EOF
])
words = (18 + len(records)) // 2
header = struct.pack('<HHHIHIH', 1, 9, 0x0300, words, 2, 8, 0)
placeable = struct.pack('<IHhhhhHI', 0x9AC6CDD7, 0, 0, 0, 100, 100, 1440, 0)
checksum = 0
for (w,) in struct.iter_unpack('<H', placeable):
    checksum ^= w
with open('half.wmf', 'wb') as f:
    f.write(placeable + struct.pack('<H', checksum) + header + records)
