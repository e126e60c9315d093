#!/usr/bin/python3
"""A reader taken off PATH fails the test that needs it, and skips it only when asked.

Runs one case of the store writer's tests (the one that reads every edge store back with
pffexport) with a PATH that holds every program of /usr/bin but pffexport: it must fail, naming
the missing program and its package; with LUMIVEX_SKIP_MISSING=1 the same run must skip.

Usage: missing_reader_test.py TEST_PROGRAM SCRATCH_DIR
"""
import os
import shutil
import subprocess
import sys

CASE = "PstgenEdgeStores.EachDescriptionWritesAStoreLibpffReadsWhole"
READER = "pffexport"


def main():
    program, scratch = sys.argv[1], sys.argv[2]
    shutil.rmtree(scratch, ignore_errors=True)
    path = os.path.join(scratch, "bin")
    os.makedirs(path)
    for name in os.listdir("/usr/bin"):
        if name != READER:
            os.symlink(os.path.join("/usr/bin", name), os.path.join(path, name))
    failures = []
    for skip, status, words in [(None, 1, ["pffexport is not installed", "FAILED"]),
                                ("1", 0, ["pffexport is not installed", "SKIPPED"])]:
        env = dict(os.environ, PATH=path)
        env.pop("LUMIVEX_SKIP_MISSING", None)
        if skip:
            env["LUMIVEX_SKIP_MISSING"] = skip
        run = subprocess.run([program, f"--gtest_filter={CASE}"], env=env, cwd=scratch,
                             capture_output=True, text=True, timeout=120)
        said = run.stdout + run.stderr
        if run.returncode != status or not all(w in said for w in words):
            failures.append(f"LUMIVEX_SKIP_MISSING={skip or '(unset)'}: status {run.returncode}, "
                            f"expected {status} and {words} in:\n{said[-2000:]}")
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
