"""Wine prefix, X display and robot plumbing shared by the end-to-end suite
and the demonstration.

A pristine prefix, 32- or 64-bit as the build under test needs
(winearch.py), is made once; every case works in its own copy, so no case
sees another's files, registry or wineserver.
"""
import errno
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import winearch

EXE_DIR = r"C:\app"
EXE_PATH = EXE_DIR + r"\QvUnInstall.exe"
CHECK_PATH = EXE_DIR + r"\QvUninstCheck.exe"
HARNESS_DIR = r"C:\e2e"
WORK_DIR = r"C:\work"
READY_MARK = ".e2e-ready"
ARCH = None  # the Wine of every prefix made from here on (win32 or win64)


def use_build(exe):
    """Make every prefix from here on one that runs `exe`, as winearch.py
    decides (it prints what it chose and why)."""
    global ARCH
    choice = winearch.for_build(exe)
    ARCH = choice.arch
    return choice


def arch():
    """ARCH; unless a build was named, the Wine this host runs."""
    global ARCH
    if ARCH is None:
        choice = winearch.decide()
        print(choice.line(), file=sys.stderr, flush=True)
        ARCH = choice.arch
    return ARCH


def base_env(prefix, display):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "DISPLAY": display,
        # No host trash for deletions, no menu entries or downloads on the host.
        "XDG_DATA_HOME": os.path.join(prefix, "no-such-xdg-data"),
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    })
    return winearch.environ(arch(), env)


class Display:
    """An Xvfb of our own on a display number that Xvfb picks itself. What
    it says goes to `log`, which a failing case keeps; stop() removes it."""

    def __init__(self):
        self.proc = None
        self.name = None
        self.log = None

    def start(self):
        fd, self.log = tempfile.mkstemp(prefix="qv-xvfb-", suffix=".log")
        read_fd, write_fd = os.pipe()
        with os.fdopen(fd, "wb") as log:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdout=log, stderr=subprocess.STDOUT)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            with open(self.log, "rb") as f:
                said = f.read().decode(errors="replace")
            self.stop()
            raise RuntimeError("Xvfb did not start:\n" + said)
        self.name = ":" + number.decode().strip()
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None
        if self.log:
            try:
                os.remove(self.log)
            except OSError:
                pass
            self.log = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


# The e2e_prefix test's TIMEOUT (900 s) less a minute for Xvfb and the
# clean-up, so that a slow boot ends with our error, not ctest's kill.
PRISTINE_BUDGET = 840


def make_pristine(prefix, display, budget=PRISTINE_BUDGET):
    """Boot a fresh prefix (of ARCH) with a virtual desktop (so hiding a window
    does not stall for want of a window manager). A first boot on a cold
    machine can take minutes; all of it must fit in `budget` seconds."""
    deadline = time.monotonic() + budget

    def left():
        return max(1.0, deadline - time.monotonic())

    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    env = base_env(prefix, display)
    try:
        subprocess.run(["wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=left())
        for key, name, value in ((r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                                 (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768")):
            subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=left())
        subprocess.run(["wineserver", "-w"], env=env, timeout=left())
    finally:
        # wineboot's services and a server that outlived a time-out go too.
        stop_prefix(env)
    # The user folders link to the host's home; cut those links so nothing a
    # case deletes can reach outside the prefix.
    users = os.path.join(prefix, "drive_c", "users")
    for root, dirs, _ in os.walk(users):
        for d in dirs:
            path = os.path.join(root, d)
            if os.path.islink(path):
                os.unlink(path)
                os.mkdir(path)
    # Nor any drive but C:, Z: being the host's root: what the harness puts
    # in the prefix it copies into drive_c.
    for path in host_drives(prefix):
        os.unlink(path)
    with open(os.path.join(prefix, READY_MARK), "w") as f:
        f.write(arch() + "\n")


def host_drives(prefix):
    """The prefix's drive links other than C: (`z:`, and `z::` for a device)."""
    devices = os.path.join(prefix, "dosdevices")
    return [os.path.join(devices, name) for name in sorted(os.listdir(devices))
            if len(name) >= 2 and name[1] == ":" and name[0].lower() != "c"]


def pristine_ready(prefix):
    """A pristine prefix of ARCH is there, booted to the end."""
    try:
        with open(os.path.join(prefix, READY_MARK)) as f:
            return f.read().strip() == arch()
    except OSError:
        return False


# Wine's own binaries are never written to once a prefix is booted: a case's
# copy links them, so copying hundreds of MB per case does not flood the disk
# (heavy write-back stalls every process, the robot included).
SHARED_EXTENSIONS = {".dll", ".exe", ".nls", ".msstyles", ".drv", ".ocx", ".sys", ".acm", ".cpl",
                     ".tlb", ".ttf", ".ttc", ".fon", ".ax", ".ds", ".mui", ".vxd", ".com"}


# Where a hard link cannot be made (the copy on another file system, a file
# system without links, protected_hardlinks, a file's link count at its
# limit) the file is copied instead.
LINK_REFUSED = {errno.EXDEV, errno.EPERM, errno.EMLINK, errno.ENOTSUP, errno.EOPNOTSUPP}


def link_or_copy(src, dst):
    try:
        os.link(src, dst)
    except OSError as e:
        if e.errno not in LINK_REFUSED:
            raise
        shutil.copy2(src, dst)


def clone_prefix(source, target):
    for dirpath, dirnames, filenames in os.walk(source):
        rel = os.path.relpath(dirpath, source)
        dest = os.path.join(target, rel) if rel != "." else target
        os.makedirs(dest, exist_ok=True)
        shutil.copystat(dirpath, dest)
        for name in dirnames + filenames:
            src, dst = os.path.join(dirpath, name), os.path.join(dest, name)
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
                if name in dirnames:
                    dirnames.remove(name)
            elif name in filenames:
                if os.path.splitext(name)[1].lower() in SHARED_EXTENSIONS:
                    link_or_copy(src, dst)
                else:
                    shutil.copy2(src, dst)


class Box:
    def __init__(self, ev):
        self.ev = ev
        self.title = ev["title"]
        self.text = ev["text"]
        self.button_ids = [b["id"] for b in ev["buttons"]]
        self.icon = ev["icon"]
        self.answer = ev["answer"]

    def __repr__(self):
        return "Box(%r, %r, %r, %s)" % (self.title, self.text, self.button_ids, self.icon)


class Dialog:
    def __init__(self, ev):
        self.number = ev["dlg"]
        self.caption = ev["caption"]
        self.samples = []
        self.escaped = False

    def __repr__(self):
        return "Dialog(%r, %d samples)" % (self.caption, len(self.samples))


class Run:
    """What one run of the exe showed (robot transcript) and started (journal)."""

    def __init__(self, events, journal):
        self.events = events
        self.journal = journal
        self.boxes = [Box(e) for e in events if e["ev"] == "box"]
        self.dialogs = []
        by_number = {}
        for e in events:
            if e["ev"] == "dialog":
                d = Dialog(e)
                by_number[d.number] = d
                self.dialogs.append(d)
            elif e["ev"] == "sample":
                by_number[e["dlg"]].samples.append(e)
            elif e["ev"] == "escape":
                by_number[e["dlg"]].escaped = True
        ends = [e for e in events if e["ev"] in ("exit", "timeout", "start_failed")]
        self.end = ends[0] if ends else {"ev": "missing"}
        self.exit_code = self.end.get("code")
        self.timed_out = self.end["ev"] == "timeout"

    @property
    def captions(self):
        return [d.caption for d in self.dialogs]

    @property
    def commands(self):
        return [(j["name"], j["cmdline"]) for j in self.journal]

    def shown(self):
        """Boxes and dialogs in the order they appeared, for failure messages."""
        out = []
        for e in self.events:
            if e["ev"] == "box":
                out.append("box %r: %r" % (e["title"], e["text"]))
            elif e["ev"] == "dialog":
                out.append("dialog %r" % e["caption"])
            elif e["ev"] == "window":
                out.append("window %r: %r" % (e["class"], e["title"]))
        return out

    def describe(self):
        notes = [e for e in self.events if e["ev"] in ("slow_scan", "escape")]
        return "\nshown: %s\nstarted: %s\nrobot notes: %s\nend: %s" % (
            json.dumps(self.shown(), indent=1), json.dumps(self.commands, indent=1), notes, self.end)


def prefix_processes(prefix):
    """(pid, name) of our processes that run in `prefix`. Wine starts a child
    in a double fork, so the exe and its stand-ins are nobody's children;
    what ties every process of a prefix together, the wineserver included,
    is the WINEPREFIX in its environment."""
    wanted = b"WINEPREFIX=" + os.fsencode(prefix)
    me, uid = os.getpid(), os.getuid()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == me:
            continue
        try:
            if os.stat("/proc/" + entry).st_uid != uid:
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/comm" % entry) as f:
                found.append((int(entry), f.read().strip()))
        except OSError:
            continue  # gone meanwhile
    return found


def kill_pids(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def stop_prefix(env, limit=20):
    """End every process of the prefix in `env`: ask its wineserver to kill
    them all, wait for it with a time limit, then kill what is left (a
    server that would not end, a process it never knew of)."""
    prefix = env["WINEPREFIX"]
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        subprocess.run(["wineserver", "-k"], env=env, timeout=limit, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, timeout=limit, **quiet)
    except subprocess.TimeoutExpired:
        kill_pids([pid for pid, name in prefix_processes(prefix) if name.startswith("wineserver")])
    deadline = time.monotonic() + limit
    while True:
        left = prefix_processes(prefix)
        if not left:
            return
        if time.monotonic() > deadline:
            raise RuntimeError("processes of %s would not end: %s" % (prefix, left))
        kill_pids(pid for pid, _ in left)
        time.sleep(0.05)


LIVE = set()


def close_all():
    """Stop every case machine still up (after an interruption)."""
    for m in list(LIVE):
        m.close()


def interrupt_on_sigterm():
    """A time-out's SIGTERM unwinds like Ctrl-C, so Xvfb and wineservers get stopped."""
    def handler(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, handler)


class TimeLimit(KeyboardInterrupt):
    """The run went past its time limit; a KeyboardInterrupt, so that
    unittest lets it through."""


def interrupt_after(seconds):
    """Unwind like Ctrl-C after `seconds`: ctest's TIMEOUT kills with SIGKILL,
    which leaves Xvfb and every Wine process behind, so stop first."""
    def handler(signum, frame):
        raise TimeLimit("stopped after the time limit of %d s" % seconds)
    signal.signal(signal.SIGALRM, handler)
    signal.alarm(max(1, int(seconds)))


class Machine:
    """One case's copy of the pristine prefix, with the exe and the robot in it."""

    def __init__(self, pristine, display, exe, robot, standin, keep=False, check=None):
        self.root = tempfile.mkdtemp(prefix="qv-e2e-")
        LIVE.add(self)
        self.prefix = os.path.join(self.root, "prefix")
        self.display = display
        self.standin_bin = standin
        self.keep = keep
        self.env = base_env(self.prefix, display)
        self.runs = 0
        self.holds = 0
        self.procs = []  # every wine process started from here: robots and holders
        self.closed = False
        self.check = bool(check)
        self.on_run = None  # called with (args, kw, preview, run) after each run of the exe
        try:
            clone_prefix(pristine, self.prefix)
            if host_drives(self.prefix):
                raise RuntimeError("the prefix reaches the host: %s" % host_drives(self.prefix))
            self.install(exe, EXE_PATH)
            self.install(robot, HARNESS_DIR + r"\robot.exe")
            if check:
                self.install(check, CHECK_PATH)
            self.mkdir(WORK_DIR)
        except BaseException:
            self.close()
            raise

    # -- files ------------------------------------------------------------
    def unix(self, winpath):
        """Unix path of a path on a drive of the prefix (C:, or one a case
        linked to a folder inside it); a path without a drive is on C:, the
        drive every program of the prefix is started in."""
        if winpath[:1] == "\\" and winpath[1:2] != "\\":
            winpath = "C:" + winpath
        assert winpath[1:3] == ":\\", winpath
        drive = os.path.realpath(os.path.join(self.prefix, "dosdevices", winpath[0].lower() + ":"))
        assert drive.startswith(os.path.realpath(self.prefix) + os.sep), winpath
        return os.path.join(drive, *[p for p in winpath[3:].split("\\") if p])

    def mkdir(self, winpath):
        os.makedirs(self.unix(winpath), exist_ok=True)

    def write(self, winpath, data):
        path = self.unix(winpath)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def exists(self, winpath):
        return os.path.exists(self.unix(winpath))

    def install(self, source, winpath):
        path = self.unix(winpath)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(source, path)

    def standin(self, winpath):
        """Put a stand-in at winpath; it takes its name from the file name."""
        self.install(self.standin_bin, winpath)

    def standins_beside_exe(self):
        self.standin(EXE_DIR + r"\net.exe")
        self.standin(EXE_DIR + r"\isuninst.exe")

    # -- running ----------------------------------------------------------
    def wine(self, args, env=None, timeout=120, cwd="C:\\"):
        # Started inside the prefix's C: drive: a host folder that no drive
        # reaches makes Wine say so among the program's own output.
        return subprocess.run(["wine"] + args, env=env or self.env, timeout=timeout, cwd=self.unix(cwd),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def reg(self, *args):
        r = self.wine(["reg"] + list(args))
        if r.returncode:
            raise RuntimeError("reg %s failed: %s" % (args, r.stdout))
        return r.stdout.decode(errors="replace")

    def reg_import(self, text):
        """Load REGEDIT4 text in one go: one Wine start for any number of keys."""
        path = HARNESS_DIR + r"\import%d.reg" % self.runs
        self.write(path, ("REGEDIT4\r\n\r\n" + text.replace("\n", "\r\n")).encode("latin-1"))
        self.reg("import", path)

    def key_exists(self, key):
        return self.wine(["reg", "query", key]).returncode == 0

    def keys_under(self, key):
        """Every key at or below `key`, as `reg query /s` lists them."""
        r = self.wine(["reg", "query", key, "/s"])
        if r.returncode:
            return []
        return [line.strip() for line in r.stdout.decode(errors="replace").splitlines()
                if line.upper().startswith("HKEY_")]

    def windows_version(self, version):
        """What GetVersionExA reports to the exe and its preview (win98, win31, win10, ...)."""
        for exe in ("QvUnInstall.exe", "QvUninstCheck.exe"):
            self.reg("add", "HKCU\\Software\\Wine\\AppDefaults\\" + exe, "/v", "Version", "/d", version, "/f")

    def hold(self, winpath, share="none", ms=60000):
        """Another program keeping a file open, until the case ends."""
        self.holds += 1
        out = HARNESS_DIR + r"\hold%d.jsonl" % self.holds
        proc = subprocess.Popen(["wine", HARNESS_DIR + r"\robot.exe", "--hold", winpath, "--share", share,
                                 "--out", out, "--timeout", str(ms)],
                                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(proc)
        held = wait_for_event(self.unix(out), lambda e: e["ev"] == "held")
        if not held or not held["ok"]:
            raise RuntimeError("could not hold %s: %s" % (winpath, held))
        return proc

    def short_name(self, winpath):
        out = HARNESS_DIR + r"\shortname.jsonl"
        self.wine([HARNESS_DIR + r"\robot.exe", "--shortname", winpath, "--out", out])
        return read_jsonl(self.unix(out))[0]["short"]

    def error_text(self, code, wide=False):
        out = HARNESS_DIR + r"\errtext.jsonl"
        if self.exists(out):
            os.remove(self.unix(out))  # never an earlier code's text
        self.wine([HARNESS_DIR + r"\robot.exe", "--errtext", str(code), "--wide", "1" if wide else "0", "--out", out])
        with open(self.unix(out)) as f:
            return json.loads(f.readline())["text"]

    def start(self, args, answers="", answer_delay=0, escape_after=None, standin_env=None,
              cwd=WORK_DIR, timeout_ms=45000, robot_args=()):
        """Start the exe with the exact command line `"C:\\app\\QvUnInstall.exe" ` + args
        under the robot; returns (process, transcript path, journal path)."""
        self.runs += 1
        n = self.runs
        cmd = HARNESS_DIR + r"\cmd%d.txt" % n
        out = HARNESS_DIR + r"\transcript%d.jsonl" % n
        journal = HARNESS_DIR + r"\journal%d.jsonl" % n
        line = '"%s"' % EXE_PATH + (" " + args if args else "")
        self.write(cmd, line.encode("latin-1"))
        env = dict(self.env)
        env["QV_JOURNAL"] = journal
        # Every child lives a little while, so that the robot's look at the
        # windows cannot miss its progress dialog on a busy machine.
        env["QV_SLEEP"] = "400"
        for k, v in (standin_env or {}).items():
            env["QV_" + k] = str(v)
        robot = [HARNESS_DIR + r"\robot.exe", "--cmdfile", cmd, "--out", out, "--cwd", cwd,
                 "--answers", answers or "-", "--answer-delay", str(answer_delay), "--timeout", str(timeout_ms)]
        if escape_after is not None:
            robot += ["--escape-after", str(escape_after)]
        robot += [str(a) for a in robot_args]
        # Into a file, not a pipe: Wine's desktop process inherits the robot's
        # output and can outlive it by as long as any other process of the prefix.
        with open(os.path.join(self.root, "robot%d.log" % n), "wb") as output:
            proc = subprocess.Popen(["wine"] + robot, env=env, stdout=output, stderr=subprocess.STDOUT)
        self.procs.append(proc)
        return proc, self.unix(out), self.unix(journal)

    def run(self, args, timeout_ms=45000, **kw):
        preview = (self.preview(args, kw.get("answers", ""), kw.get("standin_env"), kw.get("cwd", WORK_DIR))
                   if self.on_run else None)
        run = finish(*self.start(args, timeout_ms=timeout_ms, **kw), timeout=timeout_ms / 1000 + 30)
        if self.on_run:
            self.on_run(args, kw, preview, run)
        return run

    def preview(self, args, answers="", standin_env=None, cwd=WORK_DIR):
        """What QvUninstCheck.exe --machine says the run will do, started where
        the run starts, in this prefix as it is now, with the robot's answers (No once they run out)
        and the stand-in's way with the InstallShield log; None for a command
        line that is more than -p PATH with -a or -q, or when the list can't be read."""
        tokens = split_windows(args)
        quiet = "-q" in tokens
        silent = quiet or "-a" in tokens
        rest = [t for t in tokens if t not in ("-a", "-q")]
        if not self.check or len(rest) != 2 or rest[0] != "-p":
            return None
        standin_env = standin_env or {}
        command = [CHECK_PATH, "--json", "--machine", "--answer", "no"]
        if answers:
            command += ["--answers", answers]
        if silent:
            command.append("--quiet" if quiet else "--silent")
        if not standin_env.get("ISUNINST_DELETELOG"):
            command.append("--log-stays")
        command += [rest[1], rest[1]]
        env = dict(self.env)
        for k, v in standin_env.items():
            env["QV_" + k] = str(v)
        # The preview reads the stand-in metabase too; its calls keep out of the run's journal.
        env["QV_METABASE_JOURNAL"] = HARNESS_DIR + r"\preview-metabase.jsonl"
        r = self.wine(command, env=env, cwd=cwd)
        if r.returncode not in (0, 1):
            return None
        return json.loads(r.stdout.decode("latin-1")[r.stdout.decode("latin-1").index("{"):])

    def close(self, keep_in=None):
        """End every process of the case and remove its files; with
        `keep_in`, first copy there what would explain a failure."""
        if self.closed:
            return
        self.closed = True
        LIVE.discard(self)
        try:
            try:
                for proc in self.procs:
                    if proc.poll() is None:
                        proc.kill()
                stop_prefix(self.env)
                for proc in self.procs:
                    proc.wait(10)
            finally:
                if keep_in:
                    self.keep_artifacts(keep_in)
        finally:
            if not self.keep:
                shutil.rmtree(self.root, ignore_errors=True)

    def keep_artifacts(self, folder):
        """The robot's output, and from C:\\e2e the command lines, transcripts,
        journals and the metabase's store and journal; not the binaries."""
        os.makedirs(folder, exist_ok=True)
        for name in sorted(os.listdir(self.root)):
            if name.endswith(".log"):
                shutil.copy2(os.path.join(self.root, name), folder)
        harness = self.unix(HARNESS_DIR)
        if os.path.isdir(harness):
            for name in sorted(os.listdir(harness)):
                path = os.path.join(harness, name)
                if os.path.isfile(path) and os.path.splitext(name)[1].lower() not in (".exe", ".dll"):
                    shutil.copy2(path, folder)


def split_windows(args):
    """Command-line tokens the way the C runtime splits them, for the plain
    cases: blanks separate, double quotes group and are dropped."""
    tokens, token, quoted, any_ = [], "", False, False
    for c in args:
        if c == '"':
            quoted, any_ = not quoted, True
        elif c in " \t" and not quoted:
            if token or any_:
                tokens.append(token)
            token, any_ = "", False
        else:
            token += c
    if token or any_:
        tokens.append(token)
    return tokens


def finish(proc, transcript, journal, timeout):
    """Wait for a run that start() began and read what it showed and started."""
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    run = Run(read_jsonl(transcript), read_jsonl(journal))
    if not any(e["ev"] in ("start", "start_failed") for e in run.events):
        raise AssertionError("the robot never started: no transcript at " + transcript)
    return run


def read_jsonl(path, partial=False):
    """The records of a JSON-lines file; with `partial`, of one still being
    written, whose last line may not be whole yet."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").split("\n")
    out = []
    for line in lines:
        if not line.strip():
            continue
        try:
            out.append(json.loads(line))
        except ValueError:
            if not partial:
                raise
    return out


def wait_for_event(path, predicate, timeout=30):
    """Poll a transcript that the robot is still writing."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        for e in read_jsonl(path, partial=True):
            if predicate(e):
                return e
        time.sleep(0.05)
    return None
