#!/usr/bin/python3
"""Runs every command block of README.md, in order, on a clean clone of the commit checked out in
--source, as a new user would type them: in a scratch home folder, with the sample store the
build makes copied to each store the command line's examples name (~/Outlook.pst, ...). Two commands are not run as
typed: `./run` starts the window, so it is started offscreen and closed once it is up; `./test`
is the test suite this test belongs to, so it is left to the run that started this one. The
package a block builds is checked with lintian (no error, no warning) and the installed software
centre description with appstreamcli.

Usage: readme_test.py --source DIR --scratch DIR. Exit 0 passed, 1 failed, 77 skipped
(only with LUMIVEX_SKIP_MISSING=1: without it, what is missing fails).
"""

import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import time


def fail(message):
    print("FAILED:", message)
    sys.exit(1)


def blocks(readme):
    """The fenced blocks without a language: the commands. Fences are paired in order, so the
    closing fence of a block with a language (```csv, ```sh) never opens one."""
    found, lines, language = [], None, None
    for line in readme.splitlines():
        if not line.startswith("```"):
            if lines is not None:
                lines.append(line)
        elif lines is None:
            lines, language = [], line[3:].strip()
        else:
            if not language:
                found.append("\n".join(lines).strip("\n"))
            lines = None
    return found


def start_window(clone, env, log):
    """./run: builds, then starts Lumivex; passes when the window is up and still running."""
    with open(log, "w") as out:
        process = subprocess.Popen(["./run"], cwd=clone, env=env, stdout=out,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.time() + 1800
        while time.time() < deadline and process.poll() is None:
            if "starting Lumivex" in open(log).read():
                time.sleep(3)  # the window's start, then a look that it still runs
                break
            time.sleep(1)
        running = process.poll() is None
        if running:
            os.killpg(process.pid, signal.SIGTERM)
        process.wait()
    if not running:
        fail(f"./run ended by itself (status {process.returncode}):\n{open(log).read()[-3000:]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--scratch", required=True)
    args = parser.parse_args()

    if subprocess.run(["git", "-C", args.source, "rev-parse", "HEAD"],
                      capture_output=True).returncode != 0:
        why = "the source is not a git checkout, so it cannot be cloned"
        if os.environ.get("LUMIVEX_SKIP_MISSING") == "1":
            print(f"SKIPPED: {why}")
            sys.exit(77)
        fail(why + " (LUMIVEX_SKIP_MISSING=1 skips what is missing instead)")
    commit = subprocess.run(["git", "-C", args.source, "rev-parse", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    shutil.rmtree(args.scratch, ignore_errors=True)
    clone = os.path.join(args.scratch, "clone")
    home = os.path.join(args.scratch, "home")
    shims = os.path.join(args.scratch, "shims")
    for folder in (home, shims):
        os.makedirs(folder)
    os.chdir(args.scratch)
    subprocess.run(["git", "clone", "-q", "--no-checkout", args.source, clone], check=True)
    subprocess.run(["git", "-C", clone, "checkout", "-q", commit], check=True)

    # sudo as the README means it: root runs the command itself, anyone else through sudo,
    # which must not ask for a password here.
    with open(os.path.join(shims, "sudo"), "w") as shim:
        shim.write('#!/bin/sh\nif [ "$(id -u)" -eq 0 ]; then exec "$@"; fi\n'
                   'exec /usr/bin/sudo -n "$@"\n')
    os.chmod(os.path.join(shims, "sudo"), 0o755)
    # apt asks before it installs what a package recommends or removes one: here it goes on.
    apt_config = os.path.join(args.scratch, "apt.conf")
    with open(apt_config, "w") as config:
        config.write('APT::Get::Assume-Yes "true";\n')
    env = dict(os.environ)
    for name in ("LUMIVEX_DEFAULT_STORE", "LUMIVEX_TOOL_DIR", "LUMIVEX_BUILD", "DISPLAY",
                 "WAYLAND_DISPLAY"):
        env.pop(name, None)
    # The scratch home has no compiler cache: the README's builds use the one of whoever runs
    # this test, so that the clean clone compiles only what the checkout's own build has not.
    if shutil.which("ccache"):
        cache = subprocess.run(["ccache", "-k", "cache_dir"], capture_output=True, text=True)
        if cache.returncode == 0 and cache.stdout.strip():
            env["CCACHE_DIR"] = cache.stdout.strip()
            env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
            env.setdefault("CCACHE_BASEDIR", args.scratch)
            env.setdefault("CCACHE_NOHASHDIR", "1")
    env.update({"HOME": home, "QT_QPA_PLATFORM": "offscreen",
                "PATH": f"{shims}:{home}/.local/bin:{env['PATH']}",
                "DEBIAN_FRONTEND": "noninteractive", "APT_CONFIG": apt_config})

    readme = open(os.path.join(clone, "README.md"), encoding="utf-8").read()
    # The packages the README has a new user install are every package the build scripts
    # install to build (a machine with one missing fails to configure or to build).
    listed = set()
    for block in blocks(readme):
        command = block.replace("\\\n", " ")
        for line in command.splitlines():
            if re.match(r"\s*sudo apt install (?!\./)", line):
                listed |= {w for w in line.split("#")[0].split()[3:] if not w.startswith("-")}
    built = subprocess.run(["bash", "-c", 'source scripts/common.sh; echo "${BUILD_PACKAGES[@]}"'],
                           cwd=clone, capture_output=True, text=True, check=True).stdout.split()
    if not built or listed != set(built):
        fail(f"the README installs {sorted(listed)}, the build scripts {sorted(built)}")
    timings = []
    for number, block in enumerate(blocks(readme), 1):
        began = time.time()
        lines = [line.split("#")[0].strip() for line in block.splitlines()]
        if "./run" in lines:
            start_window(clone, env, os.path.join(args.scratch, "run.log"))
            rest = [line for line in lines if line and line not in ("./run", "./test")]
            if rest:
                fail(f"block {number} has commands besides ./run and ./test: {rest}")
        else:
            # Every store a block names in the home folder is the sample store.
            for store in re.findall(r"~/([\w.-]+\.pst)\b", block):
                if os.path.exists(f"{home}/{store}"):
                    continue
                installed = glob.glob(f"{home}/.local/share/lumivex/sample.pst")
                if not installed:
                    fail(f"block {number} needs lumivex-cli installed by a block before it")
                shutil.copy(installed[0], f"{home}/{store}")
            result = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=clone, env=env,
                                    capture_output=True, text=True, timeout=1800)
            if result.returncode != 0:
                fail(f"block {number} ended with status {result.returncode}:\n{block}\n"
                     f"{result.stdout[-3000:]}{result.stderr[-3000:]}")
        timings.append(f"block {number}: {time.time() - began:.0f} s")

    packages = glob.glob(os.path.join(clone, "build-release/package/*.deb"))
    if len(packages) != 1:
        fail(f"the README's package block made {packages}, not one package")
    result = subprocess.run(["lintian", "--fail-on", "none", packages[0]], capture_output=True,
                            text=True)
    findings = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    if result.returncode != 0 or findings:
        fail("lintian: " + ("\n".join(findings) or result.stderr))
    metainfo = f"{home}/.local/share/metainfo/app.lumivex.Lumivex.metainfo.xml"
    result = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo],
                            capture_output=True, text=True)
    if result.returncode != 0 or re.search(r"^[EW]:", result.stdout, re.M):
        fail(f"appstreamcli validate: {result.stdout}{result.stderr}")
    print("passed;", ", ".join(timings))


if __name__ == "__main__":
    main()
