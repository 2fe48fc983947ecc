"""The demo as a user meets it: `tools/demo.py` (what `make demo` runs) in a terminal plays
the demo catalogue, takes keys and leaves nothing behind; the demo songs; and what a Windows
user gets: version resources, manifests and the zip of `make dist`."""
import array
import itertools
import math
import os
import pathlib
import random
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
import xml.etree.ElementTree as ElementTree
import zipfile

from harness import BUILD
from sound_server import SoundServer

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tools"))
import demo_songs  # noqa: E402
import dist  # noqa: E402
from synth import arrange, genres, instruments, melody, mixing, theory  # noqa: E402

DEMO = SOURCE / "tools" / "demo.py"
BUILD_X86 = BUILD.with_name(BUILD.name + "-x86")  # the 32-bit tree beside it, as `make` puts it
# What each zip is packed from.
TREES = {"win64": BUILD, "win32": BUILD_X86}
SONG_CACHE = BUILD / "demo" / "songs"
# The first run of the demo may have to make its songs (a few minutes on a busy machine).
FIRST_SONG_SECONDS = 900
PLAYED = re.compile(r"Played:\s+(\d+\.\d+) % / (\d+\.\d+) s / (\d+):(\d\d):(\d\d):(\d\d\d)")


def played_milliseconds(text):
    match = PLAYED.search(text)
    if not match:
        return None
    hours, minutes, seconds, millis = (int(g) for g in match.groups()[2:])
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis


# --- what runs ----------------------------------------------------------------------------

def demo_traces():
    """(pids of processes that belong to a demo, the network and mount namespaces in use)."""
    pids, namespaces = set(), set()
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            for kind in ("net", "mnt"):
                namespaces.add(os.readlink(entry / "ns" / kind))
            command = (entry / "cmdline").read_bytes()
            environment = (entry / "environ").read_bytes()
        except OSError:  # gone meanwhile
            continue
        program = pathlib.Path(command.split(b"\0")[0].decode(errors="replace")).name
        runs_demo = program.startswith("python") and (b"tools/demo.py" in command
                                                      or b"--catalogue\0demo" in command)
        if runs_demo or b"prefix-demo" in environment:
            pids.add((int(entry.name), command.replace(b"\0", b" ").decode(errors="replace")))
    return pids, namespaces


def listening(address, port):
    try:
        with socket.create_connection((address, port), timeout=1):
            return True
    except OSError:
        return False


class DemoInTerminal:
    """tools/demo.py in a tmux terminal, read from the terminal as a user sees it."""

    def __init__(self, tuner, args, env=None):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="demo-run-"))
        self.session = "demo-" + uuid.uuid4().hex[:8]
        command = [sys.executable, str(DEMO), "--build", str(BUILD), "--tuner", tuner, "--"]
        command += args
        shell = " ".join("'%s'" % c for c in command)
        # Silent even on a machine with a sound server, unless a test brings its own: with
        # no server to reach, the player plays on its silent clock.
        env = env or {"PULSE_SERVER": "unix:/nonexistent/native"}
        settings = [item for key, value in env.items() for item in ("-e", f"{key}={value}")]
        subprocess.run(["tmux", "-L", self.session, "new-session", "-d", "-s", self.session,
                        "-x", "110", "-y", "30", *settings,
                        f"{shell} 2>{self.folder}/stderr; echo $? >{self.folder}/exit; "
                        "sleep 60"], check=True)

    def text(self):
        return subprocess.run(["tmux", "-L", self.session, "capture-pane", "-p", "-t",
                               self.session], capture_output=True, text=True).stdout

    def wait_until(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while True:
            text = self.text()
            if predicate(text):
                return text
            if (self.folder / "exit").exists() or time.monotonic() > deadline:
                raise AssertionError(f"{what} not seen within {timeout} s; terminal:\n{text}\n"
                                     f"stderr: {self.stderr()}")
            time.sleep(0.2)

    def type(self, text):
        subprocess.run(["tmux", "-L", self.session, "send-keys", "-t", self.session, "-l", text],
                       check=True)

    def exit_code(self, timeout):
        deadline = time.monotonic() + timeout
        while not (self.folder / "exit").exists():
            if time.monotonic() > deadline:
                raise AssertionError(f"the demo did not end; terminal:\n{self.text()}")
            time.sleep(0.1)
        time.sleep(0.1)
        return int((self.folder / "exit").read_text().strip())

    def stderr(self):
        path = self.folder / "stderr"
        return path.read_text(errors="replace")[-2000:] if path.exists() else ""

    def close(self):
        subprocess.run(["tmux", "-L", self.session, "kill-server"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        if self.folder.exists():
            for path in self.folder.iterdir():
                path.unlink()
            self.folder.rmdir()


class TheDemo(unittest.TestCase):
    def run_demo(self, tuner, args, env=None):
        demo = DemoInTerminal(tuner, args, env)
        self.addCleanup(demo.close)
        return demo

    def test_the_demo_plays_through_the_users_sound_server(self):
        server = SoundServer()
        self.addCleanup(server.close)
        # Where a desktop session keeps it: $XDG_RUNTIME_DIR/pulse/native.
        runtime = pathlib.Path(tempfile.mkdtemp(prefix="runtime-", dir=server.folder))
        (runtime / "pulse").mkdir()
        (runtime / "pulse" / "native").symlink_to(server.socket)
        recording = server.record()
        demo = self.run_demo("listen_tuner", ["/order", "2"], {"XDG_RUNTIME_DIR": str(runtime)})
        demo.wait_until(lambda t: PLAYED.search(t), FIRST_SONG_SECONDS, "the first song")
        deadline = time.monotonic() + 10
        while not server.playing_clients():
            self.assertLess(time.monotonic(), deadline, "no stream reached the sound server")
            time.sleep(0.1)
        time.sleep(2)
        samples = recording.stop()
        self.assertGreater(rms(samples[-2 * 44100:]), 100, "the sound server hears silence")
        demo.type("q")
        self.assertEqual(demo.exit_code(30), 0, demo.stderr())

    def test_listen_tuner_plays_skips_saves_and_quits_leaving_nothing(self):
        pids_before, namespaces_before = demo_traces()
        self.assertEqual(pids_before, set(), "a demo is already running")
        listen = demo_songs.recipes("listen.tuner.test")
        saved = BUILD / "bin" / "listen.tuner.test" / listen[1].file_name
        had_copy = saved.exists()
        if not had_copy:
            self.addCleanup(lambda: saved.unlink(missing_ok=True))

        # Oldest first: song 1, then song 2, whatever the random seed.
        demo = self.run_demo("listen_tuner", ["/order", "2", "/nolevel"])
        text = demo.wait_until(lambda t: PLAYED.search(t), FIRST_SONG_SECONDS, "the first song")
        self.assertIn("URL:     https://listen.tuner.test/listen/1", text)
        self.assertIn(f"Playing: {listen[0].file_name}", text)
        for label in ("Bitrate: ", "Size:    ", "Length:  "):
            self.assertIn(label, text)
        running_pids, running_namespaces = demo_traces()
        self.assertTrue(running_pids, "the demo's processes are not found while it runs")
        self.assertTrue(running_namespaces - namespaces_before,
                        "the demo runs without namespaces of its own")

        first = played_milliseconds(text)
        moved = demo.wait_until(lambda t: (played_milliseconds(t) or 0) > first + 500, 10,
                                "the Played: line moving")
        self.assertRegex(moved, r"Played:.*/ volume: \d+")

        demo.type(" ")
        demo.wait_until(lambda t: f"Playing: {listen[1].file_name}" in t, 30, "the next song")
        self.assertIn("URL:     https://listen.tuner.test/listen/2", demo.text())

        demo.type("d")
        deadline = time.monotonic() + 30
        wanted = (SONG_CACHE / "listen.tuner.test" / listen[1].file_name).read_bytes()
        while not (saved.exists() and saved.stat().st_size == len(wanted)):
            self.assertLess(time.monotonic(), deadline, f"no saved copy at {saved}")
            time.sleep(0.2)
        self.assertEqual(saved.read_bytes(), wanted)

        demo.type("q")
        self.assertEqual(demo.exit_code(30), 0, demo.stderr())
        self.assertNothingLeft(namespaces_before)

    def test_closing_the_terminal_ends_the_site_wine_and_the_sandbox(self):
        _, namespaces_before = demo_traces()
        demo = self.run_demo("listen_tuner", [])
        demo.wait_until(lambda t: PLAYED.search(t), FIRST_SONG_SECONDS, "the first song")
        demo.close()  # the terminal goes away: everything in it is hung up on
        deadline = time.monotonic() + 15
        while demo_traces()[0] and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertNothingLeft(namespaces_before)

    def assertNothingLeft(self, namespaces_before):
        pids_after, namespaces_after = demo_traces()
        self.assertEqual(pids_after, set(), "demo processes left behind")
        self.assertLessEqual(namespaces_after, namespaces_before,
                             "the demo's network or mount namespace is still held")
        with open("/proc/self/mountinfo") as mounts:
            self.assertNotIn("tuner-demo-", mounts.read())
        scratch = pathlib.Path(tempfile.gettempdir())
        self.assertEqual(list(scratch.glob("tuner-demo-*")), [])
        for address in ("127.0.0.2", "127.0.0.3"):
            for port in (80, 443):
                self.assertFalse(listening(address, port), f"{address}:{port} still listens")

    def test_download_tuner_runs_through_the_same_entry_point(self):
        latest = demo_songs.recipes("download.tuner.test")[-1]
        demo = self.run_demo("download_tuner", ["/order", "1"])
        text = demo.wait_until(lambda t: PLAYED.search(t), FIRST_SONG_SECONDS, "the first song")
        self.assertIn(f"https://download.tuner.test/download.php/{latest.number}", text)
        self.assertIn(f"Playing: {latest.file_name}", text)
        demo.type("q")
        self.assertEqual(demo.exit_code(30), 0, demo.stderr())
        self.assertEqual(demo_traces()[0], set())


# --- the songs ----------------------------------------------------------------------------

def id3v2_frames(data):
    """{frame id: text} of an ID3v2.3/2.4 tag's text frames."""
    if data[:3] != b"ID3":
        return {}
    size = sum((b & 0x7F) << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
    version = data[3]
    frames, offset = {}, 10
    while offset + 10 <= 10 + size and data[offset:offset + 4].strip(b"\0"):
        name = data[offset:offset + 4].decode("latin-1")
        raw = data[offset + 4:offset + 8]
        length = (sum((b & 0x7F) << (7 * (3 - i)) for i, b in enumerate(raw)) if version == 4
                  else struct.unpack(">I", raw)[0])
        body = data[offset + 10:offset + 10 + length]
        if name.startswith("T") and body:
            encoding = {0: "latin-1", 1: "utf-16", 2: "utf-16-be", 3: "utf-8"}[body[0]]
            frames[name] = body[1:].decode(encoding).rstrip("\0")
        offset += 10 + length
    return frames


class DemoCatalogue(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.catalogue = demo_songs.build(SONG_CACHE)

    def test_each_site_has_two_dozen_songs_of_20_to_90_seconds(self):
        for host, songs in self.catalogue.items():
            with self.subTest(host=host):
                self.assertEqual([s.number for s in songs], list(range(1, 25)))
                for song in songs:
                    self.assertGreaterEqual(song.duration, 20.0, song.file_name)
                    self.assertLessEqual(song.duration, 90.5, song.file_name)
                    self.assertEqual(song.channels, 2, song.file_name)
                self.assertTrue(any(" " in s.file_name for s in songs))
                self.assertEqual(len({s.file_name for s in songs}), len(songs))

    def test_every_song_carries_its_title_and_artist_in_an_id3v2_tag(self):
        for host, songs in self.catalogue.items():
            recipes = {r.number: r for r in demo_songs.recipes(host)}
            for song in songs:
                with self.subTest(song=song.file_name):
                    frames = id3v2_frames(song.data()[:song.id3v2_size])
                    self.assertTrue(song.id3v2)
                    self.assertEqual(frames.get("TIT2"), recipes[song.number].title)
                    self.assertEqual(frames.get("TPE1"), recipes[song.number].artist)


class Synthesiser(unittest.TestCase):
    def test_plain_python_mixing_matches_the_fast_operations(self):
        if mixing._audioop is None:
            self.skipTest("this Python has only the plain operations")
        rng = random.Random(5)
        values = [rng.randint(-2 ** 31, 2 ** 31 - 1) for _ in range(400)] + \
                 [2 ** 31 - 1, -2 ** 31, 0, -1, 1]
        data = array.array("i", values).tobytes()
        other = array.array("i", reversed(values)).tobytes()
        fast, plain = mixing._audioop, mixing.PlainOperations
        for factor in (0.5, -0.3, 1.7, 0.0):
            self.assertEqual(plain.mul(data, 4, factor), fast.mul(data, 4, factor))
            self.assertEqual(plain.tostereo(data, 4, factor, 0.25),
                             fast.tostereo(data, 4, factor, 0.25))
            pairs = data[:4 * 400]
            self.assertEqual(plain.tomono(pairs, 4, factor, 0.5),
                             fast.tomono(pairs, 4, factor, 0.5))
        self.assertEqual(plain.add(data, other, 4), fast.add(data, other, 4))
        self.assertEqual(plain.max(data, 4), fast.max(data, 4))
        self.assertEqual(plain.rms(data[:400], 4), fast.rms(data[:400], 4))
        self.assertEqual(plain.lin2lin(data, 4, 2), fast.lin2lin(data, 4, 2))

    def test_chunked_echo_filters_equal_their_sample_by_sample_definitions(self):
        rng = random.Random(9)
        signal = [rng.randint(-10 ** 6, 10 ** 6) for _ in range(997)]
        fragment = array.array("i", signal).tobytes()
        delay, feedback, damping = 37, 0.7, 0.4
        comb = array.array("i", mixing.feedback_comb(fragment, delay, feedback, damping))
        out = []
        for n, x in enumerate(signal):
            late = out[n - delay] if n >= delay else 0
            before = out[n - delay - 1] if n >= delay + 1 else 0
            out.append(x + feedback * ((1 - damping) * late + damping * before))
        for got, want in zip(comb, out):
            self.assertAlmostEqual(got, want, delta=16)  # each step floors its products
        passed = array.array("i", mixing.allpass(fragment, delay, 0.5))
        out = []
        for n, x in enumerate(signal):
            late_in = signal[n - delay] if n >= delay else 0
            late_out = out[n - delay] if n >= delay else 0
            out.append(-0.5 * x + late_in + 0.5 * late_out)
        for got, want in zip(passed, out):
            self.assertAlmostEqual(got, want, delta=16)

    def test_every_instrument_plays_in_tune(self):
        rate = 44100
        sounds = ("guitar", "bass_pluck", "piano", "strings", "flute", "vibes", "chip_lead")
        for name in sounds:
            instrument = genres.instrument(name, rate)
            for midi in (45, 57, 69, 76):
                if name == "bass_pluck" and midi > 57:
                    continue
                with self.subTest(sound=name, note=midi):
                    note = array.array("i", instrument.note(midi, 1.6))
                    wanted = instruments.midi_frequency(midi)
                    # Readings spread over a second average out any vibrato.
                    starts = [int((0.4 + k / 12) * rate) for k in range(12)]
                    heard = sum(fundamental(note[i:i + 2048], rate, wanted)
                                for i in starts) / len(starts)
                    cents = 1200 * math.log2(heard / wanted)
                    self.assertLess(abs(cents), 5, f"{heard:.2f} Hz")

    def test_a_song_fills_its_length_in_stereo_at_the_mastering_level_and_fades_out(self):
        for genre in sorted(genres.GENRES):
            with self.subTest(genre=genre):
                song = arrange.arrange(genre, 12, 22050, 2, seed=3, key=57, tempo=120)
                pcm = array.array("h", song.pcm())
                self.assertEqual(len(pcm), 2 * 12 * 22050)
                left, right = pcm[0::2], pcm[1::2]
                peak = max(max(pcm), -min(pcm))
                self.assertAlmostEqual(peak, 0.89 * 32767, delta=2)
                self.assertNotEqual(left, right)
                body = rms(left[22050:22050 * 9])
                self.assertGreater(body, 1000, "hardly anything plays")
                self.assertLess(rms(left[-441:]), body / 30, "the end is not faded out")

    def test_a_form_fills_the_bars_it_is_given(self):
        for bars in range(2, 60):
            form = arrange.plan_form(bars)
            with self.subTest(bars=bars):
                self.assertEqual(sum(length for _, length in form), bars)
                self.assertEqual(form[0][0], "intro")
                if bars >= 12:
                    self.assertIn("verse", [name for name, _ in form])
                if bars >= 20:
                    self.assertIn("chorus", [name for name, _ in form])

    def test_tunes_stay_in_key_with_chord_tones_on_the_strong_beats(self):
        for seed in range(20):
            rng = random.Random(seed)
            mode = rng.choice(sorted(theory.SCALES))
            tonic = rng.randint(50, 64)
            chords = theory.progression(rng.choice(("1 5 6 4", "2:7 5:7 1:7 1:7", "1 4 1 5D")),
                                        mode, 4)
            chord_at = lambda beat: chords[int(beat // 4) % len(chords)]  # noqa: E731
            scale = theory.scale_notes(tonic, mode, tonic, tonic + 26)
            tune = melody.Tune(rng, scale, tonic, 4, 4, chord_at)
            notes, _ = tune.phrase(0, 4, 5, "home")
            with self.subTest(seed=seed, mode=mode):
                self.assertTrue(notes)
                in_key = {(tonic + s) % 12 for s in theory.SCALES[mode]}
                for note in notes:
                    self.assertIn(note.midi % 12, in_key)
                    if note.beat % 2 == 0:
                        tones = {(tonic + t) % 12 for t in chord_at(note.beat).tones}
                        self.assertIn(note.midi % 12, tones, note)
                last = notes[-1]
                tones = {(tonic + t) % 12 for t in chord_at(last.beat).tones}
                self.assertIn(last.midi % 12, tones)
                self.assertLessEqual(last.beat + abs(last.beats), 16)


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / len(samples))


def fundamental(window, rate, guess):
    """The frequency of a note near `guess`: the lag, within a semitone of the guessed
    period, where the note best matches itself, refined between samples."""
    period = rate / guess
    lags = range(int(period / 1.06) - 1, int(period * 1.06) + 2)
    n = len(window) - lags[-1] - 2
    score = {lag: sum(window[i] * window[i + lag] for i in range(n)) for lag in
             range(lags[0] - 1, lags[-1] + 2)}
    best = max(lags, key=score.get)
    a, b, c = score[best - 1], score[best], score[best + 1]
    shift = 0.5 * (a - c) / (a - 2 * b + c) if a - 2 * b + c else 0.0
    return rate / (best + shift)


# --- what a Windows user gets -------------------------------------------------------------

def pe_resources(data):
    """{(type, name): bytes} of a PE file's resources (first language of each)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    for i in range(sections):
        _, size, address, _, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if address <= rva < address + size:
            base = raw + (rva - address)
            delta = address - raw
            break
    else:
        raise ValueError("no resource section")

    def entries(offset):
        named, ids = struct.unpack_from("<12xHH", data, base + offset)
        for i in range(named + ids):
            key, child = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            yield key, child

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            _, leaf = next(entries(languages & 0x7FFFFFFF))
            data_rva, size = struct.unpack_from("<II", data, base + leaf)
            start = data_rva - delta
            found[(kind, name)] = data[start:start + size]
    return found


RT_VERSION, RT_MANIFEST = 16, 24
PROGRAMS = ("listen_tuner", "download_tuner")
# Each zip's PE machine, the words that name it, and its name in a manifest.
ARCHITECTURES = {"win64": (0x8664, "64-bit (x64)", "amd64"),
                 "win32": (0x014C, "32-bit (x86)", "x86")}
WINDOWS_7_TO_11 = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
                   "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
                   "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # 10 and 11


RT_ICON, RT_GROUP_ICON = 3, 14
ICON_SIDES = [16, 24, 32, 48, 256]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def program_icon(resources):
    """[(side, bits per pixel, image)] of the icon group Windows shows: the lowest-numbered."""
    group = resources[min((k for k in resources if k[0] == RT_GROUP_ICON), key=lambda k: k[1])]
    images = []
    for i in range(struct.unpack_from("<H", group, 4)[0]):
        width, height, _, _, _, bits, size, name = struct.unpack_from("<BBBBHHIH", group,
                                                                      6 + 14 * i)
        image = resources[(RT_ICON, name)]
        assert (width, len(image)) == (height, size), "group entry and image disagree"
        images.append((width or 256, bits, image))
    return images


def icon_file(data):
    """The same triples for an .ico file."""
    images = []
    for i in range(struct.unpack_from("<H", data, 4)[0]):
        width, _, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((width or 256, bits, data[offset:offset + size]))
    return images


def version_strings(block):
    text = block.decode("utf-16-le", errors="replace")
    out = {}
    for key in ("ProductName", "FileDescription", "FileVersion", "ProductVersion",
                "OriginalFilename"):
        match = re.search(key + r"\x00+([^\x00]+)", text)
        if match:
            out[key] = match.group(1)
    return out


class WhatWeShip(unittest.TestCase):
    def test_each_program_carries_version_0_48_and_a_manifest_for_windows_7_to_11(self):
        for (tree, build), program in itertools.product(TREES.items(), PROGRAMS):
            with self.subTest(tree=tree, program=program):
                resources = pe_resources((build / "bin" / f"{program}.exe").read_bytes())
                version = resources[(RT_VERSION, 1)]
                fixed = version.find(struct.pack("<I", 0xFEEF04BD))
                self.assertGreater(fixed, 0)
                file_ms, file_ls, product_ms = struct.unpack_from("<III", version, fixed + 8)
                self.assertEqual((file_ms >> 16, file_ms & 0xFFFF, file_ls), (0, 48, 0))
                self.assertEqual(product_ms, file_ms)
                strings = version_strings(version)
                self.assertEqual(strings["ProductName"], "Zorvathimelle Tuner")
                self.assertIn(program, strings["FileDescription"])
                self.assertEqual(strings["FileVersion"], "0.48")
                self.assertEqual(strings["OriginalFilename"], f"{program}.exe")

                manifest = ElementTree.fromstring(resources[(RT_MANIFEST, 1)])
                declared = {e.get("Id") for e in manifest.iter()
                            if e.tag.endswith("}supportedOS")}
                self.assertEqual(declared, WINDOWS_7_TO_11)
                self.assertFalse([e.tag for e in manifest.iter() if "dpi" in e.tag.lower()],
                                 "the programs turn DPI awareness on at run time")

    def test_each_program_shows_its_own_logo_as_its_icon_in_five_sizes(self):
        for (tree, build), program in itertools.product(TREES.items(), PROGRAMS):
            with self.subTest(tree=tree, program=program):
                resources = pe_resources((build / "bin" / f"{program}.exe").read_bytes())
                icon = program_icon(resources)
                self.assertEqual([(side, bits) for side, bits, _ in icon],
                                 [(side, 32) for side in ICON_SIDES])
                for side, _, image in icon:
                    if side == 256:
                        self.assertEqual(image[:8], PNG_SIGNATURE)
                        self.assertEqual(struct.unpack_from(">II", image, 16), (256, 256))
                        continue
                    # Colours with alpha and an AND mask, bottom row first: what Windows 7
                    # draws at small sizes.
                    self.assertEqual(struct.unpack_from("<IiiHHI", image),
                                     (40, side, 2 * side, 1, 32, 0))
                    mask_stride = (side + 31) // 32 * 4
                    self.assertEqual(len(image), 40 + 4 * side * side + mask_stride * side)
                    mask = image[40 + 4 * side * side:]
                    middle = mask[(side // 2) * mask_stride + side // 16] & 0x80 >> side // 2 % 8
                    self.assertEqual(mask[0] & 0x80, 0x80, "a corner is see-through")
                    self.assertEqual(middle, 0, "the middle is drawn")
                self.assertEqual(icon, icon_file(
                    (SOURCE / "targets" / program / f"{program}.ico").read_bytes()))

    def test_make_dist_gives_a_zip_for_each_architecture_and_their_checksums(self):
        builds = TREES
        readme = SOURCE / "dist" / "README-Windows.txt"
        test_build = BUILD.with_name(BUILD.name + "-test")
        # Trees that must not ship, each as {file: the tree it comes from}, in place of one.
        refused = [
            # The 32-bit programs beside a 64-bit library: they would not start.
            ("win32", {"listen_tuner.exe": BUILD_X86, "download_tuner.exe": BUILD_X86,
                       "Bass.dll": BUILD, "Bass.map": BUILD}, None,
             r"Bass\.dll is not a 32-bit \(x86\) file"),
            # The test build's library, switches and all.
            ("win64", {"listen_tuner.exe": BUILD, "download_tuner.exe": BUILD,
                       "Bass.dll": test_build, "Bass.map": test_build}, None,
             r"is no build to ship: Bass\.dll holds the name"),
            # The 32-bit programs built for another site than the 64-bit ones.
            ("win32", {name: BUILD_X86 for name in dist.FILES + ("Bass.map",)},
             "LISTEN_TUNER_HOST:STRING=radio.example.org\n", "made for different sites"),
        ]
        with tempfile.TemporaryDirectory() as out:
            for replaced, files, cache, message in refused:
                with self.subTest(refused=message), tempfile.TemporaryDirectory() as tree:
                    (pathlib.Path(tree) / "bin").mkdir()
                    for file, source in files.items():
                        shutil.copy(source / "bin" / file, pathlib.Path(tree) / "bin")
                    if cache:
                        (pathlib.Path(tree) / "CMakeCache.txt").write_text(cache)
                    with self.assertRaisesRegex(RuntimeError, message):
                        dist.make_release({**builds, replaced: pathlib.Path(tree)}, readme, out)
                    self.assertEqual(os.listdir(out), [], "a refused release leaves nothing")

            dist.make_release(builds, readme, out)
            self.assertEqual(sorted(os.listdir(out)), ["SHA256SUMS", "tuners-0.48-win32.zip",
                                                       "tuners-0.48-win64.zip"])
            check = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=out,
                                   capture_output=True, text=True)
            self.assertEqual(check.stdout.split(), ["tuners-0.48-win32.zip:", "OK",
                                                    "tuners-0.48-win64.zip:", "OK"], check.stderr)
            for name, (machine, words, manifest_architecture) in ARCHITECTURES.items():
                folder = f"tuners-0.48-{name}"
                with self.subTest(zip=name), zipfile.ZipFile(f"{out}/{folder}.zip") as archive:
                    self.assertEqual(sorted(archive.namelist()), [
                        f"{folder}/{n}" for n in ("Bass.dll", "README.txt", "download_tuner.exe",
                                                  "listen_tuner.exe")])
                    for file in ("listen_tuner.exe", "download_tuner.exe", "Bass.dll"):
                        data = archive.read(f"{folder}/{file}")
                        self.assertEqual(data, (builds[name] / "bin" / file).read_bytes())
                        self.assertEqual(dist.pe_machine(data), machine, file)
                        resources = pe_resources(data)
                        if file.endswith(".exe"):
                            identity = next(e for e in ElementTree.fromstring(
                                resources[(RT_MANIFEST, 1)]).iter() if e.tag.endswith("Identity"))
                            self.assertIn(identity.get("processorArchitecture"),
                                          (None, manifest_architecture))
                    # What the README tells users to look for in the library's Properties.
                    library = pe_resources(archive.read(f"{folder}/Bass.dll"))
                    description = version_strings(library[(RT_VERSION, 1)])["FileDescription"]
                    self.assertTrue(description.endswith(words), description)
                    text = archive.read(f"{folder}/README.txt").decode("utf-8")
                    self.assertNotIn("@", text)
                    self.assertEqual(text.count("\n"), text.count("\r\n"))
                    self.assertIn("listen_tuner.exe     plays ", text)
                    self.assertIn(f"These are the {words} programs", text)
                    # Which zip to take, and the very words the library's Properties show.
                    for other in ARCHITECTURES:
                        self.assertIn(f"tuners-0.48-{other}.zip", text)
                    self.assertIn(f'"{words}"', text)


if __name__ == "__main__":
    unittest.main()
