"""Our Bass.dll as the players use it: streams from a local web site (HTTPS behind a
redirect where the sandbox offers it), their facts, what is played, and the faults."""
import os
import pathlib
import shutil
import tempfile
import threading
import unittest

from bass_driver import BassProbe
from bass_fixtures import SongSiteCase, captured, closed_port, read_wav


CAP = 128 << 20  # what one stream may hold


def real_speed(probe, seconds, tries=3):
    """Played over elapsed time across a stretch of `seconds`, measured up to `tries` times
    until one lies within 5 % of real time: a loaded machine can hold back one stretch, a
    clock at a wrong rate misses in all of them. Returns every ratio measured."""
    ratios = []
    for _ in range(tries):
        early = probe.ask("state")
        probe.ask(f"wait {int(seconds * 1000)}")
        later = probe.ask("state")
        ratios.append((later["position"] - early["position"]) / 4 / 44100
                      / ((later["t"] - early["t"]) / 1000))
        if abs(ratios[-1] - 1) <= 0.05:
            break
    return ratios


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


class BassStreams(SongSiteCase):
    def setUp(self):
        self.capture_dir = pathlib.Path(tempfile.mkdtemp(prefix="bass-capture-"))
        self.addCleanup(shutil.rmtree, self.capture_dir, True)

    def probe(self, capture=False, **options):
        """The shipped library; with `capture`, the test build's, which writes what it plays
        to capture-<n>.wav."""
        probe = BassProbe(capture=capture and self.capture_dir / "capture.wav", **options)
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
                probe = self.probe(capture=True)
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
        probe = self.probe(capture=True)
        self.open(probe, "tone.mp3")
        probe.ask("play 1")
        probe.ask("waitend 20000")
        probe.ask("free")
        self.open(probe, "tone.mp3")
        probe.ask("volume 0.15")
        probe.ask("play 1")
        probe.ask("waitend 20000")
        probe.ask("free")
        # Volumes that are not numbers are refused; a huge one clips, it never wraps.
        self.open(probe, "tone.mp3")
        for volume in ("nan", "inf", "-inf"):
            self.assertEqual(probe.ask(f"volume {volume}")["error"], 20, volume)
            self.assertEqual(probe.ask(f"globalvolume {volume}")["error"], 20, volume)
        self.assertEqual(probe.ask("volume 1e30")["ok"], 1)
        probe.ask("play 1")
        probe.ask("wait 1000")
        probe.ask("free")
        probe.close()
        _, _, loud = captured(self.capture_dir, 1)
        _, _, quiet = captured(self.capture_dir, 2)
        _, _, clipped = captured(self.capture_dir, 3)
        self.assertEqual(len(loud), len(quiet))
        self.assertGreater(max(loud), 15000)
        worst = max(abs(round(a * 0.15) - b) for a, b in zip(loud, quiet))
        self.assertLessEqual(worst, 1)
        self.assertGreater(len(clipped), 44100)
        expected = [32767 if a > 0 else -32768 if a < 0 else 0 for a in loud[:len(clipped)]]
        self.assertEqual(clipped, expected)

    def test_pause_holds_position_and_capture_and_restart_replays(self):
        probe = self.probe(capture=True)
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
        probe.ask("play 1")
        ratios = real_speed(probe, 1.5)
        self.assertLessEqual(abs(ratios[-1] - 1), 0.05, ratios)

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

    def test_every_stall_of_a_server_ends_in_a_bounded_time(self):
        # No answer, a head that trickles in, a body that trickles once playing: side by
        # side, each in a process of its own.
        answers = {}

        def run(kind, commands):
            probe = self.probe()
            answers[kind] = [probe.ask(command, timeout=60) for command in commands]

        runs = {"hang": [f"open {self.base}/hang/x"],
                "slowhead": [f"open {self.base}/slowhead/x"],
                "trickle": [f"open {self.base}/trickle/tone.mp3", "play 1", "waitend 40000"]}
        threads = [threading.Thread(target=run, args=item) for item in runs.items()]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for kind in ("hang", "slowhead"):
            opened = answers[kind][0]
            self.assertEqual(opened["handle"], 0, kind)
            self.assertGreater(opened["ms"], 4000, kind)
            self.assertLess(opened["ms"], 13000, kind)  # 10 s, and room for a loaded machine
        self.assertNotEqual(answers["trickle"][0]["handle"], 0)
        ended = answers["trickle"][2]
        # The body brought too little in its second 10 s: the stream plays what came and ends.
        self.assertEqual(ended["ended"], 1, ended)
        self.assertGreater(ended["waited_ms"], 12000)
        self.assertLess(ended["position"], ended["length"] + 1)

    def test_a_truncated_file_plays_what_arrived_and_ends(self):
        probe = self.probe(capture=True)
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
        probe = self.probe(capture=True)
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

    def test_memory_is_bounded_per_stream(self):
        probe = self.probe()
        huge = probe.ask(f"open {self.base}/huge/tone.mp3")  # announces 4 GB
        self.assertEqual((huge["handle"], huge["error"]), (0, 1))  # BASS_ERROR_MEM
        self.assertLess(huge["ms"], 2000)
        self.open(probe, "tone.mp3", kind="endless")
        for _ in range(60):
            state = probe.ask("state")
            if state["size"] != -1:
                break
            probe.ask("wait 500")
        # The body ran past the cap: the file ends there, and the process did not grow
        # far beyond it.
        self.assertEqual((state["download"], state["size"]), (CAP, CAP))
        status = pathlib.Path(f"/proc/{probe.process.pid}/status").read_text()
        resident = int(status.split("VmRSS:")[1].split()[0]) * 1024
        self.assertLess(resident, CAP + (100 << 20))

    def test_a_download_out_of_memory_fails_the_stream_not_the_program(self):
        probe = self.probe(env={"TUNER_BASS_FAIL_ALLOCATION_AT": "0"})
        for _ in range(2):
            opened = probe.ask(f"open {self.base}/listen/tone.mp3")
            self.assertEqual((opened["handle"], opened["error"]), (0, 1))  # BASS_ERROR_MEM
        self.assertIn("count", probe.ask("handles"))  # still answering

    def test_freeing_during_a_download_is_prompt_and_leaks_nothing(self):
        probe = self.probe()
        # A server gone quiet after the first bytes: the free does not wait for it.
        self.open(probe, "tone.mp3", kind="stall")
        probe.ask("play 1")
        self.assertEqual(probe.ask("state")["size"], self.songs["tone.mp3"]["size"])
        self.assertLess(probe.ask("free")["ms"], 1000)
        url = f"{self.base}/slow/tone.mp3"
        probe.ask(f"cycles 3 {url}")  # the first streams warm up the libraries
        probe.ask("wait 1000")
        before = probe.ask("handles")["count"]
        cycles = probe.ask(f"cycles 100 {url}", timeout=300)
        probe.ask("wait 1000")  # a closed request is let go once its read in flight ends
        after = probe.ask("handles")["count"]
        self.assertEqual(cycles["opened"], 100)
        self.assertLess(cycles["slowest_free_ms"], 1000)
        # Wine's own worker threads come and go with a handle or two each.
        self.assertLessEqual(after - before, 5)


    # -- kept connections ---------------------------------------------------------------

    def downloaded(self, probe, name):
        """Plays a stream of `name` until its file is all here, then frees it."""
        self.open(probe, name)
        probe.ask("play 1")
        for _ in range(50):
            if probe.ask("state")["download"] == self.songs[name]["size"]:
                break
            probe.ask("wait 100")
        probe.ask("free")

    def connections_of(self, since):
        """The connections of the requests logged from `since` on, in order, answered or not."""
        return [(number, answered) for number, _, answered in self.site.log[since:]]

    def test_the_next_stream_reuses_the_connection_the_last_one_left(self):
        probe = self.probe()
        self.downloaded(probe, "tone.mp3")
        first = self.site.log[-1][0]
        since = len(self.site.log)
        self.downloaded(probe, "vbr.mp3")  # its page, then the file it redirects to
        self.assertEqual(self.connections_of(since), [(first, True), (first, True)])

    def test_a_kept_connection_the_server_closed_costs_a_retry_not_the_stream(self):
        probe = self.probe()
        # Closed by the server while idle (its keep-alive time-out): the library sees it go
        # and asks on a fresh connection. Closed just as the request came: the request goes
        # unanswered and is sent once more, on a fresh one.
        for limit, answered in (("idle_close", [True, True]), ("idle_limit", [False, True, True])):
            with self.subTest(limit):
                self.site.idle_close = self.site.idle_limit = None
                self.downloaded(probe, "tone.mp3")
                kept = self.site.log[-1][0]
                setattr(self.site, limit, 0.3)
                self.addCleanup(setattr, self.site, limit, None)
                probe.ask("wait 600")
                since = len(self.site.log)
                self.open(probe, "tone.mp3")
                tried = self.connections_of(since)
                self.assertEqual([a for _, a in tried], answered, tried)
                self.assertNotIn(kept, [number for number, a in tried if a])
                self.assertEqual(probe.ask("state")["length"],
                                 self.songs["tone.mp3"]["frames"] * 1152 * 4)
                probe.ask("free")

    def test_a_stream_freed_mid_download_leaves_no_connection_to_the_next(self):
        probe = self.probe()
        self.open(probe, "tone.mp3", kind="slow")  # its body still coming in a trickle
        slow = self.site.log[-1][0]
        probe.ask("play 1")
        probe.ask("free")
        since = len(self.site.log)
        self.open(probe, "tagged.mp3")
        self.assertNotIn(slow, [number for number, _ in self.connections_of(since)])
        state = probe.ask("state")
        self.assertEqual((state["size"], state["start"]),
                         (self.songs["tagged.mp3"]["size"], self.songs["tagged.mp3"]["tag"]))


if __name__ == "__main__":
    unittest.main()
