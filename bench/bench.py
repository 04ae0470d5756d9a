#!/usr/bin/env python3
"""The uninstaller's own cost, side by side with a direct way of doing the
same, measured in one go and printed as one table.

  bench.py --exe QvUnInstall.exe --robot robot.exe --standin standin.exe
           --bench-bin DIR (baseline.exe, onebox.exe, probe.exe)
           --qvbench qvbench --pristine DIR [--runs N] [--cpu-runs N]
           [--json FILE] [--markdown FILE]

Under Wine (one prefix copy, one Xvfb; 32- or 64-bit as the exe's build
needs, see e2e/winearch.py), in rounds that alternate which of
the two goes first:
  1 per-command overhead: 20 commands whose stand-in ends at once, run by
    `QvUnInstall.exe -a -p list` and by baseline.exe; from the stand-ins'
    journal (the time of each start)
  2 CPU while a child sleeps 10 s, from /proc/<pid>/stat of the Wine process
  3 the longest time the progress dialog does not answer WM_NULL, against
    onebox.exe's message box
  4 start-up: process start to the confirmation box, against onebox.exe
  5 size and imported DLLs (objdump -p)
On the host: 6 Google Benchmark throughput of the list driver and of the
Netscape restore over the fake platform.
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import winebox  # noqa: E402

BENCH = r"C:\bench"
PROBE = BENCH + r"\probe.exe"
LIST = BENCH + r"\QvUninst.txt"
COMMANDS = 20
TICK_MS, WAIT_MS = 120, 10  # the progress dialog's timer period and its wait per tick
# Each kind of list line that starts a program, in turn; the stand-ins
# behind them end at once.
PROGRAMS = [("mgmtsrvr", "-Sremove"), ("storsrvr", "-Sremove"), ("jobsrvr", "-Sremove"),
            ("portinst", "nogui remove tcp")]
CLK_TCK = os.sysconf("SC_CLK_TCK")
THEME_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager"


def say(*args):
    print("bench:", *args, file=sys.stderr, flush=True)


def median_max(values):
    return statistics.median(values), max(values)


class Bench:
    def __init__(self, machine, bench_bin):
        self.m = machine
        self.bench_bin = bench_bin
        self.n = 0
        self.log = open(os.path.join(machine.root, "wine.log"), "ab")
        self.keeper = None
        self.themed = True  # as the prefix was booted

    # -- plumbing -----------------------------------------------------------
    def env(self, journal=None, sleep=None):
        """The prefix's environment, with no stand-in setting from outside."""
        env = {k: v for k, v in self.m.env.items() if not k.startswith("QV_")}
        if journal:
            env["QV_JOURNAL"] = journal
        if sleep is not None:
            env["QV_SLEEP"] = str(sleep)
        return env

    def wine(self, args, env, wait=True, timeout=180):
        # Into a file, never a pipe: services of the prefix inherit it and
        # would keep it open past the program's end.
        proc = subprocess.Popen(["wine"] + args, env=env, stdout=self.log, stderr=subprocess.STDOUT)
        self.m.procs.append(proc)
        if wait:
            proc.wait(timeout)
        return proc

    def fresh(self, stem):
        self.n += 1
        path = BENCH + "\\%s%d" % (stem, self.n)
        for ext in (".json", ".jsonl", ".txt"):
            if self.m.exists(path + ext):
                os.remove(self.m.unix(path + ext))
        return path

    def result(self, winpath):
        records = winebox.read_jsonl(self.m.unix(winpath))
        if not records:
            raise RuntimeError("no result in " + winpath)
        return records[-1]

    def cmdfile(self, line):
        path = self.fresh("cmd") + ".txt"
        self.m.write(path, line.encode("latin-1"))
        return path

    def run(self, line, env, timeout_ms=120000):
        """Start `line` from the probe inside the prefix; its JSON result."""
        out = self.fresh("run") + ".json"
        self.wine([PROBE, "run", "--cmdfile", self.cmdfile(line), "--out", out, "--timeout", str(timeout_ms)],
                  env, timeout=timeout_ms / 1000 + 60)
        r = self.result(out)
        if r.get("ev") != "run" or r.get("timeout"):
            raise RuntimeError("%s: %s" % (line, r))
        return r

    def set_up(self):
        m = self.m
        m.mkdir(BENCH)
        for name in ("baseline", "onebox", "probe"):
            m.install(os.path.join(self.bench_bin, name + ".exe"), BENCH + "\\%s.exe" % name)
        for name, _ in PROGRAMS:
            m.standin(BENCH + r"\bin\%s.exe" % name)
        # One server for the whole benchmark, and a hidden window that keeps
        # the desktop process up between runs, so that no run pays for either.
        subprocess.run(["wineserver", "-p"], env=self.env(), stdout=self.log, stderr=subprocess.STDOUT)
        held = self.fresh("hold") + ".json"
        self.keeper = self.wine([PROBE, "hold", "--out", held, "--for", str(6 * 3600 * 1000)], self.env(),
                                wait=False)
        if not winebox.wait_for_event(m.unix(held), lambda e: e["ev"] == "holding"):
            raise RuntimeError("the keeper window did not come up")

    # -- the uninstall list and its command lines ---------------------------
    def list_for(self, count):
        lines = []
        for i in range(count):
            name, _ = PROGRAMS[i % len(PROGRAMS)]
            lines.append('"%s\\bin\\%s.exe"\n' % (BENCH, name))
        return lines

    def commands_for(self, count):
        """The command lines the uninstaller makes of list_for(count): the
        line as read, line feed kept, a space, its arguments."""
        return [line + " " + PROGRAMS[i % len(PROGRAMS)][1] for i, line in enumerate(self.list_for(count))]

    def uninstall(self, count, env, timeout_ms=120000, log=None):
        # A whole run deletes its list at the end: a new one every time.
        self.m.write(LIST, "".join(self.list_for(count)).encode("latin-1"))
        return self.run('"%s" -a -p %s%s' % (winebox.EXE_PATH, LIST, " -l " + log if log else ""), env, timeout_ms)

    def baseline_line(self, count):
        path = self.fresh("commands") + ".txt"
        self.m.write(path, "\0".join(self.commands_for(count)).encode("latin-1"))
        return '"%s\\baseline.exe" %s' % (BENCH, path)

    def journal(self, path, count):
        j = winebox.read_jsonl(self.m.unix(path))
        got = [e["cmdline"] for e in j]
        if got != self.commands_for(count):
            raise RuntimeError("the stand-ins were started with %r" % got)
        return j

    # -- 1 per-command overhead ---------------------------------------------
    def per_command(self, who):
        journal = self.fresh("journal") + ".jsonl"
        env = self.env(journal, sleep=0)
        if who in ("uninstaller", "logged"):
            # With -l a new log each run, so that every run writes the same lines.
            r = self.uninstall(COMMANDS, env, log=self.fresh("run") + ".log" if who == "logged" else None)
        else:
            r = self.run(self.baseline_line(COMMANDS), env)
        starts = [e["t"] for e in self.journal(journal, COMMANDS)]
        return {"start_to_start_ms": (starts[-1] - starts[0]) / (COMMANDS - 1), "whole_ms": r["ms"] / COMMANDS}

    # -- 2 CPU while waiting -------------------------------------------------
    @staticmethod
    def cpu_ticks(pid):
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)

    def pid_of(self, comm, timeout=20, prefix=False):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            pids = [pid for pid, name in winebox.prefix_processes(self.m.prefix)
                    if name == comm or (prefix and name.startswith(comm))]
            if pids:
                return pids[0]
            time.sleep(0.02)
        raise RuntimeError("no process %s in the prefix" % comm)

    def cpu_while_waiting(self, who, sleep_ms=10000, skip_s=1.0, window_s=8.0):
        journal = self.fresh("journal") + ".jsonl"
        env = self.env(journal, sleep=sleep_ms)
        if who == "uninstaller":
            self.m.write(LIST, "".join(self.list_for(1)).encode("latin-1"))
            line, comm = '"%s" -a -p %s' % (winebox.EXE_PATH, LIST), "QvUnInstall.exe"
        else:
            line, comm = self.baseline_line(1), "baseline.exe"
        out = self.fresh("run") + ".json"
        proc = self.wine([PROBE, "run", "--cmdfile", self.cmdfile(line), "--out", out], env, wait=False)
        started = winebox.wait_for_event(self.m.unix(journal), lambda e: True, timeout=30)
        if not started:
            raise RuntimeError("the stand-in did not start under " + who)
        pid = self.pid_of(comm)
        server = self.pid_of("wineserver", prefix=True)
        time.sleep(skip_s)  # the dialog is up and the stand-in's own wait is over
        t0, c0, s0 = time.monotonic(), self.cpu_ticks(pid), self.cpu_ticks(server)
        time.sleep(window_s)
        t1, c1, s1 = time.monotonic(), self.cpu_ticks(pid), self.cpu_ticks(server)
        proc.wait(sleep_ms / 1000 + 60)
        self.journal(journal, 1)
        return {"cpu_percent": 100.0 * (c1 - c0) / CLK_TCK / (t1 - t0),
                "server_percent": 100.0 * (s1 - s0) / CLK_TCK / (t1 - t0)}

    # -- 3 the longest time without an answer -------------------------------
    def no_answer(self, who, sleep_ms=3500, for_ms=3000):
        journal = self.fresh("journal") + ".jsonl"
        env = self.env(journal, sleep=sleep_ms)
        out = self.fresh("ping") + ".json"
        ping = [PROBE, "ping", "--out", out, "--for", str(for_ms), "--pause", "1"]
        if who == "uninstaller":
            pinger = self.wine(ping + ["--kind", "progress"], env, wait=False)
            self.uninstall(1, env)
        else:
            pinger = self.wine(ping + ["--kind", "box", "--answer", "7"], env, wait=False)
            self.run('"%s\\onebox.exe"' % BENCH, env)
        pinger.wait(60)
        r = self.result(out)
        if not r.get("found") or r.get("gone"):
            raise RuntimeError("%s: the dialog was not there for the whole look: %s" % (who, r))
        return {"longest_gap_ms": r["longest_gap_ms"], "longest_trip_ms": r["longest_trip_ms"],
                "median_trip_ms": r["median_trip_ms"], "answered": r["answered"], "over5": r["over5"]}

    # -- 4 start-up ----------------------------------------------------------
    def startup(self, who):
        line = ('"%s" -p %s' % (winebox.EXE_PATH, LIST)) if who == "uninstaller" else '"%s\\onebox.exe"' % BENCH
        out = self.fresh("startup") + ".json"
        self.wine([PROBE, "startup", "--cmdfile", self.cmdfile(line), "--out", out, "--answer", "7"],
                  self.env(), timeout=120)
        r = self.result(out)
        if not r.get("box"):
            raise RuntimeError("%s showed no box: %s" % (who, r))
        return {"box_ms": r["box_ms"]}

    # -- where the time of a command goes -----------------------------------
    def breakdown(self, who):
        """One run of the 20 commands with a watcher that notes each child's
        end and each progress dialog's life. The watcher polls busily, so
        these times are for telling the steps apart, not for the figures."""
        journal = self.fresh("journal") + ".jsonl"
        env = self.env(journal, sleep=0)
        out, until = self.fresh("watch") + ".jsonl", self.fresh("stop") + ".txt"
        names = ",".join("%s.exe" % name for name, _ in PROGRAMS)
        watcher = self.wine([PROBE, "watch", "--out", out, "--for", "300000", "--names", names, "--until", until],
                            env, wait=False)
        time.sleep(1.0)  # the watcher is up before the first child
        if who == "uninstaller":
            self.uninstall(COMMANDS, env)
        else:
            self.run(self.baseline_line(COMMANDS), env)
        self.m.write(until, b"stop")
        watcher.wait(60)
        starts = [e["t"] for e in self.journal(journal, COMMANDS)]
        events = winebox.read_jsonl(self.m.unix(out))
        children = sorted((e for e in events if e["ev"] == "child"), key=lambda e: e["seen"])
        exits = [e["exit"] for e in children]
        seen = [e["seen"] for e in children]
        dialogs = [e for e in events if e["ev"] == "dialog"]
        if len(exits) != COMMANDS or (who == "uninstaller" and len(dialogs) != COMMANDS):
            raise RuntimeError("the watcher saw %d children and %d dialogs" % (len(exits), len(dialogs)))
        steps = {"child_life_ms": [x - s for s, x in zip(starts, exits)]}
        if who == "uninstaller":
            gone = [d["gone"] for d in dialogs]
            steps["end_noticed_ms"] = [g - x for x, g in zip(exits, gone)]
            steps["dialog_life_ms"] = [d["gone"] - d["shown"] for d in dialogs]
            steps["dialog_before_child_ms"] = [s - d["shown"] for s, d in zip(starts, dialogs)]
            steps["to_next_child_ms"] = [n - g for g, n in zip(gone, seen[1:])]
            steps["to_next_start_ms"] = [s - g for g, s in zip(gone, starts[1:])]
        else:
            steps["to_next_child_ms"] = [n - x for x, n in zip(exits, seen[1:])]
            steps["to_next_start_ms"] = [s - x for x, s in zip(exits, starts[1:])]
        return steps

    def theme(self, on):
        """Wine's visual theme for the programs started from now on."""
        if self.themed != on:
            self.m.reg("add", THEME_KEY, "/v", "ThemeActive", "/d", "1" if on else "0", "/f")
            self.themed = on

    def paired(self, name, fn, runs, keys=("uninstaller", "direct")):
        """`runs` rounds, each running every key once (who, and with the
        suffix _off, with the theme off), in an order that turns round by
        round, so that what else the machine does falls on all alike."""
        rounds = []
        for i in range(runs):
            order = list(keys[i % len(keys):]) + list(keys[:i % len(keys)])
            if i % 2:
                order.reverse()
            got = {}
            for key in order:
                self.theme(not key.endswith("_off"))
                got[key] = fn(key.replace("_off", ""))
            say("%s %d/%d: %s" % (name, i + 1, runs, json.dumps(got)))
            rounds.append(got)
        self.theme(True)
        return rounds


def imports(path):
    objdump = {"win32": "i686-w64-mingw32-objdump", "win64": "x86_64-w64-mingw32-objdump"}[winebox.arch()]
    out = subprocess.run([objdump, "-p", path], check=True, stdout=subprocess.PIPE).stdout
    return re.findall(r"DLL Name: (\S+)", out.decode(errors="replace"))


def host_benchmarks(qvbench, repetitions):
    out = subprocess.run([qvbench, "--benchmark_repetitions=%d" % repetitions, "--benchmark_format=json",
                          "--benchmark_report_aggregates_only=false"],
                         check=True, stdout=subprocess.PIPE).stdout
    data = json.loads(out)
    per = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        if b.get("error_occurred"):
            raise RuntimeError("%s: %s" % (b["name"], b.get("error_message")))
        name = b["run_name"].split("/")[0]
        per.setdefault(name, []).append(b)
    return per, data.get("context", {})


def under_wine(args, results):
    with winebox.Display() as display:
        if not winebox.pristine_ready(args.pristine):
            say("booting a pristine prefix in", args.pristine)
            winebox.make_pristine(args.pristine, display.name)
        machine = winebox.Machine(args.pristine, display.name, args.exe, args.robot, args.standin)
        try:
            b = Bench(machine, args.bench_bin)
            b.set_up()
            # One of each first: the first start of anything in a prefix reads its DLLs from disk.
            b.per_command("uninstaller")
            b.per_command("direct")
            b.startup("uninstaller")
            b.startup("direct")
            # Each with the prefix's visual theme on, as booted, and off: Wine
            # draws a themed progress bar in software on every step.
            both = ("uninstaller", "direct", "uninstaller_off", "direct_off")
            results["per_command"] = b.paired("per-command", b.per_command, args.runs, both)
            results["logged"] = b.paired("per-command, -l", b.per_command, args.runs, ("logged", "uninstaller"))
            results["startup"] = b.paired("start-up", b.startup, args.runs)
            results["no_answer"] = b.paired("no answer", b.no_answer, args.runs, both)
            results["cpu"] = b.paired("cpu", b.cpu_while_waiting, args.cpu_runs, both)
            results["breakdown"] = {}
            for key in both:
                b.theme(not key.endswith("_off"))
                results["breakdown"][key] = b.breakdown(key.replace("_off", ""))
        finally:
            machine.close()


def fmt(v, digits=1):
    return "%.*f" % (digits, v)


def spread(values, digits):
    return "%s / %s" % tuple(fmt(x, digits) for x in median_max(values))


def table(results):
    rows = []

    def side(rounds, field, digits=1, off=False):
        u_key, d_key = ("uninstaller_off", "direct_off") if off else ("uninstaller", "direct")
        u = [r[u_key][field] for r in rounds]
        d = [r[d_key][field] for r in rounds]
        diff = [r[u_key][field] - r[d_key][field] for r in rounds]
        return [spread(v, digits) for v in (u, d, diff)]

    # A child that ends during a tick's wait is seen at once; else at the next tick.
    noticed = "0 to %d a command, %.0f on average (end seen at the next %d ms tick, at once in its %d ms wait)" % (
        TICK_MS - WAIT_MS, (TICK_MS - WAIT_MS) ** 2 / (2 * TICK_MS), TICK_MS, WAIT_MS)
    rows.append(["1 Per-command overhead, ms (journal, start to start)", "baseline.exe"]
                + side(results["per_command"], "start_to_start_ms") + [noticed + ", + the dialog's own cost"])
    rows.append(["1b the same, prefix theme off", "baseline.exe"]
                + side(results["per_command"], "start_to_start_ms", off=True) + ["as 1"])
    rows.append(["1c Whole run / 20, ms (launcher's clock)", "baseline.exe"]
                + side(results["per_command"], "whole_ms") + ["as 1, + start-up and clean-up / 20"])
    logged = results["logged"]
    rows.append(["1d Per-command overhead with -l LOGFILE, ms (journal, start to start)", "QvUnInstall without -l"]
                + [spread([r[k]["start_to_start_ms"] for r in logged], 1) for k in ("logged", "uninstaller")]
                + [spread([r["logged"]["start_to_start_ms"] - r["uninstaller"]["start_to_start_ms"] for r in logged], 1)]
                + ["- (a few lines a command, each written through to the disk)"])
    rows.append(["2 CPU while a child sleeps 10 s, % of a core", "baseline.exe"]
                + side(results["cpu"], "cpu_percent", 2) + ["%.1f ticks/s, each asleep in its wait" % (1000 / TICK_MS)])
    rows.append(["2b the same, prefix theme off", "baseline.exe"]
                + side(results["cpu"], "cpu_percent", 2, off=True) + ["as 2"])
    rows.append(["2c wineserver's CPU meanwhile, % of a core", "baseline.exe"]
                + side(results["cpu"], "server_percent", 2) + ["-"])
    rows.append(["3 Longest time without an answer, ms (gap between answers)", "onebox.exe's box"]
                + side(results["no_answer"], "longest_gap_ms") + ["%d (one tick's wait), + the tick's own work" % WAIT_MS])
    rows.append(["3b the same, prefix theme off", "onebox.exe's box"]
                + side(results["no_answer"], "longest_gap_ms", off=True) + ["as 3"])
    rows.append(["3c Longest WM_NULL round trip, ms", "onebox.exe's box"]
                + side(results["no_answer"], "longest_trip_ms") + ["as 3"])
    rows.append(["4 Start-up to the confirmation box, ms", "onebox.exe"]
                + side(results["startup"], "box_ms", 0) + ["-"])
    size = results["size"]
    rows.append(["5 Size, bytes (imported DLLs)", "onebox.exe",
                 "%d (%s)" % (size["uninstaller"]["bytes"], ", ".join(size["uninstaller"]["imports"])),
                 "%d (%s)" % (size["direct"]["bytes"], ", ".join(size["direct"]["imports"])),
                 "%+d" % (size["uninstaller"]["bytes"] - size["direct"]["bytes"]), "-"])
    host = results["host"]

    def rate(name, field, scale, digits):
        return spread([b[field] * scale for b in host[name]], digits)

    rows.append(["6 RunUninstallList over the fake, million lines/s", "reading the lines only",
                 rate("BM_RunUninstallList", "items_per_second", 1e-6, 3),
                 rate("BM_ReadListOnly", "items_per_second", 1e-6, 3), "-", "-"])
    rows.append(["6b RestoreNetscapeConfig over the fake, MB/s (50 MB obj.conf)", "two plain copies",
                 rate("BM_RestoreNetscapeConfig", "bytes_per_second", 1e-6, 1),
                 rate("BM_CopyTwiceOnly", "bytes_per_second", 1e-6, 1), "-", "-"])

    head = ["Figure", "Direct way", "QvUnInstall median / max", "Direct median / max",
            "Difference median / max", "Design's limit"]
    out = ["| " + " | ".join(head) + " |", "|" + "|".join("---" for _ in head) + "|"]
    out += ["| " + " | ".join(r) + " |" for r in rows]

    # One watched run each: the steps of a command, median / max over the 20.
    steps = [("child_life_ms", "the child: its journal line to its end"),
             ("end_noticed_ms", "its end to the dialog gone"),
             ("dialog_life_ms", "the dialog's life"),
             ("dialog_before_child_ms", "the dialog shown before the child's journal line"),
             ("to_next_child_ms", "dialog gone (direct: child ended) to the next child seen"),
             ("to_next_start_ms", "dialog gone (direct: child ended) to the next journal line")]
    cols = [results["breakdown"][k] for k in ("uninstaller", "direct", "uninstaller_off", "direct_off")]
    out += ["", "| One command, ms (one watched run each, median / max of 20) | QvUnInstall | baseline.exe "
            "| QvUnInstall, theme off | baseline.exe, theme off |", "|---|---|---|---|---|"]
    for key, label in steps:
        out.append("| %s | %s |" % (label, " | ".join(spread(c[key], 1) if key in c else "-" for c in cols)))
    return "\n".join(out)


def machine_description(wine):
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    return "%s, %d cores, %s, Linux %s, load average %s" % (
        cpu, os.cpu_count(), wine, os.uname().release, load)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--robot", required=True)
    ap.add_argument("--standin", required=True)
    ap.add_argument("--bench-bin", required=True)
    ap.add_argument("--qvbench", required=True)
    ap.add_argument("--pristine", required=True)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--cpu-runs", type=int, default=5)
    ap.add_argument("--json")
    ap.add_argument("--markdown")
    args = ap.parse_args()
    if args.runs < 5 or args.cpu_runs < 5:
        ap.error("a median and a maximum need at least 5 runs")
    winebox.interrupt_on_sigterm()
    choice = winebox.use_build(args.exe)
    began = time.monotonic()
    results = {"machine_before": machine_description(choice.wine), "build": choice.line()}
    try:
        say("host: Google Benchmark, %d repetitions" % args.runs)
        results["host"], results["host_context"] = host_benchmarks(args.qvbench, args.runs)
        results["size"] = {
            "uninstaller": {"bytes": os.path.getsize(args.exe), "imports": imports(args.exe)},
            "direct": {"bytes": os.path.getsize(os.path.join(args.bench_bin, "onebox.exe")),
                       "imports": imports(os.path.join(args.bench_bin, "onebox.exe"))},
        }
        under_wine(args, results)
    finally:
        winebox.close_all()
    results["seconds"] = time.monotonic() - began
    results["machine_after"] = machine_description(choice.wine)
    text = table(results)
    text += "\n\n%d runs a figure (%d for CPU); measured in %.0f s\n" % (
        args.runs, args.cpu_runs, results["seconds"])
    text += "figures of: %s\n" % choice.line()
    text += "machine: %s\n(load average at the end: %s)" % (
        results["machine_before"], results["machine_after"].rsplit("load average ", 1)[1])
    print(text)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(text + "\n")


if __name__ == "__main__":
    main()
