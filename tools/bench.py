#!/usr/bin/env python3
"""`make bench`: prints the benchmarks' figures. Nothing here fails on time.

Runs every native benchmark built from tests/bench/*_bench.cpp, then every
tests/bench/*_bench.py inside the sandbox (those measure the real programs under Wine; the
other Python files there are their helpers).
"""
import argparse
import pathlib
import subprocess
import sys

import wine_env

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The figures that are printed for the 32-bit programs too: playing, launch, memory, decoding.
BOTH_ARCHITECTURES = ("player_bench", "bass_decode_bench")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--build-x86", help="the 32-bit build, measured again beside the 64-bit one")
    args = parser.parse_args()
    status = 0
    for source in sorted((ROOT / "tests" / "bench").glob("*_bench.cpp")):
        program = pathlib.Path(args.native) / source.stem
        print(f"== {source.stem}", flush=True)
        status |= subprocess.run([str(program)]).returncode
    for script in sorted((ROOT / "tests" / "bench").glob("*_bench.py")):
        print(f"== {script.stem}", flush=True)
        status |= subprocess.run(
            [sys.executable, str(ROOT / "tools" / "sandbox.py"), "--build", args.build, "--",
             sys.executable, str(script)], cwd=ROOT / "tests" / "e2e").returncode
        if args.build_x86 and script.stem in BOTH_ARCHITECTURES:
            print(f"== {script.stem}, the 32-bit programs", flush=True)
            code = subprocess.run(
                [sys.executable, str(ROOT / "tools" / "sandbox.py"), "--build", args.build,
                 "--programs", args.build_x86, "--natively", "--",
                 sys.executable, str(script)], cwd=ROOT / "tests" / "e2e").returncode
            status |= 0 if code == wine_env.SKIPPED else code
    return status


if __name__ == "__main__":
    sys.exit(main())
