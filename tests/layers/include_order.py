#!/usr/bin/python3
"""The layers of Lumivex, checked on the sources.

Every `#include "room/..."` of a product source must point at its own room or at one the table
below lets it use: dependencies point down only. Every .cpp of a room must also be compiled
(compile_commands.json), so that a source a CMake list forgets is not dropped unseen. Every
library is declared once, in its own folder's CMake files, and no folder adds files or links to
a target of another folder (the fuzz build reads the same folder files rather than declaring
the libraries again).

Usage: include_order.py SOURCE_DIR COMPILE_COMMANDS_JSON
       include_order.py --self-check
"""
import json
import os
import re
import sys
import tempfile

# Which room a file belongs to: the longest matching path prefix wins. The byte-level rules of
# personal-folder files are a library of their own (lumivex_pstformat) inside source/.
ROOMS = {
    "common/": "common",
    "xls/": "xls",
    "wab/": "wab",
    "source/PstFormat.": "pstformat",
    "contact/": "contact",
    # The writers of the contact model: the store layer reads contacts and never writes them.
    "contact/VCardWriter.": "writers",
    "contact/CsvWriter.": "writers",
    "contact/TextOut.": "writers",
    "contact/GroupMembers.": "writers",
    "contact/FileNames.": "writers",
    "source/": "source",
    "merge/": "merge",
    # The rules of who is the same person, over the contact model alone: the merge and the
    # destinations (matching the cards a book holds) both go by them.
    "merge/MergeRules.": "mergerules",
    "convert/": "convert",
    "destination/": "destination",
    "migrate/": "migrate",
    "app/": "app",
    "cli/": "cli",
    "tools/": "tools",
    "tests/": "tests",
}

BASE = {"common"}
# The rooms each room may include besides its own. Written out in full, not derived: a new
# arrow is a decision to write down here.
MAY_INCLUDE = {
    "common": set(),
    "xls": BASE,
    "wab": set(),
    "pstformat": BASE,
    "contact": BASE,
    "writers": BASE | {"contact"},
    "source": BASE | {"pstformat", "contact"},
    "mergerules": BASE | {"contact"},
    "merge": BASE | {"contact", "writers", "source", "mergerules"},
    "convert": BASE | {"xls", "wab", "pstformat", "contact", "writers", "source", "merge"},
    "destination": BASE | {"contact", "writers", "mergerules"},
    # A migration runs `send` for each person; it reads plans, journals and destinations' names.
    "migrate": BASE | {"contact", "writers", "source", "merge", "destination"},
    "app": BASE | {"xls", "wab", "pstformat", "contact", "writers", "source", "merge",
                   "mergerules", "convert", "destination"},
    "cli": BASE | {"xls", "wab", "pstformat", "contact", "writers", "source", "merge", "convert",
                   "destination", "migrate"},
    "tools": BASE | {"pstformat"},  # the store writer and lumivex-pstgen
    "tests": set(),                 # not checked: tests may use any room
}

# The one arrow against the layers: the conversion window (in lumivex_ui) lives beside the run
# it shows and draws with the windows' twips, artwork and message boxes.
EXCEPTIONS = {("convert/FrmConversion.cpp", "app")}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def room_of(path):
    best = ""
    for prefix in ROOMS:
        if path.startswith(prefix) and len(prefix) > len(best):
            best = prefix
    return ROOMS.get(best)


def product_files(root):
    for folder in sorted({p.split("/")[0] for p in ROOMS}):
        if folder == "tests":
            continue
        for top, dirs, files in os.walk(os.path.join(root, folder)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith((".cpp", ".h", ".c", ".hpp")):
                    yield os.path.relpath(os.path.join(top, name), root).replace(os.sep, "/")


def wrong_includes(root):
    faults = []
    for path in product_files(root):
        room = room_of(path)
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = room_of(match.group(1))
                if target is None or target == room or target in MAY_INCLUDE[room]:
                    continue
                if (path, target) in EXCEPTIONS:
                    continue
                allowed = ", ".join(sorted(MAY_INCLUDE[room])) or "no other room"
                faults.append(f"{path}:{number}: includes {match.group(1)}, but {room} may "
                              f"use only {allowed}")
    return faults


def unbuilt_sources(root, commands):
    with open(commands, encoding="utf-8") as f:
        built = {os.path.realpath(entry["file"] if os.path.isabs(entry["file"])
                                  else os.path.join(entry["directory"], entry["file"]))
                 for entry in json.load(f)}
    return [f"{path}: not compiled by any target; add it to its folder's CMakeLists.txt"
            for path in product_files(root)
            if path.endswith((".cpp", ".c")) and
            os.path.realpath(os.path.join(root, path)) not in built]


DECLARE = re.compile(r"^\s*add_(library|executable)\(\s*([\w-]+)", re.M)
EXTEND = re.compile(r"^\s*target_(sources|link_libraries)\(\s*([\w-]+)", re.M)
# The programs are declared in the top CMakeLists.txt (the folders' data rules depend on them);
# the folder named for each gives it its files.
PROGRAM_FOLDERS = {"lumivex": "app", "lumivex-cli": "cli"}


def cmake_files(root):
    for top, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith(".") and d != "build"
                         and not d.startswith("build-") and d != "node_modules")
        for name in sorted(files):
            if name == "CMakeLists.txt" or name.endswith(".cmake"):
                path = os.path.relpath(os.path.join(top, name), root)
                with open(os.path.join(top, name), encoding="utf-8") as f:
                    yield path, f.read()


def folder_of(path):
    return os.path.dirname(path).split("/")[0] or "."


def wrong_declarations(root):
    """Libraries declared twice or outside their folder's files, and targets other folders extend."""
    declared, faults = {}, []
    # The fuzz build's own file last: it is the one that must not declare a library again.
    files = sorted(cmake_files(root), key=lambda f: (folder_of(f[0]) == "fuzz", f[0]))
    for path, text in files:
        for _, target in DECLARE.findall(text):
            if target in declared:
                faults.append(f"{path}: {target} is declared again (first in {declared[target]})")
            else:
                declared[target] = path
    for path, text in files:
        for _, target in EXTEND.findall(text):
            home = declared.get(target)
            if home is None:
                continue
            owner = PROGRAM_FOLDERS.get(target, folder_of(home))
            if folder_of(path) != owner and not (home == path):
                faults.append(f"{path}: adds to {target}, which {home} declares")
    return faults


def self_check():
    """The checker against a small tree whose faults are known."""
    cases = [  # (file, its text, a fault expected)
        ("contact/A.cpp", '#include "common/X.h"\n', False),
        ("contact/B.cpp", '#include "source/MailStore.h"\n', True),
        ("source/C.cpp", '#include "source/PstFormat.h"\n#include "contact/Y.h"\n', False),
        ("source/PstFormat.cpp", '#include "source/MailStore.h"\n', True),
        ("destination/D.cpp", '#include "merge/Z.h"\n', True),
        ("convert/FrmConversion.cpp", '#include "app/Twips.h"\n', False),
        ("convert/E.cpp", '#include "app/Twips.h"\n', True),
        ("cli/F.cpp", '#include "app/FrmMain.h"\n', True),
        ("source/G.cpp", '#include "contact/VCardWriter.h"\n', True),
        ("merge/H.cpp", '#include "contact/VCardWriter.h"\n', False),
    ]
    with tempfile.TemporaryDirectory() as root:
        for path, text, _ in cases:
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        found = {fault.split(":")[0] for fault in wrong_includes(root)}
        wrong = [path for path, _, fault in cases if (path in found) != fault]
        commands = os.path.join(root, "compile_commands.json")
        with open(commands, "w", encoding="utf-8") as f:
            json.dump([{"directory": root, "file": path} for path, _, _ in cases[1:]], f)
        unbuilt = [line.split(":")[0] for line in unbuilt_sources(root, commands)]
        if unbuilt != ["contact/A.cpp"]:
            wrong.append(f"unbuilt sources found: {unbuilt}")
        declarations = {  # a CMake file, its text
            "CMakeLists.txt": "add_executable(lumivex-cli)\n",
            "cli/CMakeLists.txt": "target_sources(lumivex-cli PRIVATE main.cpp)\n",
            "merge/CMakeLists.txt": "add_library(lumivex_merge STATIC M.cpp)\n"
                                    "target_link_libraries(lumivex-cli PRIVATE lumivex_merge)\n",
            "fuzz/CMakeLists.txt": "add_library(lumivex_merge STATIC)\n",
        }
        for path, text in declarations.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        found = sorted(fault.split(":")[0] for fault in wrong_declarations(root))
        if found != ["fuzz/CMakeLists.txt", "merge/CMakeLists.txt"]:
            wrong.append(f"declaration faults found in: {found}")
    for path in wrong:
        print(f"self-check: wrong verdict for {path}")
    return 1 if wrong else 0


def main(argv):
    if argv[1:] == ["--self-check"]:
        return self_check()
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    faults = (wrong_includes(argv[1]) + unbuilt_sources(argv[1], argv[2]) +
              wrong_declarations(argv[1]))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
