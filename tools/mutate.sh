#!/usr/bin/env bash
# A check of the tests themselves: plants each fault of tests/mutants.txt
# (its header says how one is written), one at a time, in a copy of this
# checkout, builds the host preset there and runs its tests. A fault some
# test fails on is caught; one they all pass is missed. A fault that does
# not build, or whose text is not in its file exactly once, is reported as
# such and counted apart. Ends with "N caught, M missed". On demand, not in CI.
#
#   tools/mutate.sh [WORD]     only the faults whose heading holds WORD
#   tools/mutate.sh --check    only checks that each fault's text stands once
#   QV_MUTANTS=FILE            another list of faults
#
# The copy is build/mutate/src: the tracked and untracked files as they
# stand now, committed or not; the real tree is never written. It keeps its
# build between runs, so each fault rebuilds only its own file. Each
# fault's build and test output is kept in build/mutate/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 - "$@" <<'PYTHON'
import os, re, shutil, subprocess, sys

root = os.getcwd()
work = os.path.join(root, "build", "mutate")
copy = os.path.join(work, "src")
logs = os.path.join(work, "logs")
listFile = os.environ.get("QV_MUTANTS", os.path.join(root, "tests", "mutants.txt"))
args = sys.argv[1:]
checkOnly = "--check" in args
words = [a for a in args if a != "--check"]


def fail(text):
    print("mutate.sh: " + text, file=sys.stderr)
    sys.exit(2)


def read_faults(path):
    faults, fault = [], None
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if line.startswith("@ "):
            heading = line[2:].strip()
            fault = {"file": heading.split()[0], "what": heading[len(heading.split()[0]):].strip(),
                     "heading": heading, "line": number, "text": [], "by": []}
            faults.append(fault)
        elif line[:2] in ("- ", "+ ") or line in ("-", "+"):
            if fault is None:
                fail("%s:%d: a text line outside a fault" % (path, number))
            if line[0] == "-" and fault["by"]:
                fail("%s:%d: a '-' line after the fault's '+' lines" % (path, number))
            fault["text" if line[0] == "-" else "by"].append(line[2:])
        elif line.strip() == "" or line.startswith("#"):
            fault = None
        else:
            fail("%s:%d: neither a heading, a text line, a comment nor blank: %r" % (path, number, line))
    for f in faults:
        if not f["text"]:
            fail("%s:%d: the fault has no text to find" % (path, f["line"]))
        f["text"], f["by"] = "\n".join(f["text"]), "\n".join(f["by"])
    return faults


def source(path, tree=root):
    with open(os.path.join(tree, path), "rb") as f:
        return f.read().decode("latin-1")


def planted(fault, tree=root):
    """The file with the fault in it, or why it can't be planted."""
    if not os.path.isfile(os.path.join(tree, fault["file"])):
        return None, "no such file"
    text = source(fault["file"], tree)
    count = text.count(fault["text"])
    if count != 1:
        return None, "text not found" if count == 0 else "text found %d times" % count
    return text.replace(fault["text"], fault["by"]), ""


def write(path, text):
    # A fresh modification time, so that the build takes the file again.
    with open(path, "wb") as f:
        f.write(text.encode("latin-1"))


def sync():
    """The copy made like the tree: only changed files are written, so the build stays incremental."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    wanted = set()
    for path in filter(None, listed):
        real = os.path.join(root, path)
        if not os.path.isfile(real) or os.path.islink(real):
            continue
        wanted.add(path)
        mine = os.path.join(copy, path)
        if os.path.isfile(mine) and open(mine, "rb").read() == open(real, "rb").read():
            continue
        os.makedirs(os.path.dirname(mine), exist_ok=True)
        shutil.copyfile(real, mine)
        shutil.copymode(real, mine)
    for folder, subfolders, files in os.walk(copy):
        if folder == copy and "build" in subfolders:
            subfolders.remove("build")
        for name in files:
            path = os.path.relpath(os.path.join(folder, name), copy)
            if path not in wanted:
                os.remove(os.path.join(folder, name))


def run(command, log):
    with open(log, "a") as out:
        out.write("$ " + " ".join(command) + "\n")
        out.flush()
        return subprocess.run(command, cwd=copy, stdout=out, stderr=subprocess.STDOUT).returncode


def build_and_test(log):
    """'build failed', or the tests that failed (empty when all passed)."""
    if os.path.exists(log):
        os.remove(log)
    if run(["cmake", "--preset", "host"], log) or run(["cmake", "--build", "--preset", "host"], log):
        return "build failed", []
    if run(["ctest", "--preset", "host", "--timeout", "120"], log) == 0:
        return "", []
    text = open(log, errors="replace").read()
    failed = re.findall(r"^\s*\d+ - (\S+) \(", text.split("The following tests FAILED:")[-1], re.M)
    return "", failed or ["the test run"]


faults = read_faults(listFile)
if words:
    faults = [f for f in faults if any(w.lower() in f["heading"].lower() for w in words)]
if not faults:
    fail("no fault to plant")

if checkOnly:
    broken = 0
    for f in faults:
        why = planted(f)[1]
        broken += bool(why)
        print("%-16s %s" % (why or "stands once", f["heading"]))
    print("%d of %d faults can be planted" % (len(faults) - broken, len(faults)))
    sys.exit(1 if broken else 0)

shutil.rmtree(logs, ignore_errors=True)
os.makedirs(logs)
sync()
print("mutate.sh: the tree as it stands, unchanged, in build/mutate/src", flush=True)
why, failed = build_and_test(os.path.join(logs, "unchanged.log"))
if why or failed:
    fail("without any fault the host preset already fails (%s): see build/mutate/logs/unchanged.log"
         % (why or ", ".join(failed)))

counts = {"caught": 0, "missed": 0, "build failed": 0, "not planted": 0}
missed = []
for number, f in enumerate(faults, 1):
    log = os.path.join(logs, "%02d.log" % number)
    # From the copy as synced: the tree may change while the faults are planted.
    text, why = planted(f, copy)
    if text is None:
        counts["not planted"] += 1
        print("%2d  not planted (%s)  %s" % (number, why, f["heading"]), flush=True)
        continue
    target = os.path.join(copy, f["file"])
    original = source(f["file"], copy)
    write(target, text)
    try:
        why, failed = build_and_test(log)
    finally:
        write(target, original)
    if why:
        counts["build failed"] += 1
        print("%2d  build failed  %s   (log: build/mutate/logs/%02d.log)" % (number, f["heading"], number), flush=True)
    elif failed:
        counts["caught"] += 1
        shown = ", ".join(failed[:2]) + (" and %d more" % (len(failed) - 2) if len(failed) > 2 else "")
        print("%2d  caught  %s   (by %s)" % (number, f["heading"], shown), flush=True)
    else:
        counts["missed"] += 1
        missed.append("%2d  %s" % (number, f["heading"]))
        print("%2d  missed  %s" % (number, f["heading"]), flush=True)

if missed:
    print("\nmissed:\n" + "\n".join(missed))
if counts["build failed"] or counts["not planted"]:
    print("not judged: %d did not build, %d could not be planted" % (counts["build failed"], counts["not planted"]))
print("%d caught, %d missed" % (counts["caught"], counts["missed"]))
sys.exit(0 if counts["missed"] == counts["build failed"] == counts["not planted"] == 0 else 1)
PYTHON
