#!/usr/bin/env python3
"""Wine prefixes of a build and the commands that run Windows programs in them.

    wine_env.py --build build/win start        create the prefix if needed, start a wineserver
    wine_env.py --build build/win run X.exe    run a program, exit with its exit code
    wine_env.py --build build/win stop         stop the wineserver

Every Windows program of the tools and tests starts through `command()`, with the loader
chosen here. Each prefix records the Wine it was made with; a prefix whose record no longer
matches the Wine installed now is made anew before it is used.
"""
import argparse
import fcntl
import functools
import json
import os
import pathlib
import shutil
import subprocess
import sys

# The wineserver lingers this long after its last client, so an interrupted test run
# never leaves it behind for good.
PERSIST_SECONDS = "120"
# Debian's loaders. Its `wine` launcher prefers the 32-bit loader once Wine's 32-bit part is
# installed, and that loader fails in a prefix made without it. The 64-bit loader runs
# 64-bit programs itself and hands 32-bit ones to the 32-bit loader, in any prefix.
LOADER_64 = pathlib.Path("/usr/lib/wine/wine64")
LOADER_32 = pathlib.Path("/usr/lib/wine/wine")
RECORD = ".tuner-ready"


def loader():
    """The one Wine loader every program is started with."""
    if LOADER_64.exists():
        return str(LOADER_64)
    return shutil.which("wine64") or "wine"


def command(*arguments):
    """The command line that runs a Windows program (or a Wine tool such as reg or wineboot)."""
    return [loader(), *map(str, arguments)]


@functools.lru_cache(maxsize=None)
def runs_32_bit():
    """Whether this machine can start the 32-bit loader at all: on a host without IA-32
    execution it cannot, unless an emulator is registered for 32-bit programs."""
    if not LOADER_32.exists():
        return False
    try:
        return subprocess.run([str(LOADER_32), "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=60).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def is_32_bit(program):
    """Whether a Windows program (exe or dll) is built for x86: its PE header's machine field."""
    with open(program, "rb") as image:
        header = image.read(4096)
    at = int.from_bytes(header[0x3C:0x40], "little")
    return header[at:at + 4] == b"PE\0\0" and header[at + 4:at + 6] == b"\x4c\x01"


# CTest counts a test that exits with this as skipped, not failed.
SKIPPED = 77


def cannot_run(program):
    """Why this machine cannot run `program`, or None when it can."""
    if is_32_bit(program) and not runs_32_bit():
        return (f"skipped: {program} is a 32-bit program and this machine cannot run 32-bit code "
                f"(Wine's 32-bit loader, {LOADER_32}, does not start)")
    return None


def debugger_override(program):
    """What to add to WINEDLLOVERRIDES for running `program`: under emulation Wine's debugger,
    started for a crash, never finishes, so a crashing 32-bit program there simply ends."""
    return ";winedbg.exe=d" if is_32_bit(program) and not native_32_bit() else ""


@functools.lru_cache(maxsize=None)
def native_32_bit():
    """Whether 32-bit code runs on the processor itself rather than through an emulator."""
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0 \
            and not pathlib.Path("/proc/sys/fs/binfmt_misc/qemu-i386").exists()
    except OSError:
        return False


@functools.lru_cache(maxsize=None)
def installation():
    """What a prefix depends on: Wine's version and which of its loaders can run here."""
    version = subprocess.run(command("--version"), capture_output=True, text=True).stdout.strip()
    return {"version": version,
            "loaders": sorted(p.name for p in (LOADER_64, LOADER_32) if p.exists()),
            "runs_32_bit": runs_32_bit()}


def wine_environment(prefix, extra=None):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(pathlib.Path(prefix).resolve()), WINEDEBUG="-all", WINEARCH="win64",
               # No browser or .NET installers: the prefix needs neither.
               WINEDLLOVERRIDES=env.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
    if extra:
        env.update(extra)
    return env


def recorded_installation(prefix):
    try:
        return json.loads((pathlib.Path(prefix) / RECORD).read_text())
    except (OSError, ValueError):
        return None


def ensure_prefix(prefix, setup=None):
    """Creates the prefix once (10 to 25 s), again whenever Wine changed since; later calls
    only take the lock."""
    prefix = pathlib.Path(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    with open(str(prefix) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        wanted = installation()
        if recorded_installation(prefix) == wanted:
            return prefix
        env = wine_environment(prefix)
        if prefix.exists():
            # Made with another Wine (or never finished): its server goes first, then the rest.
            subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            shutil.rmtree(prefix, ignore_errors=True)
        # wineboot's exit status is unreliable; the registry it writes is the proof.
        boot = subprocess.run(command("wineboot", "-i"), env=env, capture_output=True, text=True)
        subprocess.run(["wineserver", "-w"], env=env)
        if not (prefix / "system.reg").exists():
            raise RuntimeError(f"wineboot failed for {prefix}: {boot.stderr[-2000:]}")
        # A copy of a program under this name sees an older Windows (build 3790).
        subprocess.run(command("reg", "add",
                               r"HKCU\Software\Wine\AppDefaults\oldwindows_tuner.exe",
                               "/v", "Version", "/d", "winxp64", "/f"),
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if setup:
            setup(prefix, env)
        subprocess.run(["wineserver", "-w"], env=env)
        (prefix / RECORD).write_text(json.dumps(wanted, sort_keys=True) + "\n")
    return prefix


def start_server(prefix):
    # Detached from our output: a server holding the test runner's pipe would keep the
    # runner waiting for its end.
    subprocess.run(["wineserver", "-p" + PERSIST_SECONDS], env=wine_environment(prefix), check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The first program of a server's life starts Wine's background services, which
    # inherit its output and live as long as the server: let them inherit nothing.
    subprocess.run(command("cmd.exe", "/c", "exit"), env=wine_environment(prefix),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_server(prefix):
    subprocess.run(["wineserver", "-k"], env=wine_environment(prefix),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the Windows build directory")
    parser.add_argument("--prefix-name", default="prefix-win")
    parser.add_argument("command", choices=["start", "stop", "run"])
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    prefix = pathlib.Path(args.build).resolve() / args.prefix_name
    if args.command == "start":
        ensure_prefix(prefix)
        start_server(prefix)
        return 0
    if args.command == "stop":
        stop_server(prefix)
        return 0
    reason = cannot_run(args.program[0])
    if reason:
        print(reason)
        return SKIPPED
    ensure_prefix(prefix)
    return subprocess.run(command(*args.program),
                          env=wine_environment(prefix, {"WINEDLLOVERRIDES": os.environ.get(
                              "WINEDLLOVERRIDES", "mscoree,mshtml=")
                              + debugger_override(args.program[0])})).returncode


if __name__ == "__main__":
    sys.exit(main())
