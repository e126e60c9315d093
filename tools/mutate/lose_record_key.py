#!/usr/bin/python3
"""Writes a copy of a store whose record key no reader can find: the message store's block made
unreadable (its heap's first bytes overwritten) and the default folders' entry ids on the folders
(which name the record key too) turned into numbers, every checksum valid again.

Usage: /usr/bin/python3 lose_record_key.py IN OUT
IN is a store written by lumivex-pstgen with --encoding none (its blocks as they are).
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import campaign  # noqa: E402

MESSAGE_STORE = 0x21
NORMAL_FOLDER = 0x02  # the type bits of a folder's node id
PT_BINARY, PT_LONG = b"\x02\x01", b"\x03\x00"


def main():
    data = open(sys.argv[1], "rb").read()
    buf = bytearray(data)
    name, found = campaign.structures(data)
    if name is None:
        sys.exit(f"{sys.argv[1]} is not a store file")
    idb = campaign.LAYOUTS[name][0]
    read_id = "<Q" if idb == 8 else "<I"
    for _, at, _ in (f for f in found if f[0] == "node"):
        nid = struct.unpack_from("<I", data, at)[0]
        where = campaign.block_at(data, name, struct.unpack_from(read_id, data, at + idb)[0])
        if where is None:
            continue
        ib, cb = where
        if nid == MESSAGE_STORE:
            buf[ib:ib + 8] = b"\xff" * 8
        elif nid & 0x1F == NORMAL_FOLDER:
            block = data[ib:ib + cb]
            for tag in range(0x36D0, 0x36D8):  # the default folders' entry ids
                block = block.replace(struct.pack("<H", tag) + PT_BINARY,
                                      struct.pack("<H", tag) + PT_LONG)
            buf[ib:ib + cb] = block
    campaign.fix_checksums(buf, name, found)
    open(sys.argv[2], "wb").write(buf)


if __name__ == "__main__":
    main()
