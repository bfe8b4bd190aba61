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
# Rings and tiles for the transition effects.
def rings(x, y):
    d = int(((x - 80) ** 2 + (y - 55) ** 2) ** 0.5) // 9
    return ((230, 90, 40), (250, 200, 60), (60, 150, 220), (120, 60, 170))[d % 4]
bmp24(f'{out}/rings.bmp', 160, 110, rings)
bmp24(f'{out}/tiles.bmp', 160, 110,
      lambda x, y: (40, 170, 120) if (x // 20 + y // 22) % 2 else (240, 240, 230))


# A tone: one second of 440 Hz, 16-bit mono at 22,050 Hz, fading out.
def tone(path, hz=440, rate=22050, ms=1000):
    import math
    n = rate * ms // 1000
    samples = bytearray()
    for i in range(n):
        level = 9000 * (1 - i / n)
        samples += struct.pack('<h', int(round(level * math.sin(2 * math.pi * hz * i / rate))))
    fmt = struct.pack('<HHIIHH', 1, 1, rate, rate * 2, 2, 16)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(samples)) + samples
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', len(body)) + body)
tone(f'{out}/tone.wav')


# A short tune as a standard MIDI file: C E G C', an eighth each at 120 beats a minute.
def tune(path):
    track = bytearray()
    for note in (60, 64, 67, 72):
        track += bytes((0x00, 0x90, note, 100))        # note on at once
        track += bytes((0x81, 0x70, 0x80, note, 64))    # off after 240 ticks
    track += bytes((0x00, 0xFF, 0x2F, 0x00))
    header = b'MThd' + struct.pack('>IHHH', 6, 0, 1, 480)
    with open(path, 'wb') as f:
        f.write(header + b'MTrk' + struct.pack('>I', len(track)) + track)
tune(f'{out}/tune.mid')


# A short film for the credits, as an uncompressed AVI (24-bit frames, no
# sound): the demo's checkered ball rolling across a dark reel, 24 frames at
# 12 a second.
def film(path, width, height, frames, rate, pixel):
    row = (width * 3 + 3) & ~3
    chunks = []
    for n in range(frames):
        data = bytearray()
        for y in range(height - 1, -1, -1):  # bottom-up rows
            line = bytearray()
            for x in range(width):
                r, g, b = pixel(n, x, y)
                line += bytes((b, g, r))
            data += line + bytes(row - len(line))
        chunks.append(bytes(data))
    size = row * height

    def chunk(fourcc, body):
        return fourcc + struct.pack('<I', len(body)) + body + (b'\0' if len(body) % 2 else b'')

    def lst(kind, body):
        return chunk(b'LIST', kind + body)

    avih = struct.pack('<IIIIIIIIII4I', 1000000 // rate, size * rate, 0, 0x10, frames, 0, 1, size,
                       width, height, 0, 0, 0, 0)
    strh = b'vids' + b'DIB ' + struct.pack('<IHHIIIIIIIIhhhh', 0, 0, 0, 0, 1, rate, 0, frames, size,
                                           0xFFFFFFFF, 0, 0, 0, width, height)
    strf = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, size, 0, 0, 0, 0)
    hdrl = lst(b'hdrl', chunk(b'avih', avih) + lst(b'strl', chunk(b'strh', strh) + chunk(b'strf', strf)))
    movi_body, index, offset = bytearray(), bytearray(), 4
    for data in chunks:
        piece = chunk(b'00db', data)
        index += b'00db' + struct.pack('<III', 0x10, offset, len(data))
        movi_body += piece
        offset += len(piece)
    body = b'AVI ' + hdrl + lst(b'movi', bytes(movi_body)) + chunk(b'idx1', bytes(index))
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', len(body)) + body)


def reel(n, x, y):
    if y < 6 or y >= 58:  # the film's edges with their sprocket holes
        return (230, 230, 230) if (x // 6) % 2 and 1 < y % 58 < 5 else (20, 20, 24)
    cx, cy = 12 + n * 3, 32
    dx, dy = x - cx, y - cy
    if dx * dx + dy * dy > 12 * 12:
        return (24, 40, 80)
    return (200, 40, 40) if ((x + n) // 4 + y // 4) % 2 else (240, 240, 240)
film(f'{out}/reel.avi', 96, 64, 24, 12, reel)
