"""Saving a copy with "d": the file beside the program, its size, the one-at-a-time rule, the
"Downloading..." row, skipping and quitting during a copy, and hostile file names. (What a
failing copy leaves behind is in the fault matrix.)"""
import os
import pathlib
import shutil
import tempfile
import time
import unittest

from catalogue import HOST_OF, start_site, test_songs
from catalogue_site import HOSTILE_NAMES
from harness import Tuner, program_copy
from playing import (ERROR_LINE, SONG_PATH, STATUS_ROW, DEFAULT_ATTRIBUTE, WAIT_LINE, played,
                     press_one_by_one, wait_for_song)

PROGRAMS = ("listen_tuner", "download_tuner")
DOWNLOAD_ROW = STATUS_ROW + 3
AGENT = "RQ_WinHTTP/1.0"
SLOW = 30000  # bytes per second: a copy of the first song takes about four seconds


def copy_requests(site, program):
    """The copies' requests: the song's page over TLS from the player itself (the audio
    library's requests carry its own agent, and the player's song pages go over plain HTTP)."""
    prefix = SONG_PATH[program]
    return [r for r in site.requests(HOST_OF[program])
            if r["tls"] and r["user_agent"] == AGENT and (r["path"] or "").startswith(prefix)]


def wait_for_file(path, size, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.is_file() and path.stat().st_size == size:
            time.sleep(0.1)  # the rename is the last step; nothing may follow it
            return path.read_bytes()
        time.sleep(0.05)
    listing = sorted(str(p) for p in path.parent.rglob("*")) if path.parent.exists() else "none"
    raise AssertionError(f"{path.name} ({size} bytes) not saved within {timeout} s; folder: {listing}")


def files_under(root, skip=()):
    """Every file below root with its size and modification time."""
    found = {}
    for folder, folders, files in os.walk(root):
        folders[:] = [f for f in folders if not any(s in f for s in skip)]
        for name in files:
            path = os.path.join(folder, name)
            try:
                status = os.lstat(path)
            except OSError:
                continue
            found[path] = (status.st_size, status.st_mtime_ns)
    return found


class SaveCopy(unittest.TestCase):
    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)
        self.songs = {song.number: song for song in test_songs()}

    def copy_program(self, program, test_build=False):
        """A copy of the program in a folder of its own, so its save folder is the test's."""
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="save-copy-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        return program_copy(program, self.folder, test_build=test_build)

    def play(self, program, args=("/order", "2"), number=1, exe=None, env=None):
        """The program playing song `number` (any song when number is None)."""
        tuner = Tuner(program, args, env=env, exe=exe or self.copy_program(program)).start()
        self.addCleanup(tuner.close)
        if number is None:
            tuner.wait_for("Played:", timeout=40)
        else:
            wait_for_song(tuner, number, timeout=40)
        return tuner

    def save_folder(self, program):
        return self.folder / HOST_OF[program]

    def served(self, number):
        return pathlib.Path(self.songs[number].path).read_bytes()

    def test_d_saves_the_served_file_into_the_folder_named_after_the_host(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                self.site.clear_requests()
                tuner = self.play(program)
                song = self.songs[1]
                tuner.press("d")
                saved = wait_for_file(self.save_folder(program) / song.file_name, song.size)
                self.assertEqual(saved, self.served(1))
                self.assertEqual(sorted(os.listdir(self.folder)),
                                 sorted([f"{program}.exe", "Bass.dll", HOST_OF[program]]))
                self.assertEqual([r["path"] for r in copy_requests(self.site, program)],
                                 [SONG_PATH[program] + "1"])
                tuner.press("q")
                self.assertEqual(tuner.exit_code(), 0)
                tuner.close()

    def test_a_longer_body_is_cut_to_the_reported_size_and_a_shorter_one_saves_nothing(self):
        song = self.songs[1]
        for delta in (-1000, 1000):
            with self.subTest(delta=delta):
                # The player's look at the file and the audio library's stream (whose size the
                # player reports) get a shorter or longer file; the copy gets the real one.
                served = self.served(1)
                other = served[:delta] if delta < 0 else served + b"\xff" * delta
                self.site.clear_faults()
                self.site.fault(HOST_OF["listen_tuner"], "file_body", song=1, body=other, times=2)
                tuner = self.play("listen_tuner")
                reported = song.size + delta
                self.assertEqual(tuner.screen().row(4), f"Size:    {reported} bytes")
                target = self.save_folder("listen_tuner") / song.file_name
                if delta > 0:
                    target.parent.mkdir(exist_ok=True)
                    target.write_bytes(b"an earlier copy")
                tuner.press("d")
                if delta < 0:
                    self.assertEqual(wait_for_file(target, reported), served[:reported])
                else:
                    # The body ends short of the size: no zeros are saved as if they were the
                    # song, and the earlier copy stays.
                    self.site.wait_for_request(lambda r: r["exchange"] == "copy" and r["done"]
                                               and r["path"].startswith("/files/"))
                    tuner.wait_until(lambda s: s.row(DOWNLOAD_ROW) == "", 5, "a blank row")
                    time.sleep(0.5)
                    self.assertEqual(os.listdir(target.parent), [song.file_name])
                    self.assertEqual(target.read_bytes(), b"an earlier copy")
                tuner.close()

    def test_the_downloading_row_shows_while_the_copy_runs_and_is_blanked_after(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                tuner = self.play(program)
                self.site.fault(HOST_OF[program], "slow", target="file", rate=SLOW)
                tuner.press("d")
                screen = tuner.wait_for("Downloading...", timeout=15)
                self.assertEqual(screen.row(DOWNLOAD_ROW), "Downloading...")
                self.assertEqual(screen.attribute(DOWNLOAD_ROW, 1), DEFAULT_ATTRIBUTE[program])
                self.assertIsNotNone(played(screen), screen)  # playback goes on meanwhile
                song = self.songs[1]
                wait_for_file(self.save_folder(program) / song.file_name, song.size)
                screen = tuner.wait_until(lambda s: s.row(DOWNLOAD_ROW) == "", 5, "a blank row")
                self.assertEqual(screen.rows[DOWNLOAD_ROW - 1][:31], " " * 31)
                self.assertEqual(screen.attribute(DOWNLOAD_ROW, 31), DEFAULT_ATTRIBUTE[program])
                self.site.clear_faults()
                tuner.close()

    def test_a_message_that_took_the_row_during_a_copy_stays_whole_when_the_copy_ends(self):
        host = HOST_OF["listen_tuner"]
        tuner = self.play("listen_tuner")
        self.site.fault(host, "slow", target="file", song=1, rate=SLOW)
        tuner.press("d")
        tuner.wait_for("Downloading...", timeout=15)
        # Every later song fails: its error line, then the wait before the next try, take
        # the row while the copy still reads.
        self.site.fault(host, "reset", target="song")
        tuner.press(" ")
        tuner.wait_until(lambda s: ERROR_LINE.match(s.row(DOWNLOAD_ROW)), 15, "an error line")
        song = self.songs[1]
        wait_for_file(self.save_folder("listen_tuner") / song.file_name, song.size)
        deadline = time.monotonic() + 2.0
        while time.monotonic() < deadline:
            row = tuner.screen().row(DOWNLOAD_ROW)
            self.assertTrue(ERROR_LINE.match(row) or WAIT_LINE.match(row), repr(row))
            time.sleep(0.1)
        self.site.clear_faults()

    def test_d_pressed_again_during_a_copy_starts_no_second_one(self):
        tuner = self.play("listen_tuner")
        self.site.fault(HOST_OF["listen_tuner"], "slow", target="file", rate=SLOW)
        press_one_by_one(tuner, "d", 3)
        song = self.songs[1]
        wait_for_file(self.save_folder("listen_tuner") / song.file_name, song.size)
        tuner.wait_until(lambda s: s.row(DOWNLOAD_ROW) == "", 5, "a blank row")
        self.assertEqual(len(copy_requests(self.site, "listen_tuner")), 1)

        # Once the row is blank, "d" fetches the song again and replaces the copy.
        self.site.clear_faults()
        target = self.save_folder("listen_tuner") / song.file_name
        target.write_bytes(b"an older copy, longer than nothing at all")
        tuner.press("d")
        self.assertEqual(wait_for_file(target, song.size), self.served(1))
        self.assertEqual(len(copy_requests(self.site, "listen_tuner")), 2)

    def test_d_without_a_song_creates_the_folder_and_starts_nothing(self):
        host = HOST_OF["download_tuner"]
        self.site.fault(host, "file_status", status=404)  # no song ever opens
        tuner = Tuner("download_tuner", ["/order", "2"], exe=self.copy_program("download_tuner"))
        self.addCleanup(tuner.close)
        tuner.start()
        self.site.wait_for_request(lambda r: r["user_agent"] != AGENT, timeout=30)
        time.sleep(1)
        tuner.press("d")
        deadline = time.monotonic() + 10
        while not self.save_folder("download_tuner").is_dir() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(self.save_folder("download_tuner").is_dir())
        time.sleep(1.5)
        self.assertEqual(os.listdir(self.save_folder("download_tuner")), [])
        self.assertEqual(copy_requests(self.site, "download_tuner"), [])
        self.assertNotIn("Downloading...", tuner.screen())

    def test_a_size_of_two_gibibytes_or_more_is_refused(self):
        # The audio library's stream announces a length that no copy may be made for; the
        # player's own look at the file comes first and takes a harmless fault.
        self.site.fault(HOST_OF["listen_tuner"], "slow", song=1, delay=0, times=1)
        self.site.fault(HOST_OF["listen_tuner"], "wrong_length", song=1, delta=2 ** 31, times=1)
        # Our Bass.dll keeps the whole file and refuses a stream larger than it may hold;
        # the vendor's, which keeps a buffer, opens it.
        tuner = self.play("listen_tuner", exe=self.copy_program("listen_tuner", test_build=True),
                          env={"TUNER_BASS_STREAM_CAP": str(4 << 30)})
        self.assertEqual(tuner.screen().row(4), f"Size:    {self.songs[1].size + 2 ** 31} bytes")
        tuner.press("d")
        time.sleep(2)
        self.assertEqual(os.listdir(self.save_folder("listen_tuner")), [])
        self.assertEqual(copy_requests(self.site, "listen_tuner"), [])
        tuner.press("q")
        self.assertEqual(tuner.exit_code(), 0)

    def test_after_a_failed_request_a_later_d_works(self):
        tuner = self.play("listen_tuner")
        # The site's HTTPS port goes down: the copy's request fails.
        self.site.fault(HOST_OF["listen_tuner"], "home_refused", port=443)
        tuner.press("d")
        time.sleep(2)
        self.assertEqual(os.listdir(self.save_folder("listen_tuner")), [])
        self.assertEqual(copy_requests(self.site, "listen_tuner"), [])
        self.site.clear_faults()
        tuner.press("d")
        song = self.songs[1]
        saved = wait_for_file(self.save_folder("listen_tuner") / song.file_name, song.size)
        self.assertEqual(saved, self.served(1))
        self.assertEqual(len(copy_requests(self.site, "listen_tuner")), 1)

    def test_skipping_during_a_slow_copy_still_saves_the_song_it_started_with(self):
        tuner = self.play("listen_tuner")
        self.site.fault(HOST_OF["listen_tuner"], "slow", target="file", song=1, rate=SLOW)
        tuner.press("d")
        tuner.wait_for("Downloading...", timeout=15)
        press_one_by_one(tuner, " ", 2, pause=0.5)
        wait_for_song(tuner, 3)
        song = self.songs[1]
        saved = wait_for_file(self.save_folder("listen_tuner") / song.file_name, song.size)
        self.assertEqual(saved, self.served(1))
        self.assertEqual(os.listdir(self.save_folder("listen_tuner")), [song.file_name])
        self.assertEqual([r["path"] for r in copy_requests(self.site, "listen_tuner")], ["/listen/1"])

    def test_quitting_during_a_slow_copy_says_bye_and_ends_with_code_0(self):
        for fault in ({"delay": 30}, {"rate": 2000}):  # waiting for the head, reading the body
            with self.subTest(**fault):
                self.site.clear_faults()
                tuner = self.play("listen_tuner")
                self.site.fault(HOST_OF["listen_tuner"], "slow", target="file", song=1, **fault)
                tuner.press("d")
                self.site.wait_for_request(
                    lambda r: r["tls"] and r["user_agent"] == AGENT and r["path"] == "/listen/1")
                time.sleep(1)
                tuner.press("q")
                self.assertEqual(tuner.exit_code(timeout=20), 0)
                self.assertEqual(tuner.final_screen().text(), "Bye....")
                self.assertEqual(os.listdir(self.save_folder("listen_tuner")), [])
                tuner.close()

    def test_hostile_file_names_stay_inside_the_save_folder(self):
        prefix = pathlib.Path(os.environ["WINEPREFIX"])
        scratch = pathlib.Path(tempfile.gettempdir())
        harness_folders = ("tuner-run-", "tmux-")
        for name in HOSTILE_NAMES:
            with self.subTest(name=name[:40]):
                self.site.clear_faults()
                self.site.fault(HOST_OF["listen_tuner"], "song_hostile_name", name=name)
                exe = self.copy_program("listen_tuner")
                before = {root: files_under(root, harness_folders)
                          for root in (prefix / "drive_c", scratch)}
                tuner = self.play("listen_tuner", exe=exe, number=None)  # long names wrap
                save_folder = self.save_folder("listen_tuner")
                tuner.press("d")
                if name:
                    deadline = time.monotonic() + 20
                    while time.monotonic() < deadline and not (save_folder.is_dir() and os.listdir(save_folder)):
                        time.sleep(0.1)
                time.sleep(1)
                tuner.press("q")
                self.assertEqual(tuner.exit_code(), 0)
                tuner.close()

                saved = os.listdir(save_folder)
                if not name:
                    self.assertEqual(saved, [])  # nothing to name the file after: refused
                else:
                    self.assertEqual(len(saved), 1, saved)
                    self.assertNotIn(saved[0], (".", ".."))
                    self.assertEqual((save_folder / saved[0]).read_bytes(), self.served(1))
                    self.assertLessEqual(len("Z:" + str(save_folder / saved[0])), 259)
                changed = []
                for root, files in before.items():
                    after = files_under(root, harness_folders)
                    changed += [p for p in set(files) | set(after) if files.get(p) != after.get(p)]
                expected = [str(save_folder / f) for f in saved]
                self.assertEqual(sorted(changed), sorted(expected))


if __name__ == "__main__":
    unittest.main()
