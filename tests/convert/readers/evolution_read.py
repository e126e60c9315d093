#!/usr/bin/python3
"""Reads every vCard of a file with Evolution's address-book library, one card at a time, and
prints them as a JSON array with the fields the tests compare.

Usage: /usr/bin/python3 evolution_read.py FILE CODEPAGE
"""
import json
import sys

import gi

gi.require_version("EBookContacts", "1.2")
from gi.repository import EBookContacts  # noqa: E402


def address(contact, name):
    a = contact.get_property(name)
    if a is None:
        return [""] * 7
    return [a.po or "", a.ext or "", a.street or "", a.locality or "", a.region or "",
            a.code or "", a.country or ""]


def text(contact, name):
    return contact.get_property(name) or ""


def main():
    path, codepage = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        content = f.read().decode("cp" + codepage)
    cards, card = [], None
    for line in content.split("\r\n"):
        if line.upper() == "BEGIN:VCARD":
            card = [line]
        elif card is not None:
            card.append(line)
            if line.upper() == "END:VCARD":
                cards.append("\r\n".join(card) + "\r\n")
                card = None
    out = []
    for vcard in cards:
        c = EBookContacts.Contact.new_from_vcard(vcard)
        name = c.get_property("name")
        out.append({
            "family": name.family if name else "",
            "given": name.given if name else "",
            "additional": name.additional if name else "",
            "fn": text(c, "full-name"),
            "org": text(c, "org"),
            "orgUnit": text(c, "org-unit"),
            "title": text(c, "title"),
            "note": text(c, "note"),
            "workPhone": text(c, "business-phone"),
            "homePhone": text(c, "home-phone"),
            "cellPhone": text(c, "mobile-phone"),
            "pager": text(c, "pager"),
            "workFax": text(c, "business-fax"),
            "homeFax": text(c, "home-fax"),
            "workAdr": address(c, "address-work"),
            "homeAdr": address(c, "address-home"),
            "workLabel": text(c, "address-label-work"),
            "email": text(c, "email-1"),
            "url": text(c, "homepage-url"),
        })
    json.dump(out, sys.stdout, ensure_ascii=False, indent=1)


if __name__ == "__main__":
    main()
