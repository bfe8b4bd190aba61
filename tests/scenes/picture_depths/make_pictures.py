#!/usr/bin/python3
"""Writes the pictures of the picture_depths scene and prints the stage
pixels they must give.

The 1- and 4-bit bitmaps are laid out here byte by byte as the BMP format
gives them (14-byte file header, 40-byte information header, a colour table
of 2^bits blue-green-red-zero entries, rows bottom-up padded to four bytes,
leftmost pixel in the high bits). The 8-bit BMP, PCX, TGA, GIF and TIFF pictures
pictures and the PNG with alpha are written by Pillow, which no one here wrote."""
import struct

from PIL import Image

NAVY, YELLOW, MAGENTA, RED, GREEN = (0, 0, 128), (255, 255, 0), (255, 0, 255), (255, 0, 0), (0, 160, 0)


def bmp(width, height, bits, palette, index_at):
    stride = (width * bits + 31) // 32 * 4
    rows = b""
    for y in reversed(range(height)):  # bottom-up
        row = bytearray(stride)
        for x in range(width):
            i = index_at(x, y)
            bit = x * bits
            row[bit // 8] |= i << (8 - bits - bit % 8)
        rows += bytes(row)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(rows), 2835, 2835, len(palette), 0)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + info + table + rows


def checker(x, y):
    return (x // 2 + y // 2) % 2


# 1 bit, 8 x 8: a checker of 2 x 2 cells, navy (0) and yellow (1).
ONE = [NAVY, YELLOW]
# 4 bits, 8 x 2: sixteen colours, index x + 8 y.
FOUR = [(i * 16, 255 - i * 16, i * 37 % 256) for i in range(16)]
# 4 bits, 8 x 8, keyed: a ring of index 9 (magenta) round red (index 2).
KEYED4 = [(i, i, i) for i in range(16)]
KEYED4[2], KEYED4[9] = RED, MAGENTA


def ring(x, y):
    return 9 if x in (0, 7) or y in (0, 7) else 2


# 8 bits (Pillow), 8 x 8: left half index 1 (green), right half index 7, a near-magenta
# that a tolerance of 8 around magenta makes transparent.
EIGHT = [(0, 0, 0)] * 256
EIGHT[1], EIGHT[7] = GREEN, (250, 4, 250)


def halves(x, y):
    return 1 if x < 4 else 7


# PCX, TGA and GIF (Pillow, 8 bits), 8 x 8: four quadrants.
QUAD = [(0, 0, 0)] * 256
QUAD[0], QUAD[1], QUAD[2], QUAD[3] = (200, 0, 0), (0, 0, 200), (0, 200, 200), (240, 240, 16)


def quadrant(x, y):
    return (1 if x >= 4 else 0) + (2 if y >= 4 else 0)


def pillow(name, palette, index_at, **options):
    im = Image.new("P", (8, 8))
    im.putpalette([c for rgb in palette for c in rgb])
    im.putdata([index_at(x, y) for y in range(8) for x in range(8)])
    im.save(name, **options)


def main():
    with open("one.bmp", "wb") as f:
        f.write(bmp(8, 8, 1, ONE, checker))
    with open("four.bmp", "wb") as f:
        f.write(bmp(8, 2, 4, FOUR, lambda x, y: x + 8 * y))
    with open("keyed4.bmp", "wb") as f:
        f.write(bmp(8, 8, 4, KEYED4, ring))
    pillow("eight.bmp", EIGHT, halves)
    pillow("quad.pcx", QUAD, quadrant)
    pillow("quad.tga", QUAD, quadrant, compression="tga_rle")
    pillow("quad.gif", QUAD, quadrant)
    pillow("quad.tif", QUAD, quadrant, compression="tiff_lzw")
    # PNG with alpha, 8 x 8: left half opaque blue, right half clear, which
    # the library composites onto the key colour F8 F8 F0.
    im = Image.new("RGBA", (8, 8))
    im.putdata([(0, 0, 255, 255) if x < 4 else (255, 0, 0, 0) for y in range(8) for x in range(8)])
    im.save("clear.png")

    # Expected stage pixels: (stage x, y, colour).
    hexed = lambda c: "#%02x%02x%02x" % c
    BACK = (0x20, 0x30, 0x40)
    want = []
    for y in range(8):
        for x in range(8):
            want.append((2 + x, 2 + y, ONE[checker(x, y)]))  # own size at (2,2)
            want.append((30 + x, 2 + y, BACK if ring(x, y) == 9 else RED))  # keyed, tolerance 0
            want.append((2 + x, 14 + y, QUAD[quadrant(x, y)]))  # PCX at (2,14)
            for dx in (0, 1):  # stretched twice as wide
                want.append((12 + 2 * x + dx, 14 + y, QUAD[quadrant(x, y)]))  # TGA at (12,14)-(28,22)
            for dx in (0, 1):  # stretched 2 x 2, tolerance 8
                for dy in (0, 1):
                    want.append((40 + 2 * x + dx, 2 + 2 * y + dy, GREEN if halves(x, y) == 1 else BACK))
            want.append((30 + x, 14 + y, QUAD[quadrant(x, y)]))  # GIF at (30,14)
            want.append((2 + x, 26 + y, QUAD[quadrant(x, y)]))  # the same GIF again at (2,26)
            want.append((50 + x, 22 + y, QUAD[quadrant(x, y)]))  # TIFF at (50,22)
            want.append((40 + x, 22 + y, (0, 0, 255) if x < 4 else BACK))  # PNG keyed on F8 F8 F0 at (40,22)
    for y in range(2):
        for x in range(8):
            for dx in (0, 1):
                for dy in (0, 1):
                    want.append((12 + 2 * x + dx, 2 + 2 * y + dy, FOUR[x + 8 * y]))  # (12,2)-(28,6)
    want += [(0, 0, BACK), (63, 47, BACK), (11, 2, BACK), (28, 2, BACK)]
    print(",\n".join('[%d, %d, "%s"]' % (x, y, hexed(c)) for x, y, c in want))


if __name__ == "__main__":
    main()
