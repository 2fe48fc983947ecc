"""The keys of the player, as a user presses them."""
import glob
import os
import tempfile
import time
import unittest

from catalogue import HOST_OF, start_site
from harness import program_copy
from playing import (DEFAULT_ATTRIBUTE, peak, played, press_one_by_one, read_capture,
                     song_number_on_screen, song_pages, start_playing, wait_for_clock,
                     wait_for_song)

PROGRAMS = ("listen_tuner", "download_tuner")


class Keys(unittest.TestCase):
    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)

    def start(self, program="listen_tuner", args=("/order", "2"), capture=None):
        """The program playing; with `capture`, beside the test build's Bass.dll, which
        writes what it plays there."""
        env, exe = {}, None
        if capture:
            env = {"TUNER_BASS_CAPTURE": capture_path(capture)}
            exe = program_copy(program, tempfile.mkdtemp(prefix="keys-"), test_build=True)
        tuner = start_playing(program, list(args), env=env, exe=exe)
        self.addCleanup(tuner.close)
        return tuner

    def test_several_queued_spaces_skip_one_song(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                self.site.clear_requests()
                tuner = self.start(program)
                tuner.press(" ", " ", " ", " ")
                wait_for_song(tuner, 2)
                time.sleep(1.0)
                self.assertEqual(song_number_on_screen(tuner.screen()), 2)
                self.assertEqual(song_pages(self.site, program), [1, 2])
                tuner.close()

    def test_order_options_and_the_order_keys(self):
        host = HOST_OF["listen_tuner"]
        self.site.set_latest(host, 9)
        tuner = self.start(args=("/order", "2"))
        tuner.press(" ")
        wait_for_song(tuner, 2)
        tuner.press(" ")
        wait_for_song(tuner, 3)
        tuner.press("1")  # the newest, whatever the order was
        wait_for_song(tuner, 9)
        tuner.press(" ")
        wait_for_song(tuner, 8)
        tuner.press("1")  # again the newest, also when already counting down
        wait_for_song(tuner, 9)
        tuner.press("0")
        tuner.wait_until(lambda s: len(song_pages(self.site, "listen_tuner")) == 7, 20, "a random song")
        self.assertEqual(song_pages(self.site, "listen_tuner")[:6], [1, 2, 3, 9, 8, 9])
        self.assertTrue(1 <= song_pages(self.site, "listen_tuner")[6] <= 9)
        tuner.close()

        self.site.clear_requests()
        tuner = self.start(args=("/order", "1"))
        tuner.press(" ")
        wait_for_song(tuner, 8)
        self.assertEqual(song_pages(self.site, "listen_tuner"), [9, 8])

    def test_pause_holds_the_clock_and_the_audio(self):
        capture = tempfile.mkdtemp(prefix="capture-") + "/song.wav"
        self.site.set_latest(HOST_OF["listen_tuner"], 5)  # the 60 s song
        tuner = self.start(args=("/order", "1"), capture=capture)
        wait_for_clock(tuner, 1.0)
        tuner.press("p")
        time.sleep(0.3)
        held = played(tuner.screen()).clock
        captured = os.path.getsize(first_capture(capture))
        time.sleep(1.5)
        self.assertEqual(played(tuner.screen()).clock, held)
        self.assertEqual(os.path.getsize(first_capture(capture)), captured)
        tuner.press("p")
        wait_for_clock(tuner, held + 0.5, timeout=5)
        self.assertGreater(os.path.getsize(first_capture(capture)), captured)
        # Paused, then the next song: it plays, and "p" pauses it.
        tuner.press("p")
        time.sleep(0.3)
        tuner.press(" ")
        screen = wait_for_song(tuner, 4)
        start = played(screen).clock
        wait_for_clock(tuner, start + 0.5, timeout=5)
        tuner.press("p")
        time.sleep(0.3)
        held = played(tuner.screen()).clock
        time.sleep(1.0)
        self.assertEqual(played(tuner.screen()).clock, held)

    def test_backspace_plays_the_song_from_its_start(self):
        capture = tempfile.mkdtemp(prefix="capture-") + "/song.wav"
        self.site.set_latest(HOST_OF["download_tuner"], 5)
        tuner = self.start("download_tuner", args=("/order", "1"),
                           capture=capture)
        wait_for_clock(tuner, 3.0)
        tuner.press("backspace")
        screen = tuner.wait_until(lambda s: played(s).clock < 1.5, 5, "the restart")
        self.assertEqual(song_number_on_screen(screen), 5)
        wait_for_clock(tuner, 1.5)
        # The audio from the song's first second is heard again after the restart.
        rate, channels, samples = read_capture(first_capture(capture))
        second = rate * channels
        opening = samples[second // 2:second // 2 + 4000]
        self.assertGreater(peak(opening), 0.01)
        later = samples[3 * second:]
        self.assertTrue(any(later[i:i + len(opening)] == opening
                            for i in range(0, len(later) - len(opening), channels)),
                        "the opening was not played again")

    def test_volume_keys_and_the_captured_samples(self):
        capture = tempfile.mkdtemp(prefix="capture-") + "/song.wav"
        self.site.set_latest(HOST_OF["listen_tuner"], 5)
        tuner = self.start(args=("/order", "1"), capture=capture)
        wait_for_clock(tuner, 1.0)
        press_one_by_one(tuner, "+", 20)
        tuner.wait_until(lambda s: played(s).volume == 100, 5, "volume 100")
        wait_for_clock(tuner, played(tuner.screen()).clock + 1.5)
        press_one_by_one(tuner, "-", 20)
        tuner.wait_until(lambda s: played(s).volume == 5, 5, "volume 5")
        wait_for_clock(tuner, played(tuner.screen()).clock + 1.5)
        rate, channels, samples = read_capture(first_capture(capture))
        per_second = rate * channels
        quiet, loud = samples[:per_second], samples[-per_second * 6:-per_second * 4]
        self.assertGreater(peak(loud), 4 * peak(quiet))
        tuner.close()

        tuner = self.start(args=("/order", "1"))
        press_one_by_one(tuner, "-", 3)
        tuner.wait_until(lambda s: played(s).volume == 0, 5, "volume 0")

    def test_upper_case_letters_arrows_and_alt_keys_do_nothing(self):
        # A folder of its own, where no other test has saved a copy.
        exe = program_copy("listen_tuner", tempfile.mkdtemp(prefix="keys-"))
        tuner = start_playing("listen_tuner", ["/order", "1"], exe=exe)
        self.addCleanup(tuner.close)
        before = tuner.screen()
        self.site.clear_requests()
        for key in ("Q", "P", "D", "up", "f1", "alt-q", "alt-d", "alt-p", "alt-space", "alt-1"):
            tuner.press(key)
            time.sleep(0.2)
            self.assertFalse(tuner.exited(), f"{key} ended the player")
        time.sleep(0.5)
        after = tuner.screen()
        self.assertFalse(tuner.exited())
        self.assertGreater(played(after).clock, played(before).clock)
        self.assertEqual(played(after).volume, 15)
        self.assertEqual(song_pages(self.site, "listen_tuner"), [])
        self.assertFalse(os.path.exists(exe.parent / HOST_OF["listen_tuner"]))
        # What AltGr types is an ordinary character.
        tuner.press("altgr-plus")
        tuner.wait_until(lambda s: played(s).volume == 20, 5, "volume 20 after AltGr's +")

    def test_q_and_esc_restore_the_console_and_say_goodbye(self):
        for program, key in (("listen_tuner", "q"), ("download_tuner", "esc"),
                             ("listen_tuner", "esc-wine")):
            with self.subTest(program=program, key=key):
                tuner = self.start(program)
                started = tuner.started
                tuner.press(key)
                self.assertEqual(tuner.exit_code(), 0)
                screen = tuner.final_screen()
                self.assertEqual([r for r in screen.text().split("\n") if r.strip()], ["Bye...."])
                self.assertEqual(screen.title, started.title)
                self.assertEqual(screen.input_mode, started.input_mode)
                self.assertNotEqual(screen.attribute(1, 1), DEFAULT_ATTRIBUTE[program])
                tuner.close()


def capture_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def first_capture(pattern):
    stem = pattern[:-len(".wav")]
    files = sorted(glob.glob(stem + "-*.wav"), key=lambda p: int(p.rsplit("-", 1)[1][:-4]))
    if not files:
        raise AssertionError(f"no capture next to {pattern}")
    return files[0]


if __name__ == "__main__":
    unittest.main()
