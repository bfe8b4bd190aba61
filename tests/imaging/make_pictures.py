#!/usr/bin/python3
"""Writes pictures of every variant the picture library reads, with Pillow
and ImageMagick, and beside each the pixels a reference decoder reads from it.

usage: make_pictures.py OUTDIR

OUTDIR/cases.tsv lists one case a line: file, reference file, format,
channels of the reference (3 RGB, 4 RGBA to be composited onto the backdrop),
significant bits per channel (5 for 16-bit pictures) and tolerance.
"""
import os
import struct
import subprocess
import sys

from PIL import Image

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
rows = []


def path(name):
    return os.path.join(OUT, name)


def base(w=61, h=37):
    """Gradients in every channel plus a few hard edges, odd sizes for padding."""
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 255) // (w - 1), (y * 255) // (h - 1), ((x ^ y) * 37) & 0xFF)
    return im


def alpha_base():
    im = base().convert("RGBA")
    px = im.load()
    for y in range(im.height):
        for x in range(im.width):
            r, g, b, _ = px[x, y]
            px[x, y] = (r, g, b, (x * 255) // (im.width - 1) if y % 7 else 0)
    return im


def magick(src_im, args, name):
    src = path("_src_" + name + ".png")
    src_im.save(src)
    subprocess.run(["convert", src] + args, check=True)
    os.remove(src)


def reference(name, by="pillow", channels=3, bits=8, tolerance=0, fmt=None):
    """Decodes `name` with an independent decoder and records the case."""
    ref = name + ".ref"
    if by == "pillow":
        im = Image.open(path(name))
        im.load()
        im = im.convert("RGBA" if channels == 4 else "RGB")
        with open(path(ref), "wb") as f:
            f.write(struct.pack("<II", im.width, im.height) + im.tobytes())
    else:
        mode = "rgba" if channels == 4 else "rgb"
        size = subprocess.run(["identify", "-format", "%w %h", path(name) + "[0]"], check=True,
                              capture_output=True, text=True).stdout.split()
        raw = subprocess.run(["convert", path(name) + "[0]", "-depth", "8", mode + ":-"], check=True,
                             capture_output=True).stdout
        with open(path(ref), "wb") as f:
            f.write(struct.pack("<II", int(size[0]), int(size[1])) + raw)
    rows.append("\t".join([name, ref, fmt or name.split(".")[-1], str(channels), str(bits), str(tolerance)]))


def bmp_info(name):
    with open(path(name), "rb") as f:
        d = f.read(64)
    size = struct.unpack_from("<I", d, 14)[0]
    if size == 12:
        return size, struct.unpack_from("<H", d, 24)[0], 0
    return size, struct.unpack_from("<H", d, 28)[0], struct.unpack_from("<I", d, 30)[0]


def expect_bmp(name, header, bits, compression):
    got = bmp_info(name)
    assert got == (header, bits, compression), (name, got)


src = base()
pal256 = src.quantize(256)
pal16 = src.quantize(16)
grey = src.convert("L")
mono = src.convert("1")

# ---- BMP
mono.save(path("bmp_1bit.bmp")); expect_bmp("bmp_1bit.bmp", 40, 1, 0); reference("bmp_1bit.bmp")
magick(pal16, ["-type", "Palette", "BMP3:" + path("bmp_4bit.bmp")], "b4")
expect_bmp("bmp_4bit.bmp", 40, 4, 0); reference("bmp_4bit.bmp")
pal256.save(path("bmp_8bit.bmp")); expect_bmp("bmp_8bit.bmp", 40, 8, 0); reference("bmp_8bit.bmp")
grey.save(path("bmp_grey.bmp")); reference("bmp_grey.bmp")
magick(pal256, ["-compress", "RLE", "BMP3:" + path("bmp_rle8.bmp")], "r8")
expect_bmp("bmp_rle8.bmp", 40, 8, 1); reference("bmp_rle8.bmp")
magick(src, ["-define", "bmp:subtype=RGB555", "BMP:" + path("bmp_555.bmp")], "555")
reference("bmp_555.bmp", bits=5)
magick(src, ["-define", "bmp:subtype=RGB565", "BMP:" + path("bmp_565.bmp")], "565")
expect_bmp("bmp_565.bmp", bmp_info("bmp_565.bmp")[0], 16, 3); reference("bmp_565.bmp", bits=5)
magick(alpha_base(), ["-define", "bmp:subtype=ARGB4444", "BMP:" + path("bmp_4444.bmp")], "4444")
expect_bmp("bmp_4444.bmp", bmp_info("bmp_4444.bmp")[0], 16, 3); reference("bmp_4444.bmp", by="magick")
src.save(path("bmp_24.bmp")); expect_bmp("bmp_24.bmp", 40, 24, 0); reference("bmp_24.bmp")
alpha_base().save(path("bmp_32.bmp")); expect_bmp("bmp_32.bmp", 40, 32, 0); reference("bmp_32.bmp")
magick(alpha_base(), ["BMP:" + path("bmp_v5_32.bmp")], "v5")
expect_bmp("bmp_v5_32.bmp", 124, 32, 3); reference("bmp_v5_32.bmp")
magick(src, ["BMP:" + path("bmp_v5_24.bmp")], "v5b"); reference("bmp_v5_24.bmp")
magick(pal256, ["-type", "Palette", "BMP2:" + path("bmp_os2_8.bmp")], "os2")
expect_bmp("bmp_os2_8.bmp", 12, 8, 0); reference("bmp_os2_8.bmp")
magick(src, ["BMP2:" + path("bmp_os2_24.bmp")], "os2b")
expect_bmp("bmp_os2_24.bmp", 12, 24, 0); reference("bmp_os2_24.bmp")
# Top-down: Pillow's bottom-up file with the height negated and the rows reversed.
with open(path("bmp_24.bmp"), "rb") as f:
    d = bytearray(f.read())
off, = struct.unpack_from("<I", d, 10)
w, h = struct.unpack_from("<ii", d, 18)
stride = (w * 3 + 3) // 4 * 4
lines = [bytes(d[off + i * stride: off + (i + 1) * stride]) for i in range(h)]
struct.pack_into("<i", d, 22, -h)
d[off:] = b"".join(reversed(lines))
with open(path("bmp_topdown.bmp"), "wb") as f:
    f.write(d)
reference("bmp_topdown.bmp")

# RLE4, which neither writer produces: laid out here by the format's rules
# from the 16-colour picture. Per row, bottom-up: a run
# of one index is encoded (count, index in both nibbles); three or more
# different indexes go in absolute mode (0, count, packed nibbles, padded to
# 16 bits); 0 0 ends a line, 0 1 the bitmap.
def rle4_rows(im):
    idx = list(im.getdata())
    w, h = im.size
    out = bytearray()
    for y in reversed(range(h)):
        row = idx[y * w:(y + 1) * w]
        x = 0
        while x < w:
            n = 1
            while x + n < w and n < 255 and row[x + n] == row[x]:
                n += 1
            if n >= 2 or w - x < 3:
                out += bytes([n, row[x] << 4 | row[x]])
                x += n
                continue
            m = 1  # a literal stretch up to the next run of two
            while x + m < w and m < 255 and not (x + m + 1 < w and row[x + m] == row[x + m + 1]):
                m += 1
            if m < 3:
                out += bytes([1, row[x] << 4 | row[x]])
                x += 1
                continue
            packed = bytearray((m + 1) // 2)
            for i in range(m):
                packed[i // 2] |= row[x + i] << (4 if i % 2 == 0 else 0)
            if len(packed) % 2:
                packed.append(0)
            out += bytes([0, m]) + packed
            x += m
        out += b"\0\0"
    return bytes(out) + b"\0\1"


def write_bmp_rle4(im, name):
    bits = rle4_rows(im)
    table = b"".join(bytes([b, g, r, 0]) for r, g, b in zip(*[iter(im.getpalette()[:48])] * 3))
    # 40-byte header: width, height, 1 plane, 4 bits, compression 2 (RLE4), data size, 0 dpi, 16 colours.
    info = struct.pack("<IiiHHIIiiII", 40, im.width, im.height, 1, 4, 2, len(bits), 0, 0, 16, 0)
    off = 14 + 40 + len(table)
    with open(path(name), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", off + len(bits), 0, 0, off) + info + table + bits)


# ImageMagick is the reference: Pillow 9.4 reads some pixels after odd-length
# absolute runs differently from both ImageMagick and the picture written.
write_bmp_rle4(pal16, "bmp_rle4.bmp"); expect_bmp("bmp_rle4.bmp", 40, 4, 2); reference("bmp_rle4.bmp", by="magick")


# 4 bits as EGA planes (1 bit in each of 4 planes), which neither writer
# produces: a version 2 header (0x0A, version 2, RLE 1, 1 bit, window
# 0..w-1 x 0..h-1, 72 dpi, the 16 colours at byte 16, 4 planes at byte 65,
# bytes per line even at 66, palette info 1), then each line's four planes
# one after another, run-length encoded (0xC0 | count before a repeated or
# high byte), read back by Pillow.
def write_pcx_planes(im, name):
    idx = list(im.getdata())
    w, h = im.size
    bpl = ((w + 7) // 8 + 1) // 2 * 2
    pal = bytes(im.getpalette()[:48])
    header = struct.pack("<BBBBHHHHHH", 0x0A, 2, 1, 1, 0, 0, w - 1, h - 1, 72, 72) + pal + b"\0"
    header += struct.pack("<BHH", 4, bpl, 1)
    header += bytes(128 - len(header))
    data = bytearray()
    for y in range(h):
        for plane in range(4):
            line = bytearray(bpl)
            for x in range(w):
                if idx[y * w + x] >> plane & 1:
                    line[x // 8] |= 0x80 >> (x % 8)
            x = 0
            while x < bpl:
                n = 1
                while x + n < bpl and n < 63 and line[x + n] == line[x]:
                    n += 1
                if n > 1 or line[x] >= 0xC0:
                    data += bytes([0xC0 | n])
                data.append(line[x])
                x += n
    with open(path(name), "wb") as f:
        f.write(header + data)


write_pcx_planes(pal16, "pcx_4bit.pcx"); reference("pcx_4bit.pcx")

# ---- PCX
mono.save(path("pcx_1bit.pcx")); reference("pcx_1bit.pcx")
pal256.save(path("pcx_8bit.pcx")); reference("pcx_8bit.pcx")
grey.save(path("pcx_grey.pcx")); reference("pcx_grey.pcx")
src.save(path("pcx_24.pcx")); reference("pcx_24.pcx")
magick(pal256, ["-type", "Palette", "PCX:" + path("pcx_magick_8.pcx")], "p8"); reference("pcx_magick_8.pcx")
magick(src, ["PCX:" + path("pcx_magick_24.pcx")], "p24"); reference("pcx_magick_24.pcx")

# ---- TGA: every type, both vertical origins from the writers, mirrored ones by hand.
pal256.save(path("tga_type1.tga")); reference("tga_type1.tga")
src.save(path("tga_type2.tga")); reference("tga_type2.tga")
alpha_base().save(path("tga_type2_32.tga")); reference("tga_type2_32.tga")
grey.save(path("tga_type3.tga")); reference("tga_type3.tga")
pal256.save(path("tga_type9.tga"), compression="tga_rle"); reference("tga_type9.tga")
src.save(path("tga_type10.tga"), compression="tga_rle"); reference("tga_type10.tga")
grey.save(path("tga_type11.tga"), compression="tga_rle"); reference("tga_type11.tga")
src.save(path("tga_topleft.tga"), orientation=1); reference("tga_topleft.tga")
magick(src, ["TGA:" + path("tga_magick.tga")], "t"); reference("tga_magick.tga")
magick(src, ["-compress", "RLE", "TGA:" + path("tga_magick_rle.tga")], "tr"); reference("tga_magick_rle.tga")
for name, orientation, flag in (("tga_mirror_bottom.tga", -1, 0x10), ("tga_mirror_top.tga", 1, 0x30)):
    src.save(path(name), orientation=orientation)
    with open(path(name), "rb") as f:
        d = bytearray(f.read())
    w, h = struct.unpack_from("<HH", d, 12)
    d[17] = (d[17] & 0x0F) | flag
    body = d[18:18 + w * h * 3]
    d[18:18 + w * h * 3] = b"".join(
        b"".join(body[(y * w + x) * 3:(y * w + x) * 3 + 3] for x in reversed(range(w))) for y in range(h))
    with open(path(name), "wb") as f:
        f.write(d)
    reference(name)
# Grey with 8 alpha bits (16-bit pixels), raw and run-length encoded: Pillow
# writes them from an "LA" picture; the reader drops the alpha.
grey_alpha = Image.merge("LA", (grey, base().getchannel("R")))
grey_alpha.save(path("tga_type3_16.tga")); reference("tga_type3_16.tga")
grey_alpha.save(path("tga_type11_16.tga"), compression="tga_rle"); reference("tga_type11_16.tga")
# 16 bits (1-5-5-5), packed here from the 24-bit picture's pixels.
w, h = src.size
px = src.load()
body = b"".join(struct.pack("<H", (px[x, y][0] >> 3) << 10 | (px[x, y][1] >> 3) << 5 | px[x, y][2] >> 3 | 0x8000)
                for y in range(h) for x in range(w))
with open(path("tga_16.tga"), "wb") as f:
    f.write(struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, w, h, 16, 0x20) + body)
reference("tga_16.tga", bits=5)

# ---- GIF
pal256.save(path("gif_interlaced.gif"), interlace=True); reference("gif_interlaced.gif")
pal256.save(path("gif_plain.gif"), interlace=False); reference("gif_plain.gif")
mono.convert("P").save(path("gif_2colours.gif")); reference("gif_2colours.gif")
pal16.save(path("gif_transparent.gif"), transparency=3); reference("gif_transparent.gif")
magick(src, ["-colors", "200", "-interlace", "GIF", "GIF:" + path("gif_magick.gif")], "g")
reference("gif_magick.gif")

# ---- JPEG: the same libjpeg IDCT on both sides; a small tolerance for others.
src.save(path("jpeg_baseline.jpg"), quality=90); reference("jpeg_baseline.jpg", tolerance=2)
src.save(path("jpeg_444.jpg"), quality=95, subsampling=0); reference("jpeg_444.jpg", tolerance=2)
src.save(path("jpeg_progressive.jpg"), progressive=True); reference("jpeg_progressive.jpg", tolerance=2)
grey.save(path("jpeg_grey.jpg")); reference("jpeg_grey.jpg", tolerance=2)
magick(src, ["-colorspace", "CMYK", "JPEG:" + path("jpeg_cmyk.jpg")], "c")
reference("jpeg_cmyk.jpg", by="magick", tolerance=3)
magick(src, ["-interlace", "JPEG", "-quality", "80", "JPEG:" + path("jpeg_magick_progressive.jpg")], "jp")
reference("jpeg_magick_progressive.jpg", tolerance=2)

# ---- TIFF
for name, im, comp in (("tiff_none.tif", src, None), ("tiff_lzw.tif", src, "tiff_lzw"),
                       ("tiff_deflate.tif", src, "tiff_adobe_deflate"), ("tiff_packbits.tif", src, "packbits"),
                       ("tiff_palette.tif", pal256, "tiff_lzw"), ("tiff_grey.tif", grey, None),
                       ("tiff_g4.tif", mono, "group4"), ("tiff_jpeg.tif", src, "jpeg")):
    im.save(path(name), compression=comp) if comp else im.save(path(name))
    reference(name, tolerance=2 if comp == "jpeg" else 0)
magick(src, ["-define", "tiff:tile-geometry=16x16", "-compress", "LZW", "TIFF:" + path("tiff_tiled.tif")], "tt")
reference("tiff_tiled.tif")
magick(src, ["-compress", "Zip", "TIFF:" + path("tiff_magick_zip.tif")], "tz"); reference("tiff_magick_zip.tif")

# ---- PNG
src.save(path("png_rgb.png")); reference("png_rgb.png")
alpha_base().save(path("png_rgba.png")); reference("png_rgba.png", channels=4)
pal256.save(path("png_palette.png")); reference("png_palette.png")
pal16.save(path("png_palette_trns.png"), transparency=3); reference("png_palette_trns.png", channels=4)
grey.save(path("png_grey.png")); reference("png_grey.png")
alpha_base().convert("LA").save(path("png_grey_alpha.png")); reference("png_grey_alpha.png", channels=4)
mono.save(path("png_1bit.png")); reference("png_1bit.png")
magick(src, ["-depth", "16", "PNG48:" + path("png_16bit.png")], "p16"); reference("png_16bit.png")
magick(src, ["-interlace", "PNG", "PNG24:" + path("png_interlaced.png")], "pi"); reference("png_interlaced.png")

with open(path("cases.tsv"), "w") as f:
    f.write("\n".join(rows) + "\n")
