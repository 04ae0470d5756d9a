#!/usr/bin/env python3
"""End-to-end cases: the real QvUnInstall.exe under Wine, watched by robot.exe,
with stand-ins in place of the programs it starts.

  run_e2e.py --exe QvUnInstall.exe --robot robot.exe --standin standin.exe
             [--pristine DIR] [--group NAME ...] [--keep]
  run_e2e.py --make-pristine DIR --exe QvUnInstall.exe

The prefix is 32- or 64-bit as the exe's build needs (winearch.py says which
and why); a PE32 build cannot run where the host runs no 32-bit programs.

Without --pristine a prefix is booted for this run alone (about 15 s).
"""
import argparse
import json
import re
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import metabase  # noqa: E402
import winebox  # noqa: E402

CONFIG = {}

USAGE_TAIL = ("\n\nUsage: \n"
              "QvUnInstall to uninstall Quorvan product.\n"
              "QvUnInstall -p path\\QvUninst.txt to uninstall Quorvan product specified in QvUninstall.txt.\n"
              "QvUnInstall -d directory to delete directory.\n"
              "QvUnInstall -a silent uninstall.\n")
CONFIRM_TEXT = ("Are you sure you want to completely remove the selected application "
                "and all of its components?")
IDOK, IDYES, IDNO = 1, 6, 7
SW_SHOW, SW_SHOWMINNOACTIVE, STARTF_USESHOWWINDOW = 5, 7, 1

LIST = r"C:\Quorvan\QvUninst.txt"
RUN_LOG = winebox.HARNESS_DIR + r"\run.log"
BIN = r"C:\Quorvan\bin"

CAP_MGMT = "Stopping Quorvan Management Server"
CAP_STOR = "Stopping Quorvan Object Store Server"
CAP_JOB = "Stopping Quorvan Job Server"
CAP_PORTMAP = "Uninstalling NobleNet Portmapper for TCP"
CAP_IIS = "Stopping Microsoft Internet Information Server..."
CAP_NETSCAPE = "Stopping Netscape Web Server..."
CAP_ISU = "Uninstalling"


def usage(token):
    return "Invalid command line option: " + token + USAGE_TAIL


def server_line(name):
    return b'"' + (BIN + "\\" + name + ".exe").encode() + b'"\n'


# Every kind of line that runs a command, in list order, then lines that must
# never be reached because the InstallShield line ends the reading.
FULL_LIST = (server_line("mgmtsrvr") + server_line("storsrvr") + server_line("jobsrvr")
             + b'"C:\\Quorvan\\portmap\\portinst.exe"\n'
             + b"IIS_VER=3\n"
             + b"IIS_VER=4\n"
             + b"Netscape Enterprise Server\n"
             + b'"C:\\Quorvan\\Uninst.isu"\n'
             + server_line("jobsrvr")
             + b"IIS_VER=4\n")


def full_list_commands(silent):
    def srv(name):
        return (name, '"' + BIN + "\\" + name + '.exe"\n -Sremove')
    isu = "isuninst -mQuorvan -y -a" if silent else "isuninst -mQuorvan -y"
    return [
        srv("mgmtsrvr"), srv("storsrvr"), srv("jobsrvr"),
        ("portinst", '"C:\\Quorvan\\portmap\\portinst.exe"\n nogui remove tcp'),
        ("net", "net stop w3svc"),
        ("net", "net stop w3svc"),
        ("net", 'net stop "Netscape Enterprise Server"'),
        ("isuninst", isu + ' -f"C:\\Quorvan\\Uninst.isu"\n'),
    ]


FULL_LIST_CAPTIONS = [CAP_MGMT, CAP_STOR, CAP_JOB, CAP_PORTMAP, CAP_IIS, CAP_IIS, CAP_NETSCAPE, CAP_ISU]


def unforeseeable(why):
    """A case whose run meets what no preview can know of (a program missing,
    a file held open, a failure a stand-in was told to give)."""
    def mark(test):
        test.unforeseeable = why
        return test
    return mark


class Case(unittest.TestCase):
    """Each case gets its own prefix copy with the exe at C:\\app."""

    kept = []  # the folders that failing cases left their artifacts in

    def run(self, result=None):
        # Failures and errors are counted on the result as they happen: more
        # of them by the time the machine closes means this case failed.
        self._result = result
        self._problems_before = self._problems()
        self.m = None
        try:
            return super().run(result)
        except winebox.TimeLimit:
            # An interrupt skips the cleanups; the case that ran out of time
            # is the one to look at.
            self._close_machine(failed=True)
            raise

    def _problems(self):
        return len(self._result.failures) + len(self._result.errors) if self._result else 0

    def setUp(self):
        # A cleanup rather than tearDown: it runs too when a group's setUp
        # fails after the machine is up.
        self.m = None
        self.addCleanup(self._close_machine)
        self.m = winebox.Machine(CONFIG["pristine"], CONFIG["display"], CONFIG["exe"],
                                 CONFIG["robot"], CONFIG["standin"], keep=CONFIG["keep"], check=CONFIG.get("check"))
        if CONFIG.get("check") and not getattr(getattr(self, self._testMethodName), "unforeseeable", None):
            self.m.on_run = self.assertPreviewTold

    def assertPreviewTold(self, args, kw, preview, run):
        """The preview made just before the run said what the run then did:
        the same command lines, boxes, folders, files and keys removed."""
        if preview is None:
            return
        steps = list(preview["startup"])
        for piece in preview["pieces"]:
            steps += piece["steps"]
        steps += preview["cleanup"]
        where = "\npreview of %s: %s" % (args, json.dumps(steps, indent=1))
        # A program foretold not to start leaves no trace in the journal.
        self.assertEqual([s["target"] for s in steps if s["kind"] == "run" and not s.get("fails")],
                         [j["cmdline"] for j in run.journal],
                         run.describe() + where)
        # A quiet run shows none of the boxes it foretells, and ends with the status it foretells.
        self.assertEqual([] if preview.get("quiet") else [(s["detail"], s["target"]) for s in steps if s["kind"] == "box"],
                         [(b.title, b.text) for b in run.boxes], run.describe() + where)
        if preview.get("quiet"):
            self.assertEqual(run.exit_code, preview["exitStatus"], run.describe() + where)
        for s in steps:
            if s["kind"] in ("delete-folder", "delete-file"):
                self.assertFalse(self.m.exists(s["target"]), s["target"] + where)
            elif s["kind"] == "delete-key":
                self.assertFalse(self.m.key_exists("HKEY_LOCAL_MACHINE\\" + s["target"]), s["target"] + where)



    def _close_machine(self, failed=False):
        folder = os.path.join(CONFIG["failures"], "%s.%s" % (type(self).__name__, self._testMethodName))
        shutil.rmtree(folder, ignore_errors=True)  # an earlier run's
        if not failed and self._problems() == self._problems_before:
            if self.m:
                self.m.close()
            return
        os.makedirs(folder)
        if CONFIG.get("xvfb_log") and os.path.exists(CONFIG["xvfb_log"]):
            shutil.copyfile(CONFIG["xvfb_log"], os.path.join(folder, "xvfb.log"))
        try:
            if self.m:
                self.m.close(keep_in=folder)
        finally:
            print("\n  kept for a look: %s" % folder, flush=True)
            Case.kept.append(folder)

    def install_servers(self):
        self.m.standins_beside_exe()
        for name in ("mgmtsrvr", "storsrvr", "jobsrvr"):
            self.m.standin(BIN + "\\" + name + ".exe")
        self.m.standin(r"C:\Quorvan\portmap\portinst.exe")

    def assertBox(self, box, title, text, buttons, icon=None):
        self.assertEqual(box.title, title)
        self.assertEqual(box.text, text)
        self.assertEqual(box.button_ids, buttons)
        if icon is not None:
            self.assertEqual(box.icon, icon)

    def assertStartsWith(self, seq, head, run):
        self.assertEqual(list(seq[:len(head)]), list(head), run.describe())

    def run_log(self):
        """The lines of the log a run kept at RUN_LOG."""
        self.assertTrue(self.m.exists(RUN_LOG), "the run kept no log at " + RUN_LOG)
        with open(self.m.unix(RUN_LOG), "rb") as f:
            return f.read().decode("latin-1").splitlines()

    def assertOrdinaryEnd(self, run):
        self.assertFalse(run.timed_out, run.describe())
        self.assertEqual(run.exit_code, 0, run.describe())


class CommandLine(Case):
    def test_no_arguments_shows_nothing_and_only_a_log_is_kept(self):
        # With -l alone there is still nothing to do: the log shows that the run began and ended.
        for args in ("", "-l " + RUN_LOG):
            run = self.m.run(args)
            self.assertOrdinaryEnd(run)
            self.assertEqual(run.shown(), [])
            self.assertEqual(run.journal, [])
        log = self.run_log()
        self.assertEqual(len(log), 2, log)
        self.assertTrue(log[0].startswith("+0.000 start ") and log[1].endswith("end: no outcome shown, exit status 0"), log)

    def test_every_rejected_token_gets_its_own_usage_box_and_nothing_runs(self):
        self.install_servers()
        self.m.write(LIST, server_line("mgmtsrvr"))
        self.m.mkdir(r"C:\work\empty")
        for args, tokens in (("-x", ["x"]), ("-", [""]), ("--p x", ["-p", "x"]), ("-P " + LIST, ["P", LIST]),
                             ("-p " + LIST + " extra", ["extra"]), (r"-x -d C:\work\empty", ["x"])):
            run = self.m.run(args, answers="Y")
            self.assertOrdinaryEnd(run)
            self.assertEqual([(b.title, b.text, b.button_ids, b.icon) for b in run.boxes],
                             [("Usage", usage(t), [IDOK], "none") for t in tokens], run.describe())
            self.assertEqual(run.journal, [])
        self.assertTrue(self.m.exists(r"C:\work\empty"))

    def test_silent_runs_the_last_list_named_wherever_dash_a_stands(self):
        # "yes" is swallowed by /a: silent, so no confirmation, and the list runs.
        self.install_servers()
        self.m.write(r"C:\work\a.txt", server_line("mgmtsrvr"))
        self.m.write(r"C:\work\b.txt", server_line("storsrvr"))
        for args, name in ((r"-a -p C:\work\a.txt -p C:\work\b.txt", "storsrvr"), (r"/a yes /p C:\work\a.txt", "mgmtsrvr")):
            run = self.m.run(args)
            self.assertOrdinaryEnd(run)
            self.assertNotIn("Confirm File Deletion", [b.title for b in run.boxes], run.describe())
            self.assertEqual([n for n, _ in run.commands], [name], run.describe())
            self.assertStartsWith(run.commands, [(name, '"%s\\%s.exe"\n -Sremove' % (BIN, name))], run)
            self.assertStartsWith(run.captions, [CAP_MGMT if name == "mgmtsrvr" else CAP_STOR], run)

    def test_d_removes_an_empty_directory_silently(self):
        self.m.mkdir(r"C:\work\empty dir")
        run = self.m.run(r'-d "C:\work\empty dir"')
        self.assertOrdinaryEnd(run)
        self.assertEqual(run.shown(), [])
        self.assertFalse(self.m.exists(r"C:\work\empty dir"))

    def test_d_leaves_a_directory_with_files(self):
        # Tried and refused by the system, as the log tells; nothing is shown.
        self.m.write(r"C:\work\full\keep.txt", b"x")
        run = self.m.run(r"-d C:\work\full -l " + RUN_LOG)
        self.assertOrdinaryEnd(run)
        self.assertEqual(run.shown(), [])
        self.assertTrue(self.m.exists(r"C:\work\full\keep.txt"))
        self.assertRegex("\n".join(self.run_log()), r"\n\+[0-9.]+ remove-folder C:\\work\\full: failed: .+ \(error 145\)\n")


class Confirmation(Case):
    def setUp(self):
        super().setUp()
        self.install_servers()
        self.m.write(LIST, server_line("mgmtsrvr"))

    def test_no_ends_without_running_anything(self):
        run = self.m.run("-p " + LIST, answers="N")
        self.assertOrdinaryEnd(run)
        self.assertEqual(len(run.boxes), 1, run.describe())
        self.assertBox(run.boxes[0], "Confirm File Deletion", CONFIRM_TEXT, [IDYES, IDNO], icon="question")
        self.assertEqual(run.journal, [])
        self.assertEqual(run.dialogs, [])
        self.assertTrue(self.m.exists(LIST))

    def test_yes_runs_the_list(self):
        run = self.m.run("-p " + LIST, answers="Y")
        self.assertOrdinaryEnd(run)
        self.assertBox(run.boxes[0], "Confirm File Deletion", CONFIRM_TEXT, [IDYES, IDNO], icon="question")
        self.assertStartsWith(run.commands, [("mgmtsrvr", '"%s\\mgmtsrvr.exe"\n -Sremove' % BIN)], run)
        self.assertStartsWith(run.captions, [CAP_MGMT], run)

    def test_list_path_in_quotes_with_blanks(self):
        path = r"C:\Program Files\Quorvan\QvUninst.txt"
        self.m.write(path, server_line("storsrvr"))
        run = self.m.run('-p "%s"' % path, answers="Y")
        self.assertOrdinaryEnd(run)
        self.assertStartsWith(run.commands, [("storsrvr", '"%s\\storsrvr.exe"\n -Sremove' % BIN)], run)


class MissingList(Case):
    def check(self, run, path, boxes_before):
        self.assertOrdinaryEnd(run)
        self.assertEqual(len(run.boxes), boxes_before + 1, run.describe())
        self.assertBox(run.boxes[-1], "Error", "Cannot open uninstall configuration file %s ." % path,
                       [IDOK], icon="exclamation")
        self.assertEqual(run.journal, [])
        self.assertEqual(run.dialogs, [])

    def test_interactive(self):
        self.m.standins_beside_exe()
        path = r"C:\Quorvan\missing.txt"
        run = self.m.run("-p " + path, answers="Y")
        self.assertEqual(run.boxes[0].title, "Confirm File Deletion")
        self.check(run, path, 1)

    def test_silent_still_shows_the_box(self):
        self.m.standins_beside_exe()
        path = r"C:\Quorvan\missing.txt"
        run = self.m.run("-a -p " + path)
        self.check(run, path, 0)


class ListCommands(Case):
    def setUp(self):
        super().setUp()
        self.install_servers()
        self.m.write(r"C:\Quorvan\Uninst.isu", b"log\n")

    def check_full_list(self, run, silent):
        self.assertOrdinaryEnd(run)
        expected = full_list_commands(silent)
        self.assertStartsWith(run.commands, expected, run)
        self.assertStartsWith(run.captions, FULL_LIST_CAPTIONS, run)
        for entry in run.journal[:len(expected)]:
            self.assertEqual(entry["flags"], STARTF_USESHOWWINDOW, entry)
            want = SW_SHOW if entry["name"] == "isuninst" else SW_SHOWMINNOACTIVE
            self.assertEqual(entry["show"], want, entry)
        # net and isuninst are found beside the exe, not in the working folder.
        self.assertTrue(all(j["module"].lower().startswith(winebox.EXE_DIR.lower() + "\\")
                            for j in run.journal if j["name"] in ("net", "isuninst")), run.describe())
        # Nothing after the InstallShield line is carried out.
        after = run.journal[len(expected):]
        self.assertNotIn("jobsrvr", [j["name"] for j in after], run.describe())
        self.assertNotIn("net stop w3svc", [j["cmdline"] for j in after], run.describe())

    def test_every_command_row_interactive(self):
        self.m.write(LIST, FULL_LIST)
        run = self.m.run("-p " + LIST, answers="Y", standin_env={"ISUNINST_SLEEP": 1000})
        self.assertEqual(run.boxes[0].title, "Confirm File Deletion")
        self.check_full_list(run, silent=False)
        # The uninstaller shows its own window; its progress dialog stays minimised.
        isu = run.dialogs[len(FULL_LIST_CAPTIONS) - 1]
        # Wine's dialog manager may show it normally once after initialisation; the
        # first tick minimises it again, and from then on it stays minimised.
        live = [s for s in isu.samples if s["caption"]]
        first = next((i for i, s in enumerate(live) if s["iconic"]), None)
        self.assertIsNotNone(first, isu.samples)
        self.assertTrue(all(s["iconic"] for s in live[first:]), isu.samples)
        self.assertTrue(all(s["pos"] in (0, 300) for s in isu.samples), isu.samples)

    def test_every_command_row_silent(self):
        self.m.write(LIST, FULL_LIST)
        run = self.m.run("-p " + LIST + " -a")
        self.assertNotIn("Confirm File Deletion", [b.title for b in run.boxes], run.describe())
        self.check_full_list(run, silent=True)

    def test_crlf_and_lf_lists_run_the_same_commands(self):
        self.m.write(LIST, FULL_LIST)
        lf = self.m.run("-a -p " + LIST)
        self.m.write(LIST, FULL_LIST.replace(b"\n", b"\r\n"))
        crlf = self.m.run("-a -p " + LIST)
        expected = full_list_commands(silent=True)
        self.assertStartsWith(lf.commands, expected, lf)
        self.assertEqual(crlf.commands, lf.commands, crlf.describe())
        self.assertEqual(crlf.captions, lf.captions, crlf.describe())

    def test_first_tag_decides_the_caption(self):
        # A line naming two servers is a Management Server line; an
        # upper-case tag is no tag at all.
        self.m.write(LIST, b'"C:\\Quorvan\\bin\\mgmtsrvr.exe" jobsrvr\n'
                     + b'"C:\\Quorvan\\bin\\portinst.exe" storsrvr\n'
                     + b'"C:\\Quorvan\\bin\\MGMTSRVR.exe"\n')
        self.m.standin(BIN + r"\portinst.exe")
        run = self.m.run("-a -p " + LIST)
        self.assertStartsWith(run.commands, [
            ("mgmtsrvr", '"C:\\Quorvan\\bin\\mgmtsrvr.exe" jobsrvr\n -Sremove'),
            ("portinst", '"C:\\Quorvan\\bin\\portinst.exe" storsrvr\n -Sremove'),
        ], run)
        self.assertStartsWith(run.captions, [CAP_MGMT, CAP_STOR], run)
        self.assertNotIn("MGMTSRVR.exe", " ".join(c for _, c in run.commands), run.describe())


class Runner(Case):
    def setUp(self):
        super().setUp()
        self.install_servers()

    def test_program_that_cannot_start_two_boxes_then_next_line(self):
        os.remove(self.m.unix(BIN + r"\mgmtsrvr.exe"))
        self.m.write(LIST, server_line("mgmtsrvr") + server_line("storsrvr"))
        run = self.m.run("-a -p " + LIST)
        self.assertOrdinaryEnd(run)
        self.assertGreaterEqual(len(run.boxes), 2, run.describe())
        first, second = run.boxes[:2]
        self.assertBox(first, "Error", self.m.error_text(2), [IDOK], icon="information")
        self.assertBox(second, "QvUnInstall",
                       'Cannot run "%s\\mgmtsrvr.exe"\n -Sremove. File not found!' % BIN,
                       [IDOK], icon="exclamation")
        # No dialog for the failed start; the next line runs after the boxes.
        self.assertStartsWith(run.captions, [CAP_STOR], run)
        self.assertStartsWith(run.commands, [("storsrvr", '"%s\\storsrvr.exe"\n -Sremove' % BIN)], run)
        box_time = second.ev["t"]
        self.assertGreater(run.journal[0]["t"], box_time - 50, run.describe())

    def test_quiet_run_with_a_missing_program_shows_only_progress_dialogs_and_ends_1603(self):
        os.remove(self.m.unix(BIN + r"\mgmtsrvr.exe"))
        self.m.write(LIST, server_line("mgmtsrvr") + server_line("storsrvr"))
        run = self.m.run("-q -p %s -l %s" % (LIST, RUN_LOG))
        self.assertFalse(run.timed_out, run.describe())
        self.assertEqual([e for e in run.events if e["ev"] in ("box", "window")], [], run.describe())
        self.assertStartsWith(run.captions, [CAP_STOR], run)  # the progress dialogs stay: they wait on no one
        self.assertEqual(run.exit_code, 1603, run.describe())
        log = "\n".join(self.run_log())
        cannot_run = 'run "%s\\mgmtsrvr.exe"\\n -Sremove: Cannot run: ' % BIN
        self.assertIn('box [QvUnInstall] "Cannot run "%s\\mgmtsrvr.exe"\\n -Sremove. File not found!" '
                      '-> ok (not shown: quiet run)' % BIN, log)
        self.assertRegex(log, r"end: no outcome shown, exit status 1603, decided by " + re.escape(cannot_run) +
                         r"error 2$")

    @unforeseeable("a program file is missing")
    def test_programs_are_not_searched_in_the_working_folder(self):
        os.remove(self.m.unix(winebox.EXE_DIR + r"\isuninst.exe"))
        self.m.standin(winebox.WORK_DIR + r"\isuninst.exe")
        self.m.write(LIST, b'"C:\\Quorvan\\Uninst.isu"\n')
        run = self.m.run("-a -p " + LIST)
        self.assertOrdinaryEnd(run)
        self.assertNotIn("isuninst", [j["name"] for j in run.journal], run.describe())
        texts = [b.text for b in run.boxes if b.title == "QvUnInstall"]
        self.assertIn('Cannot run isuninst -mQuorvan -y -a -f"C:\\Quorvan\\Uninst.isu"\n. File not found!',
                      texts, run.describe())

    def test_escape_closes_the_dialog_and_the_next_command_starts(self):
        self.m.write(LIST, server_line("mgmtsrvr") + server_line("storsrvr"))
        run = self.m.run("-a -p " + LIST, escape_after=1000, standin_env={"MGMTSRVR_SLEEP": 20000})
        self.assertOrdinaryEnd(run)
        self.assertStartsWith(run.captions, [CAP_MGMT, CAP_STOR], run)
        self.assertTrue(run.dialogs[0].escaped)
        names = [j["name"] for j in run.journal]
        self.assertStartsWith(names, ["mgmtsrvr", "storsrvr"], run)
        # The second started long before the first could have ended.
        gap = run.journal[1]["t"] - run.journal[0]["t"]
        self.assertGreater(gap, 800, run.describe())
        self.assertLess(gap, 8000, run.describe())

    def test_enter_and_the_close_box_end_the_wait_like_escape(self):
        for how in ("enter", "close"):
            self.m.write(LIST, server_line("mgmtsrvr") + server_line("storsrvr"))
            run = self.m.run("-a -p " + LIST, escape_after=1000, standin_env={"MGMTSRVR_SLEEP": 20000},
                             robot_args=["--end-with", how])
            self.assertOrdinaryEnd(run)
            self.assertStartsWith(run.captions, [CAP_MGMT, CAP_STOR], run)
            self.assertTrue(run.dialogs[0].escaped, how)
            gap = run.journal[1]["t"] - run.journal[0]["t"]
            self.assertGreater(gap, 800, run.describe())
            self.assertLess(gap, 8000, "%s: %s" % (how, run.describe()))

    def test_restored_installer_dialog_is_minimised_again(self):
        self.m.write(r"C:\Quorvan\Uninst.isu", b"log\n")
        self.m.write(LIST, b'"C:\\Quorvan\\Uninst.isu"\n')
        run = self.m.run("-a -p " + LIST, standin_env={"ISUNINST_SLEEP": 3000}, robot_args=["--restore-after", 600])
        self.assertOrdinaryEnd(run)
        restore = [e for e in run.events if e["ev"] == "restore"]
        self.assertEqual(len(restore), 1, run.describe())
        later = [s for s in run.dialogs[0].samples if s["t"] > restore[0]["t"] + 300 and s["caption"]]
        self.assertTrue(later, run.dialogs[0].samples)
        self.assertTrue(all(s["iconic"] for s in later), later)

    def test_program_path_with_blanks_starts_when_quoted(self):
        path = r"C:\Program Files\Quorvan\bin\jobsrvr.exe"
        self.m.standin(path)
        self.m.write(LIST, b'"' + path.encode() + b'"\r\n')
        run = self.m.run("-a -p " + LIST)
        self.assertOrdinaryEnd(run)
        self.assertStartsWith(run.commands, [("jobsrvr", '"%s"\n -Sremove' % path)], run)
        self.assertEqual(run.journal[0]["module"].lower(), path.lower())

    def test_progress_steps_while_the_child_runs(self):
        self.m.write(LIST, server_line("jobsrvr") + b"IIS_VER=3\n")
        run = self.m.run("-a -p " + LIST, standin_env={"JOBSRVR_SLEEP": 1500})
        self.assertOrdinaryEnd(run)
        self.assertStartsWith(run.captions, [CAP_JOB, CAP_IIS], run)
        # A look that lands as the dialog closes finds no window: leave it out.
        samples = [s for s in run.dialogs[0].samples if s["pos"] != 300 and s["caption"]]
        self.assertGreaterEqual(len(samples), 5, run.dialogs[0].samples)
        for s in samples:
            self.assertEqual((s["caption"], s["lo"], s["hi"], s["iconic"], s["topmost"]),
                             (CAP_JOB, 0, 300, False, True), s)
        # Centred on the 1024x768 desktop, since the template places it at 0, 0.
        left, top, right, bottom = samples[0]["rect"]
        self.assertLessEqual(abs((left + right) / 2 - 512), 2, samples[0])
        self.assertLessEqual(abs((top + bottom) / 2 - 384), 2, samples[0])
        positions = [s["pos"] for s in samples]
        self.assertEqual(positions, sorted(positions), positions)
        # One step per 120 ms tick: never faster, and clearly moving over 1.5 s.
        self.assertGreaterEqual(positions[-1], 4, positions)
        first, last = samples[0], samples[-1]
        self.assertLessEqual(last["pos"] - first["pos"], (last["t"] - first["t"]) / 120 + 2, samples)


INSTALL_DIR = r"C:\Quorvan\Server"
ISU_LOG = r"C:\Quorvan\Uninst.isu"
NT_MENU = r"C:\windows\Profiles\All Users\Start Menu\Programs\Quorvan"
W9X_MENU = r"C:\windows\start menu\programs\Quorvan"
SUITE = " Delvora Suite 4"
FAMILY_KEY = r"HKEY_LOCAL_MACHINE\Software\Quorvan"
CLEANUP_TITLE = "Quorvan Uninstall Program"
DIR_QUESTION = ("Setup has detected that the directory of " + INSTALL_DIR + " has not been removed . \n"
                "Do you want to remove this entire directory?\n\n"
                "Warning: your files under this directory will be removed if you choose YES.")


def root_question(root):
    return ("Setup has detected that you have uninstalled all Quorvan products. \n"
            "Do you want to remove " + root + " completely?")


def cannot_remove(path):
    return "Cannot remove the directory of " + path + ".\nThe directory may be in use.\n"


class Cleanup(Case):
    """What a whole uninstall leaves behind: folders, keys, menus, the list."""

    def setUp(self):
        super().setUp()
        self.m.standins_beside_exe()
        self.m.write(INSTALL_DIR + r"\docstore\index.dat", b"\0" * 64)
        self.m.write(INSTALL_DIR + r"\bin\srv.dll", b"MZ")
        self.m.write(ISU_LOG, b"log\r\n")
        for menu in (NT_MENU, NT_MENU + SUITE, W9X_MENU, W9X_MENU + SUITE):
            self.m.write(menu + r"\Console.lnk", b"L\0\0\0")
        self.lay_out_list(LIST)

    def lay_out_list(self, path, products=(), file=None):
        """The list at `file`, named `path` on the command line."""
        self.list_path = path
        self.m.write(file or path, b"IIS_VER=3\r\n" + INSTALL_DIR.encode() + b"\r\n\"" + ISU_LOG.encode() + b"\"\r\n")
        keys = "[HKEY_LOCAL_MACHINE\\Software\\Quorvan\\DocumentServer]\n\"InstallDir\"=\"C:\\\\Quorvan\\\\Server\"\n\n"
        for product in products:
            keys += "[HKEY_LOCAL_MACHINE\\Software\\Quorvan\\%s]\n\"Version\"=\"4.0\"\n\n" % product
        self.m.reg_import(keys)

    def uninstall(self, answers, silent=False, log_stays=False, **kw):
        env = {} if log_stays else {"ISUNINST_DELETELOG": 1}
        args = ("-a " if silent else "") + '-p "%s"' % self.list_path
        run = self.m.run(args, answers=answers, standin_env=env, **kw)
        self.assertOrdinaryEnd(run)
        return run

    def restart_cwd(self, run):
        starts = [j for j in run.journal if j["cmdline"] == "net start w3svc"]
        self.assertEqual(len(starts), 1, run.describe())
        return starts[0]["cwd"]

    def test_whole_interactive_run_removes_everything_and_the_list(self):
        run = self.uninstall("YYY")
        self.assertEqual([(b.title, b.text) for b in run.boxes], [
            ("Confirm File Deletion", CONFIRM_TEXT),
            (CLEANUP_TITLE, DIR_QUESTION),
            (CLEANUP_TITLE, root_question(r"C:\Quorvan")),
            ("Information", "You have completed uninstall."),
        ], run.describe())
        for box in run.boxes[1:3]:
            self.assertBox(box, CLEANUP_TITLE, box.text, [IDYES, IDNO], icon="question")
        self.assertBox(run.boxes[3], "Information", "You have completed uninstall.", [IDOK], icon="information")
        self.assertEqual([c for _, c in run.commands],
                         ["net stop w3svc", 'isuninst -mQuorvan -y -f"C:\\Quorvan\\Uninst.isu"\n',
                          "net start w3svc"], run.describe())
        self.assertEqual(run.captions[-1], "Restarting Microsoft Internet Information Server...")
        # The install directory went before the restart, from c:\ as the current directory.
        self.assertEqual(self.restart_cwd(run).lower(), "c:\\")
        for gone in (r"C:\Quorvan", NT_MENU, NT_MENU + SUITE):
            self.assertFalse(self.m.exists(gone), gone)
        # The Windows-family menus are not this platform's and stay.
        self.assertTrue(self.m.exists(W9X_MENU + r"\Console.lnk"))
        self.assertEqual(self.m.keys_under(FAMILY_KEY), [])

    def test_silent_run_asks_nothing_and_keeps_directory_and_root(self):
        run = self.uninstall("", silent=True)
        self.assertEqual(run.boxes, [], run.describe())
        self.assertTrue(self.m.exists(INSTALL_DIR + r"\docstore\index.dat"))
        self.assertFalse(self.m.exists(LIST))
        self.assertFalse(self.m.exists(NT_MENU))
        self.assertFalse(self.m.exists(NT_MENU + SUITE))
        self.assertEqual(self.m.keys_under(FAMILY_KEY), [])
        # A kept install directory stays the current directory.
        self.assertEqual(self.restart_cwd(run).lower(), INSTALL_DIR.lower())

    def test_a_product_left_keeps_the_family_but_the_list_goes(self):
        self.lay_out_list(LIST, products=["Quorvan Web Gateway"])
        run = self.uninstall("YN")
        self.assertEqual([b.text for b in run.boxes],
                         [CONFIRM_TEXT, DIR_QUESTION, "You have completed uninstall."], run.describe())
        self.assertTrue(self.m.exists(NT_MENU + r"\Console.lnk"))
        self.assertTrue(self.m.key_exists(FAMILY_KEY + r"\DocumentServer"))
        self.assertTrue(self.m.exists(INSTALL_DIR))
        self.assertFalse(self.m.exists(LIST))

    def test_log_still_there_means_aborted_and_the_list_stays(self):
        run = self.uninstall("YNN", log_stays=True)
        self.assertBox(run.boxes[-1], "Information", "Uninstall aborted.", [IDOK], icon="information")
        self.assertTrue(self.m.exists(LIST))
        self.assertTrue(self.m.exists(ISU_LOG))

    @unforeseeable("a file is held open")
    def test_directory_in_use_gives_its_box_and_the_run_goes_on(self):
        held = INSTALL_DIR + r"\docstore\index.dat"
        self.m.hold(held)
        run = self.uninstall("YYY")
        # The shell shows none of its own windows under Wine: the boxes are all ours.
        ours = run.boxes[1:]
        self.assertEqual([b.text for b in ours], [
            DIR_QUESTION, cannot_remove(INSTALL_DIR), root_question(r"C:\Quorvan"), cannot_remove(r"C:\Quorvan"),
            "You have completed uninstall."], run.describe())
        self.assertBox(ours[1], CLEANUP_TITLE, cannot_remove(INSTALL_DIR), [IDOK], icon="none")
        self.assertTrue(self.m.exists(held))
        self.assertFalse(self.m.exists(NT_MENU))

    def test_windows_98_removes_its_own_start_menu_folders(self):
        self.m.windows_version("win98")
        self.uninstall("", silent=True)
        self.assertFalse(self.m.exists(W9X_MENU))
        self.assertFalse(self.m.exists(W9X_MENU + SUITE))
        self.assertTrue(self.m.exists(NT_MENU + r"\Console.lnk"))

    def test_unknown_platform_stops_after_the_family_keys(self):
        self.m.windows_version("win31")
        run = self.uninstall("YN")
        self.assertEqual([b.text for b in run.boxes], [CONFIRM_TEXT, DIR_QUESTION], run.describe())
        self.assertEqual(self.m.keys_under(FAMILY_KEY), [])
        for kept in (NT_MENU, W9X_MENU, LIST):
            self.assertTrue(self.m.exists(kept), kept)

    def test_root_shared_by_all_software_is_never_offered(self):
        # C:\Program Files\Quorvan\QvUninst.txt gives the root C:\Program Files,
        # also when the list is named by its 8.3 path.
        self.lay_out_list(r"C:\Program Files\Quorvan\QvUninst.txt")
        short = self.m.short_name(r"C:\Program Files")
        self.assertNotEqual(short.lower(), r"c:\program files")
        for path in (r"C:\Program Files\Quorvan\QvUninst.txt", short + r"\Quorvan\QvUninst.txt"):
            self.lay_out_list(path, file=r"C:\Program Files\Quorvan\QvUninst.txt")
            run = self.uninstall("YN")
            self.assertEqual([b.text for b in run.boxes],
                             [CONFIRM_TEXT, DIR_QUESTION, "You have completed uninstall."], run.describe())
            self.assertTrue(self.m.exists(r"C:\Program Files\Common Files"))
            self.m.write(ISU_LOG, b"log\r\n")

    def test_folders_reached_by_another_name_are_never_offered(self):
        # The Netscape server's folder by the 8.3 name the file system made up
        # for it, and Program Files through a second drive letter for C:.
        vendor = r"C:\Netscape Server"
        self.m.write(vendor + r"\config\obj.conf", b"Init fn=a\r\n")
        short = self.m.short_name(vendor)
        self.assertNotIn("netscape", short.lower())
        os.symlink("../drive_c", os.path.join(self.m.prefix, "dosdevices", "x:"))
        for path, file, kept in ((short + r"\Quorvan\QvUninst.txt", vendor + r"\Quorvan\QvUninst.txt",
                                  vendor + r"\config\obj.conf"),
                                 (r"X:\Program Files\Quorvan\QvUninst.txt", r"C:\Program Files\Quorvan\QvUninst.txt",
                                  r"C:\Program Files\Common Files")):
            self.lay_out_list(path, file=file)
            run = self.uninstall("YNY")
            self.assertEqual([b.text for b in run.boxes],
                             [CONFIRM_TEXT, DIR_QUESTION, "You have completed uninstall."], run.describe())
            self.assertTrue(self.m.exists(kept), kept)
            self.m.write(ISU_LOG, b"log\r\n")

    def test_directory_lines_naming_a_drive_or_a_shared_folder_are_never_offered(self):
        # ".\\" read in the product's own folder, where the run starts, once
        # took the whole drive; Program Files through a second drive letter for
        # C:. Every question answered Yes: only the list's own root goes.
        os.symlink("../drive_c", os.path.join(self.m.prefix, "dosdevices", "x:"))
        self.m.write(r"C:\Program Files\Vendor\app.exe", b"MZ")
        for line, cwd in ((".\\", INSTALL_DIR), (r"X:\Program Files", winebox.WORK_DIR)):
            self.list_path = r"C:\QvList\QvUninst.txt"
            self.m.write(self.list_path, b"IIS_VER=3\r\n" + line.encode() + b"\r\n\"" + ISU_LOG.encode() + b"\"\r\n")
            self.m.write(ISU_LOG, b"log\r\n")
            run = self.uninstall("YYY", cwd=cwd)
            self.assertEqual([b.text for b in run.boxes],
                             [CONFIRM_TEXT, root_question(r"C:\QvList"), "You have completed uninstall."], run.describe())
            self.assertFalse(self.m.exists(r"C:\QvList"), line)
            for kept in (INSTALL_DIR + r"\docstore\index.dat", r"C:\Program Files\Vendor\app.exe",
                         r"C:\Program Files\Common Files", r"C:\windows\win.ini", r"C:\users\Public"):
                self.assertTrue(self.m.exists(kept), "%s after the line %s" % (kept, line))

    def test_users_profiles_folder_is_never_offered(self):
        # C:\users\Quorvan\QvUninst.txt gives the root C:\users, the folder of
        # the users' profiles, which Wine's GetProfilesDirectoryA tells only
        # to a caller that brings a buffer.
        self.lay_out_list(r"C:\users\Quorvan\QvUninst.txt")
        run = self.uninstall("YN")
        self.assertEqual([b.text for b in run.boxes],
                         [CONFIRM_TEXT, DIR_QUESTION, "You have completed uninstall."], run.describe())
        self.assertTrue(self.m.exists(r"C:\users\Public"))

    def test_root_without_a_drive_is_judged_as_the_folder_it_names(self):
        # \Program Files\Quorvan\QvUninst.txt gives the root \Program Files: on the
        # current drive that is C:\Program Files, shared by all software; so is
        # C:\\Program Files, a doubled backslash being read as one.
        self.m.write(r"C:\Program Files\Vendor\app.exe", b"MZ")
        for path in (r"\Program Files\Quorvan\QvUninst.txt", r"C:\\Program Files\Quorvan\QvUninst.txt"):
            self.lay_out_list(path, file=r"C:\Program Files\Quorvan\QvUninst.txt")
            run = self.uninstall("YN")
            self.assertEqual([b.text for b in run.boxes],
                             [CONFIRM_TEXT, DIR_QUESTION, "You have completed uninstall."], run.describe())
            for kept in (r"C:\Program Files\Common Files", r"C:\Program Files\Vendor\app.exe"):
                self.assertTrue(self.m.exists(kept), kept)
            self.assertFalse(self.m.exists(r"C:\Program Files\Quorvan\QvUninst.txt"))  # the list itself goes
            self.m.write(ISU_LOG, b"log\r\n")


W3SVC_PARAMETERS = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\W3SVC\Parameters"
FILTER_DLL = r"C:\Quorvan\web\isapi.dll"


class Iis(Case):
    """The product's filter taken out of IIS: the registry for IIS 3, the metabase for IIS 4."""

    def setUp(self):
        super().setUp()
        self.m.standins_beside_exe()
        # A product key left keeps the clean-up short.
        self.m.reg_import("[HKEY_LOCAL_MACHINE\\Software\\Quorvan\\Quorvan Kit]\n\n")

    def filter_dlls(self):
        r = self.m.wine(["reg", "query", W3SVC_PARAMETERS, "/v", "Filter DLLs"])
        if r.returncode:
            return None
        for line in r.stdout.decode(errors="replace").splitlines():
            if "Filter DLLs" in line and "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return None

    def set_filter_dlls(self, value):
        self.m.reg("add", W3SVC_PARAMETERS, "/v", "Filter DLLs", "/d", value, "/f")

    def test_iis_3_stops_the_service_then_edits_the_filter_list(self):
        self.set_filter_dlls(r"C:\w3\sspifilt.dll," + FILTER_DLL + r",C:\w3\compress.dll")
        self.m.write(LIST, FILTER_DLL.encode() + b"\r\nIIS_VER=3\r\n")
        run = self.m.run("-a -p " + LIST)
        self.assertOrdinaryEnd(run)
        self.assertEqual(run.boxes, [], run.describe())
        self.assertEqual([c for _, c in run.commands], ["net stop w3svc", "net start w3svc"], run.describe())
        self.assertEqual(run.captions, [CAP_IIS, "Restarting Microsoft Internet Information Server..."])
        self.assertEqual(self.filter_dlls(), r"C:\w3\sspifilt.dll,C:\w3\compress.dll")

    def test_first_entry_and_unread_version(self):
        # IIS_VER= without digits reads as 0: the registry branch, and no restart.
        self.set_filter_dlls(FILTER_DLL + r",C:\w3\sspifilt.dll")
        self.m.write(LIST, FILTER_DLL.encode() + b"\nIIS_VER=\n")
        run = self.m.run("-a -p " + LIST)
        self.assertEqual([c for _, c in run.commands], ["net stop w3svc"], run.describe())
        self.assertEqual(self.filter_dlls(), r"C:\w3\sspifilt.dll")

    def test_filter_line_after_the_iis_line_leaves_the_value_alone(self):
        self.set_filter_dlls(r"C:\w3\sspifilt.dll," + FILTER_DLL)
        self.m.write(LIST, b"IIS_VER=3\n" + FILTER_DLL.encode() + b"\n")
        run = self.m.run("-a -p " + LIST)
        self.assertEqual([c for _, c in run.commands], ["net stop w3svc", "net start w3svc"], run.describe())
        self.assertEqual(self.filter_dlls(), r"C:\w3\sspifilt.dll," + FILTER_DLL)

    # -- IIS 4: the metabase, a stand-in COM server of ours behind the Admin Base Object's CLSID --

    STORE = winebox.HARNESS_DIR + r"\metabase.txt"
    JOURNAL = winebox.HARNESS_DIR + r"\metabase.jsonl"
    FILTERS = "/LM/W3SVC/Filters"

    def metabase(self, load_order="sspifilt,isapi, compression", fail=None):
        if not CONFIG.get("metabase"):
            self.skipTest("no --metabase DLL given")
        dll = winebox.HARNESS_DIR + r"\metabase.dll"
        self.m.install(CONFIG["metabase"], dll)
        metabase.register(self.m, dll)
        metabase.write_store(self.m.unix(self.STORE), {
            self.FILTERS: {2040: load_order},
            self.FILTERS + "/isapi": {2041: FILTER_DLL},
            self.FILTERS + "/isapi/Logs": {},
            self.FILTERS + "/sspifilt": {2041: r"C:\w3\sspifilt.dll"},
        })
        return metabase.standin_env(self.STORE, self.JOURNAL, fail)

    def metabase_calls(self):
        return metabase.calls(metabase.read_journal(self.m.unix(self.JOURNAL)))

    def stored(self):
        return metabase.values(metabase.read_store(self.m.unix(self.STORE)))

    def test_iis_4_edits_the_metabase_before_the_service_stops(self):
        env = self.metabase()
        self.m.write(LIST, b"IIS_VER=4\r\n")
        run = self.m.run("-a -p " + LIST, standin_env=env)
        self.assertOrdinaryEnd(run)
        self.assertEqual(run.boxes, [], run.describe())
        calls = [c for c in self.metabase_calls() if c["call"] not in ("QueryInterface", "AddRef")]
        self.assertEqual([c["call"] for c in calls], ["DllGetClassObject", "CreateInstance", "OpenKey", "DeleteKey",
                                                      "GetData", "SetData", "CloseKey", "Release"], calls)
        get, create, open_, delete, read, write, close, release = calls
        self.assertEqual((get["clsid"], create["iid"]), (metabase.CLSID, metabase.IID))
        self.assertEqual((open_["handle"], open_["path"], open_["access"], open_["timeout"]), (0, self.FILTERS, 3, 20))
        self.assertEqual((delete["handle"], delete["path"], delete["hr"]), (open_["new_handle"], "/isapi", 0))
        self.assertEqual((read["path"], read["id"], read["attributes"], read["user_type"], read["data_type"],
                          read["len"]), ("", 2040, 1, 1, 2, 520))
        self.assertEqual((write["id"], write["data_type"], write["len"], write["data"]),
                         (2040, 2, 42, "sspifilt,compression"))
        self.assertEqual((close["handle"], release["refs"], release["open_handles"]), (open_["new_handle"], 0, []))
        after = self.stored()
        self.assertEqual(after[self.FILTERS][2040], "sspifilt,compression")
        self.assertNotIn(self.FILTERS + "/isapi", after)
        self.assertIn(self.FILTERS + "/sspifilt", after)
        # The metabase is changed while the web service still runs.
        self.assertEqual([c for _, c in run.commands], ["net stop w3svc", "net start w3svc"], run.describe())
        self.assertLess(release["t"], run.journal[0]["t"])

    def test_load_order_without_the_filter_is_left_but_its_key_goes(self):
        env = self.metabase(load_order="sspifilt,isapifilter")
        self.m.write(LIST, b"IIS_VER=5\n")
        run = self.m.run("-a -p " + LIST, standin_env=env)
        self.assertEqual(run.boxes, [], run.describe())
        self.assertEqual(metabase.calls(self.metabase_calls(), "SetData"), [])
        after = self.stored()
        self.assertEqual(after[self.FILTERS][2040], "sspifilt,isapifilter")
        self.assertNotIn(self.FILTERS + "/isapi", after)

    @unforeseeable("the stand-in metabase is told to fail")
    def test_a_failing_metabase_call_shows_its_error_and_lets_go_of_everything(self):
        cases = [("OpenKey", metabase.ERROR_PATH_BUSY, 148, ["OpenKey", "Release"]),
                 ("GetData", metabase.ERROR_ACCESS_DENIED, 5, ["OpenKey", "DeleteKey", "GetData", "CloseKey", "Release"]),
                 ("SetData", metabase.E_FAIL, 0x80004005,
                  ["OpenKey", "DeleteKey", "GetData", "SetData", "CloseKey", "Release"])]
        for call, hr, shown, sequence in cases:
            env = self.metabase(fail={call: hr})
            if self.m.exists(self.JOURNAL):
                os.remove(self.m.unix(self.JOURNAL))
            self.m.write(LIST, b"IIS_VER=4\n")
            run = self.m.run("-a -p " + LIST, standin_env=env)
            self.assertOrdinaryEnd(run)
            text = self.m.error_text(shown, wide=True) or "Error 0x%08X." % hr
            self.assertEqual([(b.title, b.text) for b in run.boxes], [("ERROR", text)],
                             run.describe() + str(self.metabase_calls()))
            self.assertEqual(run.boxes[0].icon, "error")
            calls = metabase.calls(self.metabase_calls(), "OpenKey", "DeleteKey", "GetData", "SetData", "CloseKey",
                                   "Release")
            self.assertEqual([c["call"] for c in calls], sequence, calls)
            self.assertEqual((calls[-1]["refs"], calls[-1]["open_handles"]), (0, []), call)
            # The uninstall goes on: IIS is stopped all the same.
            self.assertEqual([c for _, c in run.commands], ["net stop w3svc", "net start w3svc"], run.describe())

    def test_no_metabase_gives_its_error_box_and_iis_is_stopped_all_the_same(self):
        self.m.write(LIST, b"IIS_VER=4\n")
        run = self.m.run("-a -p " + LIST)
        self.assertOrdinaryEnd(run)
        self.assertEqual(len(run.boxes), 1, run.describe())
        # "Class not registered" by the system's text where it has one (Wine has none), else by its code.
        text = self.m.error_text(0x80040154, wide=True) or "Error 0x80040154."
        self.assertBox(run.boxes[0], "ERROR", text, [IDOK], icon="error")
        self.assertEqual([c for _, c in run.commands], ["net stop w3svc", "net start w3svc"], run.describe())
        self.assertGreater(run.journal[0]["t"], run.boxes[0].ev["t"] - 50, run.describe())


# No "Server" in the path: with "Netscape" it would make the line a service line.
NS_CONFIG = r"C:\Netscape\SuiteSpot\https-web\config\OBJ~1.CON"
NS_BEGIN = b"#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####"
NS_END = b"#### QUORVAN WEB GATEWAY EXTENSION -- END ####"
OBJ_CONF = (b'Init fn="load-modules" shlib="C:/Netscape/bin/nsapi.dll"\r\n'
            + NS_BEGIN + b"\r\n"
            + b'Init fn="load-modules" shlib="C:/Quorvan/web/qvgate.dll" funcs="qv-init,qv-service"\r\n'
            + b'Init fn="qv-init" config="C:/Quorvan/web/qvgate.ini"\r\n'
            + NS_END + b"\r\n"
            + b"<Object name=default>\r\n"
            + b"NameTrans fn=pfx2dir from=/docs dir=\"" + b"d" * 300 + b"\"\r\n"
            + b"Service fn=send-file\r\n"
            + b"</Object>\r\n")
OBJ_CONF_RESTORED = (b'Init fn="load-modules" shlib="C:/Netscape/bin/nsapi.dll"\r\n'
                     + b"<Object name=default>\r\n"
                     + b"NameTrans fn=pfx2dir from=/docs dir=\"" + b"d" * 300 + b"\"\r\n"
                     + b"Service fn=send-file\r\n"
                     + b"</Object>\r\n")


class Netscape(Case):
    """The product's block taken out of the Netscape server's obj.conf."""

    def setUp(self):
        super().setUp()
        self.install_servers()
        self.m.reg_import("[HKEY_LOCAL_MACHINE\\Software\\Quorvan\\Quorvan Kit]\n\n")

    def config(self):
        with open(self.m.unix(NS_CONFIG), "rb") as f:
            return f.read()

    def run_list(self, tail=b"", last_line_feed=b"\r\n"):
        self.m.write(LIST, b"Netscape Enterprise Server\r\n" + NS_CONFIG.encode() + last_line_feed + tail)
        run = self.m.run("-a -p " + LIST)
        self.assertOrdinaryEnd(run)
        return run

    def test_block_goes_and_the_rest_stays_byte_for_byte(self):
        self.m.write(NS_CONFIG, OBJ_CONF)
        run = self.run_list(server_line("jobsrvr"))
        self.assertEqual(run.boxes, [], run.describe())
        self.assertEqual(self.config(), OBJ_CONF_RESTORED)
        self.assertFalse(self.m.exists(NS_CONFIG + ".tmp"))
        self.assertEqual([c for _, c in run.commands], [
            'net stop "Netscape Enterprise Server"', '"%s\\jobsrvr.exe"\n -Sremove' % BIN,
            'net start "Netscape Enterprise Server"'], run.describe())

    def test_a_log_named_at_obj_conf_leaves_the_restored_configuration_alone(self):
        # obj.conf is no log of ours: the run keeps none and is the same as without -l.
        self.m.write(NS_CONFIG, OBJ_CONF)
        self.m.write(LIST, b"Netscape Enterprise Server\r\n" + NS_CONFIG.encode() + b"\r\n" + server_line("jobsrvr"))
        run = self.m.run("-a -l %s -p %s" % (NS_CONFIG, LIST))
        self.assertOrdinaryEnd(run)
        self.assertEqual(run.boxes, [], run.describe())
        self.assertEqual(self.config(), OBJ_CONF_RESTORED)
        self.assertEqual([c for _, c in run.commands], [
            'net stop "Netscape Enterprise Server"', '"%s\\jobsrvr.exe"\n -Sremove' % BIN,
            'net start "Netscape Enterprise Server"'], run.describe())
        self.assertFalse(self.m.exists(LIST))

    def test_file_without_block_gets_crlf_and_keeps_odd_bytes(self):
        # LF line ends come back as CR LF; NUL and Ctrl-Z bytes and a line without a line feed stay.
        text = b"Init fn=a\nodd \x00 and \x1a bytes\r\n" + b"x" * 450 + b"\nlast line"
        self.m.write(NS_CONFIG, text)
        self.run_list(last_line_feed=b"")  # the last list line keeps its last character
        self.assertEqual(self.config(), text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))

    def test_missing_configuration_is_reported_and_the_list_goes_on(self):
        run = self.run_list(server_line("jobsrvr"))
        self.assertEqual(len(run.boxes), 1, run.describe())
        self.assertBox(run.boxes[0], "Information",
                       "Cannot find %s to restore Netscape configuration. " % NS_CONFIG, [IDOK], icon="information")
        self.assertIn("jobsrvr", [n for n, _ in run.commands], run.describe())

    def test_temporary_file_an_earlier_run_left_is_kept_beside_it(self):
        # An aborted run whose copy-back failed left the only whole copy in OBJ~1.CON.tmp.
        earlier = b"Init fn=earlier\r\n" + OBJ_CONF_RESTORED
        self.m.write(NS_CONFIG, OBJ_CONF)
        self.m.write(NS_CONFIG + ".tmp", earlier)
        run = self.run_list(server_line("jobsrvr"))
        self.assertEqual(len(run.boxes), 1, run.describe())
        self.assertBox(run.boxes[0], "Information",
                       "The file %s.tmp that an earlier restore left is kept as %s.tmp.1: it holds an earlier copy "
                       "of the Netscape configuration. " % (NS_CONFIG, NS_CONFIG), [IDOK], icon="information")
        self.assertEqual(self.config(), OBJ_CONF_RESTORED)
        with open(self.m.unix(NS_CONFIG + ".tmp.1"), "rb") as f:
            self.assertEqual(f.read(), earlier)
        self.assertFalse(self.m.exists(NS_CONFIG + ".tmp"))
        self.assertIn("jobsrvr", [n for n, _ in run.commands], run.describe())

    def test_temporary_file_that_cannot_be_created_stops_the_uninstall(self):
        self.m.write(NS_CONFIG, OBJ_CONF)
        # A folder at the temporary path is no earlier copy to move aside, and
        # no file can be created there: the restore stops the whole uninstall.
        self.m.write(NS_CONFIG + r".tmp\kept.txt", b"k")
        self.m.mkdir(r"C:\Quorvan\Server")
        run = self.run_list(server_line("jobsrvr") + b"C:\\Quorvan\\Server\r\n")
        self.assertEqual([b.text for b in run.boxes],
                         ["Cannot create temporary file %s.tmp to restore Netscape configuration. " % NS_CONFIG],
                         run.describe())
        # No further line, no restart, no clean-up: the list and the install directory stay.
        self.assertEqual([c for _, c in run.commands], ['net stop "Netscape Enterprise Server"'], run.describe())
        self.assertEqual(self.config(), OBJ_CONF)
        self.assertTrue(self.m.exists(LIST))
        self.assertTrue(self.m.exists(NS_CONFIG + r".tmp\kept.txt"))
        self.assertTrue(self.m.key_exists(r"HKEY_LOCAL_MACHINE\Software\Quorvan"))

    @unforeseeable("a file is held open")
    def test_configuration_held_open_keeps_the_restored_text_beside_it(self):
        self.m.write(NS_CONFIG, OBJ_CONF)
        self.m.hold(NS_CONFIG, share="r")  # readable, not writable
        run = self.run_list()
        self.assertEqual([b.text for b in run.boxes],
                         ["Cannot write %s to restore Netscape configuration. The restored text is in %s.tmp. "
                          % (NS_CONFIG, NS_CONFIG)], run.describe())
        self.assertEqual(self.config(), OBJ_CONF)
        with open(self.m.unix(NS_CONFIG + ".tmp"), "rb") as f:
            self.assertEqual(f.read(), OBJ_CONF_RESTORED)


class Verify(Case):
    """Plan, run, verify: QvUninstCheck.exe --machine --json makes the plan
    before a whole run, and --verify holds the machine to it afterwards. What
    it says is compared with the machine as read here."""

    PLAN = winebox.HARNESS_DIR + r"\plan.json"
    STORE = winebox.HARNESS_DIR + r"\metabase.txt"
    FILTERS = "/LM/W3SVC/Filters"

    def setUp(self):
        super().setUp()
        if not CONFIG.get("check"):
            self.skipTest("no --check QvUninstCheck.exe given")
        self.m.standins_beside_exe()
        self.m.write(INSTALL_DIR + r"\docstore\index.dat", b"\0" * 64)
        self.m.write(ISU_LOG, b"log\r\n")
        for menu in (NT_MENU, NT_MENU + SUITE):
            self.m.write(menu + r"\Console.lnk", b"L\0\0\0")
        self.m.write(NS_CONFIG, OBJ_CONF)
        self.m.reg_import("[HKEY_LOCAL_MACHINE\\Software\\Quorvan\\DocumentServer]\n\"InstallDir\"=\"C:\\\\Quorvan\\\\Server\"\n\n"
                          "[%s]\n\"Filter DLLs\"=\"C:\\\\w3\\\\sspifilt.dll,C:\\\\Quorvan\\\\web\\\\isapi.dll\"\n\n"
                          % W3SVC_PARAMETERS)
        lines = [FILTER_DLL.encode(), b"IIS_VER=3"]
        self.env = {"ISUNINST_DELETELOG": 1}
        if CONFIG.get("metabase"):
            dll = winebox.HARNESS_DIR + r"\metabase.dll"
            self.m.install(CONFIG["metabase"], dll)
            metabase.register(self.m, dll)
            metabase.write_store(self.m.unix(self.STORE), {
                self.FILTERS: {2040: "sspifilt,isapi"},
                self.FILTERS + "/isapi": {2041: FILTER_DLL},
                self.FILTERS + "/sspifilt": {2041: r"C:\w3\sspifilt.dll"},
            })
            self.env.update(metabase.standin_env(self.STORE))
            lines.append(b"IIS_VER=4")
        lines += [b"Netscape Enterprise Server", NS_CONFIG.encode(), INSTALL_DIR.encode(), b'"' + ISU_LOG.encode() + b'"']
        self.m.write(LIST, b"\r\n".join(lines) + b"\r\n")

    def check(self, *args):
        """QvUninstCheck.exe in the prefix: its exit status and what it printed."""
        env = dict(self.m.env)
        for k, v in self.env.items():
            env["QV_" + k] = str(v)
        env["QV_METABASE_JOURNAL"] = winebox.HARNESS_DIR + r"\check-metabase.jsonl"
        r = self.m.wine([winebox.CHECK_PATH] + list(args), env=env)
        return r.returncode, r.stdout.decode("latin-1")

    def plan(self, answers="", silent=False):
        args = ["--machine", "--json", "--answer", "no"] + (["--answers", answers] if answers else [])
        code, out = self.check(*(args + (["--silent"] if silent else []) + [LIST, LIST]))
        self.assertIn(code, (0, 1), out)
        self.m.write(self.PLAN, out[out.index("{"):].encode("latin-1"))
        return json.loads(out[out.index("{"):])

    def verify(self):
        code, out = self.check("--verify", self.PLAN, "--json")
        plain_code, plain = self.check("--verify", self.PLAN)
        self.assertEqual(plain_code, code, plain)
        return code, json.loads(out[out.index("{"):]), plain

    def filter_dlls(self):
        r = self.m.wine(["reg", "query", W3SVC_PARAMETERS, "/v", "Filter DLLs"])
        for line in r.stdout.decode(errors="replace").splitlines():
            if "Filter DLLs" in line and "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return None

    def assertAsTheMachineIs(self, verified):
        """Each step said done or not done, and each kept folder said there or
        not, is so on the machine, read here."""
        store = metabase.values(metabase.read_store(self.m.unix(self.STORE))) if CONFIG.get("metabase") else {}
        for folder in verified["kept"]:
            there = self.m.exists(folder.get("fullTarget") or folder["target"])
            self.assertEqual(folder["state"], "still there" if there else "not there", folder)
        for step in verified["steps"]:
            kind, target, state = step["kind"], step.get("fullTarget") or step["target"], step["state"]
            if kind in ("delete-folder", "remove-folder", "delete-file", "remove-log"):
                made = not self.m.exists(target)
            elif kind == "delete-key":
                made = not self.m.key_exists("HKEY_LOCAL_MACHINE\\" + target)
            elif kind == "set-value":
                made = self.filter_dlls() == r"C:\w3\sspifilt.dll"
            elif kind == "rewrite-config":
                with open(self.m.unix(target), "rb") as f:
                    made = NS_BEGIN not in f.read()
            elif kind == "metabase-delete-key":
                made = target not in store
            elif kind == "metabase-set-data":
                made = store[target][2040] == "sspifilt"
            else:
                self.assertEqual(state, "not checkable", step)
                continue
            self.assertEqual(state, "done" if made else "not done", step)

    def test_interactive_whole_run_planned_carried_out_and_verified(self):
        plan = self.plan("YYY")
        self.assertEqual(plan["plan"], 1)
        run = self.m.run("-p " + LIST, answers="YYY", standin_env=self.env)
        self.assertOrdinaryEnd(run)
        code, verified, plain = self.verify()
        self.assertEqual(code, 0, plain)
        self.assertTrue(verified["verified"] and verified["sameMachine"], plain)
        self.assertEqual(verified["leftovers"], [], plain)
        kinds = {s["kind"] for s in verified["steps"] if s["state"] == "done"}
        wanted = {"delete-folder", "remove-folder", "delete-file", "remove-log", "delete-key", "set-value",
                  "rewrite-config"}
        if CONFIG.get("metabase"):
            wanted |= {"metabase-delete-key", "metabase-set-data"}
        self.assertEqual(wanted - kinds, set(), plain)
        self.assertAsTheMachineIs(verified)
        self.assertIn("0 not done", plain)

    def test_silent_whole_run_planned_carried_out_and_verified(self):
        self.plan(silent=True)
        run = self.m.run("-a -p " + LIST, standin_env=self.env)
        self.assertOrdinaryEnd(run)
        code, verified, plain = self.verify()
        self.assertEqual(code, 0, plain)
        self.assertAsTheMachineIs(verified)
        # Silent: the install directory and the root are never offered, so never
        # planned; they stay, listed as kept, and the exit status is 0 all the same.
        self.assertTrue(self.m.exists(INSTALL_DIR + r"\docstore\index.dat"))
        self.assertNotIn(INSTALL_DIR, [s["target"] for s in verified["steps"]])
        self.assertEqual([(k["target"], k["state"]) for k in verified["kept"]],
                         [(INSTALL_DIR, "still there"), (r"C:\Quorvan", "still there")], plain)

    def test_an_end_line_outside_the_block_stays_and_the_rewrite_is_verified_done(self):
        self.m.write(NS_CONFIG, NS_END + b"\r\n" + OBJ_CONF)
        self.plan(silent=True)
        run = self.m.run("-a -p " + LIST, standin_env=self.env)
        self.assertOrdinaryEnd(run)
        with open(self.m.unix(NS_CONFIG), "rb") as f:
            self.assertEqual(f.read(), NS_END + b"\r\n" + OBJ_CONF_RESTORED)
        code, verified, plain = self.verify()
        self.assertEqual(code, 0, plain)
        self.assertEqual([s["state"] for s in verified["steps"] if s["kind"] == "rewrite-config"], ["done"], plain)
        self.assertAsTheMachineIs(verified)

    @unforeseeable("a file is held open")
    def test_a_file_held_open_keeps_its_folder_and_the_verification_names_it(self):
        held = INSTALL_DIR + r"\docstore\index.dat"
        self.plan("YYY")
        self.m.hold(held)
        run = self.m.run("-p " + LIST, answers="YYY", standin_env=self.env)
        self.assertOrdinaryEnd(run)
        self.assertIn(cannot_remove(INSTALL_DIR), [b.text for b in run.boxes], run.describe())
        code, verified, plain = self.verify()
        self.assertEqual(code, 1, plain)
        self.assertFalse(verified["verified"])
        not_done = [(s["kind"], s["target"]) for s in verified["steps"] if s["state"] == "not done"]
        self.assertIn(("delete-folder", INSTALL_DIR), not_done, plain)
        self.assertIn("not done       delete folder " + INSTALL_DIR + " and all it holds", plain)
        self.assertAsTheMachineIs(verified)


    @unforeseeable("a file is held open")
    def test_quiet_whole_run_shows_nothing_ends_0_and_its_plan_foretells_it(self):
        code, out = self.check("--machine", "--json", "--quiet", LIST, LIST)
        self.assertEqual(code, 0, out)
        plan = json.loads(out[out.index("{"):])
        self.assertEqual((plan["quiet"], plan["exitStatus"]), (True, 0), out)
        self.m.write(self.PLAN, out[out.index("{"):].encode("latin-1"))
        run = self.m.run("-q -p %s -l %s" % (LIST, RUN_LOG), standin_env=self.env)
        self.assertEqual([e for e in run.events if e["ev"] in ("box", "window")], [], run.describe())
        self.assertOrdinaryEnd(run)
        self.assertFalse(self.m.exists(LIST))
        self.assertIn(", exit status 0, decided by the uninstall completed: delete-file %s: done" % LIST,
                      self.run_log()[-1])
        code, out = self.check("--json", "--verify", self.PLAN, "--log", RUN_LOG)
        verified = json.loads(out[out.index("{"):])
        self.assertEqual((code, verified["exitStatus"]["planned"], verified["exitStatus"]["logged"]), (0, 0, 0), out)
        # What the disk cannot show, the log settles: every program ran to its end.
        runs = [s for s in verified["steps"] if s["kind"] == "run"]
        self.assertTrue(runs and all(s["state"] == "done" and "ended after" in s["why"] for s in runs), out)

    def test_silent_run_with_a_log_names_what_kept_a_folder(self):
        # -l anywhere among the options: the log tells why the start menu stayed,
        # in the system's words, and the verification points at that line.
        held = NT_MENU + r"\Console.lnk"
        self.plan(silent=True)
        self.m.hold(held)
        run = self.m.run("-l %s -a -p %s" % (RUN_LOG, LIST), standin_env=self.env)
        self.assertOrdinaryEnd(run)
        self.assertEqual(run.boxes, [], run.describe())
        log = self.run_log()
        failed = [line for line in log if line.split(" ", 1)[1].startswith("delete-folder %s: failed: " % NT_MENU)]
        self.assertEqual(len(failed), 1, "\n".join(log))
        self.assertRegex(failed[0], r": failed: [A-Z][^(]+ \(error \d+\)$")  # a sentence, not just a number
        self.assertTrue(log[0].startswith("+0.000 start ") and log[-1].endswith("exit status 0"), "\n".join(log))
        code, out = self.check("--verify", self.PLAN, "--log", RUN_LOG)
        self.assertEqual(code, 1, out)
        self.assertIn("the log says: " + failed[0], out)
        self.assertTrue(self.m.exists(held))


GROUPS = [CommandLine, Confirmation, MissingList, ListCommands, Runner, Cleanup, Iis, Netscape, Verify]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe")
    ap.add_argument("--robot")
    ap.add_argument("--standin")
    ap.add_argument("--metabase", help="the stand-in metabase DLL")
    ap.add_argument("--check", help="QvUninstCheck.exe: every run is previewed and held to what it foretold")
    ap.add_argument("--pristine")
    ap.add_argument("--make-pristine")
    ap.add_argument("--group", action="append", help="run only this group (repeatable)")
    ap.add_argument("--keep", action="store_true", help="keep each case's prefix for a look afterwards")
    ap.add_argument("--failures", help="where a failing case keeps its logs, transcripts and journals"
                    " (default: failures/ beside the robot)")
    ap.add_argument("--time-limit", type=float, default=float(os.environ.get("QV_E2E_TIME_LIMIT") or 0),
                    help="seconds after which the run stops itself and all it started"
                         " (default: $QV_E2E_TIME_LIMIT, else none)")
    ap.add_argument("tests", nargs="*", help="Group or Group.test_name")
    opts = ap.parse_args()

    winebox.interrupt_on_sigterm()
    if opts.time_limit:
        winebox.interrupt_after(opts.time_limit)
    if not opts.exe or not os.path.isfile(opts.exe):
        ap.error("--exe must name a file")
    winebox.use_build(opts.exe)
    display = winebox.Display().start()
    scratch = None
    try:
        if opts.make_pristine:
            # Leave half a minute of the limit to stop wineboot's processes.
            budget = opts.time_limit - 30 if opts.time_limit else winebox.PRISTINE_BUDGET
            winebox.make_pristine(os.path.abspath(opts.make_pristine), display.name, budget=budget)
            print("pristine prefix ready in", opts.make_pristine)
            return 0
        for name in ("robot", "standin"):
            if not getattr(opts, name) or not os.path.isfile(getattr(opts, name)):
                ap.error("--%s must name a file" % name)
        pristine = opts.pristine
        if not pristine or not winebox.pristine_ready(pristine):
            scratch = tempfile.mkdtemp(prefix="qv-e2e-pristine-")
            pristine = os.path.join(scratch, "prefix")
            t0 = time.time()
            winebox.make_pristine(pristine, display.name)
            print("booted a prefix in %.1f s" % (time.time() - t0))
        failures = opts.failures or os.path.join(os.path.dirname(os.path.abspath(opts.robot)), "failures")
        CONFIG.update(pristine=pristine, display=display.name, exe=opts.exe, robot=opts.robot,
                      standin=opts.standin, metabase=opts.metabase, check=opts.check, keep=opts.keep,
                      failures=os.path.abspath(failures), xvfb_log=display.log)

        loader = unittest.TestLoader()
        suite = unittest.TestSuite()
        if opts.tests:
            module = sys.modules[__name__]
            suite.addTests(loader.loadTestsFromNames(opts.tests, module))
        else:
            for group in GROUPS:
                if not opts.group or group.__name__ in opts.group:
                    suite.addTests(loader.loadTestsFromTestCase(group))
        t0 = time.time()
        result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
        failed = len(result.failures) + len(result.errors)
        passed = result.testsRun - failed - len(result.skipped)
        print("took %.1f s" % (time.time() - t0))
        print("%d passed, %d failed" % (passed, failed))
        for folder in Case.kept:
            print("kept for a look:", folder)
        return 0 if failed == 0 and result.testsRun > 0 else 1
    except winebox.TimeLimit as stop:
        print("\n%s; stopping all it started" % stop, flush=True)
        return 1
    finally:
        winebox.close_all()
        display.stop()
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
