"""Figures of our Bass.dll on loopback, printed, never judged:
time from BASS_StreamCreateURL to the first played sample, CPU share of one core while a
128 kbps song plays, and memory per stream against the file size.

    python3 tools/sandbox.py --build build/win -- python3 tests/bench/bass_streams_bench.py
(or outside the sandbox, over plain HTTP on 127.0.0.1)."""
import math
import pathlib
import statistics
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
from bass_driver import BassProbe  # noqa: E402
from bass_fixtures import FixtureSite, RATE, encode, write_wav  # noqa: E402


def main():
    folder = pathlib.Path(tempfile.mkdtemp(prefix="bass-bench-"))
    wav = folder / "song.wav"
    write_wav(wav, 60, lambda n: int(12000 * math.sin(2 * math.pi * 330 * n / RATE)
                                     + 6000 * math.sin(2 * math.pi * 1234 * n / RATE)))
    encode(wav, folder / "song.mp3", "-b", "128")
    size = (folder / "song.mp3").stat().st_size
    site = FixtureSite(folder)
    base = site.https or site.http
    url = f"{base}/songs/song.mp3"
    probe = BassProbe()
    try:
        probe.ask("init")
        probe.ask(f"open {url}")  # warms up WinHTTP and the codec
        probe.ask("free")
        firsts = []
        for _ in range(10):
            firsts.append(probe.ask(f"firstsample {url}")["first_ms"])
            probe.ask("free")
        print(f"first played sample after create: median {statistics.median(firsts):.1f} ms, "
              f"worst {max(firsts):.1f} ms ({base.split(':')[0]}, target < 100 ms)")

        def resident():
            # Wine does not count private bytes; the kernel's resident set of the process does.
            for line in pathlib.Path(f"/proc/{probe.process.pid}/status").read_text().splitlines():
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
            return 0

        probe.ask("wait 500")
        before = resident()
        probe.ask(f"open {url}")
        probe.ask("play 1")
        usage = probe.ask("usage 5000")
        share = usage["cpu_ms"] / usage["wall_ms"] * 100
        print(f"CPU while playing 128 kbps: {share:.2f} % of one core "
              f"(whole process under Wine, target < 1 %)")
        after = resident()
        print(f"memory per stream: {(after - before) / 1e6:.2f} MB for a {size / 1e6:.2f} MB file, "
              f"{(after - before - size) / 1e6:.2f} MB beyond it (target < 2 MB)")
        probe.ask("free")
        print("decode speed: not measured (the library offers no decode-only channel to time)")
    finally:
        probe.close()
        site.close()


if __name__ == "__main__":
    main()
