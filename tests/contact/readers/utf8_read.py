#!/usr/bin/python3
"""Reads our vCard 4.0, vCard 3.0 and CSV files with programs nobody on this team wrote and
prints what they saw as JSON, for the tests to compare with the store's own values.

Usage: /usr/bin/python3 utf8_read.py MODE FILE...
  vobject FILE...      every card, parsed strictly by vobject (no unreadable line skipped)
  evolution [--code-page N] FILE...
                       every card as Evolution's address-book library reads it (files in
                       Windows code page N rather than UTF-8: our vCard 2.1 files)
  evolution-book [BOOK]
                       every contact of the Evolution Data Server book BOOK (its name; the
                       default book when none) on this session's bus, as `evolution` gives them
  evolution-book-edit BOOK UID NOTE
                       changes one contact's note in that book, as a user does in Evolution
  evolution-book-delete BOOK UID
                       deletes one contact from that book, as a user does in Evolution
  csv FILE...          each file's rows as Python's csv module reads them
  libreoffice FILE...  each file's rows as LibreOffice Calc reads them (UTF-8, comma, quote)
  carddav FILE...      puts every card to a Radicale server started here on 127.0.0.1 and
                       prints the HTTP status of each PUT and the cards the server holds after
"""
import base64
import csv
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request


def split_cards(path, encoding="utf-8"):
    with open(path, "rb") as f:
        text = f.read().decode(encoding)
    cards, card = [], None
    for line in text.split("\r\n"):
        if line.upper() == "BEGIN:VCARD":
            card = [line]
        elif card is not None:
            card.append(line)
            if line.upper() == "END:VCARD":
                cards.append("\r\n".join(card) + "\r\n")
                card = None
    return cards


def read_vobject(paths):
    import vobject
    out = []
    for path in paths:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
        for card in vobject.readComponents(text):
            fields = {}
            for child in card.getChildren():
                name = child.name.upper()
                value = child.value
                if name == "N":
                    value = [value.family, value.given, value.additional, value.prefix,
                             value.suffix]
                elif name == "ADR":
                    value = [value.box, value.extended, value.street, value.city, value.region,
                             value.code, value.country]
                elif name == "ORG" or name == "CATEGORIES":
                    value = list(value)
                elif isinstance(value, bytes):
                    value = "base64:" + base64.b64encode(value).decode()
                params = {k.upper(): v for k, v in child.params.items()}
                fields.setdefault(name, []).append({"value": value, "params": params})
            out.append(fields)
    return out


def evolution_fields(c):
    """What Evolution's library sees of one contact (an EBookContacts.Contact)."""
    from gi.repository import EBookContacts as E

    def address(name):
        a = c.get_property(name)
        if a is None:
            return None
        return [a.po or "", a.ext or "", a.street or "", a.locality or "", a.region or "",
                a.code or "", a.country or ""]

    def date(name):
        d = c.get_property(name)
        return "%04d-%02d-%02d" % (d.year, d.month, d.day) if d else ""

    name = c.get_property("name")
    phones = []
    for attr in c.get_attributes(E.ContactField.TEL):
        types = []
        for p in attr.get_params():
            if p.get_name().upper() == "TYPE":
                types += [v.upper() for v in p.get_values()]
        phones.append({"number": attr.get_value(), "types": sorted(types)})
    photo = c.get_property("photo")
    photo_bytes = ""
    if photo is not None and photo.type == E.ContactPhotoType.INLINED:
        photo_bytes = base64.b64encode(bytes(photo.get_inlined())).decode()
    elif photo is not None and photo.get_uri().startswith(("data:", "file:")):
        # A picture given by a data: URI, or moved by an address book into a file of its own,
        # opened as Python opens any URL.
        with urllib.request.urlopen(photo.get_uri()) as r:
            photo_bytes = base64.b64encode(r.read()).decode()
    return {
        "family": name.family if name else "",
        "given": name.given if name else "",
        "additional": name.additional if name else "",
        "prefixes": name.prefixes if name else "",
        "suffixes": name.suffixes if name else "",
        "fn": c.get_property("full-name") or "",
        "nickname": c.get_property("nickname") or "",
        "org": c.get_property("org") or "",
        "orgUnit": c.get_property("org-unit") or "",
        "title": c.get_property("title") or "",
        "role": c.get_property("role") or "",
        "note": c.get_property("note") or "",
        "emails": [a.get_value() for a in c.get_attributes(E.ContactField.EMAIL)],
        "phones": phones,
        "workAdr": address("address-work"),
        "homeAdr": address("address-home"),
        "otherAdr": address("address-other"),
        "birthday": date("birth-date"),
        "anniversary": date("anniversary"),
        "categories": c.get_property("categories") or "",
        "photo": photo_bytes,
        "uid": c.get_property("id") or "",
        "isList": bool(c.get_property("list")),
        "members": list_members(c),
        # A list's members as the CardDAV clients read them (X-ADDRESSBOOKSERVER-MEMBER URIs).
        **({"memberUris": [a.get_value() for a in E.VCard.get_attributes(c)
                           if a.get_name().upper() == "X-ADDRESSBOOKSERVER-MEMBER"]}
           if c.get_property("list") else {}),
        # The fields of a vCard 2.1 card by the name of the property that holds them.
        **{key: c.get_property(name) or "" for key, name in (
            ("workPhone", "business-phone"), ("homePhone", "home-phone"),
            ("cellPhone", "mobile-phone"), ("pager", "pager"),
            ("workFax", "business-fax"), ("homeFax", "home-fax"),
            ("workLabel", "address-label-work"), ("email", "email-1"),
            ("url", "homepage-url"), ("fileAs", "file-as"), ("office", "office"))},
        # Every instant-messaging address by the field Evolution files it under.
        "ims": {E.Contact.field_name(f): [a.get_value() for a in c.get_attributes(f)]
                for f in (E.ContactField.IM_AIM, E.ContactField.IM_GROUPWISE,
                          E.ContactField.IM_JABBER, E.ContactField.IM_YAHOO,
                          E.ContactField.IM_MSN, E.ContactField.IM_ICQ,
                          E.ContactField.IM_GADUGADU, E.ContactField.IM_SKYPE,
                          E.ContactField.IM_GOOGLE_TALK, E.ContactField.IM_MATRIX)
                if c.get_attributes(f)},
    }


def list_members(c):
    """The members of one of Evolution's lists as Evolution's own code takes them (EDestination):
    each one's contact uid (empty for an address without a contact), address and name."""
    if not c.get_property("list"):
        return []
    import gi
    gi.require_version("EBook", "1.2")
    from gi.repository import EBook
    dest = EBook.Destination.new()
    dest.set_contact(c, 0)
    return [{"uid": m.get_contact_uid() or "", "email": m.get_email() or "",
             "name": m.get_name() or ""} for m in dest.list_get_dests()]


def read_evolution(paths, encoding):
    import gi
    gi.require_version("EBookContacts", "1.2")
    from gi.repository import EBookContacts as E
    out = []
    for path in paths:
        for vcard in split_cards(path, encoding):
            out.append(evolution_fields(E.Contact.new_from_vcard(vcard)))
    return out


def evolution_book(book):
    """The address book `book` (its name; empty: the default book) of the Evolution Data Server
    on this session's bus."""
    import gi
    gi.require_version("EBook", "1.2")
    gi.require_version("EDataServer", "1.2")
    from gi.repository import EBook, EDataServer
    registry = EDataServer.SourceRegistry.new_sync(None)
    source = registry.ref_default_address_book()
    if book:
        source = next(s for s in registry.list_sources(EDataServer.SOURCE_EXTENSION_ADDRESS_BOOK)
                      if s.get_display_name() == book)
    # Not waiting for the book to report itself connected (2**32 - 1): a local book never does.
    return EBook.BookClient.connect_sync(source, 2**32 - 1, None)


def read_evolution_book(book):
    client = evolution_book(book)
    ok, contacts = client.get_contacts_sync("", None)
    return sorted((evolution_fields(c) for c in contacts), key=lambda o: o["uid"])


def edit_evolution_book(book, uid, note):
    """Changes the note of one contact, as a user does in Evolution."""
    client = evolution_book(book)
    ok, c = client.get_contact_sync(uid, None)
    c.set_property("note", note)
    client.modify_contact_sync(c, 0, None)
    return {"uid": uid}


def delete_evolution_contact(book, uid):
    """Deletes one contact, as a user does in Evolution."""
    evolution_book(book).remove_contact_by_uid_sync(uid, 0, None)
    return {"uid": uid}


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f, strict=True))
    return rows


def read_libreoffice(paths):
    work = tempfile.mkdtemp(prefix="lumivex-lo-")
    try:
        names = []
        for n, path in enumerate(paths):
            names.append(os.path.join(work, "in%d.csv" % n))
            shutil.copy(path, names[-1])
        # Read as UTF-8 (76), comma (44) and double quote (34), quoted fields as text (as a user
        # imports contacts, so that "1975-05-17" is not made a date); written back tab-separated,
        # so that what comes back is LibreOffice's view of the cells, not our own text again.
        subprocess.run(
            ["soffice", "-env:UserInstallation=file://" + work + "/profile", "--headless",
             "--infilter=CSV:44,34,76,1,,1033,true,false",
             "--convert-to", "txt:Text - txt - csv (StarCalc):9,34,76,1",
             "--outdir", os.path.join(work, "out")] + names,
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
        tables = []
        for n in range(len(paths)):
            out = os.path.join(work, "out", "in%d.txt" % n)
            if not os.path.exists(out):
                raise SystemExit("LibreOffice wrote nothing for " + paths[n])
            with open(out, newline="", encoding="utf-8") as f:
                tables.append(list(csv.reader(f, delimiter="\t", strict=True)))
        return tables
    finally:
        shutil.rmtree(work, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def put_carddav(paths):
    work = tempfile.mkdtemp(prefix="lumivex-radicale-")
    port = free_port()
    config = os.path.join(work, "config")
    with open(config, "w") as f:
        f.write("[server]\nhosts = 127.0.0.1:%d\n[auth]\ntype = none\n"
                "[storage]\nfilesystem_folder = %s/collections\n"
                "[logging]\nlevel = warning\n" % (port, work))
    server = subprocess.Popen(["/usr/bin/python3", "-m", "radicale", "--config", config],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    base = "http://127.0.0.1:%d/lumivex/" % port
    # Authentication is off, so any name is taken; naming one makes /lumivex/ its home.
    login = {"Authorization": "Basic " + base64.b64encode(b"lumivex:x").decode()}
    try:
        for _ in range(100):
            try:
                urllib.request.urlopen(urllib.request.Request(base, headers=login), timeout=2)
                break
            except urllib.error.HTTPError:
                break
            except OSError:
                time.sleep(0.1)
        body = ('<?xml version="1.0"?><mkcol xmlns="DAV:" '
                'xmlns:C="urn:ietf:params:xml:ns:carddav"><set><prop><resourcetype>'
                '<collection/><C:addressbook/></resourcetype></prop></set></mkcol>')
        statuses = []
        held = 0
        # Each file goes into an address book of its own: the same contact in two files has the
        # same UID, which one address book holds once.
        for number, path in enumerate(paths):
            book = base + "book%d/" % number
            req = urllib.request.Request(book, data=body.encode(), method="MKCOL",
                                         headers={"Content-Type": "application/xml", **login})
            urllib.request.urlopen(req, timeout=30)
            for n, card in enumerate(split_cards(path)):
                req = urllib.request.Request(
                    book + "%d.vcf" % n, data=card.encode("utf-8"), method="PUT",
                    headers={"Content-Type": "text/vcard; charset=utf-8", **login})
                try:
                    with urllib.request.urlopen(req, timeout=30) as r:
                        statuses.append({"status": r.status})
                except urllib.error.HTTPError as e:
                    statuses.append({"status": e.code, "error": e.read().decode(errors="replace")})
            with urllib.request.urlopen(urllib.request.Request(book, headers=login),
                                        timeout=30) as r:
                held += r.read().decode("utf-8").count("BEGIN:VCARD")
        return {"puts": statuses, "held": held}
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
        shutil.rmtree(work, ignore_errors=True)


def main():
    mode, paths = sys.argv[1], sys.argv[2:]
    if mode == "vobject":
        result = read_vobject(paths)
    elif mode == "evolution":
        encoding = "utf-8"
        if paths[:1] == ["--code-page"]:
            encoding, paths = "cp" + paths[1], paths[2:]
        result = read_evolution(paths, encoding)
    elif mode == "evolution-book":
        result = read_evolution_book(paths[0] if paths else "")
    elif mode == "evolution-book-edit":
        result = edit_evolution_book(paths[0], paths[1], paths[2])
    elif mode == "evolution-book-delete":
        result = delete_evolution_contact(paths[0], paths[1])
    elif mode == "csv":
        result = [read_csv(path) for path in paths]
    elif mode == "libreoffice":
        result = read_libreoffice(paths)
    elif mode == "carddav":
        result = put_carddav(paths)
    else:
        raise SystemExit("unknown mode " + mode)
    json.dump(result, sys.stdout, ensure_ascii=False, default=str)


if __name__ == "__main__":
    main()
