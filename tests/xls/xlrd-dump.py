"""Reads a worksheet with xlrd and prints what it found as JSON: fonts, number formats, cells
(row and column from 1, text, font index) and horizontal page breaks (rows from 1).

xlrd takes only the document type 0x0010 in the BOF record; ours says 0x000A, as Excel's own
BIFF 2.1 files do. The type word is changed in memory before reading, never in the file.

Usage: /usr/bin/python3 xlrd-dump.py FILE.xls [CODEC]   (CODEC defaults to cp1252; "record"
reads the text in the code page the file's CODEPAGE record names)
"""
import json
import sys

import xlrd


def main():
    path = sys.argv[1]
    codec = sys.argv[2] if len(sys.argv) > 2 else "cp1252"
    data = bytearray(open(path, "rb").read())
    data[6:8] = b"\x10\x00"
    book = xlrd.open_workbook(file_contents=bytes(data), formatting_info=True,
                              encoding_override=None if codec == "record" else codec)
    sheet = book.sheet_by_index(0)
    out = {
        "biff_version": book.biff_version,
        "fonts": [[f.name, f.height, bool(f.bold), bool(f.italic), bool(f.underlined)]
                  for f in book.font_list],
        "formats": [book.format_map[k].format_str for k in sorted(book.format_map)],
        "cells": [],
        "page_breaks": [row + 1 for row, _, _ in sheet.horizontal_page_breaks],
    }
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            font = book.xf_list[cell.xf_index].font_index
            out["cells"].append([r + 1, c + 1, str(cell.value), font])
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
