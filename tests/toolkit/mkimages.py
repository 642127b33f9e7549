#!/usr/bin/env python3
"""Writes the image cache's broken and plain fixtures into OUTDIR.

opaque.png     8 x 8 RGB without alpha (refused: no transparency information)
truncated.png  8 x 8 RGBA cut off inside its image data
badcrc.png     8 x 8 RGBA whose IDAT checksum is wrong
bitmap.bmp     4 x 3 24-bit Windows bitmap, row y pixel x of colour (60x, 80y, 200)
"""
import struct
import sys
import zlib


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, colour, pixel_bytes):
    rows = b"".join(b"\0" + pixel_bytes(y) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1]
    rgba = png(8, 8, 6, lambda y: bytes([30 * y, 20, 200, 128]) * 8)
    with open(out + "/opaque.png", "wb") as f:
        f.write(png(8, 8, 2, lambda y: bytes([30 * y, 20, 200]) * 8))
    idat = rgba.index(b"IDAT")
    with open(out + "/truncated.png", "wb") as f:
        f.write(rgba[:idat + 12])
    bad = bytearray(rgba)
    end = rgba.index(b"IEND") - 4  # the IDAT checksum ends where IEND's length starts
    bad[end - 1] ^= 0xFF
    with open(out + "/badcrc.png", "wb") as f:
        f.write(bytes(bad))
    width, height = 4, 3
    stride = (width * 3 + 3) & ~3
    pixels = b""
    for y in reversed(range(height)):  # bottom-up
        row = b"".join(bytes([200, 80 * y, 60 * x]) for x in range(width))  # blue, green, red
        pixels += row + b"\0" * (stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(out + "/bitmap.bmp", "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + info + pixels)


if __name__ == "__main__":
    main()
