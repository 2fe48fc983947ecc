#!/usr/bin/env python3
"""`make soak`: both players for a long while against the local site, as a user leaves them
playing for an evening, then each started and quit again by the hundred.

    make soak [SOAK_MINUTES=60] [SOAK_STARTS=200]
    python3 tools/sandbox.py --build build/win --prefix-name prefix-soak -- \\
        python3 tools/soak.py --minutes 60 --starts 200 --out build/soak

While both play, about one exchange in ten meets a fault from the fault matrix's rows (song
pages that fail, redirect nowhere or carry hostile names; audio and copies that are reset,
answer 5xx, stop short, trickle or never end), and a driver presses keys at human rates.
Every 10 s each program is sampled (resident memory, handles, threads, GDI and user objects,
CPU) and checked: it runs, its clock moves unless it is paused, every saved copy is the file
the site served under that name, no temporary copy stays behind, nothing lands outside the
save folder. The run's folder gets samples.jsonl, starts.jsonl, the site's request log,
events.jsonl (every fault found, with its screen), summary.json, soak.svg and table.md.
The exit status is 1 when any check failed.
"""
import argparse
import json
import os
import pathlib
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from urllib.parse import unquote

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "bench"))
from bass_driver import BassProbe  # noqa: E402
from catalogue import CA_DIR, HOST_OF, catalogue_site, songs  # noqa: E402
from harness import BUILD, Tuner, program_copy  # noqa: E402
from player_bench import cpu_seconds, memory_kib, pids_where, windows_program  # noqa: E402
from playing import SONG_PATH, played, song_number_on_screen  # noqa: E402
from test_fault_matrix import AUDIO_ROWS, COPY_ROWS, HOSTILE_ROWS, SONG_PAGE_ROWS  # noqa: E402
import soak_report  # noqa: E402

PROGRAMS = ("listen_tuner", "download_tuner")
SAMPLE_SECONDS = 10
LOOK_SECONDS = 0.5          # how often each screen is read
STALL_SECONDS = 30          # a clock that stands this long, unpaused, is a hang
START_TIMEOUT = 40
LATEST = 400                # song numbers on each site; they wrap round the soak's songs
PAGE_SHARE = 0.04           # song numbers whose page carries a fault for the whole run
AUDIO_SHARE = 0.06          # song changes whose audio is hit
COPY_SHARE = 0.10           # copies that are hit
KEYS = ((" ", 1.5), ("backspace", 1.0), ("p", 1.2), ("+", 1.0), ("-", 1.0), ("0", 0.5),
        ("1", 0.5), ("d", 2.5))

# Songs of 20 to 90 s in the players' common formats; each is its own file and size.
STYLES = ("melody", "chords", "drums", "waltz", "arpeggio", "bells")
SOAK_SONGS = tuple(
    songs.Recipe(number=n, title=f"Evening {n}", file_name=f"Evening {n:02d} ({seconds} s).mp3",
                 style=STYLES[(n - 1) % len(STYLES)], seconds=seconds,
                 rate=44100 if n % 3 else 22050, channels=2 if n % 4 else 1,
                 encoding=("-b", "128") if n % 2 else ("-V", "5"),
                 tags="id3v2" if n % 3 else "id3v1+id3v2", seed=n * 7919, key=50 + n)
    for n, seconds in enumerate((20, 27, 33, 41, 48, 55, 62, 70, 77, 84, 90), 1))


class Run:
    """What every part of the soak writes down, and the files it goes into."""

    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.lock = threading.Lock()
        self.failures = []

    def append(self, name, record):
        with self.lock, open(self.folder / name, "a") as f:
            f.write(json.dumps(record) + "\n")

    def event(self, program, kind, failure=True, **details):
        record = dict(program=program, kind=kind, failure=failure, time=time.time(), **details)
        self.append("events.jsonl", record)
        if failure:
            with self.lock:
                self.failures.append(record)
        print(f"[{time.strftime('%H:%M:%S')}] {program}: {kind}"
              + (f" {details.get('what', '')}" if details.get("what") else ""), flush=True)


# --- the site and its faults ------------------------------------------------------------------

def start_site(run):
    catalogue = songs.build_catalogue(BUILD / "soak" / "songs", SOAK_SONGS)
    site = catalogue_site.CatalogueSite(catalogue, CA_DIR / "server.pem", CA_DIR / "server.key",
                                        log_file=run.folder / "requests.jsonl").start()
    for program in PROGRAMS:
        site.set_latest(HOST_OF[program], LATEST)
    return site, {song.number: song for song in catalogue}


def plan_page_faults(site, catalogue, draw):
    """Song numbers whose page is broken (or names its file in a hostile way) for the whole
    run, as pages of a real site are; returns {host: {number: row}}."""
    rows = [(row, kind, params) for row, kind, params, _ in SONG_PAGE_ROWS if kind]
    rows += [(f"hostile name {name[:20]!r}", "song_hostile_name",
              {"name": name, "raw": any(ord(c) < 0x20 for c in name)}) for name in HOSTILE_ROWS]
    plan = {}
    for program in PROGRAMS:
        host = HOST_OF[program]
        other = next(h for h in HOST_OF.values() if h != host)
        plan[host] = {}
        for number in range(1, LATEST + 1):
            if draw.random() >= PAGE_SHARE:
                continue
            row, kind, params = draw.choice(rows)
            if kind == "song_redirect_to":
                params = {"url": site.file_url(other, draw.choice(list(catalogue.values())))}
            site.fault(host, kind, song=number, **params)
            plan[host][number] = row
    return plan


class Dealer(threading.Thread):
    """Hits the next audio or copy exchange with a fault now and then: after a song page of a
    player, its audio with AUDIO_SHARE; after a copy begins, the next copy with COPY_SHARE."""

    def __init__(self, site, draw, stop):
        super().__init__(daemon=True, name="dealer")
        self.site, self.draw, self.stop = site, draw, stop
        self.armed = []

    def run(self):
        seen = 0
        audio = [(row, kind, params) for row, kind, params, _ in AUDIO_ROWS if kind]
        copy = [(row, kind, params) for row, kind, params, _ in COPY_ROWS]
        while not self.stop.wait(0.25):
            new = self.site.requests(since=seen)
            seen += len(new)
            for record in new:
                host, path = record["site_host"], record["path"] or ""
                program = next((p for p in PROGRAMS if HOST_OF[p] == host), None)
                if program is None or not path.startswith(SONG_PATH[program]):
                    continue
                if record["exchange"] == "song_page" and self.draw.random() < AUDIO_SHARE:
                    self.arm(host, self.draw.choice(audio), "library")
                elif record["exchange"] == "copy" and self.draw.random() < COPY_SHARE:
                    self.arm(host, self.draw.choice(copy), "copy")

    def arm(self, host, row, exchange):
        name, kind, params = row
        self.site.fault(host, kind, exchange=exchange, times=1, **params)
        self.armed.append((time.time(), host, name))


def fault_counts(records, host, program):
    """(exchanges, exchanges hit by a fault) of one player: its song changes (song pages over
    plain HTTP) and its copies (song pages over HTTPS); a redirect loop's repeats count once."""
    exchanges = faults = 0
    last_fault_path = None
    for record in records:
        if record["site_host"] != host and record["exchange"] != "copy":
            continue
        path = record["path"] or ""
        page = path.startswith(SONG_PATH[program]) and record["site_host"] == host
        if page and record["exchange"] in ("song_page", "copy"):
            exchanges += 1
        if record["fault"] and record["exchange"] in ("song_page", "copy", "library"):
            if record["exchange"] == "library" and not path.startswith("/files/"):
                continue  # the library's own page request of a song whose page is broken
            if path != last_fault_path or record["exchange"] != "song_page":
                faults += 1
            last_fault_path = path
        elif page:
            last_fault_path = None
    return exchanges, faults


# --- the saved copies -------------------------------------------------------------------------

def name_key(name):
    """Letters and digits only: a hostile name and the name it is saved under agree on them."""
    return re.sub(r"[^A-Za-z0-9]", "", name)


def saved_under(saved, served):
    saved_key, served_key = name_key(saved), name_key(served)
    if saved == served or saved_key == served_key:
        return True
    # A name too long for the folder is cut, its extension kept.
    stem = saved_key[:-3] if saved_key.endswith("mp3") else saved_key
    return len(stem) >= 60 and served_key.startswith(stem)


class CopyChecker:
    """Every file in a save folder must be the last complete copy the site served under its
    name (a failed copy leaves the one before); checked once the file has stood still."""

    def __init__(self, run, program, folder, catalogue):
        self.run, self.program, self.folder, self.catalogue = run, program, folder, catalogue
        self.checked = {}   # name -> (size, mtime) of the version checked
        self.count = 0
        self.wrong = 0
        self.temporary_left = 0
        self._temporary_seen = {}

    def check(self, records, final=False):
        if not self.folder.is_dir():
            return
        served = [r for r in records if r["exchange"] == "copy" and (r["path"] or "").startswith("/files/")
                  and r["status"] == 200 and r["done"]]
        for path in sorted(self.folder.iterdir()):
            if path.is_dir():
                self.run.event(self.program, "a folder inside the save folder", what=path.name)
                continue
            stat = path.stat()
            if path.name.startswith("~copy") and path.name.endswith(".tmp"):
                first = self._temporary_seen.setdefault(path.name, time.time())
                if final or time.time() - first > 60:
                    self.temporary_left += 1
                    self.run.event(self.program, "temporary copy left", what=path.name)
                    path.unlink()
                continue
            if self.checked.get(path.name) == (stat.st_size, stat.st_mtime) or \
                    (not final and time.time() - stat.st_mtime < 3):
                continue
            candidates = [r for r in served if saved_under(path.name, unquote(r["path"][len("/files/"):]))]
            whole = [r for r in candidates if r["song"] in self.catalogue
                     and r["sent"] >= self.catalogue[r["song"]].size]
            data = path.read_bytes()
            if not whole:
                self.wrong += 1
                self.run.event(self.program, "a copy the site never served whole under its name",
                               what=path.name, size=len(data))
            elif not any(data == self.served_copy(r, records, len(data)) for r in whole[-2:]):
                self.wrong += 1
                self.run.event(self.program, "a copy unlike the file served under its name",
                               what=path.name, size=len(data),
                               served=[r["song"] for r in whole[-3:]])
            self.count += 1
            self.checked[path.name] = (stat.st_size, stat.st_mtime)


    def served_copy(self, record, records, length):
        """What a copy of `length` bytes must hold when `record` served it: the song. From a
        body without end, a copy reads as far as the stream's announced size, and that is
        longer than the song only when the site had also announced a wrong length to the
        library for it: then the song and as much of the filler as that length reached."""
        song = self.catalogue[record["song"]].data()
        if record["fault"] != "file_body" or length <= len(song):
            return song
        overstated = any(r["exchange"] == "library" and r["fault"] == "wrong_length"
                         and r["song"] == record["song"] and r["site_host"] == record["site_host"]
                         for r in records)
        filler = catalogue_site.ENDLESS_FILLER
        endless = song + filler * ((length - len(song)) // len(filler) + 1)
        return endless[:length] if overstated else song


def file_listing(folder, skip=()):
    listing = {}
    for path in pathlib.Path(folder).rglob("*"):
        if any(path.is_relative_to(s) for s in skip):
            continue
        try:
            stat = path.stat()
        except OSError:
            continue
        if path.is_file():
            listing[str(path)] = (stat.st_size, stat.st_mtime)
    return listing


# --- one player -------------------------------------------------------------------------------

class Player:
    """One program under the soak: its console, what its screen showed, its key driver."""

    def __init__(self, run, program, scratch, catalogue, draw):
        self.run, self.program = run, program
        self.folder = scratch / program
        self.exe = program_copy(program, self.folder)
        self.save_folder = self.folder / HOST_OF[program]
        self.copies = CopyChecker(run, program, self.save_folder, catalogue)
        self.draw = draw
        self.lock = threading.Lock()   # one request to the console probe at a time
        self.paused = False
        self.quitting = False
        self.songs_played = 0
        self.keys = 0
        self.crashes = 0
        self.hangs = 0
        self.pause_slips = 0
        self.changes = []              # seconds each song change took
        self.last_move = time.monotonic()
        self.clock = None
        self.song = None
        self.stalled = False
        self.tuner = None
        self.cpu = None

    def start(self):
        self.tuner = Tuner(self.program, exe=self.exe).start()
        self.last_move = time.monotonic()

    def press(self, key):
        with self.lock:
            self.tuner.press(key)
        self.keys += 1

    def screen(self):
        with self.lock:
            return self.tuner.screen()

    # -- the driver: a user at the keyboard, a key every few seconds --------------------------
    def drive(self, stop):
        keys, weights = zip(*KEYS)
        while not stop.wait(self.draw.uniform(2.0, 10.0)):
            if self.tuner.exited():
                continue
            if self.paused:
                self.press("p")
                self.paused = False
                self.last_move = time.monotonic()
                continue
            key = self.draw.choices(keys, weights)[0]
            self.press(key)
            if key == "p":
                self.paused = True
            elif key in (" ", "0", "1") and self.draw.random() < 0.3:
                # "d" while the song changes: the copy must belong to one song or none.
                time.sleep(self.draw.uniform(0.05, 0.8))
                self.press("d")

    # -- the watcher: the screen twice a second -----------------------------------------------
    def look(self, site):
        if self.tuner.exited():
            if not self.quitting:
                self.crashes += 1
                self.run.event(self.program, "the program ended", what=str(self.tuner.exit_code(5)),
                               screen=self.tuner.final_screen().text())
                self.tuner.close()
                self.paused = False
                self.start()
            return
        screen = self.screen()
        now = time.monotonic()
        shown = played(screen)
        song = (song_number_on_screen(screen), screen.row(1), screen.row(2)) if shown else None
        if shown is not None and song != self.song:
            if self.song is not None:
                self.changes.append(now - self.last_move)
            self.songs_played += 1
            self.song, self.clock, self.last_move = song, shown.clock, now
        elif shown is not None and shown.clock != self.clock:
            self.clock, self.last_move = shown.clock, now
        if self.paused:
            self.last_move = now
        if now - self.last_move < STALL_SECONDS:
            self.stalled = False
            return
        if self.stalled:
            return
        # Paused without our knowing (a "p" that met a song which failed at once)? "p" again.
        self.press("p")
        time.sleep(2.5)
        after = played(self.screen())
        if after is not None and shown is not None and after.clock != shown.clock:
            self.pause_slips += 1
            self.last_move = time.monotonic()
            return
        self.press("p")
        self.stalled = True
        self.hangs += 1
        recent = [dict(path=r["path"], exchange=r["exchange"], status=r["status"], fault=r["fault"],
                       ago=round(time.time() - r["time"], 1))
                  for r in site.requests(HOST_OF[self.program])[-8:]]
        self.run.event(self.program, "the clock stood still", what=f"{now - self.last_move:.0f} s",
                       screen=screen.text(), requests=recent)

    def sample(self, watcher, started):
        pids = pids_where(windows_program(f"{self.program}.exe"))
        record = {"program": self.program, "seconds": round(time.monotonic() - started, 1),
                  "time": time.time(), "load": os.getloadavg()[0]}
        if not pids:
            return None
        rss, anon = memory_kib(pids[0])
        used, at = cpu_seconds(pids[0]), time.monotonic()
        if self.cpu and self.cpu[0] == pids[0]:
            record["cpu"] = round((used - self.cpu[1]) / (at - self.cpu[2]) * 100, 2)
        self.cpu = (pids[0], used, at)
        answer = watcher.ask(f"watch {self.program}.exe")
        record.update(rss_mib=round(rss / 1024, 2), anon_mib=round(anon / 1024, 2),
                      handles=answer["handles"], threads=answer["threads"],
                      gdi=answer.get("gdi"), user=answer.get("user"))
        return record

    def outside_the_save_folder(self):
        """What lies beside the program besides itself, Bass.dll and the save folder."""
        return sorted(p.name for p in self.folder.iterdir()
                      if p.name not in (self.exe.name, "Bass.dll", self.save_folder.name))

    def quit(self):
        self.quitting = True
        if self.paused:
            self.press("p")
        # A key pressed while the last one is still being drained is lost: "q" again until
        # the program ends.
        code = None
        for _ in range(6):
            time.sleep(0.5)
            self.press("q")
            try:
                code = self.tuner.exit_code(5)
                break
            except TimeoutError:
                continue
        if code is None:
            self.run.event(self.program, "q did not end the program", screen=self.screen().text())
            self.tuner.close()
            return
        final = self.tuner.final_screen().text()
        if code != 0 or final != "Bye....":
            self.run.event(self.program, "quit did not end cleanly", what=f"exit {code}", screen=final)
        self.tuner.close()

    def figures(self, records, folder_new):
        exchanges, faults = fault_counts(records, HOST_OF[self.program], self.program)
        pages = sum(1 for r in records if r["site_host"] == HOST_OF[self.program]
                    and r["exchange"] == "song_page" and (r["path"] or "").startswith(SONG_PATH[self.program]))
        return dict(songs_played=self.songs_played, song_pages=pages, exchanges=exchanges,
                    faults=faults, keys=self.keys, copies_checked=self.copies.count,
                    wrong_copies=self.copies.wrong, crashes=self.crashes, hangs=self.hangs,
                    pause_slips=self.pause_slips,
                    worst_change=max(self.changes, default=0.0),
                    median_change=statistics.median(self.changes) if self.changes else 0.0,
                    temporary_left=self.copies.temporary_left,
                    outside=len(self.outside_the_save_folder()) + folder_new)


# --- the soak ---------------------------------------------------------------------------------

def soak(run, minutes, seed):
    site, catalogue = start_site(run)
    draw = random.Random(seed)
    plan = plan_page_faults(site, catalogue, draw)
    run.append("events.jsonl", {"kind": "page faults", "failure": False,
                                "plan": {h: {str(n): r for n, r in p.items()} for h, p in plan.items()}})
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="soak-"))
    drive_c = pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c"
    before = file_listing(drive_c)
    players = [Player(run, program, scratch, catalogue, random.Random(seed + i))
               for i, program in enumerate(PROGRAMS)]
    stop = threading.Event()
    watcher = BassProbe(bound=False)
    dealer = Dealer(site, draw, stop)
    started = time.monotonic()
    summary = {"minutes": 0, "programs": {}, "seed": seed}
    try:
        for player in players:
            player.start()
        dealer.start()
        drivers = [threading.Thread(target=p.drive, args=(stop,), daemon=True) for p in players]
        for driver in drivers:
            driver.start()
        samples, next_sample, next_report = [], started, started + 300
        while time.monotonic() - started < minutes * 60:
            for player in players:
                player.look(site)
            if time.monotonic() >= next_sample:
                next_sample += SAMPLE_SECONDS
                records = site.requests()
                for player in players:
                    record = player.sample(watcher, started)
                    if record:
                        samples.append(record)
                        run.append("samples.jsonl", record)
                    player.copies.check(records)
                    for name in player.outside_the_save_folder():
                        run.event(player.program, "written beside the program", what=name)
            if time.monotonic() >= next_report and samples:
                next_report += 300
                # Written as it goes: a run cut short still leaves its picture and table.
                summary = summarise(run, players, site, started, 0)
                (run.folder / "summary.json").write_text(json.dumps(summary, indent=1) + "\n")
                soak_report.write(run.folder, samples, summary)
            time.sleep(LOOK_SECONDS)
        stop.set()
        for driver in drivers:
            driver.join(timeout=15)
        for player in players:
            player.quit()
        time.sleep(1)
        records = site.requests()
        for player in players:
            player.copies.check(records, final=True)
        after = file_listing(drive_c)
        new = sorted(set(after) - set(before))
        for path in new:
            run.event("both", "written outside the save folders", what=path)
        summary = summarise(run, players, site, started, len(new))
        if samples:
            soak_report.write(run.folder, samples, summary)
        return summary
    finally:
        stop.set()
        for player in players:
            if player.tuner:
                player.tuner.close()
        watcher.close()
        site.stop()
        shutil.rmtree(scratch, ignore_errors=True)


def summarise(run, players, site, started, outside):
    records = site.requests()
    return {"minutes": (time.monotonic() - started) / 60,
            "programs": {p.program: p.figures(records, outside) for p in players}}


# --- starts by the hundred --------------------------------------------------------------------

def wine_server(action):
    subprocess.run(["wineserver", action], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def one_start(run, site, program, exe, kind, index):
    """Starts the program, waits for its status line, quits it; returns the start's record."""
    host = HOST_OF[program]
    since = site.logged()
    launched_wall, launched = time.time(), time.monotonic()
    tuner = Tuner(program, exe=exe)
    record = {"program": program, "kind": kind, "index": index, "seconds": None}
    try:
        tuner.start()
        record["probe_started"] = round(time.monotonic() - launched, 3)
        deadline = launched + START_TIMEOUT
        while time.monotonic() < deadline and not tuner.exited():
            screen = tuner.screen()
            if played(screen) is not None:
                record["seconds"] = round(time.monotonic() - launched, 3)
                break
            time.sleep(0.05)
        if record["seconds"] is None:
            record["screen"] = tuner.screen().text()
        else:
            tuner.press("q")
            record["exit"] = tuner.exit_code(20)
    except (TimeoutError, AssertionError) as error:
        record["error"] = str(error)[-500:]
    finally:
        tuner.close()
    # When each of its requests reached the site, from the launch on.
    record["requests"] = [[round(r["time"] - launched_wall, 3), r["exchange"], r["path"], r["status"],
                           r["connection"]]
                          for r in site.requests(host, since=since)]
    run.append("starts.jsonl", record)
    if record["seconds"] is None:
        run.event(program, "a start that never reached its status line", what=kind,
                  screen=record.get("screen", ""), requests=record["requests"], error=record.get("error"))
    return record


def starts(run, count, cold_rounds):
    """`cold_rounds` starts each right after Wine's server was stopped (it starts on its own
    with the program), then `count` starts each with the server running."""
    site, _ = start_site(run)
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="soak-starts-"))
    results = {}
    try:
        for program in PROGRAMS:
            exe = program_copy(program, scratch / program)
            cold = []
            for index in range(cold_rounds):
                wine_server("-k")
                time.sleep(1)
                cold.append(one_start(run, site, program, exe, "cold", index))
            wine_server("-p")
            warm = [one_start(run, site, program, exe, "warm", index) for index in range(count)]
            times = [r["seconds"] for r in warm if r["seconds"] is not None]
            results[program] = {
                "reached": f"{len(times)} of {len(warm)}",
                "median": f"{statistics.median(times):.2f}" if times else "n/a",
                "worst": f"{max(times):.2f}" if times else "n/a",
                "cold": ", ".join("never" if r["seconds"] is None else f"{r['seconds']:.2f}" for r in cold)
                        or "n/a"}
            print(f"{program}: {results[program]}", flush=True)
    finally:
        site.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--starts", type=int, default=200)
    parser.add_argument("--cold-starts", type=int, default=3)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--sound", action="store_true",
                        help="a sound server of the run's own, so the players play to a device")
    parser.add_argument("--out", default=str(BUILD.parent / "soak"))
    args = parser.parse_args()
    if not os.environ.get("TUNER_SANDBOX"):
        parser.error("runs inside the sandbox: make soak, or tools/sandbox.py ... -- " + sys.argv[0])
    run = Run(pathlib.Path(args.out) / time.strftime("%Y%m%d-%H%M%S"))
    print(f"soak: {args.minutes:g} minutes, {args.starts} starts each; results in {run.folder}",
          flush=True)
    if args.sound:
        from sound_server import SoundServer
        server = SoundServer()
        os.environ.update(server.client_env())
    load_before = os.getloadavg()
    summary = {"minutes": 0, "programs": {}}
    if args.minutes > 0:
        summary = soak(run, args.minutes, args.seed)
    if args.starts > 0 or args.cold_starts > 0:
        summary["starts"] = starts(run, args.starts, args.cold_starts)
    summary.update(seed=args.seed, load_before=load_before, load_after=os.getloadavg(),
                   failures=len(run.failures))
    (run.folder / "summary.json").write_text(json.dumps(summary, indent=1) + "\n")
    if summary["programs"]:
        samples = soak_report.read_samples(run.folder / "samples.jsonl") \
            if (run.folder / "samples.jsonl").exists() else []
        print(soak_report.write(run.folder, samples, summary))
    elif summary.get("starts"):
        print(soak_report.table({"programs": {}, "minutes": 0, "starts": summary["starts"]}, []))
    print(f"load average {load_before[0]:.2f} before, {os.getloadavg()[0]:.2f} after; "
          f"{len(run.failures)} failed checks; results in {run.folder}", flush=True)
    return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
