#!/usr/bin/env python3
"""Demonstration: a small Quorvan installation in a fresh Wine prefix,
uninstalled from start to end by the real QvUnInstall.exe as an
administrator would do it: the plan first (QvUninstCheck.exe --machine
--json), then the run with its log (-l) and the answers a user would give
scripted, the log itself, and the verification of the machine against the
plan with the log beside it (--verify --log). A before/after report and
screenshots of the confirmation box, a progress dialog and the install-root
question go with it. Last, a quiet run (-q) as a deployment tool starts it,
with a program missing: no box, the log, and the exit status it ends with.

  demo.py --exe QvUnInstall.exe --check QvUninstCheck.exe --robot robot.exe --standin standin.exe
          --metabase metabase.dll --shots DIR
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import metabase  # noqa: E402
import winebox  # noqa: E402

ROOT = r"C:\Quorvan"
LIST = ROOT + r"\QvUninst.txt"
INSTALL_DIR = ROOT + r"\Server"
LIST_BYTES = (b'"C:\\Quorvan\\bin\\mgmtsrvr.exe"\r\n'
              b'"C:\\Quorvan\\bin\\storsrvr.exe"\r\n'
              b'"C:\\Quorvan\\bin\\jobsrvr.exe"\r\n'
              b'"C:\\Quorvan\\portmap\\portinst.exe"\r\n'
              b"C:\\Quorvan\\Server\\bin\\isapi.dll\r\n"
              b"IIS_VER=4\r\n"
              b"Netscape Enterprise Server\r\n"
              b"C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON\r\n"
              b"C:\\Quorvan\\Server\r\n"
              b'"C:\\Quorvan\\Uninst.isu"\r\n')
# The product's own key is the real uninstaller's to remove, so only the
# family's keys are laid out here.
REGISTRY = ("[HKEY_LOCAL_MACHINE\\Software\\Quorvan\\DocumentServer]\n"
            "\"InstallDir\"=\"C:\\\\Quorvan\\\\Server\"\n\"Version\"=\"4.0\"\n\n")
# The family's start-menu folders on an NT-family system (the prefix's default).
START_MENU = r"C:\windows\Profiles\All Users\Start Menu\Programs\Quorvan"
WATCHED = [ROOT, START_MENU, START_MENU + " Delvora Suite 4"]
# IIS 4 keeps its filters in the metabase: here a stand-in behind the Admin Base Object's CLSID.
STORE = winebox.HARNESS_DIR + r"\metabase.txt"
FILTERS = "/LM/W3SVC/Filters"
METABASE = {FILTERS: {2040: "sspifilt,isapi,compression"},
            FILTERS + "/isapi": {2041: r"C:\Quorvan\Server\bin\isapi.dll"},
            FILTERS + "/sspifilt": {2041: r"C:\WINNT\system32\inetsrv\sspifilt.dll"},
            FILTERS + "/compression": {2041: r"C:\WINNT\system32\inetsrv\compfilt.dll"}}
OBJ_CONF = r"C:\Netscape\SuiteSpot\https-web\config\OBJ~1.CON"
OBJ_CONF_BYTES = (b'Init fn="load-types" mime-types="mime.types"\r\n'
                  b"#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\r\n"
                  b'Init fn="load-modules" shlib="C:/Quorvan/web/qvgate.dll" funcs="qv-init,qv-service"\r\n'
                  b'Init fn="qv-init" config="C:/Quorvan/web/qvgate.ini"\r\n'
                  b"#### QUORVAN WEB GATEWAY EXTENSION -- END ####\r\n"
                  b"<Object name=default>\r\n"
                  b"NameTrans fn=document-root root=\"C:/Netscape/SuiteSpot/docs\"\r\n"
                  b"Service method=(GET|HEAD) fn=send-file\r\n"
                  b"</Object>\r\n")
ANSWERS = "YYY"  # the confirmation, the install directory, the install root
PLAN = winebox.HARNESS_DIR + r"\plan.json"
RUN_LOG = winebox.HARNESS_DIR + r"\uninstall.log"
QUIET_PLAN = winebox.HARNESS_DIR + r"\quiet-plan.json"
QUIET_LOG = winebox.HARNESS_DIR + r"\quiet.log"
# A second installation's list whose job server is gone from the disk.
QUIET_LIST_BYTES = b'"C:\\Quorvan\\bin\\mgmtsrvr.exe"\r\n"C:\\Quorvan\\bin\\jobsrvr.exe"\r\n'


def lay_out(m, dll):
    for name in ("mgmtsrvr", "storsrvr", "jobsrvr"):
        m.standin(ROOT + r"\bin\%s.exe" % name)
    m.standin(ROOT + r"\portmap\portinst.exe")
    m.standins_beside_exe()
    m.write(INSTALL_DIR + r"\docstore\index.dat", b"\0" * 64)
    m.write(INSTALL_DIR + r"\bin\isapi.dll", b"MZ")
    m.write(ROOT + r"\Uninst.isu", b"*** InstallShield log ***\r\n")
    m.write(LIST, LIST_BYTES)
    m.write(START_MENU + r"\Document Server Console.lnk", b"L\0\0\0")
    m.write(START_MENU + r" Delvora Suite 4\Page Viewer.lnk", b"L\0\0\0")
    m.reg_import(REGISTRY)
    m.write(OBJ_CONF, OBJ_CONF_BYTES)
    m.install(dll, winebox.HARNESS_DIR + r"\metabase.dll")
    metabase.register(m, winebox.HARNESS_DIR + r"\metabase.dll")
    metabase.write_store(m.unix(STORE), METABASE)


def filters(m):
    store = metabase.values(metabase.read_store(m.unix(STORE)))
    return ["load order: " + store[FILTERS][2040]] + ["key " + k for k in sorted(store) if k.startswith(FILTERS + "/")]


def obj_conf(m):
    with open(m.unix(OBJ_CONF), "rb") as f:
        return [line.decode("latin-1") for line in f.read().split(b"\r\n")[:-1]]


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


def check(m, env, *args):
    """QvUninstCheck.exe in the prefix: its exit status and what it printed."""
    env = dict(m.env, **{"QV_" + k: str(v) for k, v in env.items()})
    env["QV_METABASE_JOURNAL"] = winebox.HARNESS_DIR + r"\check-metabase.jsonl"
    r = m.wine([winebox.CHECK_PATH] + list(args), env=env)
    return r.returncode, r.stdout.decode("latin-1")


def plan(m, env):
    """The plan a deployment tool keeps before the run, and its steps in short."""
    code, out = check(m, env, "--machine", "--json", "--answers", ANSWERS, LIST, LIST)
    m.write(PLAN, out[out.index("{"):].encode("latin-1"))
    document = json.loads(out[out.index("{"):])
    steps = list(document["startup"])
    for piece in document["pieces"]:
        steps += piece["steps"]
    steps += document["cleanup"]
    return code, ["%-20s %s" % (s["kind"], s["target"].replace("\n", "\\n")) for s in steps
                  if s["kind"] not in ("current-directory", "note")]


def quiet_run(m):
    """A run nobody watches, after today's story: planned, run with -q -l, verified."""
    m.standin(ROOT + r"\bin\mgmtsrvr.exe")
    m.write(LIST, QUIET_LIST_BYTES)
    code, out = check(m, {}, "--machine", "--json", "--quiet", LIST, LIST)
    m.write(QUIET_PLAN, out[out.index("{"):].encode("latin-1"))
    document = json.loads(out[out.index("{"):])
    foretold = "%d, decided by %s" % (document["exitStatus"], document["exitDecidedBy"].replace("\n", "\\n"))
    run = m.run("-q -p %s -l %s" % (LIST, QUIET_LOG))
    with open(m.unix(QUIET_LOG), "rb") as f:
        log = f.read().decode("latin-1").splitlines()
    verify_code, verified = check(m, {}, "--verify", QUIET_PLAN, "--log", QUIET_LOG)
    print()
    print("5. A quiet run, as a deployment tool starts it: QvUnInstall.exe -q -p %s -l %s" % (LIST, QUIET_LOG))
    show("uninstall list (the job server's program is not on the disk):", QUIET_LIST_BYTES.decode().splitlines())
    print("   the plan (QvUninstCheck.exe --machine --json --quiet) foretells exit status %s" % foretold)
    show("message boxes shown:", [b.title + ": " + b.text for b in run.boxes])
    show("progress dialogs:", run.captions)
    show("its log, %s:" % QUIET_LOG, log)
    print("exit code:", run.exit_code, "(1603: the uninstall began and something failed)")
    show("the verification against the quiet plan, with the log:",
         [line for line in verified.splitlines() if line.startswith(("exit status", "  not done"))] +
         [verified.rstrip("\n").splitlines()[-1]])
    print("   exit status %d" % verify_code)


def show(title, lines):
    print(title)
    for line in lines or ["(none)"]:
        print("   ", line)


def photograph(display, transcript, shots):
    """Take each picture while its box or dialog is up (the robot waits before answering)."""
    taken = []
    wanted = [("confirmation.png", lambda e: e["ev"] == "box" and e["title"] == "Confirm File Deletion"),
              ("progress.png", lambda e: e["ev"] == "sample" and e["pos"] >= 24),
              ("root-question.png", lambda e: e["ev"] == "box" and "completely?" in e["text"])]
    for name, predicate in wanted:
        event = winebox.wait_for_event(transcript, predicate, timeout=60)
        if event:
            path = os.path.join(shots, name)
            screenshot(display, path, event.get("rect"))
            taken.append(path)
    return taken


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--check", required=True, help="QvUninstCheck.exe, which plans and verifies")
    ap.add_argument("--robot", required=True)
    ap.add_argument("--standin", required=True)
    ap.add_argument("--metabase", required=True, help="the stand-in metabase DLL")
    ap.add_argument("--shots", required=True, help="folder for the screenshots")
    opts = ap.parse_args()
    shots = os.path.abspath(opts.shots)
    os.makedirs(shots, exist_ok=True)

    winebox.interrupt_on_sigterm()
    choice = winebox.use_build(opts.exe)
    bits = "32-bit" if choice.arch == "win32" else "64-bit"
    scratch = tempfile.mkdtemp(prefix="qv-demo-")
    with winebox.Display() as display:
        m = None
        try:
            print("booting a fresh %s prefix ..." % bits)
            pristine = os.path.join(scratch, "pristine")
            winebox.make_pristine(pristine, display.name)
            m = winebox.Machine(pristine, display.name, opts.exe, opts.robot, opts.standin, check=opts.check)
            lay_out(m, opts.metabase)
            files_before, reg_before = files(m), registry(m)
            filters_before, conf_before = filters(m), obj_conf(m)
            env = {"ISUNINST_DELETELOG": 1, **metabase.standin_env(STORE)}
            plan_code, planned = plan(m, env)

            # The management server takes a few seconds, long enough to
            # photograph its progress dialog; each box stays up 1.5 s.
            proc, transcript, journal = m.start("-p %s -l %s" % (LIST, RUN_LOG), answers=ANSWERS, answer_delay=1500,
                                                standin_env=dict(env, MGMTSRVR_SLEEP=4000), timeout_ms=90000)
            taken = photograph(display.name, transcript, shots)
            run = winebox.finish(proc, transcript, journal, timeout=120)
            files_after, reg_after = files(m), registry(m)
            with open(m.unix(RUN_LOG), "rb") as f:
                log = f.read().decode("latin-1").splitlines()
            verify_code, verified = check(m, env, "--verify", PLAN, "--log", RUN_LOG)

            print()
            print("1. The plan, made before anything changes: QvUninstCheck.exe --machine --json --answers %s %s %s"
                  % (ANSWERS, LIST, LIST))
            print("   kept as %s; exit status %d (0: no warning)" % (PLAN, plan_code))
            show("   the steps it foresees:", planned)
            print()
            print("2. The run: QvUnInstall.exe -p %s -l %s (%s build)" % (LIST, RUN_LOG, choice.build))
            show("uninstall list:", LIST_BYTES.decode().splitlines())
            print("(the programs run are stand-ins that only note how they were started;")
            print(" the isuninst stand-in also deletes the log, as the real uninstaller does)")
            show("commands run, in order:",
                 ["%-9s %s" % (j["name"], j["cmdline"].replace("\n", "\\n")) for j in run.journal])
            show("progress dialogs:", run.captions)
            show("message boxes, and the answers given:",
                 ["%s: %s  [%s]" % (b.title, b.text.replace("\n", "\\n"), b.answer) for b in run.boxes])
            show("removed:", [f for f in files_before if f not in files_after])
            show("kept:", [f for f in files_after if f in files_before])
            show("uninstall list:", ["deleted" if not m.exists(LIST) else "still there"])
            show("IIS metabase filters before:", filters_before)
            show("IIS metabase filters after:", filters(m))
            show("Netscape obj.conf before:", conf_before)
            show("Netscape obj.conf after:", obj_conf(m))
            show("registry before:", reg_before)
            show("registry after:", reg_after)
            print("exit code:", run.exit_code)
            show("screenshots, of the %s build %s in a %s prefix:" % (choice.build, opts.exe, bits), taken)
            print()
            show("3. The run's log, %s:" % RUN_LOG, log)
            print()
            print("4. The verification: QvUninstCheck.exe --verify %s --log %s" % (PLAN, RUN_LOG))
            show("", verified.rstrip("\n").splitlines())
            print("   exit status %d (0: every planned change is done and nothing of the family is left)" % verify_code)
            print()
            print("outcome:", run.boxes[-1].text if run.boxes else "(no box)")
            quiet_run(m)
        finally:
            if m:
                m.close()
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
