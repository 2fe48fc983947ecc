"""Figures of the players under Wine, printed, never judged, side by side with mpg123
playing the same HTTPS file from the same site:

- launch -> first played sample: from the console probe's CreateProcess (the program's
  launch) to the first sample of the first song's capture, home page, song page and the
  pause before opening the stream included;
- CPU share of one core while playing (the program's Wine process; the wineserver, the
  console host and the console probe separately), and the program's resident memory; the
  same for `cmd /c pause` under the same probe, which shows what Wine and the harness cost
  by themselves;
- Space -> first sample of the next song, "p" -> silence. A key counts as pressed when the
  probe answers that it is in the console's input queue (it answers right after queuing it);
- console calls per pass of the player loop, counted from outside through Wine's relay
  debug channel (console_calls.py), in a launch of their own (the relay slows the calls);
- at the end, the figures side by side as a Markdown table, ready for BENCHMARKS.md: the
  whole footprint while playing (program, wineserver and console host) less the same for
  `cmd /c pause`, which is what Wine, the console and the harness cost by themselves.

    cd tests/e2e && python3 ../../tools/sandbox.py --build ../../build/win -- \\
        python3 ../bench/player_bench.py
(run outside the sandbox, the script installs mpg123 if missing and goes into the sandbox
itself). About a minute and a half; everything it starts ends by itself.

How a sample counts as played: Bass.dll runs on its silent clock (the sandbox has no sound
device) and, in its test build, writes exactly the samples the clock passes to a capture
file per stream (TUNER_BASS_CAPTURE). The file is written through a C runtime buffer
(4 KiB) and flushed every 250 ms, so it grows in steps behind the clock. Since the silent clock lets samples through in real time, a capture seen
holding d bytes at time t was started no later than t - d / bytes per second; the earliest
such bound over the first stretch of growth is the moment of the first played sample.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import time

import console_calls
from player_report import REFERENCE, report

HERE = pathlib.Path(__file__).resolve()
ROOT = HERE.parents[2]
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from catalogue import CA_DIR, HOST_OF, catalogue_site, songs  # noqa: E402
from harness import BUILD, Tuner, program_copy, windows_path  # noqa: E402
from playing import SONG_PATH  # noqa: E402

PROGRAMS = ("listen_tuner", "download_tuner")
LAUNCHES = 4          # per program
SPACES = 5
PAUSES = 5
CPU_SECONDS = 10.0
RELAY_SECONDS = 4.0   # of playing, for the console calls
MPG123_LAUNCHES = 4
POLL = 0.001          # seconds between looks at a capture file
WAV_HEADER = 44
TICKS = os.sysconf("SC_CLK_TCK")
LOAD_BEFORE = [0.0]  # the machine is shared: the figures mean more next to its load

# 128 kbps, 44.1 kHz stereo: the common case, long enough for the CPU stretch and the
# Space and pause rounds within one song each.
STYLES = ("melody", "chords", "drums", "waltz", "arpeggio", "bells", "melody")
BENCH_SONGS = tuple(
    songs.Recipe(number=n, title=f"Bench {n}", file_name=f"bench {n}.mp3", style=STYLES[n - 1],
                 seconds=30, rate=44100, channels=2, encoding=("-b", "128"), tags="id3v2",
                 seed=n * 7919, key=55 + n)
    for n in range(1, SPACES + 3))


# --- looking at the processes -------------------------------------------------------------

def live_processes():
    """(pid, comm, argv) of every process that has not ended."""
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            stat = (entry / "stat").read_text()
            argv = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if stat[stat.rindex(")") + 2] == "Z" or argv == [b""]:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        yield int(entry.name), comm, [a.decode(errors="replace") for a in argv if a]


def pids_where(predicate):
    return [pid for pid, comm, argv in live_processes() if predicate(comm, argv)]


def windows_program(name):
    """Wine names a process after its Windows path (the console probe that started it only
    carries that path as an argument)."""
    return lambda comm, argv: bool(argv) and argv[0].replace("/", "\\").lower().endswith(
        "\\" + name.lower())


def is_wineserver(comm, argv):
    return comm.startswith("wineserver")


def cpu_seconds(pid, thread=None):
    """utime + stime of a process (all its threads, ended ones too) or of one thread."""
    path = f"/proc/{pid}/task/{thread}/stat" if thread else f"/proc/{pid}/stat"
    try:
        fields = pathlib.Path(path).read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / TICKS


def threads(pid):
    """Thread ids of a process (Wine leaves them unnamed)."""
    try:
        return [int(task.name) for task in pathlib.Path(f"/proc/{pid}/task").iterdir()]
    except OSError:
        return []


def memory_kib(pid):
    """(VmRSS, RssAnon) in KiB."""
    values = {}
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, rest = line.partition(":")
        if key in ("VmRSS", "RssAnon"):
            values[key] = int(rest.split()[0])
    return values.get("VmRSS", 0), values.get("RssAnon", 0)


def cpu_shares(groups, seconds):
    """Per group name (a list of pids, or of (pid, thread id) pairs), the share of one core
    in % over `seconds`."""
    def used(members):
        return sum(cpu_seconds(*m) if isinstance(m, tuple) else cpu_seconds(m) for m in members)

    before = {name: used(members) for name, members in groups.items()}
    began = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - began
    return {name: (used(members) - before[name]) / wall * 100 for name, members in groups.items()}


# --- capture files --------------------------------------------------------------------------

class Capture:
    """One stream's capture file, looked at every millisecond: (time, data bytes) whenever
    its size changes."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self.seen = []
        self.bytes_per_second = 0

    def size(self):
        try:
            return self.path.stat().st_size
        except FileNotFoundError:
            return -1

    def look(self):
        size = self.size()
        if size >= WAV_HEADER and not self.bytes_per_second:
            header = self.path.read_bytes()[:WAV_HEADER]
            self.bytes_per_second = int.from_bytes(header[28:32], "little")
        data = max(size - WAV_HEADER, 0) if size >= 0 else -1
        if not self.seen or self.seen[-1][1] != data:
            self.seen.append((time.monotonic(), data))
        return data

    def watch(self, seconds_of_audio, timeout):
        """Looks until the file holds `seconds_of_audio` or `timeout` passes; returns the
        moment of its first played sample, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            data = self.look()
            if self.bytes_per_second and data >= seconds_of_audio * self.bytes_per_second:
                break
            time.sleep(POLL)
        return self.started()

    def started(self, since=0.0):
        """The earliest moment the played samples seen after `since` allow for their
        first one (see the module's notes)."""
        if not self.bytes_per_second:
            return None
        bounds = [t - d / self.bytes_per_second for t, d in self.seen if d > 0 and t >= since]
        return min(bounds) if bounds else None

    def watch_until_still(self, quiet, timeout):
        """Looks until the size has not changed for `quiet` seconds; returns the moment of
        its last change."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.look()
            if time.monotonic() - self.seen[-1][0] >= quiet:
                break
            time.sleep(POLL)
        return self.seen[-1][0]


class TimedTuner(Tuner):
    """The harness's player with the probe's answers looked for every millisecond, so the
    moment `start()` or `press()` returns is within about a millisecond of the launch or the
    key reaching the console's input queue."""

    poll_seconds = POLL


# --- the players ----------------------------------------------------------------------------

MILESTONES = ("home page", "song page", "redirect target", "stream's page", "stream's file",
              "first sample")


class Moment:
    """One moment on both clocks: the capture files are timed on the monotonic clock, the
    site's request log on the wall clock."""

    def __init__(self):
        self.monotonic, self.wall = time.monotonic(), time.time()


def milestones(site, program, since, first):
    """Seconds after the Moment `since` at which the site saw, in order: the home page, the
    catalogue client's song page (plain HTTP) and the redirect target it followed, then the
    audio library's request for the song page and for the file; and the first played sample."""
    marks = {}
    for request in site.requests(HOST_OF[program]):
        path, at = request["path"] or "", request["time"] - since.wall
        if at < 0:
            continue
        if path in ("/", "/index.html", "/index.php"):
            name = "home page"
        elif path.startswith(SONG_PATH[program]):
            name = "stream's page" if request["tls"] else "song page"
        elif path.startswith("/files/"):
            name = "stream's file" if "stream's page" in marks else "redirect target"
        else:
            continue
        marks.setdefault(name, at)
    if first is not None:
        marks["first sample"] = first - since.monotonic
    return marks


def launch(program, folder, site):
    """A running player and the milestones from its launch to its first played sample."""
    folder.mkdir(parents=True, exist_ok=True)
    # The test build's Bass.dll, which writes what it plays.
    env = {"TUNER_BASS_CAPTURE": windows_path(folder / "song.wav")}
    exe = program_copy(program, folder / "program", test_build=True)
    tuner = TimedTuner(program, ["/order", "2"], env=env, exe=exe)
    tuner.start()
    launched = Moment()
    first = Capture(folder / "song-1.wav").watch(seconds_of_audio=1.0, timeout=30)
    return tuner, milestones(site, program, launched, first)


def space_rounds(tuner, folder, site, program):
    """The milestones from each Space to the next song's first played sample."""
    rounds = []
    for number in range(2, 2 + SPACES):
        tuner.press(" ")
        pressed = Moment()
        first = Capture(folder / f"song-{number}.wav").watch(seconds_of_audio=0.6, timeout=15)
        rounds.append(milestones(site, program, pressed, first))
    return rounds


def pause_rounds(tuner, capture):
    """For each "p": (seconds until the capture stops growing, seconds until the moment its
    played sample count ends at)."""
    results = []
    for _ in range(PAUSES):
        capture.watch(seconds_of_audio=1e9, timeout=0.7)  # playing: growth to anchor the clock
        anchor_since = time.monotonic() - 0.7
        tuner.press("p")
        pressed = time.monotonic()
        last_change = capture.watch_until_still(quiet=0.35, timeout=3)
        started = capture.started(since=anchor_since)
        final = capture.seen[-1][1]
        by_count = started + final / capture.bytes_per_second - pressed if started else None
        results.append((last_change - pressed, by_count))
        tuner.press("p")
    return results


def running_costs(exe):
    """CPU shares over CPU_SECONDS of the program's Wine process, the wineserver, the console
    host and the console probe; then the program's (VmRSS, RssAnon)."""
    pid = pids_where(windows_program(exe))
    groups = {"program": pid, "wineserver": pids_where(is_wineserver),
              "conhost": pids_where(windows_program("conhost.exe")),
              "probe": pids_where(windows_program("console_probe.exe"))}
    for thread in threads(pid[0]) if pid else ():
        # Wine's first thread of a process is the program's main thread.
        groups[f"thread {'main' if thread == pid[0] else thread}"] = [(pid[0], thread)]
    shares = cpu_shares(groups, CPU_SECONDS)
    return (shares, *memory_kib(pid[0])) if pid else (shares, 0, 0)


def idle_console_program(figures):
    """The same costs for a console program that only waits for a key (cmd /c pause) under
    the same probe: what Wine and the harness cost by themselves."""
    cmd = pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c" / "windows" / "system32" / "cmd.exe"
    tuner = TimedTuner("cmd", ["/c", "pause"], exe=cmd).start()
    try:
        time.sleep(0.5)
        shares, rss, anon = running_costs("cmd.exe")
    finally:
        tuner.close()
    figures["cmd /c pause"] = dict(shares=shares, rss=rss, anon=anon)


def reference_loop(figures):
    """The same for the cheapest loop that draws what the players draw (one look at the
    keyboard and one write of the rows every 15 ms, tests/bench/helpers/console_loop):
    how close the players come to it."""
    tuner = TimedTuner("console_loop", ["60"], exe=BUILD / "tests" / "console_loop.exe").start()
    try:
        time.sleep(0.5)
        shares, rss, anon = running_costs("console_loop.exe")
    finally:
        tuner.close()
    figures[REFERENCE] = dict(shares=shares, rss=rss, anon=anon)


def console_calls_per_pass(program, folder):
    """(passes counted, {entry: calls per pass}) of the player loop while a song plays."""
    folder.mkdir(parents=True, exist_ok=True)
    with console_calls.relay() as relay_env:
        tuner = TimedTuner(program, ["/order", "2"], env=relay_env).start()
        try:
            tuner.wait_until(lambda s: s.find("Played:"), 30, "the Played: line")
            time.sleep(RELAY_SECONDS)
            log = (tuner.folder / "stderr").read_text(errors="replace")
        finally:
            tuner.close()
    return console_calls.calls_per_pass(log)


def bench_program(program, scratch, site, figures):
    launches, tuner = [], None
    for round_number in range(1, LAUNCHES + 1):
        folder = scratch / f"{program}-{round_number}"
        tuner, marks = launch(program, folder, site)
        launches.append(marks)
        if round_number < LAUNCHES:
            tuner.close()
    try:
        shares, rss, anon = running_costs(f"{program}.exe")
        spaces = space_rounds(tuner, folder, site, program)
        pauses = pause_rounds(tuner, Capture(folder / f"song-{1 + SPACES}.wav"))
    finally:
        tuner.close()
    figures[program] = dict(launches=launches, shares=shares, rss=rss, anon=anon, spaces=spaces,
                            pauses=pauses, calls=console_calls_per_pass(program, scratch / "relay"))


# --- mpg123 -----------------------------------------------------------------------------------

def ensure_mpg123():
    """Installs mpg123 when missing (only possible outside the sandbox, which has no network)."""
    if not shutil.which("mpg123"):
        subprocess.run([str(ROOT / "tools" / "install_deps.sh"), "mpg123"])


def mpg123_command(url):
    # mpg123's own HTTP client speaks no TLS; for https it hands the transfer to curl.
    return ["mpg123", "-q", "--network", "curl", "-s", url]


def mpg123_first_sample(url):
    began = time.monotonic()
    process = subprocess.Popen(mpg123_command(url), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    try:
        first = process.stdout.read1(65536)
        return time.monotonic() - began if first else None
    finally:
        process.kill()
        process.wait()


def mpg123_playing(url, song):
    """Plays into a pipe read at the song's real rate (the pipe standing in for a sound
    device); returns the CPU shares of mpg123 and of its curl, and mpg123's memory."""
    process = subprocess.Popen(mpg123_command(url), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    bytes_per_second = song.sample_rate * song.channels * 2
    try:
        got = len(process.stdout.read1(65536))
        began = time.monotonic()
        time.sleep(0.5)
        curl = pids_where(lambda comm, argv: comm == "curl")
        groups = {"mpg123": [process.pid], "curl": curl}
        before = {name: sum(cpu_seconds(p) for p in pids) for name, pids in groups.items()}
        measured_from = time.monotonic()
        while time.monotonic() - measured_from < CPU_SECONDS:
            due = int((time.monotonic() - began) * bytes_per_second) - got
            if due > 0:
                got += len(process.stdout.read1(min(due, 65536)))
            time.sleep(0.01)
        wall = time.monotonic() - measured_from
        shares = {name: (sum(cpu_seconds(p) for p in pids) - before[name]) / wall * 100
                  for name, pids in groups.items()}
        rss, anon = memory_kib(process.pid)
        return shares, rss, anon
    finally:
        process.kill()
        process.wait()


def main():
    if not os.environ.get("TUNER_SANDBOX"):
        ensure_mpg123()
        sandbox = [sys.executable, str(ROOT / "tools" / "sandbox.py"), "--build", str(BUILD), "--",
                   sys.executable, str(HERE)]
        return subprocess.run(sandbox, cwd=ROOT / "tests" / "e2e").returncode
    LOAD_BEFORE[:] = os.getloadavg()
    bench_songs = songs.build_catalogue(BUILD / "bench" / "songs", BENCH_SONGS)
    site = catalogue_site.CatalogueSite(bench_songs, CA_DIR / "server.pem", CA_DIR / "server.key")
    site.start()
    scratch = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / "player-bench"
    figures, mpg123 = {}, None
    try:
        idle_console_program(figures)
        reference_loop(figures)
        for program in PROGRAMS:
            bench_program(program, scratch, site, figures)
        if shutil.which("mpg123"):
            url = site.file_url(HOST_OF["listen_tuner"], bench_songs[0])
            firsts = [mpg123_first_sample(url) for _ in range(MPG123_LAUNCHES)]
            mpg123 = (firsts, *mpg123_playing(url, bench_songs[0]))
    finally:
        site.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{os.cpu_count()} cores, load average {LOAD_BEFORE[0]:.2f} before, "
          f"{os.getloadavg()[0]:.2f} after; Bass.dll on its silent clock; the site's "
          "sockets without Nagle's algorithm")
    report(figures, mpg123, MILESTONES, CPU_SECONDS)

    return 0


if __name__ == "__main__":
    sys.exit(main())
