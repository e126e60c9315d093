#!/usr/bin/python3
"""A CardDAV client of the tests' own, apart from the program under test, and a stand-in server
for the two answers real servers cannot be made to give.

Usage: /usr/bin/python3 dav_client.py MODE ...
  list BOOK_URL USER PASSWORD CA_FILE OUT_DIR
        lists the book as the server does (PROPFIND, depth 1), fetches every card (GET) into
        OUT_DIR/N.vcf and prints {"href": "etag", ...}
  edit CARD_URL USER PASSWORD CA_FILE
        changes the card's FN on the server (PUT with If-Match) and prints its new ETag
  delete CARD_URL USER PASSWORD CA_FILE
        deletes the card on the server (DELETE), as a user's address-book client does
  move CARD_URL NEW_URL USER PASSWORD CA_FILE
        puts the card at NEW_URL instead, as it is (GET, DELETE, PUT), as a client that names
        the cards it writes does
  fake MODE
        serves on a free port of 127.0.0.1 (printed first) an address book at / whose answers
        real servers cannot be made to give; each PUT is logged as "PUT STATUS". MODE:
          507, 412       every PUT answered so, with a DAV:error body
          cut-listing    the book's listing broken off before its Content-Length
          cut-chunked    the listing broken off before its last chunk
          cut-xml        the listing's XML broken off, its length as sent
          cut-discovery  the answer about the book itself broken off
          busy           the first three cards' PUTs answered 503 with Retry-After: 2; a
                         card put again sooner than that answered 400
          refuse[-N]     every PUT answered 503 with Retry-After: N (1)
          silent         no answer at all (each request it leaves so logged as "PROPFIND
                         unanswered")
  fake to-plain CERT KEY
        the same over TLS with the certificate CERT and its key KEY, every request answered by a
        redirect to the same server's plain-HTTP address
  fake elsewhere OTHER
        a server that sends its clients on to OTHER, another server's address, in each way a
        client meets: /away/ redirects there; /plain/ is a collection with nothing more to find,
        whose /.well-known/carddav redirects there; /principal/ names OTHER/ann/ as the
        account's principal; and /moved/ redirects on the same server, to its book at /book/
"""
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET


def request(method, url, user, password, ca_file, body=None, headers=None):
    """One request, answering the server's challenge with Basic or Digest (MD5)."""
    context = ssl.create_default_context(cafile=ca_file) if ca_file != "-" else None
    handlers = [urllib.request.HTTPSHandler(context=context)]
    if user:
        passwords = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        passwords.add_password(None, url, user, password)
        handlers += [urllib.request.HTTPBasicAuthHandler(passwords),
                     urllib.request.HTTPDigestAuthHandler(passwords)]
    req = urllib.request.Request(url, data=body, method=method, headers=dict(headers or {}))
    with urllib.request.build_opener(*handlers).open(req, timeout=30) as r:
        return r.read(), r.headers


def list_book(url, user, password, ca_file, out_dir):
    body = (b'<?xml version="1.0"?><propfind xmlns="DAV:"><prop><getetag/></prop></propfind>')
    data, _ = request("PROPFIND", url, user, password, ca_file, body,
                      {"Depth": "1", "Content-Type": "application/xml"})
    tags = {}
    for response in ET.fromstring(data).findall("{DAV:}response"):
        href = response.find("{DAV:}href").text
        etag = response.find(".//{DAV:}getetag")
        if etag is None or not href.endswith(".vcf"):
            continue
        tags[href] = etag.text
    os.makedirs(out_dir, exist_ok=True)
    for n, href in enumerate(sorted(tags)):
        card, _ = request("GET", urllib.parse.urljoin(url, href), user, password, ca_file)
        with open(os.path.join(out_dir, "%d.vcf" % n), "wb") as f:
            f.write(card)
    return tags


def edit(url, user, password, ca_file):
    card, headers = request("GET", url, user, password, ca_file)
    lines = card.decode("utf-8").split("\r\n")
    # As a client does: the name changed and the card's revision with it.
    lines = ["FN:Edited on the server" if l.startswith("FN:") else
             "REV:20300101T000000Z" if l.startswith("REV:") else l for l in lines]
    _, answer = request("PUT", url, user, password, ca_file, "\r\n".join(lines).encode(),
                        {"If-Match": headers["ETag"], "Content-Type": "text/vcard"})
    return answer.get("ETag", "")


def move(url, new_url, user, password, ca_file):
    card, _ = request("GET", url, user, password, ca_file)
    request("DELETE", url, user, password, ca_file)
    request("PUT", new_url, user, password, ca_file, card,
            {"If-None-Match": "*", "Content-Type": "text/vcard"})


def fake(mode, *args):
    cert, key = args if mode == "to-plain" else (None, None)
    other = args[0] if mode == "elsewhere" else None
    book = ('<?xml version="1.0"?><multistatus xmlns="DAV:" '
            'xmlns:C="urn:ietf:params:xml:ns:carddav"><response><href>/</href><propstat><prop>'
            '<resourcetype><collection/><C:addressbook/></resourcetype><displayname>Full'
            '</displayname></prop><status>HTTP/1.1 200 OK</status></propstat></response>'
            '</multistatus>').encode()
    # A book of 300 cards, for the listings that break off.
    listing = ('<?xml version="1.0"?><multistatus xmlns="DAV:">' + "".join(
        '<response><href>/card-%d.vcf</href><propstat><prop><getetag>"%d"</getetag></prop>'
        '<status>HTTP/1.1 200 OK</status></propstat></response>' % (n, n) for n in range(300)) +
        '</multistatus>').encode()
    errors = {"507": b'<?xml version="1.0"?><error xmlns="DAV:"><quota-not-exceeded/></error>',
              "412": b'<?xml version="1.0"?><error xmlns="DAV:"><need-privileges/></error>'}
    busy = {}  # path -> the time it was told to come back at
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def answer(self, code, body=b"", kind="application/xml", headers=()):
            self.send_response(code)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)

        def cut(self, body):
            """Half of `body`, then the connection closed, in the way the mode names."""
            self.send_response(207)
            self.send_header("Content-Type", "application/xml")
            if mode == "cut-chunked":
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                half = body[:len(body) // 2]
                self.wfile.write(b"%x\r\n" % len(half) + half + b"\r\n")
            elif mode == "cut-xml":
                half = body[:len(body) // 2]
                self.send_header("Content-Length", str(len(half)))
                self.end_headers()
                self.wfile.write(half)
            else:
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

        def do_PROPFIND(self):
            self.rfile.read(int(self.headers.get("Content-Length", 0)))
            if mode == "to-plain":
                return self.answer(301, b"", "text/plain", [
                    ("Location", "http://127.0.0.1:%d/" % self.server.server_address[1])])
            if mode == "elsewhere":
                return self.elsewhere()
            if mode == "silent":
                print("PROPFIND unanswered", flush=True)
                time.sleep(3600)
            depth = self.headers.get("Depth", "0")
            if mode == "cut-discovery" and depth == "0":
                self.cut(book)
            elif mode in ("cut-listing", "cut-xml", "cut-chunked") and depth == "1":
                self.cut(listing)
            elif depth == "1":
                self.answer(207, book.replace(b"<href>/</href>", b"<href>/none</href>"))
            else:
                self.answer(207, book)

        def elsewhere(self):
            moved = {"/away/": other, "/.well-known/carddav": other, "/moved/": "/book/"}
            if self.path in moved:
                return self.answer(301, b"", "text/plain", [("Location", moved[self.path])])
            if self.path == "/principal/":
                return self.answer(207, (
                    '<?xml version="1.0"?><multistatus xmlns="DAV:"><response>'
                    '<href>/principal/</href><propstat><prop><resourcetype><collection/>'
                    '</resourcetype><current-user-principal><href>%sann/</href>'
                    '</current-user-principal></prop><status>HTTP/1.1 200 OK</status>'
                    '</propstat></response></multistatus>' % other).encode())
            if self.path == "/plain/":
                return self.answer(207, (
                    b'<?xml version="1.0"?><multistatus xmlns="DAV:"><response>'
                    b'<href>/plain/</href><propstat><prop><resourcetype><collection/>'
                    b'</resourcetype></prop><status>HTTP/1.1 200 OK</status></propstat>'
                    b'</response></multistatus>'))
            if self.path == "/book/":
                return self.answer(207, book.replace(b"<href>/</href>", b"<href>/book/</href>"))
            self.answer(404, b"", "text/plain")

        def do_PUT(self):
            self.rfile.read(int(self.headers.get("Content-Length", 0)))
            if mode in errors:
                return self.answer(int(mode), errors[mode])
            if mode.startswith("refuse"):
                wait = mode[len("refuse-"):] or "1"
                return self.answer(503, b"down for maintenance", "text/plain",
                                   [("Retry-After", wait)])
            if mode == "busy":
                # Busy for the first three cards, asking for two seconds; a card that comes
                # back sooner is refused for good.
                with lock:
                    now = time.monotonic()
                    if now < busy.get(self.path, 0):
                        return self.answer(400, b"came back before Retry-After", "text/plain")
                    if self.path not in busy and len(busy) < 3:
                        busy[self.path] = now + 2
                        return self.answer(503, b"busy", "text/plain", [("Retry-After", "2")])
            self.answer(201, b"", "text/plain", [("ETag", '"%f"' % time.time())])

        def log_message(self, form, *args):
            if self.command == "PUT" and len(args) > 1:
                print("%s %s" % (self.command, args[1]), flush=True)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


def main():
    mode, args = sys.argv[1], sys.argv[2:]
    if mode == "list":
        print(json.dumps(list_book(*args)))
    elif mode == "edit":
        print(edit(*args))
    elif mode == "delete":
        request("DELETE", *args)
    elif mode == "move":
        move(*args)
    elif mode == "fake":
        fake(*args)
    else:
        raise SystemExit("unknown mode " + mode)


if __name__ == "__main__":
    main()
