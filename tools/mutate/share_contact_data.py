#!/usr/bin/python3
"""Writes a copy of a store in which one contact's node is pointed at another contact's data, every
checksum valid again: both entries then read as the same contact, and neither can be trusted.

Usage: /usr/bin/python3 share_contact_data.py IN OUT FIRST SECOND
The FIRST contact (counted from 1 in the order of the node B-tree, which for a store written by
lumivex-pstgen is the order of its contacts folder) gets the data of the SECOND.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import campaign  # noqa: E402

CONTACT = 0x04  # the type bits of a message's node id


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__.strip())
    data = open(sys.argv[1], "rb").read()
    first, second = int(sys.argv[3]), int(sys.argv[4])
    name, found = campaign.structures(data)
    if name is None:
        sys.exit(f"{sys.argv[1]} is not a store file")
    idb = campaign.LAYOUTS[name][0]
    contacts = sorted((struct.unpack_from("<I", data, at)[0], at)
                      for kind, at, _ in found
                      if kind == "node" and struct.unpack_from("<I", data, at)[0] & 0x1F == CONTACT)
    if not 1 <= first <= len(contacts) or not 1 <= second <= len(contacts) or first == second:
        sys.exit(f"{sys.argv[1]} has {len(contacts)} contacts: choose two of them")
    at, other = contacts[first - 1][1], contacts[second - 1][1]
    buf = bytearray(data)
    buf[at + idb:at + 2 * idb] = data[other + idb:other + 2 * idb]
    campaign.fix_checksums(buf, name, found)
    open(sys.argv[2], "wb").write(buf)


if __name__ == "__main__":
    main()
