#!/usr/bin/env python3
"""Wine prefixes of a build and the commands that run Windows programs in them.

    wine_env.py --build build/win start        create the prefix if needed, start a wineserver
    wine_env.py --build build/win run X.exe    run a program, exit with its exit code
    wine_env.py --build build/win stop         stop the wineserver
"""
import argparse
import fcntl
import os
import pathlib
import subprocess
import sys

# The wineserver lingers this long after its last client, so an interrupted test run
# never leaves it behind for good.
PERSIST_SECONDS = "120"


def wine_environment(prefix, extra=None):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(pathlib.Path(prefix).resolve()), WINEDEBUG="-all", WINEARCH="win64",
               # No browser or .NET installers: the prefix needs neither.
               WINEDLLOVERRIDES=env.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
    if extra:
        env.update(extra)
    return env


def ensure_prefix(prefix, setup=None):
    """Creates the prefix once (about 10 s); later calls only take the lock."""
    prefix = pathlib.Path(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    with open(str(prefix) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        marker = prefix / ".tuner-ready"
        if marker.exists():
            return prefix
        env = wine_environment(prefix)
        # wineboot's exit status is unreliable; the registry it writes is the proof.
        boot = subprocess.run(["wineboot", "-i"], env=env, capture_output=True, text=True)
        subprocess.run(["wineserver", "-w"], env=env)
        if not (prefix / "system.reg").exists():
            raise RuntimeError(f"wineboot failed for {prefix}: {boot.stderr[-2000:]}")
        # A copy of a program under this name sees an older Windows (build 3790).
        subprocess.run(["wine", "reg", "add",
                        r"HKCU\Software\Wine\AppDefaults\oldwindows_tuner.exe",
                        "/v", "Version", "/d", "winxp64", "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if setup:
            setup(prefix, env)
        subprocess.run(["wineserver", "-w"], env=env)
        marker.touch()
    return prefix


def start_server(prefix):
    # Detached from our output: a server holding the test runner's pipe would keep the
    # runner waiting for its end.
    subprocess.run(["wineserver", "-p" + PERSIST_SECONDS], env=wine_environment(prefix), check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The first program of a server's life starts Wine's background services, which
    # inherit its output and live as long as the server: let them inherit nothing.
    subprocess.run(["wine", "cmd.exe", "/c", "exit"], env=wine_environment(prefix),
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
    ensure_prefix(prefix)
    return subprocess.run(["wine"] + args.program, env=wine_environment(prefix)).returncode


if __name__ == "__main__":
    sys.exit(main())
