#!/usr/bin/python3
"""Writes the PNG files that png_test carries as RCDATA resources (see Resources.rc).

usage: make_resources.py OUTDIR
"""
import os
import struct
import sys
import zlib


def chunk(name, data):
    body = name + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, depth, colour, rows, plte=None, trns=None, interlace=0):
    """rows: the raw image data (filter bytes included) already laid out for the interlace method."""
    out = b'\x89PNG\r\n\x1a\n'
    out += chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, interlace))
    if plte is not None:
        out += chunk(b'PLTE', bytes(sum(plte, ())))
    if trns is not None:
        out += chunk(b'tRNS', bytes(trns))
    out += chunk(b'IDAT', zlib.compress(rows))
    out += chunk(b'IEND', b'')
    return out


def pack(samples, depth):
    """One row of samples at depth bits (1, 2, 4, 8 or 16)."""
    if depth == 16:
        return b''.join(struct.pack('>H', s) for s in samples)
    if depth == 8:
        return bytes(samples)
    per = 8 // depth
    out = bytearray()
    for i in range(0, len(samples), per):
        b = 0
        for k in range(per):
            b <<= depth
            if i + k < len(samples):
                b |= samples[i + k]
        out.append(b)
    return bytes(out)


def raw(rows, depth):
    return b''.join(b'\x00' + pack(r, depth) for r in rows)


# RGBA pixels, two rows of three: the loader's premultiplying is checked on each.
RGBA = [[(255, 128, 0, 128), (10, 20, 30, 0), (255, 255, 255, 255)],
        [(0, 0, 255, 255), (200, 100, 50, 64), (1, 2, 3, 4)]]


def rgba_rows(wide):
    if not wide:
        return [[c for px in row for c in px] for row in RGBA]
    # 16-bit: the high byte is the 8-bit value, the low byte something else.
    return [[(c << 8) | ((c * 7 + 3) & 0xFF) for px in row for c in px] for row in RGBA]


def adam7(pixel_rows, width, height, bpp_bytes):
    starts = [(0, 0, 8, 8), (0, 4, 8, 8), (4, 0, 8, 4), (0, 2, 4, 4), (2, 0, 4, 2), (0, 1, 2, 2), (1, 0, 2, 1)]
    out = b''
    for ys, xs, yi, xi in starts:
        if xs >= width:
            continue
        for y in range(ys, height, yi):
            out += b'\x00' + b''.join(pixel_rows[y][x] for x in range(xs, width, xi))
    return out


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    files = {}
    files['rgba8.png'] = png(3, 2, 8, 6, raw(rgba_rows(False), 8))
    files['rgba16.png'] = png(3, 2, 16, 6, raw(rgba_rows(True), 16))
    files['rgba8i.png'] = png(3, 2, 8, 6, adam7([[bytes(px) for px in row] for row in RGBA], 3, 2, 4), interlace=1)
    ga = [[200, 100, 255, 255, 0, 0]]
    files['ga8.png'] = png(3, 1, 8, 4, raw(ga, 8))
    files['ga16.png'] = png(3, 1, 16, 4, raw([[(v << 8) | 0x5A for v in ga[0]]], 16))
    palette = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)]
    for depth in (1, 2, 4, 8):
        files['pal%d.png' % depth] = png(3, 1, depth, 3, raw([[1, 0, 1]], depth), plte=palette[:2 ** min(depth, 2)],
                                         trns=[0, 128])
    files['pal_key.png'] = png(3, 1, 8, 3, raw([[1, 0, 1]], 8), plte=palette, trns=[255, 0])
    files['pal_single.png'] = png(3, 1, 8, 3, raw([[1, 0, 1]], 8), plte=palette, trns=[255, 128])
    files['rgb.png'] = png(2, 1, 8, 2, raw([[1, 2, 3, 4, 5, 6]], 8))
    files['rgb_key.png'] = png(2, 1, 8, 2, raw([[1, 2, 3, 4, 5, 6]], 8), trns=[0, 1, 0, 2, 0, 3])
    files['broken.png'] = files['rgba8.png'][:40]
    for name, data in files.items():
        path = os.path.join(outdir, name)
        old = open(path, 'rb').read() if os.path.exists(path) else None
        if old != data:
            with open(path, 'wb') as f:
                f.write(data)


main()
