#!/usr/bin/python3
"""Decodes pictures with Pillow for the encoder tests.

usage: read_pictures.py FILE...

Writes FILE.ref (u32 width, u32 height, RGB bytes) and FILE.info (one line:
Pillow's format name, the compression Pillow reports, the first entry of the
first JPEG quantisation table, -1 when none) beside each file.
"""
import struct
import sys

from PIL import Image

for name in sys.argv[1:]:
    im = Image.open(name)
    im.load()
    quant = getattr(im, "quantization", None) or {}
    info = [im.format, str(im.info.get("compression", "-")), str(quant[0][0] if 0 in quant else -1)]
    rgb = im.convert("RGB")
    with open(name + ".ref", "wb") as f:
        f.write(struct.pack("<II", rgb.width, rgb.height) + rgb.tobytes())
    with open(name + ".info", "w") as f:
        f.write(" ".join(info) + "\n")
