#!/usr/bin/env python3
"""Writes mesh.3dmf, the binary model of this scenario: a square TriMesh of
two triangles with a colour per vertex (red, green, blue, yellow)."""
import struct
import sys


def obj(tag, data=b""):
    return tag + struct.pack(">I", len(data)) + data


header = obj(b"3DMF", struct.pack(">HHIQ", 1, 6, 0, 0))
mesh = struct.pack(">6I", 2, 0, 0, 0, 4, 1) + bytes([0, 1, 2, 0, 2, 3]) + b"\0\0"
mesh += struct.pack(">12f", -1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0)
mesh += struct.pack(">6fI", -1, -1, 0, 1, 1, 0, 0)
colours = struct.pack(">5I", 5, 0, 2, 0, 0) + struct.pack(">12f", 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0)
body = obj(b"tmsh", mesh) + obj(b"atar", colours)
with open(sys.argv[1] if len(sys.argv) > 1 else "mesh.3dmf", "wb") as f:
    f.write(header + obj(b"cntr", body))
