"""Song changes at a distance, printed, never judged: both players against the local site at
0 and at 50 ms of round trip (the site's latency option, 25 ms each way, the connect's own
round trip included), with our Bass.dll's test build capturing what it plays:

- launch -> the first song's first played sample (median of LAUNCHES launches);
- Space -> the next song's first played sample (median of SPACES changes);
- per song change, counted by the site: requests, new connections and new TLS connections,
  of the players' own exchange (the song page and the file it redirects to) and of the
  audio library (the stream's page and file);
- where a song change's time goes: Space -> each of those four requests as the site saw
  it, and the first played sample (medians).

    cd tests/e2e && python3 ../../tools/sandbox.py --build ../../build/win -- \\
        python3 ../bench/network_bench.py
"""
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve()
ROOT = HERE.parents[2]
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from player_bench import BENCH_SONGS, PROGRAMS, Capture, Moment, launch, milestones  # noqa: E402
from catalogue import CA_DIR, HOST_OF, catalogue_site, songs  # noqa: E402
from harness import BUILD  # noqa: E402

ROUND_TRIPS = (0.0, 0.050)  # seconds
LAUNCHES = 3
SPACES = 5
WHO = {"song_page": "player", "library": "library"}
STEPS = ("song page", "redirect target", "stream's page", "stream's file", "first sample")


def change_counts(requests, known):
    """{who: [requests, new connections, new TLS connections]} of one song change's
    requests; `known` holds the connections seen before and is brought up to date."""
    counts = {who: [0, 0, 0] for who in WHO.values()}
    for request in requests:
        who = WHO.get(request["exchange"])
        if who is None:
            continue
        counts[who][0] += 1
        key = (request["port"], request["connection"])
        if key not in known:
            known.add(key)
            counts[who][1] += 1
            counts[who][2] += 1 if request["tls"] else 0
    return counts


def bench_program(program, site, scratch):
    host = HOST_OF[program]
    firsts = []
    for number in range(1, LAUNCHES + 1):
        folder = scratch / f"{program}-{number}"
        tuner, marks = launch(program, folder, site)
        firsts.append(marks.get("first sample"))
        if number < LAUNCHES:
            tuner.close()
    spaces, changes, timelines = [], [], []
    try:
        time.sleep(1.0)  # the first song's file is all here, its connection idle
        known = {(r["port"], r["connection"]) for r in site.requests(host)}
        for number in range(2, 2 + SPACES):
            seen = len(site.requests(host))
            tuner.press(" ")
            pressed = Moment()
            first = Capture(folder / f"song-{number}.wav").watch(seconds_of_audio=0.6, timeout=15)
            spaces.append(first - pressed.monotonic if first else None)
            time.sleep(1.0)  # the stream's download is over before the next change
            changes.append(change_counts(site.requests(host)[seen:], known))
            timelines.append(milestones(site, program, pressed, first))
    finally:
        tuner.close()
    return firsts, spaces, changes, timelines


def median_ms(values):
    values = [v for v in values if v is not None]
    return "%.0f" % (statistics.median(values) * 1000) if values else "-"


def per_change(changes, who, index):
    return "%.1f" % (sum(c[who][index] for c in changes) / len(changes)) if changes else "-"


def main():
    if not os.environ.get("TUNER_SANDBOX"):
        sandbox = [sys.executable, str(ROOT / "tools" / "sandbox.py"), "--build", str(BUILD), "--",
                   sys.executable, str(HERE)]
        return subprocess.run(sandbox, cwd=ROOT / "tests" / "e2e").returncode
    bench_songs = songs.build_catalogue(BUILD / "bench" / "songs", BENCH_SONGS)
    scratch = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / "network-bench"
    rows = []
    try:
        for round_trip in ROUND_TRIPS:
            site = catalogue_site.CatalogueSite(bench_songs, CA_DIR / "server.pem",
                                                CA_DIR / "server.key", latency=round_trip / 2)
            site.start()
            try:
                for program in PROGRAMS:
                    folder = scratch / f"{round_trip * 1000:.0f}ms"  # captures of its own
                    rows.append((program, round_trip, *bench_program(program, site, folder)))
            finally:
                site.stop()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} after; medians of "
          f"{LAUNCHES} launches and {SPACES} song changes each; per change: requests / new "
          "connections / new TLS connections")
    print("| program | round trip | launch -> first sample | Space -> first sample "
          "| player's requests / new / TLS | library's requests / new / TLS |")
    print("|---|---|---|---|---|---|")
    for program, round_trip, firsts, spaces, changes, _ in rows:
        counts = {who: " / ".join(per_change(changes, who, i) for i in range(3))
                  for who in ("player", "library")}
        print(f"| {program} | {round_trip * 1000:.0f} ms | {median_ms(firsts)} ms "
              f"| {median_ms(spaces)} ms | {counts['player']} | {counts['library']} |")
    print()
    print("Space -> each step of a song change, as the site saw the requests (medians, ms)")
    print("| program | round trip | " + " | ".join(STEPS) + " |")
    print("|---|---|" + "---|" * len(STEPS))
    for program, round_trip, _, _, _, timelines in rows:
        cells = [median_ms([t.get(step) for t in timelines]) for step in STEPS]
        print(f"| {program} | {round_trip * 1000:.0f} ms | " + " | ".join(cells) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
