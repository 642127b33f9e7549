#!/usr/bin/env python3
"""Builds a binary string table from its readable source.

Usage: mklang.py SOURCE.txt CODE OUTPUT.bin

Layout (little-endian, offsets from the first byte):
  0  "SKLG"
  4  the language code: one length byte, the characters, zero padding to 8 bytes
  12 uint32 total size of the table
  16 int32  highest string id (MaxId)
  20 uint32 offset of the offset table (28)
  24 uint32 offset of the string data
  28 one int32 per id 0..MaxId: offset of the string from the start of the string data,
     -3 for id 0 and -2 for any other id without a string
  then NUL-terminated UTF-8 strings; identical texts are stored once.
"""
import struct
import sys

MAX_ID = 162
NO_STRING, ID_ZERO = -2, -3


def read_source(path):
    table = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            ident, sep, text = line.partition("\t")
            if not sep or not ident.isdigit():
                sys.exit("%s:%d: expected an id, a tab and the text" % (path, number))
            ident = int(ident)
            if not 1 <= ident <= MAX_ID:
                sys.exit("%s:%d: id %d is outside 1..%d" % (path, number, ident, MAX_ID))
            if ident in table:
                sys.exit("%s:%d: id %d is given twice" % (path, number, ident))
            if "<" in text or "&" in text:
                sys.exit("%s:%d: texts may not hold '<' or '&'" % (path, number))
            table[ident] = text
    return table


def build(table, code):
    data = bytearray()
    placed = {}
    offsets = [ID_ZERO]
    for ident in range(1, MAX_ID + 1):
        text = table.get(ident)
        if text is None:
            offsets.append(NO_STRING)
            continue
        if text not in placed:
            placed[text] = len(data)
            data += text.encode("utf-8") + b"\0"
        offsets.append(placed[text])
    code_field = bytes([len(code)]) + code.encode("ascii")
    code_field += b"\0" * (8 - len(code_field))
    offset_table = 28
    string_data = offset_table + 4 * (MAX_ID + 1)
    total = string_data + len(data)
    head = b"SKLG" + code_field + struct.pack("<IiII", total, MAX_ID, offset_table, string_data)
    return head + struct.pack("<%di" % len(offsets), *offsets) + bytes(data)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, code, output = sys.argv[1:]
    if not 1 <= len(code) <= 7:
        sys.exit("the language code must have 1 to 7 characters")
    blob = build(read_source(source), code)
    with open(output, "wb") as f:
        f.write(blob)


if __name__ == "__main__":
    main()
