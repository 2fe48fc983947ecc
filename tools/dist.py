#!/usr/bin/env python3
"""`make dist`: the zips for Windows users, one for 32-bit and one for 64-bit Windows, each
with its own two programs, its own Bass.dll and a README, and a SHA256SUMS file beside them.

    dist.py --win64 build/win --win32 build/win-x86 --readme dist/README-Windows.txt \\
            --out build/dist

Everything in a zip sits in one folder named after the zip, so that unpacking it keeps
Bass.dll beside the programs (where they look for it), and unpacking both keeps the two
builds apart. Every file must be of the zip's architecture: a library of the other one would
stop the programs at start-up. The README gets the version, the architecture and the site
hosts the programs were built for, and Windows line ends (older Notepads show nothing else).
Entries carry a fixed date, so the same builds give the same zips. SHA256SUMS is in the
form `sha256sum -c` reads. Nothing is packed that holds anything of the test build (the look
of tests/shipped/check_shipped.py), nor two builds made for different sites.
"""
import argparse
import collections
import hashlib
import pathlib
import re
import struct
import sys
import zipfile

SOURCE = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "tests" / "shipped"))
import check_shipped  # noqa: E402
FILES = ("listen_tuner.exe", "download_tuner.exe", "Bass.dll")
ENTRY_DATE = (2021, 4, 8, 0, 0, 0)
SUMS = "SHA256SUMS"


Architecture = collections.namedtuple("Architecture", "name machine words runs_on")
# The PE header's machine field tells the two apart. 32-bit programs also run on 64-bit Windows.
ARCHITECTURES = {
    "win32": Architecture("win32", 0x014C, "32-bit (x86)", "32-bit and 64-bit Windows"),
    "win64": Architecture("win64", 0x8664, "64-bit (x64)", "64-bit Windows"),
}


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise RuntimeError("no project version in CMakeLists.txt")
    return match.group(1)


def pe_machine(data):
    """The machine field of a PE file's header, None when it is no PE file."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, header + 4)[0]


def configured_hosts(build):
    """The site host of each program, as the build folder was configured."""
    hosts = {"LISTEN_TUNER_HOST": "listen.tuner.test", "DOWNLOAD_TUNER_HOST": "download.tuner.test"}
    cache = pathlib.Path(build) / "CMakeCache.txt"
    if cache.exists():
        for line in cache.read_text().splitlines():
            name, _, value = line.partition(":STRING=")
            if name in hosts and value:
                hosts[name] = value
    return hosts


def readme_text(template, version, hosts, architecture):
    values = {"VERSION": version, "ARCHITECTURE": architecture.words,
              "RUNS_ON": architecture.runs_on, **hosts}
    unknown = set(re.findall(r"@(\w+)@", template)) - set(values)
    if unknown:
        raise RuntimeError("the README names no such value: " + ", ".join(sorted(unknown)))
    text = re.sub(r"@(\w+)@", lambda m: values[m.group(1)], template)
    return "\r\n".join(text.splitlines()) + "\r\n"


def program_files(build, architecture):
    """{name: bytes} of the files to ship, each checked to be of the zip's architecture."""
    files = {}
    missing = [name for name in FILES if not (build / "bin" / name).exists()]
    if missing:
        raise FileNotFoundError(f"not built in {build}: " + ", ".join(missing))
    for name in FILES:
        data = (build / "bin" / name).read_bytes()
        if pe_machine(data) != architecture.machine:
            raise RuntimeError(f"{build / 'bin' / name} is not a {architecture.words} file: "
                               f"not put into the {architecture.name} zip")
        files[name] = data
    test_build = check_shipped.findings(build / "bin")
    if test_build:
        raise RuntimeError(f"{build} is no build to ship: " + "; ".join(test_build))
    return files


def entry(name):
    info = zipfile.ZipInfo(name, ENTRY_DATE)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    return info


def make_zip(build, readme, out_dir, architecture):
    build, out_dir = pathlib.Path(build), pathlib.Path(out_dir)
    version = project_version()
    folder = f"tuners-{version}-{architecture.name}"
    files = program_files(build, architecture)
    text = readme_text(pathlib.Path(readme).read_text(), version, configured_hosts(build),
                       architecture)
    out_dir.mkdir(parents=True, exist_ok=True)
    target = out_dir / f"{folder}.zip"
    temporary = target.with_suffix(".tmp")
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(entry(f"{folder}/{name}"), data)
        archive.writestr(entry(f"{folder}/README.txt"), text.encode("utf-8"))
    temporary.replace(target)
    return target


def write_sums(paths, out_dir):
    lines = "".join(f"{hashlib.sha256(p.read_bytes()).hexdigest()}  {p.name}\n"
                    for p in sorted(paths))
    target = pathlib.Path(out_dir) / SUMS
    temporary = target.with_suffix(".tmp")
    temporary.write_text(lines, newline="\n")
    temporary.replace(target)
    return target


def make_release(builds, readme, out_dir):
    """Both zips and their SHA256SUMS; builds is {architecture name: build folder}. Nothing
    is written unless every file checks out."""
    for name, build in builds.items():
        program_files(pathlib.Path(build), ARCHITECTURES[name])
    # `make demo` reconfigures only the 64-bit tree: its hosts may no longer be the other's.
    hosts = {name: configured_hosts(build) for name, build in builds.items()}
    if len({tuple(sorted(h.items())) for h in hosts.values()}) > 1:
        raise RuntimeError("the builds were made for different sites: " +
                           "; ".join(f"{name} {h}" for name, h in hosts.items()))
    zips = [make_zip(build, readme, out_dir, ARCHITECTURES[name]) for name, build in builds.items()]
    return zips + [write_sums(zips, out_dir)]


def main():
    parser = argparse.ArgumentParser(description="Make the zips for Windows users.")
    parser.add_argument("--win32", required=True, help="the 32-bit Windows build folder")
    parser.add_argument("--win64", required=True, help="the 64-bit Windows build folder")
    parser.add_argument("--readme", required=True, help="the README template")
    parser.add_argument("--out", required=True, help="folder for the zips")
    args = parser.parse_args()
    try:
        written = make_release({"win32": args.win32, "win64": args.win64}, args.readme, args.out)
    except (OSError, RuntimeError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    for path in written:
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
