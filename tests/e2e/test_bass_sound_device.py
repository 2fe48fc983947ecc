"""Our Bass.dll playing through a real output device: Wine's waveOut on a sound server of
the test's own (sound_server.py), whose sink is recorded, so what reached the device can be
compared with what the library says it played (its capture) and with an independent
decode of the song."""
import pathlib
import shutil
import tempfile
import time
import unittest

from bass_driver import BassProbe
from bass_fixtures import SongSiteCase, captured, read_wav
from sound_server import SoundServer

RATE = 44100
BYTES_PER_SECOND = RATE * 4
# How far the sound server may shift the samples it plays beyond the silence it puts in
# (it may drop a few frames when a stream resumes). A buffer of ours lost or played twice
# would shift them by 100 ms.
SLACK = RATE // 40 * 2
WINDOW = 2000


def find_exact(haystack, needle, start=0, channels=2):
    """Index (a whole sample frame, from `start` on) where needle occurs unchanged in
    haystack, or -1."""
    first = needle[0]
    for at in range(start, len(haystack) - len(needle) + 1, channels):
        if haystack[at] == first and haystack[at:at + len(needle)] == needle:
            return at
    return -1


def heard_offsets(heard, played, start, every=RATE // 4 * 2, size=WINDOW):
    """Evenly spaced windows of played, from sample `start` on and ending with its last
    samples, looked for unchanged and in order in heard: (index in played, index in heard
    minus that) for each, the offset None where it is not there (a window the sound
    server's slack hit)."""
    starts = list(range(start, len(played) - size, every)) + [len(played) - size]
    offsets, search_from = [], 0
    for at in starts:
        found = find_exact(heard, played[at:at + size], search_from)
        offsets.append((at, None if found < 0 else found - at))
        if found >= 0:
            search_from = found
    return offsets


def silent_samples(samples, channels=2, shortest=16):
    """Samples in runs of at least `shortest` all-zero frames (a sine wave's own zero
    crossings are never that long)."""
    total = run = 0
    for at in range(0, len(samples), channels):
        if any(samples[at:at + channels]):
            total += run if run >= shortest * channels else 0
            run = 0
        else:
            run += channels
    return total + (run if run >= shortest * channels else 0)


def shift_at(played, reference, frame, search=3000):
    """Shift (in frames) of played against reference around a frame of the reference, and
    the largest difference left there."""
    count = 2048 * 2
    start = frame * 2
    window = reference[start:start + count:8]
    best = (None, float("inf"))
    for shift in range(-search, search + 1):
        at = start + shift * 2
        if at < 0 or at + count > len(played):
            continue
        error = max(abs(a - b) for a, b in zip(played[at:at + count:8], window))
        if error < best[1]:
            best = (shift, error)
    return best


def longest_silence(samples, channels=2):
    """(start, end) sample indices of the longest run of all-zero frames."""
    best, start = (0, 0), None
    for at in range(0, len(samples) + channels, channels):
        silent = at < len(samples) and not any(samples[at:at + channels])
        if silent and start is None:
            start = at
        elif not silent and start is not None:
            if at - start > best[1] - best[0]:
                best = (start, at)
            start = None
    return best


class BassSoundDevice(SongSiteCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = SoundServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        super().tearDownClass()

    def setUp(self):
        self.capture_dir = pathlib.Path(tempfile.mkdtemp(prefix="bass-device-capture-"))
        self.addCleanup(shutil.rmtree, self.capture_dir, True)

    def probe(self, server=None):
        server = server or self.server
        probe = BassProbe(capture=self.capture_dir / "capture.wav", env=server.client_env())
        self.addCleanup(probe.close)
        self.assertEqual(probe.ask("init")["ok"], 1)
        return probe

    def open(self, probe, name):
        opened = probe.ask(f"open {self.base}/listen/{name}")
        self.assertNotEqual(opened["handle"], 0, opened)
        return opened

    def assert_real_speed(self, probe, seconds=2.0, rate=RATE, channels=2, tries=3):
        """The device plays in real time: within 5 % over a stretch of `seconds`. A loaded
        machine may hold the sound server back over one stretch, so up to `tries` are
        measured; a wrong rate misses in every one."""
        ratios = []
        for _ in range(tries):
            early = probe.ask("state")
            probe.ask(f"wait {int(seconds * 1000)}")
            later = probe.ask("state")
            played = (later["position"] - early["position"]) / (rate * channels * 2)
            ratios.append(played / ((later["t"] - early["t"]) / 1000))
            if abs(ratios[-1] - 1) <= 0.05:
                return later
        self.fail(f"played over elapsed time: {ratios}")

    def assert_only_silence_put_in(self, heard, played, offsets):
        """Between each two windows found, what was heard is what was played with silence
        put in: the shift grows by exactly the silence the sound server inserted (it plays
        silence where a loaded machine left it short, and for a pause), never by samples
        lost or played twice."""
        found = [(at, o) for at, o in offsets if o is not None]
        for (at, shift), (later, later_shift) in zip(found, found[1:]):
            put_in = (silent_samples(heard[at + shift + WINDOW:later + later_shift])
                      - silent_samples(played[at + WINDOW:later]))
            self.assertLessEqual(abs(later_shift - shift - put_in), SLACK,
                                 (at, shift, later, later_shift, put_in, offsets))

    # -- the whole song -------------------------------------------------------------------

    def test_a_song_reaches_the_device_whole_at_real_speed(self):
        probe = self.probe()
        self.open(probe, "tone.mp3")
        recording = self.server.record()
        probe.ask("play 1")
        # The stream plays into our sink: waveOutOpen found the device.
        clients = self.server.playing_clients()
        self.assertEqual(len(clients), 1, clients)
        self.assertIn("s16le 2ch 44100Hz", clients[0])
        probe.ask("wait 500")
        self.assert_real_speed(probe, 1.5)
        state = probe.ask("waitend 20000")
        self.assertEqual(state["ended"], 1, state)
        self.assertEqual(state["position"], state["length"])
        # Moving on at once, as the players do when the position reaches the length.
        freed = probe.ask("free")
        self.assertLess(freed["ms"], 200)
        self.assertEqual(self.server.playing_clients(), [])
        time.sleep(0.3)
        heard = recording.stop()
        probe.close()

        rate, channels, played = captured(self.capture_dir)
        self.assertEqual((rate, channels), (RATE, 2))
        self.assertEqual(len(played) * 2, state["length"])
        _, _, reference = read_wav(self.folder / "tone.mp3.wav")
        shift, error = shift_at(played, reference, RATE * 3)
        self.assertIsNotNone(shift)
        self.assertLessEqual(error, 64, f"shift {shift}")
        # The sink got exactly the captured samples in order, from the start (the sound
        # server silences the first few milliseconds of a stream) to the very last one.
        offsets = heard_offsets(heard, played, RATE // 20 * 2)
        self.assertIsNotNone(offsets[0][1], "the captured samples never reached the sink")
        self.assertIsNotNone(offsets[-1][1], "the song's ending never reached the sink")
        self.assert_only_silence_put_in(heard, played, offsets)
        found = [o for _, o in offsets if o is not None]
        self.assertGreaterEqual(len(found), len(offsets) * 3 // 4, offsets)

    # -- transport ------------------------------------------------------------------------

    def test_pause_silences_the_device_and_play_goes_on_without_a_gap(self):
        probe = self.probe()
        self.open(probe, "tone.mp3")
        recording = self.server.record()
        probe.ask("play 1")
        probe.ask("wait 1000")
        self.assertEqual(probe.ask("pause")["ok"], 1)
        probe.ask("wait 200")
        held = probe.ask("state")
        size_paused = (self.capture_dir / "capture-1.wav").stat().st_size
        probe.ask("wait 1000")
        later = probe.ask("state")
        self.assertEqual(later["position"], held["position"])
        self.assertEqual(later["level_ok"], 0)
        self.assertEqual((self.capture_dir / "capture-1.wav").stat().st_size, size_paused)
        # The paused stream keeps its device.
        self.assertEqual(len(self.server.playing_clients()), 1)
        probe.ask("play 0")
        probe.ask("wait 300")
        resumed = self.assert_real_speed(probe, 1.5)
        self.assertGreater(resumed["position"], held["position"])
        freed = probe.ask("free")
        self.assertLess(freed["ms"], 200)
        time.sleep(0.3)
        heard = recording.stop()
        probe.close()

        # Nothing was heard while paused.
        silence_start, silence_end = longest_silence(heard)
        self.assertGreater(silence_end - silence_start, RATE * 2 * 0.8)
        _, _, played = captured(self.capture_dir)
        self.assertGreater(len(played) * 2, held["position"] + BYTES_PER_SECOND)
        # The samples go on after the pause where they stopped: the capture lines up with
        # an independent decode by the same shift before and after it.
        _, _, reference = read_wav(self.folder / "tone.mp3.wav")
        before = shift_at(played, reference, RATE // 2)
        after = shift_at(played, reference, held["position"] // 4 + RATE)
        self.assertLessEqual(before[1], 64)
        self.assertLessEqual(after[1], 64)
        self.assertEqual(before[0], after[0])
        # What was heard is the capture with the pause's silence put in, nothing else lost
        # or repeated.
        offsets = heard_offsets(heard, played, RATE // 20 * 2)
        before = [o for at, o in offsets if o is not None and at + o < silence_start]
        after = [o for at, o in offsets if o is not None and at + o >= silence_end]
        self.assertTrue(before and after, offsets)
        self.assert_only_silence_put_in(heard, played, offsets)
        self.assertGreaterEqual(sum(o is not None for _, o in offsets), len(offsets) * 3 // 4)

    def test_stop_seek_and_replay_move_the_device_position(self):
        probe = self.probe()
        self.open(probe, "tone.mp3")
        length = probe.ask("facts")["length"]
        probe.ask("play 1")
        probe.ask("wait 1000")
        probe.ask("stop")
        held = probe.ask("state")
        probe.ask("wait 500")
        self.assertEqual(probe.ask("state")["position"], held["position"])
        # Play without restart goes on from where it stopped.
        probe.ask("play 0")
        probe.ask("wait 500")
        went_on = probe.ask("state")["position"]
        self.assertGreater(went_on, held["position"])
        self.assertLess(went_on, held["position"] + BYTES_PER_SECOND)
        # Back to the start (the players' restart key), then to the last second.
        self.assertEqual(probe.ask("seek 0")["ok"], 1)
        self.assertLess(probe.ask("state")["position"], BYTES_PER_SECOND // 5)
        probe.ask("wait 300")
        self.assert_real_speed(probe, 1.0)
        last_second = (length - BYTES_PER_SECOND) // 4 * 4
        self.assertEqual(probe.ask(f"seek {last_second}")["ok"], 1)
        self.assertGreaterEqual(probe.ask("state")["position"], last_second)
        state = probe.ask("waitend 5000")
        self.assertEqual(state["ended"], 1)
        self.assertEqual(state["position"], length)
        # An ended stream played again starts over on the device.
        probe.ask("play 0")
        probe.ask("wait 500")
        again = probe.ask("state")["position"]
        self.assertGreater(again, 0)
        self.assertLess(again, BYTES_PER_SECOND)
        # A paused stream is freed as promptly, and lets the device go.
        self.assertEqual(probe.ask("pause")["ok"], 1)
        self.assertLess(probe.ask("free")["ms"], 200)
        self.assertEqual(self.server.playing_clients(), [])

    def test_a_stream_starved_by_a_slow_download_keeps_its_device(self):
        probe = self.probe()
        opened = probe.ask(f"open {self.base}/slow/tone.mp3")
        self.assertNotEqual(opened["handle"], 0, opened)
        probe.ask("play 1")
        # About a second of the song arrives at once, then a trickle at a sixth of its
        # rate: the device runs dry and waits, which is no reason to give it up.
        probe.ask("wait 4500")
        state = probe.ask("state")
        self.assertLess(state["position"], state["length"] // 2)
        self.assertGreater(state["position"], BYTES_PER_SECOND)
        self.assertEqual(len(self.server.playing_clients()), 1)
        probe.ask("wait 500")
        self.assertGreaterEqual(probe.ask("state")["position"], state["position"])
        self.assertLess(probe.ask("free")["ms"], 200)

    def test_a_mono_song_at_its_own_rate_opens_the_device_in_that_format(self):
        probe = self.probe()
        self.open(probe, "mono.mp3")
        probe.ask("play 1")
        clients = self.server.playing_clients()
        self.assertEqual(len(clients), 1, clients)
        self.assertIn("s16le 1ch 24000Hz", clients[0])
        probe.ask("wait 300")
        self.assert_real_speed(probe, 1.0, rate=24000, channels=1)
        state = probe.ask("waitend 10000")
        self.assertEqual(state["ended"], 1)
        probe.ask("free")
        probe.close()
        rate, channels, played = captured(self.capture_dir)
        self.assertEqual((rate, channels), (24000, 1))
        self.assertEqual(len(played) * 2, state["length"])
        self.assertGreater(max(played), 10000)

    # -- a device that goes away ----------------------------------------------------------

    def test_a_stream_whose_sound_server_ends_plays_on_against_the_clock(self):
        server = SoundServer()
        self.addCleanup(server.close)
        probe = self.probe(server)
        self.open(probe, "tone.mp3")
        probe.ask("play 1")
        probe.ask("wait 1000")
        self.assertEqual(len(server.playing_clients()), 1)
        server.process.kill()
        server.process.wait()
        # The device stops taking samples; after a moment the stream goes on without it,
        # at real speed, and ends.
        probe.ask("wait 3000")
        self.assert_real_speed(probe, 1.0)
        state = probe.ask("waitend 10000")
        self.assertEqual(state["ended"], 1)
        self.assertEqual(state["position"], state["length"])
        freed = probe.ask("free")
        self.assertLess(freed["ms"], 200)
        # A new stream finds no device and plays against the clock from the start.
        self.open(probe, "tone.mp3")
        probe.ask("play 1")
        probe.ask("wait 300")
        self.assert_real_speed(probe, 1.0)
        self.assertEqual(probe.ask("freeall")["ok"], 1)


if __name__ == "__main__":
    unittest.main()
