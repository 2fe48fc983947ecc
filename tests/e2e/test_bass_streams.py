"""Our Bass.dll as the players use it: streams from a local web site (HTTPS behind a
redirect where the sandbox offers it), their facts, what is played, and the faults."""
import math
import os
import pathlib
import shutil
import tempfile
import time
import unittest

from bass_driver import BassProbe
from bass_fixtures import FixtureSite, closed_port, make_songs, read_wav


def captured(folder, number=1):
    return read_wav(pathlib.Path(folder) / f"capture-{number}.wav")


def best_alignment(played, reference, channels, search=4000):
    """Shift (in sample frames) of `played` against `reference` with the least difference
    over a stretch from the middle of the reference, and that difference's largest sample."""
    start, count = len(reference) // 3, 4096 * channels
    window = reference[start:start + count]
    best = (None, float("inf"))
    for shift in range(-search, search + 1):
        at = start + shift * channels
        if at < 0 or at + count > len(played):
            continue
        error = max(abs(a - b) for a, b in zip(played[at:at + count:16], window[::16]))
        if error < best[1]:
            best = (shift, error)
    return best


class BassStreams(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = pathlib.Path(tempfile.mkdtemp(prefix="bass-songs-"))
        cls.songs = make_songs(cls.folder)
        cls.site = FixtureSite(cls.folder)
        # HTTPS with a redirect, as the catalogue serves songs, where the sandbox makes it
        # possible; plain HTTP on loopback elsewhere.
        cls.base = cls.site.https or cls.site.http

    @classmethod
    def tearDownClass(cls):
        cls.site.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.capture_dir = pathlib.Path(tempfile.mkdtemp(prefix="bass-capture-"))
        self.addCleanup(shutil.rmtree, self.capture_dir, True)

    def probe(self, **options):
        probe = BassProbe(capture=self.capture_dir / "capture.wav", **options)
        self.addCleanup(probe.close)
        self.assertEqual(probe.ask("init")["ok"], 1)
        return probe

    def open(self, probe, name, kind="listen"):
        opened = probe.ask(f"open {self.base}/{kind}/{name}")
        self.assertNotEqual(opened["handle"], 0, opened)
        return opened

    # -- facts ------------------------------------------------------------------------

    def test_facts_match_the_file_and_lame(self):
        probe = self.probe()
        for name in ("tone.mp3", "tagged.mp3", "vbr.mp3", "noinfo.mp3", "mono.mp3"):
            song = self.songs[name]
            with self.subTest(song=name):
                self.open(probe, name)
                facts = probe.ask("facts")
                self.assertEqual(facts["size"], song["size"])
                self.assertEqual(facts["start"], song["tag"])
                samples = song["frames"] * song["samples_per_frame"]
                self.assertEqual(facts["length"], samples * song["channels"] * 2)
                self.assertAlmostEqual(facts["seconds"], samples / song["rate"], places=5)
                audio_bytes = song["size"] - song["tag"]
                average = audio_bytes * 8 / (samples / song["rate"]) / 1000
                self.assertAlmostEqual(facts["bitrate"], average, delta=average * 0.02)
                probe.ask("free")
        # Constant bitrate files report their nominal rate.
        self.open(probe, "tone.mp3")
        self.assertAlmostEqual(probe.ask("facts")["bitrate"], 128, delta=0.5)

    # -- what is played ---------------------------------------------------------------

    def test_the_capture_matches_an_independent_decode(self):
        for name in ("tone.mp3", "tagged.mp3"):
            with self.subTest(song=name):
                probe = self.probe()
                self.open(probe, name)
                probe.ask("play 1")
                state = probe.ask("waitend 20000")
                self.assertEqual(state["ended"], 1, state)
                self.assertEqual(state["position"], state["length"])
                probe.ask("free")
                probe.close()
                rate, channels, played = captured(self.capture_dir)
                _, _, reference = read_wav(self.folder / (name + ".wav"))
                self.assertEqual((rate, channels), (44100, 2))
                # Every sample played is in the capture: the whole stream's length.
                self.assertEqual(len(played) * 2, state["length"])
                shift, error = best_alignment(played, reference, channels)
                self.assertIsNotNone(shift)
                # Only the codec's leading delay separates the two decodes.
                self.assertGreaterEqual(shift, 0)
                self.assertLessEqual(error, 64, f"shift {shift}")
                (self.capture_dir / "capture-1.wav").unlink()

    def test_volume_scales_the_samples(self):
        probe = self.probe()
        self.open(probe, "tone.mp3")
        probe.ask("play 1")
        probe.ask("waitend 20000")
        probe.ask("free")
        self.open(probe, "tone.mp3")
        probe.ask("volume 0.15")
        probe.ask("play 1")
        probe.ask("waitend 20000")
        probe.ask("free")
        probe.close()
        _, _, loud = captured(self.capture_dir, 1)
        _, _, quiet = captured(self.capture_dir, 2)
        self.assertEqual(len(loud), len(quiet))
        self.assertGreater(max(loud), 15000)
        worst = max(abs(round(a * 0.15) - b) for a, b in zip(loud, quiet))
        self.assertLessEqual(worst, 1)

    def test_pause_holds_position_and_capture_and_restart_replays(self):
        probe = self.probe()
        self.open(probe, "tone.mp3")
        probe.ask("play 1")
        probe.ask("wait 1000")
        self.assertEqual(probe.ask("pause")["ok"], 1)
        held = probe.ask("state")
        size_paused = (self.capture_dir / "capture-1.wav").stat().st_size
        probe.ask("wait 1000")
        later = probe.ask("state")
        self.assertEqual(later["position"], held["position"])
        self.assertEqual((self.capture_dir / "capture-1.wav").stat().st_size, size_paused)
        self.assertEqual(later["level"], 0)
        # What was captured is exactly what was played up to the pause.
        self.assertEqual(size_paused - 44, held["position"])
        probe.ask("play 0")
        probe.ask("wait 500")
        resumed = probe.ask("state")
        self.assertGreater(resumed["position"], held["position"])
        # The players' restart key: position 0 with the scan flag.
        self.assertEqual(probe.ask("seek 0")["ok"], 1)
        before_restart = probe.ask("state")["position"]
        self.assertLess(before_restart, resumed["position"])
        probe.ask("wait 700")
        probe.ask("stop")
        replayed = probe.ask("state")["position"]
        probe.ask("free")
        probe.close()
        _, _, played = captured(self.capture_dir)
        first_part = len(played) - replayed // 2
        # After the restart the samples are those from the very start again.
        self.assertEqual(played[first_part:first_part + 20000], played[:20000])

    def test_the_silent_clock_keeps_real_time(self):
        probe = self.probe()
        self.open(probe, "tone.mp3")
        start = probe.ask("play 1")["t"]
        probe.ask("wait 3000")
        state = probe.ask("state")
        seconds = state["position"] / 4 / 44100
        elapsed = (state["t"] - start) / 1000
        self.assertAlmostEqual(seconds, elapsed, delta=elapsed * 0.05)

    def test_level_of_full_scale_and_of_silence(self):
        probe = self.probe()
        self.open(probe, "full.mp3")
        probe.ask("play 1")
        probe.ask("wait 700")
        self.assertGreater(probe.ask("level 0.02 1")["levels"][0], 0.9)
        probe.ask("free")
        self.open(probe, "silence.mp3")
        probe.ask("play 1")
        probe.ask("wait 700")
        level = probe.ask("level 0.02 1")
        self.assertEqual(level["ok"], 1)
        self.assertLess(level["levels"][0], 0.001)  # the codec's dither at most

    # -- faults -----------------------------------------------------------------------

    def test_error_statuses_and_bodies_that_are_not_mp3_fail_promptly(self):
        probe = self.probe()
        for path in ("status/404", "status/500", "songs/page.html", "songs/random.bin",
                     "songs/empty.mp3", "listen/no-such-song.mp3"):
            with self.subTest(path=path):
                opened = probe.ask(f"open {self.base}/{path}")
                self.assertEqual(opened["handle"], 0)
                self.assertNotEqual(opened["error"], 0)
                self.assertLess(opened["ms"], 2000)

    def test_refused_and_unknown_hosts_fail_within_a_second(self):
        probe = self.probe()
        targets = [f"http://127.0.0.1:{closed_port()}/song.mp3"]
        if os.environ.get("TUNER_SANDBOX"):
            targets.append("https://nosuchhost.tuner.test/song.mp3")
        for url in targets:
            with self.subTest(url=url):
                opened = probe.ask(f"open {url}")
                self.assertEqual(opened["handle"], 0)
                self.assertLess(opened["ms"], 1000)

    def test_a_server_that_never_answers_fails_after_the_time_out(self):
        probe = self.probe()
        opened = probe.ask(f"open {self.base}/hang/x", timeout=30)
        self.assertEqual(opened["handle"], 0)
        self.assertGreater(opened["ms"], 4000)
        self.assertLess(opened["ms"], 11000)

    def test_a_truncated_file_plays_what_arrived_and_ends(self):
        probe = self.probe()
        opened = probe.ask(f"open {self.base}/truncated/tone.mp3")
        self.assertNotEqual(opened["handle"], 0)
        full = probe.ask("facts")["length"]
        probe.ask("play 1")
        state = probe.ask("waitend 20000")
        self.assertEqual(state["ended"], 1)
        self.assertLess(state["position"], full * 0.6)
        self.assertGreater(state["position"], full * 0.4)
        probe.ask("wait 300")
        self.assertEqual(probe.ask("state")["position"], state["position"])
        probe.ask("free")
        probe.close()
        _, _, played = captured(self.capture_dir)
        self.assertEqual(len(played) * 2, state["position"])

    def test_a_damaged_stretch_is_skipped_and_play_goes_on(self):
        probe = self.probe()
        self.open(probe, "corrupt.mp3")
        probe.ask("play 1")
        state = probe.ask("waitend 20000")
        self.assertEqual(state["ended"], 1)
        probe.ask("free")
        probe.close()
        _, _, played = captured(self.capture_dir)
        # The damage covers about ten frames; few more are lost to it, and the tone goes
        # on after it.
        self.assertGreater(len(played) * 2, state["length"] - 14 * 1152 * 4)
        tail = played[-44100 * 2:-4410 * 2]
        self.assertGreater(max(tail), 15000)

    def test_freeing_during_a_download_is_prompt_and_leaks_nothing(self):
        probe = self.probe()
        self.open(probe, "tone.mp3", kind="slow")
        probe.ask("play 1")
        self.assertEqual(probe.ask("state")["size"], self.songs["tone.mp3"]["size"])
        freed = probe.ask("free")
        self.assertLess(freed["ms"], 100)
        url = f"{self.base}/slow/tone.mp3"
        probe.ask(f"cycles 3 {url}")  # the first streams warm up the libraries
        before = probe.ask("handles")["count"]
        cycles = probe.ask(f"cycles 100 {url}", timeout=300)
        probe.ask("wait 1000")  # WinHTTP lets go of a closed request on its own threads
        after = probe.ask("handles")["count"]
        self.assertEqual(cycles["opened"], 100)
        self.assertLess(cycles["slowest_free_ms"], 100)
        self.assertEqual(after, before)


if __name__ == "__main__":
    unittest.main()
