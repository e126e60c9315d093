#!/usr/bin/python3
"""Mutation campaign: damages store files and runs lumivex-cli on each damaged copy.

Bases are the real stores in the fixtures folder (also the damaged ones), the sample store and
stores written by lumivex-pstgen (Unicode and ANSI). Each damaged copy gets byte flips, zeroed
512-byte blocks, a zeroed structure, a truncation, two blocks of one size swapped, a node pointed
at another node's data, or a node whose id is changed (its parent lists a node that cannot be
found); in half of them the checksums of the header, every B-tree page and every block are made
valid again, so that the damage reaches the parsing code. On each copy the command line runs
`folders`, `scan` and one of the exports (vcard, vcards, xls, wab, vcard4, csv and vcard4 of
every folder with --all-folders take turns), each under a timeout, and every run is classified:

  crash     a signal, or a report of AddressSanitizer / UndefinedBehaviorSanitizer
  hang      the timeout ran out
  silent    exit 0, but the export holds fewer contacts than the undamaged store gives, or a
            contact in the place of another (a card equal to the one before it where the
            undamaged store's differ), or `scan` counts other entries than the undamaged store
  reported  exit 1 or 3 with the reason on stderr
  changed   exit 0, as many contacts, none in another's place, but some values differ: bytes
            changed behind valid checksums, which no reader can tell from the real thing
  clean     exit 0 and the same contacts as the undamaged store

Run it on a sanitizer build (see tools/mutate/README.md); it prints the figures at the end and
keeps each crash, hang and silent loss (and the first 20 changed stores) under WORK/findings.
"""

import argparse
import collections
import csv
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import time
import zlib

# Layouts: (id bytes, nbt root, bbt root, page size, entries bytes, count bytes, page type at,
# page crc at, block trailer, trailer crc at, block alignment).
LAYOUTS = {
    "unicode": (8, 224, 240, 512, 488, 1, 496, 500, 16, 4, 64),
    "ansi": (4, 188, 196, 512, 496, 1, 500, 508, 12, 8, 64),
    "ost4k": (8, 224, 240, 4096, 4056, 2, 4072, 4076, 24, 4, 512),
}


def crc(data):
    """The checksum of the format: CRC-32 without the final inversion, started at 0."""
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def layout_of(data):
    if len(data) < 564 or data[:4] != b"!BDN":
        return None
    version = struct.unpack_from("<H", data, 10)[0]
    if version in (14, 15):
        return "ansi"
    if version == 23:
        return "unicode"
    if version == 36:
        return "ost4k"
    return None


def structures(data):
    """The B-tree pages and blocks of an undamaged store: [(kind, offset, size)]."""
    name = layout_of(data)
    if name is None:
        return name, []
    idb, nbt, bbt, page, entries, countb, ptype_at, _, trailer, _, align = LAYOUTS[name]
    rd = (lambda b, at: struct.unpack_from("<Q", b, at)[0]) if idb == 8 else (
        lambda b, at: struct.unpack_from("<I", b, at)[0])
    found = []
    seen = set()

    def walk(ib, depth, leaf_blocks):
        if depth > 8 or ib in seen or ib + page > len(data):
            return
        seen.add(ib)
        p = data[ib:ib + page]
        found.append(("page", ib, page))
        count = p[entries] if countb == 1 else struct.unpack_from("<H", p, entries)[0]
        size = p[entries + 2 * countb]
        level = p[entries + 2 * countb + 1]
        for i in range(count):
            at = i * size
            if at + size > entries:
                break
            if level > 0:
                walk(rd(p, at + 2 * idb), depth + 1, leaf_blocks)
            elif not leaf_blocks:
                # A node: its id, data block id and sub-node block id, then its parent.
                found.append(("node", ib + at, size))
            elif leaf_blocks:
                bib = rd(p, at + idb)
                cb = struct.unpack_from("<H", p, at + 2 * idb)[0]
                stored = (cb + trailer + align - 1) // align * align
                if bib + stored <= len(data):
                    found.append(("block", bib, stored))

    walk(rd(data, nbt), 0, False)
    walk(rd(data, bbt), 0, True)
    return name, found


def pages_and_blocks(found):
    return [f for f in found if f[0] != "node"]


def fix_checksums(buf, name, found):
    """Makes the header, page and block checksums valid again over the damaged bytes."""
    if name is None or len(buf) < 564:
        return
    idb, _, _, page, _, _, ptype_at, pcrc_at, trailer, tcrc_at, _ = LAYOUTS[name]
    for kind, at, size in found:
        if kind == "node":
            continue
        if at + size > len(buf):
            continue
        if kind == "page":
            struct.pack_into("<I", buf, at + pcrc_at, crc(bytes(buf[at:at + ptype_at])))
        else:
            t = at + size - trailer
            cb = struct.unpack_from("<H", buf, t)[0]
            if at + cb <= t:
                struct.pack_into("<I", buf, t + tcrc_at, crc(bytes(buf[at:at + cb])))
    struct.pack_into("<I", buf, 4, crc(bytes(buf[8:8 + 471])))
    if name != "ansi":
        struct.pack_into("<I", buf, 524, crc(bytes(buf[8:8 + 516])))


# Said of a damaged copy whose checksums must stay as the damage left them.
LEFT_BROKEN = "its checksum left broken"


def block_at(data, name, bid):
    """The offset and size (cb) of block `bid` by the block B-tree, or None."""
    idb, _, bbt, page, entries, countb, _, _, _, _, _ = LAYOUTS[name]
    rd = (lambda b, at: struct.unpack_from("<Q", b, at)[0]) if idb == 8 else (
        lambda b, at: struct.unpack_from("<I", b, at)[0])
    ib = rd(data, bbt)
    for _ in range(9):
        if ib + page > len(data):
            return None
        p = data[ib:ib + page]
        count = p[entries] if countb == 1 else struct.unpack_from("<H", p, entries)[0]
        size, level = p[entries + 2 * countb], p[entries + 2 * countb + 1]
        keys = [rd(p, i * size) for i in range(count) if (i + 1) * size <= entries]
        if level == 0:
            for i, key in enumerate(keys):
                if key & ~1 == bid & ~1:
                    return rd(p, i * size + idb), struct.unpack_from("<H", p, i * size + 2 * idb)[0]
            return None
        below = [i for i, key in enumerate(keys) if key <= bid]
        if not below:
            return None
        ib = rd(p, below[-1] * size + 2 * idb)
    return None


def mutate_shape(rng, buf, data, found, kind):
    """The shapes of damage a reader can see although every checksum holds (or one is left
    broken): a contact's node pointed at another contact's data, a sub-node list whose count is
    0, the name-to-id map's streams zeroed, a node-tree page changed. None when the store has no
    such structure."""
    name = layout_of(data)
    if name is None:
        return None
    idb, _, _, page, entries, _, ptype_at, _, _, _, _ = LAYOUTS[name]
    rd = (lambda b, at: struct.unpack_from("<Q", b, at)[0]) if idb == 8 else (
        lambda b, at: struct.unpack_from("<I", b, at)[0])
    nodes = [at for k, at, _ in found if k == "node"]
    if kind == "redirect-sibling":
        contacts = [at for at in nodes if struct.unpack_from("<I", data, at)[0] & 0x1F == 0x04]
        if len(contacts) < 2:
            return None
        at, other = rng.sample(contacts, 2)
        buf[at + idb:at + 2 * idb] = data[other + idb:other + 2 * idb]
        return f"point the message node at {at} at the data of the message node at {other}"
    if kind == "zero-subnode-count":
        lists = [at for k, at, size in found if k == "block" and size >= 8 and
                 data[at] == 0x02 and data[at + 1] == 0x00 and data[at + 2:at + 4] != b"\0\0"]
        if not lists:
            return None
        at = rng.choice(lists)
        buf[at + 2:at + 4] = b"\0\0"
        return f"set the count of the sub-node list at {at} to 0"
    if kind == "zero-name-map":
        for at in nodes:
            if struct.unpack_from("<I", data, at)[0] == 0x61:
                where = block_at(data, name, rd(data, at + idb))
                if where is None:
                    return None
                ib, cb = where
                start = ib + cb // 2
                buf[start:ib + cb] = bytes(ib + cb - start)
                return f"zero the back half of the name-to-id map's block at {ib}"
        return None
    if kind == "break-node-page":
        pages = [at for k, at, size in found if k == "page" and data[at + ptype_at] == 0x81]
        if not pages:
            return None
        at = rng.choice(pages)
        n = rng.randint(1, 4)
        for _ in range(n):
            buf[at + rng.randrange(entries)] ^= 1 << rng.randrange(8)
        return f"change {n} bits in the node-tree page at {at}, {LEFT_BROKEN}"
    return None


def mutate(rng, data, found):
    """A damaged copy of `data` and a short description of the damage."""
    buf = bytearray(data)
    kinds = ["flip", "flip-structure", "zero-512", "zero-structure", "truncate", "overwrite",
             "swap-blocks", "redirect-node", "lose-node", "redirect-sibling",
             "zero-subnode-count", "zero-name-map", "break-node-page"]
    kind = rng.choice(kinds)
    nodes = [f for f in found if f[0] == "node"]
    name = layout_of(data)
    idb = LAYOUTS[name][0] if name else 8
    if kind in ("redirect-sibling", "zero-subnode-count", "zero-name-map", "break-node-page"):
        what = mutate_shape(rng, buf, data, found, kind)
        if what is not None:
            return buf, what
        kind = "flip"
    if kind == "swap-blocks":
        # Two blocks of the same size trade places, each with its trailer (whose checksum
        # stays valid): every block id leads to the other's bytes.
        by_size = collections.defaultdict(list)
        for k, at, size in found:
            if k == "block":
                by_size[size].append(at)
        pairs = [v for v in by_size.values() if len(v) > 1]
        if pairs:
            a, b = rng.sample(rng.choice(pairs), 2)
            size = next(size for k, at, size in found if k == "block" and at == a)
            buf[a:a + size], buf[b:b + size] = data[b:b + size], data[a:a + size]
            return buf, f"swap the blocks at {a} and {b}"
        kind = "flip"
    if kind in ("redirect-node", "lose-node") and len(nodes) > 1:
        _, at, _ = rng.choice(nodes)
        if kind == "redirect-node":
            # The node's data block id taken from another node: it leads to that node's data.
            _, other, _ = rng.choice(nodes)
            buf[at + idb:at + 2 * idb] = data[other + idb:other + 2 * idb]
            return buf, f"point the node at {at} at the data of the node at {other}"
        # The node's own id changed: its parent lists a node that cannot be found.
        buf[at] ^= 0x20
        return buf, f"change the id of the node at {at}"
    if kind in ("redirect-node", "lose-node"):
        kind = "flip"
    if kind == "flip" or (kind in ("flip-structure", "zero-structure") and not found):
        n = rng.randint(1, 8)
        for _ in range(n):
            at = rng.randrange(len(buf))
            buf[at] ^= 1 << rng.randrange(8)
        return buf, f"flip {n} bits anywhere"
    found = pages_and_blocks(found)
    if kind == "flip-structure":
        _, at, size = rng.choice(found)
        n = rng.randint(1, 4)
        for _ in range(n):
            pos = at + rng.randrange(size)
            if rng.random() < 0.5:
                buf[pos] ^= 1 << rng.randrange(8)
            else:
                buf[pos] = rng.choice([0, 0xFF, 1, 0x80, rng.randrange(256)])
        return buf, f"change {n} bytes in the structure at {at}"
    if kind == "zero-512":
        block = rng.randrange(max(1, len(buf) // 512))
        buf[block * 512:block * 512 + 512] = bytes(len(buf[block * 512:block * 512 + 512]))
        return buf, f"zero 512 bytes at {block * 512}"
    if kind == "zero-structure":
        _, at, size = rng.choice(found)
        start = at + rng.randrange(size)
        length = rng.randint(1, 64)
        buf[start:start + length] = bytes(len(buf[start:start + length]))
        return buf, f"zero {length} bytes at {start}"
    if kind == "overwrite":
        # One 512-byte block copied over another, as a misdirected write leaves it.
        blocks = max(1, len(buf) // 512)
        src, dst = rng.randrange(blocks) * 512, rng.randrange(blocks) * 512
        buf[dst:dst + 512] = data[src:src + 512][:len(buf[dst:dst + 512])]
        return buf, f"copy 512 bytes from {src} to {dst}"
    cut = rng.choice([rng.randrange(len(buf)), len(buf) - rng.randint(1, 4096),
                      rng.randrange(min(len(buf), 8192))])
    del buf[max(0, cut):]
    return buf, f"truncate to {max(0, cut)} bytes"


# Bases whose contacts are not in a default contacts folder: the folder to export instead.
FOLDERS = {"72-contacts-in-mail-folder.pst": "Top of Personal Folders/myInbox"}

SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer",
                   "AddressSanitizer:DEADLYSIGNAL", "UndefinedBehaviorSanitizer")


def run(cmd, timeout, env):
    try:
        p = subprocess.run(cmd, capture_output=True, timeout=timeout, env=env)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode(
            "utf-8", "replace")
    except subprocess.TimeoutExpired:
        return None, "", ""


def cards_of(text):
    cards, current = [], []
    for line in text.split("\r\n"):
        current.append(line)
        if line == "End:VCARD":
            cards.append("\n".join(current))
            current = []
    return cards


def xls_rows(data):
    rows = collections.defaultdict(dict)
    at = 0
    while at + 4 <= len(data):
        kind, size = struct.unpack_from("<HH", data, at)
        body = data[at + 4:at + 4 + size]
        if kind == 0x0004 and len(body) >= 8:
            row, col = struct.unpack_from("<HH", body, 0)
            rows[row][col] = body[8:8 + body[7]]
        at += 4 + size
    return [tuple(sorted(rows[r].items())) for r in sorted(rows) if r > 0]


class Runner:

    def __init__(self, args):
        self.args = args
        self.cli = args.cli
        self.env = dict(os.environ)
        self.env.update({
            "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=0:halt_on_error=1:symbolize=1",
            "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1",
            "LC_ALL": "C.UTF-8", "QT_QPA_PLATFORM": "offscreen",
        })
        self.env.pop("LUMIVEX_DEFAULT_STORE", None)
        self.env.pop("LUMIVEX_PST_READER", None)

    def export(self, store, fmt, out, folder=None):
        shutil.rmtree(out, ignore_errors=True)
        extra = ["--folder", folder] if folder else []
        form = fmt
        if fmt == "all-vcard4":  # every folder that holds contacts
            form, extra = "vcard4", ["--all-folders"]
        target = out + "/" if form in ("vcard4", "vcard3", "csv") else out
        status, so, se = run([self.cli, "export", "--format", form, "--out", target, store] +
                             extra, self.args.timeout, self.env)
        return status, so, se, self.contacts(fmt, out)

    def contacts(self, fmt, out):
        """The contacts an export left in `out`, as comparable values, in order."""
        if not os.path.isdir(out):
            return []
        files = sorted(os.listdir(out))
        if fmt == "vcard":
            return [c for f in files for c in cards_of(
                open(os.path.join(out, f), "rb").read().decode("latin-1"))]
        if fmt == "vcards":
            return sorted(open(os.path.join(out, f), "rb").read().decode("latin-1")
                          for f in files)
        if fmt == "xls":
            return [r for f in files for r in xls_rows(open(os.path.join(out, f), "rb").read())]
        if fmt in ("vcard4", "all-vcard4"):
            return [c for f in files for c in open(os.path.join(out, f), "rb").read().decode(
                "utf-8", "replace").split("END:VCARD\r\n")[:-1]]
        if fmt == "csv":
            return [tuple(r) for f in files for r in list(csv.reader(io.StringIO(
                open(os.path.join(out, f), "rb").read().decode("utf-8", "replace"))))[1:]]
        if fmt == "wab":
            found = []
            for f in files:
                status, so, _ = run([self.cli, "wab-dump", "--json", os.path.join(out, f)],
                                    self.args.timeout, self.env)
                if status == 0:
                    found += [(c.get("displayName"), c.get("email"))
                              for c in json.loads(so).get("contacts", [])]
            return found
        return []


def classify_export(status, stderr, got, want, ordered):
    if status is None:
        return "hang"
    if status < 0 or any(m in stderr for m in SANITIZER_MARKS):
        return "crash"
    if status != 0:
        return "reported" if stderr.strip() else "silent"
    if len(got) < len(want):
        return "silent"
    if ordered:
        for i in range(1, min(len(got), len(want))):
            if got[i] == got[i - 1] and want[i] != want[i - 1]:
                return "silent"
    return "clean" if got == want else "changed"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cli", required=True, help="lumivex-cli to test (a sanitizer build)")
    ap.add_argument("--pstgen", required=True, help="lumivex-pstgen, to write generated bases")
    ap.add_argument("--sample", help="the sample store (build/bin/sample.pst)")
    ap.add_argument("--fixtures", default=os.path.join(os.path.dirname(__file__),
                                                       "../../../shared/fixtures"))
    ap.add_argument("--work", required=True, help="a scratch folder")
    ap.add_argument("--stores", type=int, default=10000, help="damaged stores to make")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=30.0, help="seconds per run")
    ap.add_argument("--every-export", action="store_true",
                    help="run all four exports on each store instead of one in turn")
    ap.add_argument("--quick", action="store_true",
                    help="a few bases only (six-contacts, the damaged fixtures, the sample store, "
                    "two generated stores), for a short run in the tests")
    args = ap.parse_args()

    os.makedirs(args.work, exist_ok=True)
    bases = []
    for sub in ("pst", "damaged"):
        folder = os.path.join(args.fixtures, sub)
        if os.path.isdir(folder):
            bases += [os.path.join(folder, f) for f in sorted(os.listdir(folder))
                      if f.endswith((".pst", ".ost"))]
    if args.sample and os.path.isfile(args.sample):
        bases.append(args.sample)
    if args.quick:
        keep = ("six-contacts.pst", "name-map-block-overwritten.pst",
                "node-without-data-block.pst", "sample.pst")
        bases = [b for b in bases if os.path.basename(b) in keep]
    generated = ((1, []), (2, ["--ansi"])) if args.quick else (
        (1, []), (2, ["--ansi"]), (3, ["--encoding", "none"]))
    for seed, extra in generated:
        out = os.path.join(args.work, f"generated-{seed}.pst")
        subprocess.run([args.pstgen, "--contacts", "40", "--seed", str(seed), "--out", out] +
                       extra, check=True, capture_output=True)
        bases.append(out)

    runner = Runner(args)
    formats = ["vcard", "vcards", "xls", "wab", "vcard4", "csv", "all-vcard4"]
    baseline = {}
    for base in bases:
        data = open(base, "rb").read()
        name, found = structures(data)
        folder = FOLDERS.get(os.path.basename(base))
        want = {}
        for fmt in formats:
            want[fmt] = runner.export(base, fmt, os.path.join(args.work, "out"), folder)[3]
        status, so, _ = run([args.cli, "scan", "--check", "--json", base] +
                            (["--folder", folder] if folder else []), args.timeout, runner.env)
        count = json.loads(so)["count"] if status in (0, 3) and so.strip() else None
        baseline[base] = (data, name, found, want, count, folder)
        print(f"base {os.path.basename(base)}: {name}, {len(found)} structures, "
              f"{len(want['vcard'])} cards, scan {count}", flush=True)

    rng = random.Random(args.seed)
    figures = collections.Counter()
    by_verb = collections.defaultdict(collections.Counter)
    findings = os.path.join(args.work, "findings")
    os.makedirs(findings, exist_ok=True)
    store = os.path.join(args.work, "damaged.pst")
    out = os.path.join(args.work, "out")
    started = time.time()
    runs = 0
    for i in range(args.stores):
        base = bases[i % len(bases)]
        data, name, found, want, count, folder = baseline[base]
        pick = ["--folder", folder] if folder else []
        buf, what = mutate(rng, data, found)
        fixed = rng.random() < 0.5 and LEFT_BROKEN not in what
        if fixed:
            fix_checksums(buf, name, found)
            what += ", checksums made valid"
        with open(store, "wb") as f:
            f.write(buf)
        results = []
        status, _, se = run([args.cli, "folders", store], args.timeout, runner.env)
        verdict = ("hang" if status is None else "crash" if status < 0 or any(
            m in se for m in SANITIZER_MARKS) else "reported" if status != 0 else "clean")
        results.append(("folders", verdict, status, se))
        status, so, se = run([args.cli, "scan", "--check", "--json", store] + pick, args.timeout,
                             runner.env)
        if status is None:
            verdict = "hang"
        elif status < 0 or any(m in se for m in SANITIZER_MARKS):
            verdict = "crash"
        elif status != 0:
            verdict = "reported" if se.strip() else "silent"
        else:
            got = json.loads(so)["count"]
            verdict = "clean" if got == count else "silent"
        results.append(("scan", verdict, status, se))
        for fmt in (formats if args.every_export else [formats[i % len(formats)]]):
            status, _, se, got = runner.export(store, fmt, out, folder)
            verdict = classify_export(status, se, got, want[fmt], fmt != "vcards")
            results.append((fmt, verdict, status, se))
        runs += len(results)
        worst = None
        for verb, verdict, status, se in results:
            figures[verdict] += 1
            by_verb[verb][verdict] += 1
            if verdict in ("crash", "hang", "silent") and worst is None:
                worst = (verb, verdict, status, se)
        changed = [r for r in results if r[1] == "changed"]
        if worst is None and changed and figures["changed"] <= 20:
            worst = changed[0]  # a few examples of values changed behind valid checksums
        if worst:
            keep = os.path.join(findings, f"{i:05d}-{worst[1]}-{worst[0]}.pst")
            shutil.copyfile(store, keep)
            with open(keep + ".txt", "w") as f:
                f.write(f"base {base}\n{what}\nverb {worst[0]} status {worst[2]}\n{worst[3]}\n")
        if (i + 1) % 100 == 0 or i + 1 == args.stores:
            rate = (i + 1) / (time.time() - started)
            print(f"{i + 1} stores, {runs} runs, {rate:.1f} stores/s: " +
                  ", ".join(f"{k} {v}" for k, v in sorted(figures.items())), flush=True)

    print("\nby verb:")
    for verb in ["folders", "scan"] + formats:
        print(f"  {verb:8} " + ", ".join(f"{k} {v}" for k, v in sorted(by_verb[verb].items())))
    print(f"total: {args.stores} damaged stores, {runs} runs: " +
          ", ".join(f"{k} {v}" for k, v in sorted(figures.items())))
    return 1 if figures["crash"] or figures["hang"] or figures["silent"] else 0


if __name__ == "__main__":
    sys.exit(main())
