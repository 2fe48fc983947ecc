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

ROOT = pathlib.Path(__file__).resolve().parents[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--build", required=True)
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
    return status


if __name__ == "__main__":
    sys.exit(main())
