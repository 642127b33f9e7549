#!/usr/bin/python3
"""Reference decoding of PNG files by an independent decoder (Debian's python3-png).

usage: pngref.py FILE...
One line per file: path, tab, then either "error <text>" or
"<width> <height> <colour type> <bit depth>" tab and the hex of 4 bytes per pixel, row by row:
red, green, blue and alpha as 8-bit values before any gamma (16-bit samples: the high byte; grey
below 8 bits scaled to 0..255; palette entries looked up, alpha from tRNS; no alpha: 255).
"""
import sys

import png


def reference(path):
    r = png.Reader(filename=path)
    width, height, rows, info = r.read()
    depth = info['bitdepth']
    planes = info['planes']
    palette = info.get('palette')
    colour_type = 3 if palette else (2 if info['greyscale'] is False else 0) + (4 if info['alpha'] else 0)
    out = bytearray()
    maxval = (1 << depth) - 1
    for row in rows:
        row = list(row)
        for x in range(width):
            px = row[x * planes:(x + 1) * planes]
            if palette:
                entry = palette[px[0]]
                out += bytes([entry[0], entry[1], entry[2], entry[3] if len(entry) > 3 else 255])
                continue
            if depth == 16:
                px = [v >> 8 for v in px]
            elif depth < 8:
                px = [v * 255 // maxval for v in px]
            if planes == 1:
                out += bytes([px[0], px[0], px[0], 255])
            elif planes == 2:
                out += bytes([px[0], px[0], px[0], px[1]])
            elif planes == 3:
                out += bytes([px[0], px[1], px[2], 255])
            else:
                out += bytes(px)
    return '%d %d %d %d\t%s' % (width, height, colour_type, depth, out.hex())


for path in sys.argv[1:]:
    try:
        line = reference(path)
    except Exception as e:  # the decoder's own complaint, reported as data
        line = 'error ' + (str(e).replace('\t', ' ').replace('\n', ' ') or type(e).__name__)
    print(path + '\t' + line)
