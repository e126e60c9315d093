#!/usr/bin/python3
"""Reference outputs kept as readable text and compared line by line.

Exports one store into every form, as a user runs lumivex-cli, turns each output into text a
reviewer can read and compares it with the file kept under tests/golden/STORE/. A difference
is shown as a unified diff of the lines that changed. With --update the kept files are written
from the outputs instead (after a change of output made on purpose; say why in the commit).

The texts: the vCard 2.1 single file and the per-contact files (every file under a line naming
it, in byte order of the names) decoded from code page 1252; vCard 4.0, 3.0 and CSV as written;
the worksheet's fonts, formats and cells as xlrd reads them; the address book as `lumivex-cli
wab-dump` lists it. Line ends CR LF are shown as line ends; any other CR is shown as <CR>.

Usage: golden.py --cli LUMIVEX_CLI --store STORE.pst --scratch DIR [--update]
"""
import argparse
import difflib
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
XLRD_DUMP = os.path.join(HERE, "..", "xls", "xlrd-dump.py")
SHOWN_LINES = 80  # of one file's difference


def text_of(data, codec="utf-8"):
    return data.decode(codec).replace("\r\n", "\n").replace("\r", "<CR>")


def run(command, env):
    result = subprocess.run(command, env=env, capture_output=True, timeout=300)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} ended with {result.returncode}:\n"
                 f"{result.stderr.decode(errors='replace')}")
    return result.stdout


def only_file(folder):
    files = os.listdir(folder)
    if len(files) != 1:
        sys.exit(f"{folder} holds {len(files)} files instead of one")
    return os.path.join(folder, files[0])


def worksheet_text(path):
    if not os.path.exists(XLRD_DUMP) or subprocess.run(
            ["/usr/bin/python3", "-c", "import xlrd"], capture_output=True).returncode != 0:
        missing("xlrd is not installed (Debian: python3-xlrd)")
    sheet = json.loads(run(["/usr/bin/python3", XLRD_DUMP, path], os.environ))
    lines = [f"fonts: {json.dumps(sheet['fonts'], ensure_ascii=False)}",
             f"formats: {json.dumps(sheet['formats'], ensure_ascii=False)}",
             f"page breaks before rows: {sheet['page_breaks']}"]
    for row, column, value, font in sheet["cells"]:
        lines.append(f"R{row}C{column} font {font}: {json.dumps(value, ensure_ascii=False)}")
    return "\n".join(lines) + "\n"


def missing(why):
    if os.environ.get("LUMIVEX_SKIP_MISSING") == "1":
        print(f"SKIPPED: {why}")
        sys.exit(77)
    sys.exit(f"{why} (LUMIVEX_SKIP_MISSING=1 skips what is missing instead)")


def outputs(cli, store, scratch):
    """Every form's text, by the name of its kept file."""
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000", LANG="en_US.UTF-8")
    for name in ("LC_ALL", "LC_CTYPE", "LANGUAGE"):
        env.pop(name, None)
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)

    def export(form, out, *more):
        run([cli, "export", "--format", form, "--out", out, *more, store], env)
        return out

    texts = {}
    folder = export("vcard", os.path.join(scratch, "vcard"), "--code-page", "1252")
    texts["vcard21.txt"] = text_of(open(only_file(folder), "rb").read(), "cp1252")
    folder = export("vcards", os.path.join(scratch, "vcards"), "--code-page", "1252")
    parts = []
    for name in sorted(os.listdir(folder), key=os.fsencode):
        data = open(os.path.join(folder, name), "rb").read()
        parts.append(f"=== {name} ===\n" + text_of(data, "cp1252"))
    texts["vcard21-per-contact.txt"] = "".join(parts)
    for form, name in (("vcard4", "vcard40.txt"), ("vcard3", "vcard30.txt"), ("csv", "csv.txt")):
        path = export(form, os.path.join(scratch, name))
        texts[name] = text_of(open(path, "rb").read())
    folder = export("xls", os.path.join(scratch, "xls"), "--code-page", "1252")
    texts["worksheet.txt"] = worksheet_text(only_file(folder))
    folder = export("wab", os.path.join(scratch, "wab"), "--code-page", "1252")
    book = only_file(folder)
    listed = run([cli, "wab-dump", book], env).decode("utf-8")
    texts["wab-dump.txt"] = listed.replace(book, "OutlookContacts.wab")
    return texts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--store", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()
    if not os.path.exists(args.store):
        missing(f"{args.store} has not been built")
    kept_dir = os.path.join(HERE, os.path.splitext(os.path.basename(args.store))[0])
    texts = outputs(args.cli, args.store, args.scratch)
    if args.update:
        os.makedirs(kept_dir, exist_ok=True)
        for name, text in texts.items():
            with open(os.path.join(kept_dir, name), "w", encoding="utf-8", newline="\n") as f:
                f.write(text)
        print(f"wrote {len(texts)} files into {kept_dir}")
        return
    differ = 0
    for name, text in sorted(texts.items()):
        kept_path = os.path.join(kept_dir, name)
        kept = open(kept_path, encoding="utf-8").read() if os.path.exists(kept_path) else ""
        if kept == text:
            continue
        differ += 1
        diff = list(difflib.unified_diff(kept.splitlines(), text.splitlines(),
                                         f"kept {os.path.relpath(kept_path, HERE)}",
                                         f"written now ({name})", n=2, lineterm=""))
        print("\n".join(diff[:SHOWN_LINES]))
        if len(diff) > SHOWN_LINES:
            print(f"... and {len(diff) - SHOWN_LINES} more lines of difference")
    if differ:
        print(f"\n{differ} of {len(texts)} outputs of {os.path.basename(args.store)} differ from "
              "the kept ones. If the change is meant, regenerate them with "
              "`cmake --build build --target golden-update` and say why in the commit.")
        sys.exit(1)
    print(f"{len(texts)} outputs of {os.path.basename(args.store)} are as kept")


if __name__ == "__main__":
    main()
