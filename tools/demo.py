#!/usr/bin/env python3
"""`make demo`: a player against the bundled demo catalogue, in the user's own terminal.

    demo.py --build build/win [--tuner listen_tuner|download_tuner] [-- program options]

The demo songs are made once and kept in the build tree. The local catalogue site and the
program then run in a sandbox of their own (tools/sandbox.py: private network, temporary
files, processes and mounts), so that nothing of them outlives the program, whether it is
quit or its terminal is closed. Wine's audio driver reaches the user's sound server from inside the
sandbox (its socket lies under $XDG_RUNTIME_DIR, which the sandbox leaves alone); with no
sound server the player runs on its silent clock.
"""
import argparse
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TOOLS = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(TOOLS))
import demo_songs  # noqa: E402
import sandbox  # noqa: E402
import test_ca  # noqa: E402
import wine_env  # noqa: E402

TUNERS = ("listen_tuner", "download_tuner")
HOSTS = dict(zip(TUNERS, demo_songs.SITE_HOSTS))
PREFIX_NAME = "prefix-demo"


def song_cache(build):
    return pathlib.Path(build) / "demo" / "songs"


def log_folder(build):
    return pathlib.Path(build) / "demo"


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def save_folder(build, tuner):
    """Where the key "d" puts copies: a folder named after the host, beside the program."""
    return pathlib.Path(build) / "bin" / HOSTS[tuner]


class Stop(Exception):
    """A hang-up or termination signal: leave through the clean-up."""


def _stop(signal_number, frame):
    raise Stop()


def configured_host(build, tuner):
    """The site host the build folder is configured with for the program, if it says."""
    cache = pathlib.Path(build) / "CMakeCache.txt"
    if not cache.exists():
        return None
    prefix = tuner.upper() + "_HOST:STRING="
    for line in cache.read_text().splitlines():
        if line.startswith(prefix):
            return line[len(prefix):]
    return None


# --- outside the sandbox ------------------------------------------------------------------

def make_songs(build):
    cache = song_cache(build)
    if demo_songs.is_built(cache):
        return
    print("Making the demo songs (only this once, a minute or two)...", flush=True)
    started = time.monotonic()
    demo_songs.build(cache)
    print("Demo songs ready in %.0f s." % (time.monotonic() - started), flush=True)


def restore_terminal():
    """Colours, cursor and line mode as they were, whatever state the program was left in.
    A terminal that has been closed is left alone."""
    try:
        if sys.stdout.isatty():
            sys.stdout.write("\033[0m\033[?25h\n")
            sys.stdout.flush()
        if sys.stdin.isatty():
            subprocess.run(["stty", "sane"], stdin=sys.stdin, stderr=subprocess.DEVNULL)
    except OSError:
        pass


def outside(args):
    build = pathlib.Path(args.build).resolve()
    program = build / "bin" / f"{args.tuner}.exe"
    for needed in (program, build / "bin" / "Bass.dll"):
        if not needed.exists():
            print(f"error: {needed} is missing; build first (make build)", file=sys.stderr)
            return 1
    configured = configured_host(build, args.tuner)
    if configured not in (None, HOSTS[args.tuner]):
        print(f"error: {program} was built for {configured}; the demo needs "
              f"{HOSTS[args.tuner]} (make demo configures it)", file=sys.stderr)
        return 1
    make_songs(build)
    test_ca.ensure_ca(build / "e2e" / "ca")
    log_folder(build).mkdir(parents=True, exist_ok=True)
    # Temporary files of the site and of Wine go to a tmpfs on this folder, inside.
    scratch = tempfile.mkdtemp(prefix="tuner-demo-")
    inner = [sys.executable, str(pathlib.Path(__file__).resolve()), "--inside",
             "--build", str(build), "--scratch", scratch, "--tuner", args.tuner,
             "--latency", str(args.latency),
             "--"] + args.program_args
    # A closed terminal hangs up on this process too: leave through the clean-up below.
    signal.signal(signal.SIGHUP, _stop)
    try:
        code = subprocess.run(sandbox.unshare_command(kill_child=True) + inner).returncode
    except Stop:
        code = 128 + signal.SIGHUP
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        restore_terminal()
    if code not in (0, 1, 2, 3, 4, 128 + signal.SIGHUP):
        # Not one of the program's own ends (those print their own line): Wine or the
        # sandbox failed, and only their log says why.
        print(f"error: the demo ended with code {code}; from {log_folder(build)}:", file=sys.stderr)
        for name in ("wine.log", "site.log"):
            lines = (log_folder(build) / name).read_text(errors="replace").splitlines() \
                if (log_folder(build) / name).exists() else []
            for line in lines[-10:]:
                print(f"  {name}: {line}", file=sys.stderr)
    saved = save_folder(build, args.tuner)
    if code != 128 + signal.SIGHUP and saved.is_dir() and any(saved.iterdir()):
        print(f"Saved copies are in {saved}")
    return code


# --- inside the sandbox -------------------------------------------------------------------

def start_site(build, log, latency=0.0):
    ca = build / "e2e" / "ca"
    site = subprocess.Popen(
        [sys.executable, str(TOOLS / "catalogue_site.py"), "--catalogue", "demo",
         "--songs-dir", str(song_cache(build)), "--cert", str(ca / "server.pem"),
         "--key", str(ca / "server.key"), "--latency", str(latency)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log, text=True)
    line = site.stdout.readline()  # "serving ..." once both sites listen
    if not line.startswith("serving"):
        site.kill()
        raise RuntimeError("the demo site did not start; see %s" % log.name)
    return site


def sound_server_folders():
    """The user's runtime folder and where its sound server's socket really lies: they stay
    reachable in the sandbox even when they lie under /tmp."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if not runtime:
        return []
    socket = pathlib.Path(runtime) / "pulse" / "native"
    return [runtime] + ([socket.resolve().parent] if socket.exists() else [])


def inside(args):
    # As the first process of its PID namespace this one would ignore a hang-up it has no
    # handler for; with one, the site and Wine are stopped in order.
    for signal_number in (signal.SIGHUP, signal.SIGTERM, signal.SIGINT):
        signal.signal(signal_number, _stop)
    build = pathlib.Path(args.build)
    sandbox.isolate(build, args.scratch, keep=sound_server_folders())
    # The player belongs to the terminal: Wine gets no display, so nothing opens on the
    # user's desktop (a logo window cannot sit in a terminal's console anyway).
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        os.environ.pop(name, None)
    os.environ["TMPDIR"] = args.scratch
    site = wine = None
    env = None
    with open(log_folder(build) / "site.log", "w") as site_log, \
            open(log_folder(build) / "wine.log", "w") as wine_log:
        try:
            # The user's sound server, when there is one, is reached through Wine's
            # PulseAudio driver (a test sandbox around us may have switched it off).
            env = sandbox.start_wine(build, PREFIX_NAME, {"WINEDLLOVERRIDES": "mscoree,mshtml="})
            site = start_site(build, site_log, args.latency)
            program = build / "bin" / f"{args.tuner}.exe"
            wine = subprocess.Popen(wine_env.command(windows_path(program), *args.program_args),
                                    env=env, stderr=wine_log)
            return wine.wait()
        except Stop:
            return 128 + signal.SIGHUP
        finally:
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            if wine is not None and wine.poll() is None:
                wine.kill()
            if site is not None:
                site.terminate()
                site.wait()
            if env is not None:
                subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description="Play the demo catalogue.")
    parser.add_argument("--build", required=True, help="the Windows build directory")
    parser.add_argument("--tuner", choices=TUNERS, default="listen_tuner")
    parser.add_argument("--latency", type=float, default=0.0, metavar="MS",
                        help="the site as far away as a real one: milliseconds each way")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--scratch", help=argparse.SUPPRESS)
    parser.add_argument("program_args", nargs=argparse.REMAINDER,
                        help="options for the program, after --")
    args = parser.parse_args()
    if args.program_args and args.program_args[0] == "--":
        args.program_args = args.program_args[1:]
    return inside(args) if args.inside else outside(args)


if __name__ == "__main__":
    sys.exit(main())
