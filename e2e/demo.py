#!/usr/bin/env python3
"""Demonstration: a small Quorvan installation in a fresh Wine prefix,
uninstalled by the real QvUnInstall.exe in silent mode, with a before/after
report and screenshots of the confirmation box and the progress dialog.

  demo.py --exe QvUnInstall.exe --robot robot.exe --standin standin.exe [--docs DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebox  # noqa: E402

ROOT = r"C:\Quorvan"
LIST = ROOT + r"\QvUninst.txt"
LIST_BYTES = (b'"C:\\Quorvan\\bin\\mgmtsrvr.exe"\r\n'
              b'"C:\\Quorvan\\bin\\storsrvr.exe"\r\n'
              b'"C:\\Quorvan\\bin\\jobsrvr.exe"\r\n'
              b'"C:\\Quorvan\\portmap\\portinst.exe"\r\n'
              b"IIS_VER=4\r\n"
              b"C:\\Quorvan\\Server\r\n"
              b'"C:\\Quorvan\\Uninst.isu"\r\n')
# The product's own key is the real uninstaller's to remove, so only the
# family's keys are laid out here.
REGISTRY = [
    (r"HKLM\Software\Quorvan\DocumentServer", "InstallDir", r"C:\Quorvan\Server"),
    (r"HKLM\Software\Quorvan\DocumentServer", "Version", "4.0"),
]
# The family's start-menu folder on an NT-family system (the prefix's default).
START_MENU = r"C:\windows\Profiles\All Users\Start Menu\Programs\Quorvan"
WATCHED = [ROOT, START_MENU]


def lay_out(m):
    for name in ("mgmtsrvr", "storsrvr", "jobsrvr"):
        m.standin(ROOT + r"\bin\%s.exe" % name)
    m.standin(ROOT + r"\portmap\portinst.exe")
    m.standins_beside_exe()
    m.write(ROOT + r"\Server\docstore\index.dat", b"\0" * 64)
    m.write(ROOT + r"\Server\bin\isapi.dll", b"MZ")
    m.write(ROOT + r"\Uninst.isu", b"*** InstallShield log ***\r\n")
    m.write(LIST, LIST_BYTES)
    m.write(START_MENU + r"\Document Server Console.lnk", b"L\0\0\0")
    for key, name, value in REGISTRY:
        m.reg("add", key, "/v", name, "/d", value, "/f")


def files(m):
    out = []
    for watched in WATCHED:
        top = m.unix(watched)
        if os.path.isdir(top):
            out.append(watched + "\\")
        for dirpath, dirnames, filenames in os.walk(top):
            rel = os.path.relpath(dirpath, top)
            base = watched if rel == "." else watched + "\\" + rel.replace("/", "\\")
            out += [base + "\\" + d + "\\" for d in dirnames]
            out += [base + "\\" + f for f in filenames]
    return sorted(out)


def registry(m):
    r = m.wine(["reg", "query", r"HKLM\Software\Quorvan", "/s"])
    if r.returncode:
        return ["(HKLM\\Software\\Quorvan is gone)"]
    return [line.rstrip() for line in r.stdout.decode(errors="replace").splitlines() if line.strip()]


def screenshot(display, path, rect, margin=24):
    tmp = path + ".full.png"
    subprocess.run(["/usr/bin/import", "-display", display, "-window", "root", tmp], check=True)
    if rect:
        left, top, right, bottom = rect
        left, top = max(0, left - margin), max(0, top - margin)
        right, bottom = min(1024, right + margin), min(768, bottom + margin)
        geometry = "%dx%d+%d+%d" % (right - left, bottom - top, left, top)
        subprocess.run(["/usr/bin/convert", tmp, "-crop", geometry, "+repage", path], check=True)
        os.remove(tmp)
    else:
        os.replace(tmp, path)


def show(title, lines):
    print(title)
    for line in lines or ["(none)"]:
        print("   ", line)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--robot", required=True)
    ap.add_argument("--standin", required=True)
    ap.add_argument("--docs", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs"))
    opts = ap.parse_args()
    docs = os.path.abspath(opts.docs)
    os.makedirs(docs, exist_ok=True)

    winebox.interrupt_on_sigterm()
    scratch = tempfile.mkdtemp(prefix="qv-demo-")
    with winebox.Display() as display:
        m = None
        try:
            print("booting a fresh 32-bit prefix ...")
            pristine = os.path.join(scratch, "pristine")
            winebox.make_pristine(pristine, display.name)
            m = winebox.Machine(pristine, display.name, opts.exe, opts.robot, opts.standin)
            lay_out(m)
            files_before, reg_before = files(m), registry(m)

            # (a) the confirmation box, answered No after the screenshot: nothing changes.
            proc, transcript, _ = m.start("-p " + LIST, answers="N", answer_delay=4000)
            box = winebox.wait_for_event(transcript, lambda e: e["ev"] == "box")
            if box:
                screenshot(display.name, os.path.join(docs, "confirmation.png"), box.get("rect"))
            proc.communicate(timeout=60)

            # (b) the silent uninstall; the management server takes a few seconds,
            # long enough to photograph its progress dialog.
            proc, transcript, journal = m.start("-a -p " + LIST, standin_env={
                "MGMTSRVR_SLEEP": 4000, "ISUNINST_DELETELOG": 1})
            sample = winebox.wait_for_event(transcript, lambda e: e["ev"] == "sample" and e["pos"] >= 24)
            if sample:
                screenshot(display.name, os.path.join(docs, "progress.png"), sample.get("rect"))
            run = winebox.finish(proc, transcript, journal, timeout=120)
            files_after, reg_after = files(m), registry(m)

            print()
            print("Quorvan installation uninstalled with: QvUnInstall.exe -a -p " + LIST)
            show("uninstall list:", LIST_BYTES.decode().splitlines())
            print("(the programs run are stand-ins that only note how they were started;")
            print(" the isuninst stand-in also deletes the log, as the real uninstaller does)")
            print("(this build carries out the list's lines; the closing clean-up of the install")
            print(" directory, registry keys, start menu and outcome box is not built yet)")
            show("commands run, in order:",
                 ["%-9s %s" % (j["name"], j["cmdline"].replace("\n", "\\n")) for j in run.journal])
            show("progress dialogs:", run.captions)
            show("message boxes:", ["%s: %s" % (b.title, b.text.replace("\n", "\\n")) for b in run.boxes])
            show("files removed:", [f for f in files_before if f not in files_after])
            show("files added:", [f for f in files_after if f not in files_before])
            show("files kept:", [f for f in files_after if f in files_before])
            show("registry before:", reg_before)
            show("registry after:", reg_after)
            print("exit code:", run.exit_code)
            print("screenshots:", os.path.join(docs, "confirmation.png"), os.path.join(docs, "progress.png"))
        finally:
            if m:
                m.close()
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
