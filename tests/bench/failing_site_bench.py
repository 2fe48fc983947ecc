"""Both players against a site whose every song fails, printed, never judged: the home page
says 500 songs, every song page answers 404, random order, both players at once (each on its
own site). Counted by the site:

- requests a second over the first 10 s and over the first minute, from the home page on;
- requests a second from the second minute on, and the seconds between tries there;
- then the site comes back just after a try (the worst moment): the seconds from then to
  the next song's "Played:" line, with no key pressed.

    cd tests/e2e && python3 ../../tools/sandbox.py --build ../../build/win -- \\
        python3 ../bench/failing_site_bench.py [minutes]
About MINUTES minutes and half a minute more.
"""
import os
import pathlib
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve()
ROOT = HERE.parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from catalogue import HOST_OF, start_site  # noqa: E402
from harness import BUILD, Tuner  # noqa: E402
from playing import played  # noqa: E402

PROGRAMS = ("listen_tuner", "download_tuner")
LATEST = 500
MINUTES = 3.0


def rate(requests, start, end):
    return sum(start <= r["time"] < end for r in requests) / (end - start)


def tries(requests):
    return [r["time"] for r in requests if r["exchange"] == "song_page"]


def main():
    if not os.environ.get("TUNER_SANDBOX"):
        sandbox = [sys.executable, str(ROOT / "tools" / "sandbox.py"), "--build", str(BUILD), "--",
                   sys.executable, str(HERE)] + sys.argv[1:]
        return subprocess.run(sandbox, cwd=ROOT / "tests" / "e2e").returncode
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else MINUTES
    site = start_site()
    tuners = {}
    try:
        for program in PROGRAMS:
            site.set_latest(HOST_OF[program], LATEST)
            site.fault(HOST_OF[program], "song_status", status=404)
            tuners[program] = Tuner(program).start()
        began = {}
        for program in PROGRAMS:
            home = site.wait_for_request(
                lambda r: r["exchange"] == "home" and r["site_host"] == HOST_OF[program], 60)
            began[program] = home["time"]
        end = {p: began[p] + minutes * 60 for p in PROGRAMS}
        time.sleep(max(0.0, max(end.values()) - time.time()))
        # The site comes back just after each player's next try has failed.
        cleared, recovered = {}, {}
        deadline = time.monotonic() + 120
        while len(recovered) < len(PROGRAMS) and time.monotonic() < deadline:
            for program, tuner in tuners.items():
                host = HOST_OF[program]
                if program not in cleared:
                    after = [r for r in site.requests(host) if r["time"] >= end[program]]
                    if any(r["exchange"] == "library" and r["done"] for r in after):
                        site.clear_faults(host)
                        cleared[program] = time.time()
                elif program not in recovered and played(tuner.screen()):
                    recovered[program] = time.time()
            time.sleep(0.05)
        print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} after; "
              f"{minutes:g} minutes of failing songs, then the site back just after a try")
        print("| program | requests/s, first 10 s | first minute | from the second minute "
              "| s between tries there | site back -> Played: |")
        print("|---|---|---|---|---|---|")
        for program in PROGRAMS:
            start = began[program]
            requests = [r for r in site.requests(HOST_OF[program])
                        if start <= r["time"] < end[program]]
            late = [t for t in tries(requests) if t >= start + 60]
            gaps = [b - a for a, b in zip(late, late[1:])]
            gap = f"{min(gaps):.1f} to {max(gaps):.1f}" if gaps else "-"
            back = (f"{recovered[program] - cleared[program]:.1f} s" if program in recovered
                    else "not within 120 s")
            print(f"| {program} | {rate(requests, start, start + 10):.2f} "
                  f"| {rate(requests, start, start + 60):.2f} "
                  f"| {rate(requests, start + 60, end[program]):.3f} | {gap} | {back} |")
    finally:
        for tuner in tuners.values():
            tuner.close()
        site.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
