"""Playing the catalogue: the song lines, the status line, the banner, songs that end or fail."""
import math
import time
import unittest

from catalogue import HOST_OF, start_site, test_songs
from playing import (BANNER_ROW, DEFAULT_ATTRIBUTE, STATUS_ROW, played, song_pages,
                     start_playing, wait_for_song)

PROGRAMS = ("listen_tuner", "download_tuner")


class Playing(unittest.TestCase):
    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)
        self.songs = {song.number: song for song in test_songs()}

    def test_the_first_songs_lines_describe_the_served_file(self):
        song = self.songs[1]  # "Morning Scale.mp3": a space that travels as %20
        for program in PROGRAMS:
            with self.subTest(program=program):
                tuner = start_playing(program, ["/order", "2"])
                self.addCleanup(tuner.close)
                screen = tuner.screen()
                path = "/listen/1" if program == "listen_tuner" else "/download.php/1"
                self.assertEqual(screen.row(1), f"URL:     https://{HOST_OF[program]}{path}")
                self.assertEqual(screen.row(2), "Playing: Morning Scale.mp3")
                self.assertEqual(screen.row(4), f"Size:    {song.size} bytes")
                length_row = screen.row(5)
                self.assertRegex(length_row, r"^Length: [ \d]{4}\.\d{2} seconds$")
                length = float(length_row[8:15])
                self.assertAlmostEqual(length, song.duration, delta=0.06)
                average = math.floor(song.size * 8 / length / 1000)
                self.assertRegex(screen.row(3), r"^Bitrate: Ø \d+ kbps \(\d+(\.\d+)? kbps\)$")
                shown_average = int(screen.row(3).split()[2])
                self.assertLessEqual(abs(shown_average - average), 1, screen.row(3))
                shown_bitrate = float(screen.row(3).split("(")[1].split()[0])
                self.assertAlmostEqual(shown_bitrate, song.bitrate_kbps, delta=song.bitrate_kbps * 0.1)
                for row in range(1, 6):
                    self.assertEqual(screen.attribute(row, 1), DEFAULT_ATTRIBUTE[program], row)
                self.assertEqual(screen.attribute(9, 40), DEFAULT_ATTRIBUTE[program])  # blank, background colour
                tuner.close()

    def test_the_status_line_counts_the_played_time(self):
        tuner = start_playing("listen_tuner", ["/order", "2"])
        self.addCleanup(tuner.close)
        first, began = played(tuner.screen()), time.monotonic()
        time.sleep(2.0)
        later, ended = played(tuner.screen()), time.monotonic()
        elapsed = ended - began
        self.assertAlmostEqual(later.clock - first.clock, elapsed, delta=0.25 * elapsed + 0.1)
        self.assertGreater(later.share, first.share)
        self.assertLess(later.left, first.left)
        length = float(tuner.screen().row(5)[8:15])
        self.assertAlmostEqual(later.left + later.clock, length, delta=0.1)
        self.assertEqual(later.volume, 15)

    def test_the_banner_follows_the_level_unless_switched_off(self):
        host = HOST_OF["listen_tuner"]
        self.site.set_latest(host, 6)  # newest first: the full-scale tone
        tuner = start_playing("listen_tuner", ["/order", "1"])
        seen = set()
        for _ in range(20):
            seen.add(tuner.screen().attribute(BANNER_ROW, 1))
            time.sleep(0.1)
        self.assertIn("Zorvathimelle", tuner.screen().row(BANNER_ROW))
        self.assertIn(0xF1, seen, [hex(a) for a in seen])  # the loudest: blue on white
        tuner.close()

        tuner = start_playing("listen_tuner", ["/order", "1", "/nolevel"])
        self.addCleanup(tuner.close)
        seen = set()
        for _ in range(10):
            seen.add(tuner.screen().attribute(BANNER_ROW, 1))
            time.sleep(0.1)
        self.assertEqual(seen, {DEFAULT_ATTRIBUTE["listen_tuner"]})

    def test_a_silent_song_keeps_the_banner_in_the_default_colours(self):
        self.site.set_latest(HOST_OF["download_tuner"], 7)  # silence
        tuner = start_playing("download_tuner", ["/order", "1"])
        self.addCleanup(tuner.close)
        seen = {tuner.screen().attribute(BANNER_ROW, 1) for _ in range(10)}
        self.assertEqual(seen, {DEFAULT_ATTRIBUTE["download_tuner"]})

    def test_a_song_that_ends_moves_on_by_itself(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                self.site.set_latest(HOST_OF[program], 4)  # "blip", 3 s, then 3
                tuner = start_playing(program, ["/order", "1"])
                self.addCleanup(tuner.close)
                wait_for_song(tuner, 3, timeout=20)
                self.assertEqual(song_pages(self.site, program)[-2:], [4, 3])
                tuner.close()

    def test_songs_whose_page_or_audio_fail_are_passed_over(self):
        for program in PROGRAMS:
            host = HOST_OF[program]
            for kind, params in (("song_status", {"status": 404}), ("file_status", {"status": 500}),
                                 ("file_body", {"body": "html"})):
                with self.subTest(program=program, fault=kind):
                    self.site.clear_faults()
                    self.site.clear_requests()
                    self.site.set_latest(host, 12)
                    self.site.fault(host, kind, song=11, **params)
                    tuner = start_playing(program, ["/order", "1"])
                    self.addCleanup(tuner.close)
                    tuner.press(" ")
                    screen = wait_for_song(tuner, 10)
                    self.assertNotIn("Error", screen.text())
                    self.assertEqual(song_pages(self.site, program)[:3], [12, 11, 10])
                    tuner.close()


if __name__ == "__main__":
    unittest.main()
