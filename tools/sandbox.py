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


def unshare_command(kill_child=False):
    """The namespaces of a sandbox; with `kill_child`, the sandbox also ends when the process
    that started it is killed (a closed terminal, say), not only when its command ends."""
    command = ["unshare", "--net", "--mount", "--pid", "--fork", "--mount-proc"]
    if kill_child:
        command.append("--kill-child")
    if os.geteuid() != 0:
        command += ["--user", "--map-root-user"]
    return command


def outside(args):
    build = pathlib.Path(args.build).resolve()
    programs = pathlib.Path(args.programs or build).resolve()
    program = programs / "bin" / "listen_tuner.exe"
    reason = wine_env.cannot_run(program)
    if not reason and args.natively and wine_env.is_32_bit(program) and not wine_env.native_32_bit():
        reason = (f"skipped: {program} is a 32-bit program and this machine runs 32-bit code only "
                  "through an emulator, where the players do not play as they do on Windows")
    if reason:
        print(reason)
        return wine_env.SKIPPED
    ca_dir = build / "e2e" / "ca"
    test_ca.ensure_ca(ca_dir)
    # The sandbox's temporary folder; inside, it lies on the sandbox's own /tmp.
    scratch = tempfile.mkdtemp(prefix="tuner-sandbox-")
    inner = [sys.executable, str(pathlib.Path(__file__).resolve()), "--inside",
             "--build", str(build), "--programs", str(programs), "--prefix-name", args.prefix_name,
             "--scratch", scratch, "--"] + args.command
    try:
        return subprocess.run(unshare_command() + inner).returncode
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def bind(source, target):
    subprocess.run(["mount", "--bind", str(source), str(target)], check=True)


def isolate(build, scratch, keep=()):
    """First thing inside: the loopback network up, the test hosts and CA in place of the
    system's, a private /tmp with the folder `scratch` for temporary files (and the folders
    `keep` still reachable)."""
    ca_dir = pathlib.Path(build) / "e2e" / "ca"
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    bind(ca_dir / "hosts", "/etc/hosts")
    bind(ca_dir / "ca-bundle.crt", test_ca.SYSTEM_BUNDLE)
    private_tmp(pathlib.Path(build), pathlib.Path(scratch), keep)


def private_tmp(build, scratch, keep=()):
    """A /tmp of the sandbox's own: Wine's server sockets, X displays and their lock files,
    tmux sockets and temporary files never meet those of the machine or of another sandbox.
    The checkout and the build may lie under /tmp themselves; they are bound back in."""
    outer = pathlib.Path("/mnt")
    # Recursive: a sandbox inside a sandbox finds the checkout bound into the outer /tmp.
    subprocess.run(["mount", "--rbind", "/tmp", str(outer)], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp"], check=True)
    for folder in sorted({TOOLS.parent.resolve(), build.resolve(),
                          *(pathlib.Path(k).resolve() for k in keep)}):
        if folder.is_relative_to("/tmp"):
            folder.mkdir(parents=True, exist_ok=True)
            subprocess.run(["mount", "--rbind", str(outer / folder.relative_to("/tmp")),
                            str(folder)], check=True)
    scratch.mkdir(parents=True, exist_ok=True)


def start_wine(build, prefix_name, extra_env, programs=None):
    """The Wine prefix (made on first use) with our stand-ins, and its wineserver running;
    returns the environment that runs programs in it."""
    build = pathlib.Path(build)
    prefix = build / prefix_name
    wine_env.ensure_prefix(prefix)
    install_standins(prefix, pathlib.Path(programs or build))
    env = wine_env.wine_environment(prefix, extra_env)
    subprocess.run(["wineserver", "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return env


def inside(args):
    build = pathlib.Path(args.build)
    programs_exe = pathlib.Path(args.programs) / "bin" / "listen_tuner.exe"
    isolate(build, args.scratch, keep=[args.programs])
    # No sound server is started behind a test's back (libpulse would try to spawn one).
    client_config = pathlib.Path(args.scratch) / "pulse-client.conf"
    client_config.write_text("autospawn = no\n")
    env = start_wine(build, args.prefix_name, {
        "TUNER_BUILD": str(build),
        "TUNER_PROGRAMS": args.programs,
        "TUNER_CA_DIR": str(build / "e2e" / "ca"),
        "TUNER_SANDBOX": "1",
        "TMPDIR": args.scratch,
        "TMUX_TMPDIR": args.scratch,
        "PULSE_CLIENTCONFIG": str(client_config),
        # Tests stay silent: Wine's PulseAudio driver would find a desktop's sound server
        # through XDG_RUNTIME_DIR. A test with a server of its own turns the driver back on.
        "WINEDLLOVERRIDES": os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml=;winepulse.drv=d")
                            + wine_env.debugger_override(programs_exe),
    }, programs=args.programs)
    return subprocess.run(args.command, env=env).returncode


def install_standins(prefix, programs):
    """Stand-ins for commands Wine lacks go into the prefix's system folder of their
    architecture: a 32-bit program's command interpreter looks in syswow64."""
    mode = pathlib.Path(programs) / "bin" / "mode.com"
    if mode.exists():
        folder = "syswow64" if wine_env.is_32_bit(mode) else "system32"
        prefix.joinpath("drive_c", "windows", folder, "mode.com").write_bytes(mode.read_bytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--prefix-name", default="prefix-e2e-1",
                        help="the Wine prefix in the build folder; one sandbox at a time each")
    parser.add_argument("--programs", help="the build whose programs are tested (default: --build)")
    parser.add_argument("--natively", action="store_true",
                        help="skip (77) a 32-bit program tree where 32-bit code is only emulated")
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
