#!/usr/bin/env python3
"""`make dist`: the zip for Windows users, with the two programs, Bass.dll and a README.

    dist.py --build build/win --readme dist/README-Windows.txt --out build/dist

Everything sits in one folder inside the zip, so that unpacking it keeps Bass.dll beside
the programs (where they look for it). The README gets the version and the site hosts the
programs were built for, and Windows line ends (older Notepads show nothing else). Entries
carry a fixed date, so the same build gives the same zip.
"""
import argparse
import pathlib
import re
import sys
import zipfile

SOURCE = pathlib.Path(__file__).resolve().parents[1]
FILES = ("listen_tuner.exe", "download_tuner.exe", "Bass.dll")
ENTRY_DATE = (2021, 4, 8, 0, 0, 0)


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise RuntimeError("no project version in CMakeLists.txt")
    return match.group(1)


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


def readme_text(template, version, hosts):
    text = template.replace("@VERSION@", version)
    text = text.replace("@LISTEN_TUNER_HOST@", hosts["LISTEN_TUNER_HOST"])
    text = text.replace("@DOWNLOAD_TUNER_HOST@", hosts["DOWNLOAD_TUNER_HOST"])
    return "\r\n".join(text.splitlines()) + "\r\n"


def make_zip(build, readme, out_dir):
    build, out_dir = pathlib.Path(build), pathlib.Path(out_dir)
    version = project_version()
    folder = f"tuners-{version}"
    missing = [name for name in FILES if not (build / "bin" / name).exists()]
    if missing:
        raise FileNotFoundError("not built: " + ", ".join(missing))
    out_dir.mkdir(parents=True, exist_ok=True)
    target = out_dir / f"{folder}-win64.zip"
    temporary = target.with_suffix(".tmp")
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in FILES:
            entry = zipfile.ZipInfo(f"{folder}/{name}", ENTRY_DATE)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            archive.writestr(entry, (build / "bin" / name).read_bytes())
        entry = zipfile.ZipInfo(f"{folder}/README.txt", ENTRY_DATE)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        text = readme_text(pathlib.Path(readme).read_text(), version, configured_hosts(build))
        archive.writestr(entry, text.encode("utf-8"))
    temporary.replace(target)
    return target


def main():
    parser = argparse.ArgumentParser(description="Make the zip for Windows users.")
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--readme", required=True, help="the README template")
    parser.add_argument("--out", required=True, help="folder for the zip")
    args = parser.parse_args()
    try:
        target = make_zip(args.build, args.readme, args.out)
    except (OSError, RuntimeError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
