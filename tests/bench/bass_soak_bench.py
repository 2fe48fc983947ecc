"""A player through 500 song changes against the local catalogue site (Space storms, songs
that end, songs that fail; Bass.dll on its silent clock), with the process's handles,
threads and memory read from outside every 25 changes. Printed, never judged.

    cd tests/e2e && python3 ../../tools/sandbox.py --build ../../build/win -- \\
        python3 ../bench/bass_soak_bench.py [changes]
"""
import pathlib
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
from bass_soak import describe, soak  # noqa: E402


def main():
    changes = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    started = time.monotonic()
    samples = soak(changes, every=25)
    took = time.monotonic() - started
    print(f"{samples[-1]['changes']} song changes in {took:.0f} s "
          f"({took / samples[-1]['changes'] * 1000:.0f} ms a change)")
    print(describe(samples))
    settled = samples[1:]  # from the 50th change on
    for key, unit, scale in (("handles", "", 1), ("threads", "", 1), ("memory", " MiB", 2**20)):
        values = [s[key] / scale for s in settled]
        print(f"{key}: {min(values):.1f} to {max(values):.1f}{unit} "
              f"(median {statistics.median(values):.1f}{unit}; first {values[0]:.1f}, "
              f"last {values[-1]:.1f})")


if __name__ == "__main__":
    main()
