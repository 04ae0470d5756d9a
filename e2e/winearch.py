#!/usr/bin/env python3
"""Which Wine this host can run, decided in this one place for the test,
demo and benchmark scripts and the end-to-end suite.

The 32-bit Wine and the PE32 product where Wine's 32-bit loader really
starts; else the 64-bit Wine and the x86-64 twin build (preset windows-x64),
as some hosts refuse every i386 program although its packages install.
QV_WINE_ARCH=win32|win64 overrides the test.

  winearch.py --shell   for tools/wine-arch.sh: prints the choice as shell
                        assignments, and what was chosen and why to stderr
"""
import os
import subprocess
import sys
import tempfile

LOADER32 = "/usr/lib/wine/wine"
LOADER64 = "/usr/lib/wine/wine64"
MACHINES = {0x14C: "win32", 0x8664: "win64"}
# Each Wine's build: its preset, what it is, its toolchain.
BUILDS = {"win32": ("windows", "PE32 (i686)", "cmake/mingw-i686.cmake"),
          "win64": ("windows-x64", "x86-64", "cmake/mingw-x86_64.cmake")}


def loader_says(loader):
    """(started, what it printed or why it could not start)."""
    try:
        r = subprocess.run([loader, "--version"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    except OSError as e:  # "Exec format error" where the host runs no i386 program
        return False, e.strerror
    except subprocess.TimeoutExpired:
        return False, "no answer in 60 s"
    said = r.stdout.decode(errors="replace").strip()
    return r.returncode == 0, said or "exit status %d" % r.returncode


class Choice:
    def __init__(self, arch, why, loader=None):
        """`loader`: what the arch's loader already said, if it was asked."""
        self.arch = arch
        self.why = why
        self.preset, self.build, self.toolchain = BUILDS[arch]
        started, said = loader or loader_says(LOADER32 if arch == "win32" else LOADER64)
        self.wine = said.replace("wine-", "Wine ", 1).split(" (")[0] if started else "Wine (%s)" % said

    def line(self, exe_name="QvUnInstall.exe"):
        bits = "32-bit" if self.arch == "win32" else "64-bit"
        return "%s, %s prefix, %s build of %s: %s" % (self.wine, bits, self.build, exe_name, self.why)


def decide():
    """The Wine this host runs: QV_WINE_ARCH if set, else the 32-bit one
    where its loader starts, else the 64-bit one."""
    forced = os.environ.get("QV_WINE_ARCH", "")
    if forced:
        if forced not in BUILDS:
            raise SystemExit("QV_WINE_ARCH is win32 or win64, not %r" % forced)
        return Choice(forced, "QV_WINE_ARCH=%s says so" % forced)
    started, said = loader_says(LOADER32)
    if started:
        return Choice("win32", "this host runs 32-bit programs", (started, said))
    return Choice("win64", "this host runs no 32-bit programs (%s: %s)" % (LOADER32, said))


def pe_arch(path):
    """win32 or win64: the Windows a PE file is built for."""
    with open(path, "rb") as f:
        head = f.read(4096)
    at = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[at:at + 4] != b"PE\0\0":
        raise SystemExit("%s is not a Windows program" % path)
    machine = int.from_bytes(head[at + 4:at + 6], "little")
    if machine not in MACHINES:
        raise SystemExit("%s is built for machine 0x%x, which no Wine here runs" % (path, machine))
    return MACHINES[machine]


def for_build(exe):
    """The choice for running `exe`: its own architecture's Wine, which must
    be the host's, except that an x86-64 build runs on either kind of host."""
    host = decide()
    arch = pe_arch(exe)
    name = os.path.basename(exe)
    if arch == host.arch:
        choice = host
    elif arch == "win64":
        choice = Choice("win64", "it is the x86-64 twin build (%s)" % host.why)
    else:
        raise SystemExit("%s is a PE32 build, which needs the 32-bit Wine: %s; the windows-x64 build is the one"
                         " to run here" % (exe, host.why))
    print(choice.line(name), file=sys.stderr, flush=True)
    return choice


_shims = None


def shim_folder():
    """A folder to put first on PATH so that `wine`, and every script that
    calls `wine-stable` (wineboot, regedit, ...), starts the 64-bit loader:
    /usr/bin/wine takes the 32-bit one whenever it is installed."""
    global _shims
    if _shims is None:
        folder = tempfile.mkdtemp(prefix="qv-wine64-")
        for name in ("wine", "wine-stable"):
            path = os.path.join(folder, name)
            with open(path, "w") as f:
                f.write('#!/bin/sh\nWINELOADER=%s\nexport WINELOADER\nexec %s "$@"\n' % (LOADER64, LOADER64))
            os.chmod(path, 0o755)
        _shims = folder
        import atexit
        import shutil
        atexit.register(shutil.rmtree, folder, True)
    return _shims


def environ(arch, env):
    """`env` set up for a prefix of `arch`."""
    env["WINEARCH"] = arch
    if arch == "win64":
        env["WINELOADER"] = LOADER64
        env["PATH"] = shim_folder() + os.pathsep + env.get("PATH", os.defpath)
    return env


def main():
    if sys.argv[1:] != ["--shell"]:
        sys.exit(__doc__)
    choice = decide()
    print(choice.line(), file=sys.stderr)
    for name, value in (("qv_wine_arch", choice.arch), ("qv_preset", choice.preset),
                        ("qv_build_kind", choice.build), ("qv_toolchain", choice.toolchain),
                        ("qv_wine_line", choice.line())):
        print("%s='%s'" % (name, value.replace("'", "'\\''")))


if __name__ == "__main__":
    main()
