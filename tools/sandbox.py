#!/usr/bin/env python3
"""Runs a command in a sandbox of its own: private network, /tmp, processes and mounts.

    sandbox.py --build build/win -- command args...

Inside, only the loopback network exists, /etc/hosts maps the catalogue hosts to
127.0.0.x, the system CA bundle also trusts the test CA, /tmp is private, a Wine prefix
for the end-to-end tests has its own wineserver, and everything started inside ends with
the command: the sandbox is a PID namespace, so the kernel ends every process in it.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

TOOLS = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(TOOLS))
import test_ca  # noqa: E402
import wine_env  # noqa: E402


def outside(args):
    build = pathlib.Path(args.build).resolve()
    ca_dir = build / "e2e" / "ca"
    test_ca.ensure_ca(ca_dir)
    unshare = ["unshare", "--net", "--mount", "--pid", "--fork", "--mount-proc"]
    if os.geteuid() != 0:
        unshare += ["--user", "--map-root-user"]
    # The sandbox's temporary folder; inside, it lies on the sandbox's own /tmp.
    scratch = tempfile.mkdtemp(prefix="tuner-sandbox-")
    inner = [sys.executable, str(pathlib.Path(__file__).resolve()), "--inside",
             "--build", str(build), "--prefix-name", args.prefix_name, "--scratch", scratch,
             "--"] + args.command
    try:
        return subprocess.run(unshare + inner).returncode
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def bind(source, target):
    subprocess.run(["mount", "--bind", str(source), str(target)], check=True)


def inside(args):
    build = pathlib.Path(args.build)
    ca_dir = build / "e2e" / "ca"
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    bind(ca_dir / "hosts", "/etc/hosts")
    bind(ca_dir / "ca-bundle.crt", test_ca.SYSTEM_BUNDLE)
    private_tmp(build, pathlib.Path(args.scratch))

    # No sound server is started behind a test's back (libpulse would try to spawn one);
    # a test that wants sound starts its own and names it in PULSE_SERVER.
    client_config = pathlib.Path(args.scratch) / "pulse-client.conf"
    client_config.write_text("autospawn = no\n")

    prefix = build / args.prefix_name
    wine_env.ensure_prefix(prefix)
    install_standins(prefix, build)
    env = wine_env.wine_environment(prefix, {
        "TUNER_BUILD": str(build),
        "TUNER_CA_DIR": str(ca_dir),
        "TUNER_SANDBOX": "1",
        "TMPDIR": args.scratch,
        "TMUX_TMPDIR": args.scratch,
        "PULSE_CLIENTCONFIG": str(client_config),
        # With no sound server to reach, Wine's PulseAudio driver stalls the start of a
        # windowed console (wineconsole); programs fall back to the silent clock anyway.
        # A test with a server of its own sets WINEDLLOVERRIDES without this entry.
        "WINEDLLOVERRIDES": os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml=;winepulse.drv=d"),
    })
    subprocess.run(["wineserver", "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return subprocess.run(args.command, env=env).returncode


def private_tmp(build, scratch):
    """A /tmp of the sandbox's own: Wine's server sockets, X displays and their lock files,
    tmux sockets and temporary files never meet those of the machine or of another sandbox.
    The checkout and the build may lie under /tmp themselves; they are bound back in."""
    outer = pathlib.Path("/mnt")
    subprocess.run(["mount", "--bind", "/tmp", str(outer)], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp"], check=True)
    for folder in sorted({TOOLS.parent.resolve(), build.resolve()}):
        if folder.is_relative_to("/tmp"):
            folder.mkdir(parents=True, exist_ok=True)
            bind(outer / folder.relative_to("/tmp"), folder)
    scratch.mkdir(parents=True, exist_ok=True)


def install_standins(prefix, build):
    """Stand-ins for commands Wine lacks go into the prefix's system folder."""
    system32 = prefix / "drive_c" / "windows" / "system32"
    mode = build / "bin" / "mode.com"
    if mode.exists():
        system32.joinpath("mode.com").write_bytes(mode.read_bytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--prefix-name", default="prefix-e2e-1",
                        help="the Wine prefix in the build folder; one sandbox at a time each")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--scratch", help=argparse.SUPPRESS)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    if not args.command:
        parser.error("no command")
    return inside(args) if args.inside else outside(args)


if __name__ == "__main__":
    sys.exit(main())
