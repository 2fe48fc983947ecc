#!/usr/bin/env python3
"""Makes the test build beside a shipped build and builds what the tests need of it.

    test_build.py --build build/win [--target bass ...]

The test build (CMake option TUNER_TEST_BUILD) is the shipped build's configuration, the
same toolchain, build type and hosts, with the test switches compiled in. It lives in
<build>-test (build/win gives build/win-test) and is never what `make build` or `make dist`
hands out.
"""
import argparse
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
# What is carried over from the shipped build's cache.
CARRIED = ("CMAKE_TOOLCHAIN_FILE", "CMAKE_BUILD_TYPE", "LISTEN_TUNER_HOST", "DOWNLOAD_TUNER_HOST")


def test_build_folder(build):
    build = pathlib.Path(build).resolve()
    return build.with_name(build.name + "-test")


def cached(build, names):
    """The values of `names` in a build's CMake cache."""
    text = (pathlib.Path(build) / "CMakeCache.txt").read_text()
    values = {}
    for name in names:
        match = re.search(r"^%s:[A-Z]+=(.*)$" % re.escape(name), text, re.M)
        if match and match.group(1):
            values[name] = match.group(1)
    return values


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the shipped build folder (configured)")
    parser.add_argument("--target", action="append", default=[],
                        help="what to build (repeatable; default: bass)")
    parser.add_argument("--when-it-runs", action="store_true",
                        help="skip (77) when this machine cannot run the build's programs")
    args = parser.parse_args()
    if args.when_it_runs:
        import wine_env  # beside this script
        reason = wine_env.cannot_run(pathlib.Path(args.build) / "bin" / "listen_tuner.exe")
        if reason:
            print(reason)
            return wine_env.SKIPPED
    folder = test_build_folder(args.build)
    settings = ["-D%s=%s" % item for item in cached(args.build, CARRIED).items()]
    subprocess.run(["cmake", "--no-warn-unused-cli", "-S", str(ROOT), "-B", str(folder), "-G",
                    "Ninja", "-DTUNER_TEST_BUILD=ON", *settings],
                   check=True, stdout=subprocess.DEVNULL)
    targets = args.target or ["bass"]
    return subprocess.run(["cmake", "--build", str(folder), "--target", *targets]).returncode


if __name__ == "__main__":
    sys.exit(main())
