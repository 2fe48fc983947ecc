"""Our Bass.dll over many rounds: the players' whole road through it, from loading to
unloading, again and again; thousands of creates that fail; a player through a hundred
song changes. Nothing may crash, and nothing may pile up."""
import unittest

from bass_driver import BassProbe
from bass_fixtures import SongSiteCase, closed_port
from bass_soak import describe, soak


class BassEndurance(SongSiteCase):
    def probe(self, **options):
        probe = BassProbe(**options)
        self.addCleanup(probe.close)
        return probe

    def test_the_players_road_200_times_leaves_no_thread_in_the_unloaded_library(self):
        # Load, create (the server still sending), play, stop, free, BASS_Free, unload:
        # WinHTTP reports the request closed only once its read in flight ends, after the
        # library was let go by the program.
        probe = self.probe(bound=False)
        cycles = probe.ask(f"unloadcycles 200 {self.base}/slow/tone.mp3", timeout=300)
        self.assertEqual(cycles["opened"], 200, cycles)
        self.assertEqual(cycles["still_loaded"], 0, cycles)
        self.assertEqual(cycles["threads_in_library"], 0, cycles)

    def test_a_thousand_failing_creates_of_every_kind_leave_no_handle_behind(self):
        kinds = [f"http://127.0.0.1:{closed_port()}/song.mp3",  # refused
                 "https://nosuchhost.tuner.test/song.mp3",      # unknown host
                 "ftp://listen.tuner.test/song.mp3",            # a scheme not offered
                 f"{self.base}/status/404", f"{self.base}/songs/page.html",
                 f"{self.base}/songs/empty.mp3", f"{self.base}/reset/x"]
        probe = self.probe()
        self.assertEqual(probe.ask("init")["ok"], 1)
        probe.ask("cycles 3 " + " ".join(kinds))  # the first ones warm up the libraries
        probe.ask("wait 1500")
        before = probe.ask("handles")
        cycles = probe.ask("cycles 1000 " + " ".join(kinds), timeout=600)
        probe.ask("wait 1500")
        after = probe.ask("handles")
        self.assertEqual(cycles["opened"], 0)
        # Wine's worker threads come and go with a handle or two each; a leak per create
        # would be thousands.
        self.assertLessEqual(after["count"] - before["count"], 10, (before, after))

    def test_a_player_through_100_song_changes_stays_flat(self):
        samples = soak(100)
        self.assertGreaterEqual(samples[-1]["changes"], 100)
        settled = samples[2:]  # after the first twenty changes
        spread = {key: max(s[key] for s in settled) - min(s[key] for s in settled)
                  for key in ("handles", "threads", "memory")}
        report = describe(samples)
        self.assertLessEqual(spread["handles"], 30, report)
        self.assertLessEqual(spread["threads"], 4, report)
        self.assertLessEqual(spread["memory"], 8 << 20, report)


if __name__ == "__main__":
    unittest.main()
