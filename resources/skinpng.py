#!/usr/bin/env python3
"""Makes a skin picture fit for the program from rsvg-convert's PNG.

Usage: skinpng.py SOURCE.png WIDTH HEIGHT OUT.png [OUT.rgba]

The picture must be 8-bit, non-interlaced and exactly WIDTH x HEIGHT; an opaque one that came as
RGB (colour type 2) is given an alpha channel of 255, so that every skin PNG is RGBA. Only
IHDR, one IDAT and IEND are written: a gamma, chromaticity, colour-profile or any other ancillary
chunk would change how a reader shows the colours. With OUT.rgba, the decoded pixels are also
written there as straight (not premultiplied) red, green, blue, alpha bytes, top row first, for
the tests to compute their reference drawings from.
"""
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def fail(message):
    sys.exit("skinpng: %s: %s" % (sys.argv[1], message))


def chunks(data):
    if data[:8] != SIGNATURE:
        fail("not a PNG file")
    pos = 8
    while pos + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length:
            fail("chunk %r runs past the end" % kind)
        crc, = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) != crc:
            fail("chunk %r has a wrong CRC" % kind)
        yield kind, body
        pos += 12 + length
        if kind == b"IEND":
            return
    fail("no IEND chunk")


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(raw, width, height, bpp=4):
    stride = width * bpp
    out = bytearray(stride * height)
    prev = bytearray(stride)
    pos = 0
    for y in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        if len(line) != stride:
            fail("image data too short")
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + ((a + b) >> 1)) & 255
            elif kind == 4:
                line[x] = (line[x] + paeth(a, b, c)) & 255
            elif kind != 0:
                fail("unknown filter %d" % kind)
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return bytes(out)


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    source, width, height, out_png = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    with open(source, "rb") as f:
        data = f.read()
    header, idat = None, b""
    for kind, body in chunks(data):
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            idat += body
    if header is None or len(header) != 13:
        fail("no IHDR chunk")
    w, h, depth, colour, compression, filtering, interlace = struct.unpack(">IIBBBBB", header)
    if (w, h) != (width, height):
        fail("%d x %d, expected %d x %d" % (w, h, width, height))
    if depth != 8 or colour not in (2, 6):
        fail("bit depth %d, colour type %d: expected 8-bit RGB or RGBA" % (depth, colour))
    if compression or filtering or interlace:
        fail("interlaced or of an unknown method")
    if colour == 6:
        pixels = unfilter(zlib.decompress(idat), w, h)
    else:
        rgb = unfilter(zlib.decompress(idat), w, h, 3)
        rgba = bytearray(w * h * 4)
        rgba[0::4], rgba[1::4], rgba[2::4] = rgb[0::3], rgb[1::3], rgb[2::3]
        rgba[3::4] = b"\xff" * (w * h)
        pixels = bytes(rgba)
        rows = b"".join(b"\0" + pixels[y * w * 4:(y + 1) * w * 4] for y in range(h))
        idat = zlib.compress(rows, 9)
        header = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    with open(out_png, "wb") as f:
        f.write(SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", idat) + chunk(b"IEND", b""))
    if len(sys.argv) == 6:
        with open(sys.argv[5], "wb") as f:
            f.write(pixels)


if __name__ == "__main__":
    main()
