"""A player driven through many song changes against the local catalogue site, with the
process's handles, threads and memory read from outside as it goes: by the Bass probe
(handles and threads, as Windows counts them) and from /proc (memory of the Wine process).

The songs come round in the catalogue's order (/order 2 over a long catalogue): one of
every twelve is short and plays to its end, two fail (an error status, an HTML page), and
the rest are skipped by storms of Space presses, some queued together, some one by one.
"""
import os
import pathlib
import random
import time

from bass_driver import BassProbe
from catalogue import HOST_OF, start_site
from harness import Tuner
from playing import song_pages

ENDS = {4}              # "blip.mp3", 3 s: plays to its end
FAILS = {7: ("file_status", {"status": 500}), 9: ("file_body", {"body": "html"})}


def memory_of(program):
    """Resident anonymous memory (bytes) of the program's Wine process, or None."""
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            # Wine names the process after the program's own path (argv[0]).
            command = (entry / "cmdline").read_bytes().split(b"\0")[0]
            if not command.lower().endswith(f"{program}.exe".encode()):
                continue
            for line in (entry / "status").read_text().splitlines():
                if line.startswith("RssAnon:"):
                    return int(line.split()[1]) * 1024
        except OSError:
            continue
    return None


def soak(changes, program="listen_tuner", every=10, seed=1):
    """Plays through `changes` song changes; returns the samples taken every `every` of
    them: dicts of changes, handles, threads, memory (bytes) and seconds since the start."""
    site = start_site()
    host = HOST_OF[program]
    site.set_latest(host, 60000)
    for number, (kind, params) in FAILS.items():
        site.fault(host, kind, song=number, **params)
    watcher = BassProbe(bound=False)
    tuner = Tuner(program, ["/order", "2"]).start()
    keys = random.Random(seed)
    samples = []
    started = time.monotonic()
    try:
        while True:
            pages = song_pages(site, program)
            if len(pages) - 1 >= (len(samples) + 1) * every:
                answer = watcher.ask(f"watch {program}.exe")
                samples.append({"changes": len(pages) - 1, "handles": answer["handles"],
                                "threads": answer["threads"], "memory": memory_of(program),
                                "seconds": time.monotonic() - started})
            if len(pages) > changes:
                break
            if tuner.exited():
                raise AssertionError(f"the player ended after {len(pages)} songs")
            current = pages[-1] if pages else 1
            if (current - 1) % 12 + 1 in ENDS:
                time.sleep(0.05)  # let it play out
                continue
            time.sleep(keys.uniform(0.15, 0.45))
            if keys.random() < 0.5:
                tuner.press(*[" "] * keys.randint(2, 4))  # a storm queued at once
            else:
                tuner.press(" ")
    finally:
        tuner.close()
        watcher.close()
        site.stop()
    return samples


def describe(samples):
    """One line per sample, for a benchmark's or a failing test's output."""
    return "\n".join(f"  after {s['changes']:4d} changes ({s['seconds']:5.1f} s): "
                     f"{s['handles']} handles, {s['threads']} threads, "
                     f"{(s['memory'] or 0) / 2**20:.1f} MiB" for s in samples)
