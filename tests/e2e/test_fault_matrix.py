"""The fault matrix: every way the site or the network can let the players down, for both
programs, against the local site as strict as real servers are (plain HTTP on its TLS port
refused with 400, real redirects). Each row checks what a user sees (the screen, the exit
code), the requests the site saw and the save folder. Rows that can share a run do: with
"/order 2", song n carries the nth row of a table and one run walks through them.
RELIABILITY.md lists the same rows and their outcomes."""
import pathlib
import shutil
import tempfile
import time
import unittest

from catalogue import HOST_OF, start_site, test_songs
from catalogue_site import HOSTILE_NAMES
from harness import Tuner, program_copy
from playing import (BANNER_ROW, DEFAULT_ATTRIBUTE, ERROR_LINE, SONG_PATH, WAIT_LINE,
                     assert_screen_shape, played, song_number_on_screen, wait_for_song)

PROGRAMS = ("listen_tuner", "download_tuner")
ERROR_ROW = BANNER_ROW + 1
HOLD = 5  # seconds the page after an error row is held back, so that the error can be read
COPY_SONG = 5  # "Long Walk Home", a minute long: every copy row fits into it

# Home page rows, one run each: (row, fault, its parameters, exit code; 0: plays, then "q").
HOME_ROWS = (
    ("home page down", "home_refused", {}, 3),
    ("home page 404", "home_status", {"status": 404}, 3),
    ("home page 500", "home_status", {"status": 500}, 3),
    ("home page without the marker", "home_no_marker", {}, 3),
    ("newest number above 65535", None, {"latest": 70000}, 0),
    ("home page without end", "home_endless", {}, 0),
)

# What a song shows when its page or its audio fails.
PASSED_OVER = "passed over without a message"
ERROR_THEN_PASSED = "an error line below the banner, then passed over"
NO_NAME = "plays with no name; 'd' saves nothing"
OTHER_NAME = "plays from where the redirect led, under that file's name"
OWN_NAME = "plays under its own name"

# Song n of "/order 2" gets row n. An error row is the first failure of its run: from the
# third failed song in a row the wait's message takes the error line's place.
SONG_PAGE_ROWS = (
    ("song page without a redirect over plain HTTP", "song_no_redirect", {"scheme": "http"},
     NO_NAME),
    ("song page redirect loop", "song_redirect_loop", {}, ERROR_THEN_PASSED),
    ("song page 404", "song_status", {"status": 404}, PASSED_OVER),
    ("song page redirect to the other site", "song_redirect_to", {}, OTHER_NAME),
    ("song page redirect to a dead host", "song_redirect_dead", {}, ERROR_THEN_PASSED),
    ("song page 500", "song_status", {"status": 500}, PASSED_OVER),
    ("song page without a redirect", "song_no_redirect", {}, PASSED_OVER),
    ("the song page after them", None, {}, OWN_NAME),
)
OTHER_SITES_SONG = 9  # where the redirect to the other site leads

# The audio library's own requests only ("library"); song n of "/order 2" gets row n.
AUDIO_ROWS = (
    ("audio 404", "file_status", {"status": 404}, PASSED_OVER),
    ("audio 500", "file_status", {"status": 500}, PASSED_OVER),
    ("audio is an HTML page", "file_body", {"body": "html"}, PASSED_OVER),
    ("audio cut short", "truncate", {"keep": 20000}, OWN_NAME),
    ("audio connection reset", "reset", {}, PASSED_OVER),
    ("audio trickling", "slow", {"rate": 8000}, OWN_NAME),
    ("audio shorter than its announced length", "wrong_length", {"delta": 50000}, OWN_NAME),
    ("the song after them", None, {}, OWN_NAME),
)

# Every song fails: the home page's newest number; every song page answers 404. The first
# 10 s hold 6 tries (three at once, then 1, 2 and 4 s apart; some fifty without the waits).
EVERY_SONG_FAILS_LATEST = 500
FIRST_SECONDS, MOST_TRIES_IN_FIRST_SECONDS = 10, 7

# The copy's own requests only ("copy"), all of song COPY_SONG, with an older copy of it in
# the save folder: (row, fault, parameters, whether the copy is then the served song).
COPY_ROWS = (
    ("copy answered 503", "file_status", {"status": 503}, False),
    ("copy cut short", "truncate", {"keep": 30000}, False),
    ("copy connection reset", "reset", {}, False),
    ("copy longer than the song, without end", "file_body", {"body": "endless"}, True),
)

# Songs 1-3 play under their own names; song 4 (three seconds, too short to be sure of
# pressing "d" in time on a busy machine) plays on; then these names, one per song from 5 on.
HOSTILE_ROWS = tuple(HOSTILE_NAMES) + (
    ("A name of two hundred characters " * 7)[:196] + ".mp3",
    "control\x01\x07\x1b[7mcharacters\x7f.mp3",  # sent raw in the redirect
)


def wait_left(screen):
    """The seconds the wait's message counts down from, or 0 when it does not show."""
    match = WAIT_LINE.match(screen.row(ERROR_ROW))
    return int(match.group(1)) if match else 0


def player_requests(site, exchange, host=None):
    return [r for r in site.requests(host) if r["exchange"] == exchange]


class FaultMatrix(unittest.TestCase):
    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)
        self.songs = {song.number: song for song in test_songs()}

    def tearDown(self):
        # Whatever the row, no request of a player was ever refused as plain HTTP on 443.
        self.assertEqual(self.site.plain_requests_on_tls_port(), 0)
        self.assertEqual([r["path"] for r in self.site.requests() if r["status"] == 400], [])

    def run_program(self, program, args=("/order", "2")):
        folder = pathlib.Path(tempfile.mkdtemp(prefix="fault-matrix-"))
        self.addCleanup(shutil.rmtree, folder, True)
        tuner = Tuner(program, list(args), exe=program_copy(program, folder))
        self.addCleanup(tuner.close)
        self.save_folder = folder / HOST_OF[program]
        return tuner.start()

    def saved(self):
        return {p.name: p.read_bytes() for p in self.save_folder.iterdir()} \
            if self.save_folder.is_dir() else {}

    def served(self, number):
        return pathlib.Path(self.songs[number].path).read_bytes()

    def each_program(self, rows):
        """Runs rows(program) for both programs, each from a site without faults or
        requests."""
        for program in PROGRAMS:
            with self.subTest(program=program):
                self.site.clear_faults()
                self.site.clear_requests()
                rows(program)

    def wait_until_saved(self, expected, what, timeout=15):
        deadline = time.monotonic() + timeout
        while self.saved() != expected:
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.1)

    def song_pages(self, program):
        """The numbers of the song pages the player asked for, in order, after checking
        that each request went to the site's plain port."""
        prefix = SONG_PATH[program]
        pages = [r for r in player_requests(self.site, "song_page", HOST_OF[program])
                 if r["path"].startswith(prefix)]
        self.assertTrue(all(r["port"] == 80 and not r["tls"] for r in pages))
        return [int(r["path"][len(prefix):].strip("/")) for r in pages]

    def quit(self, tuner):
        tuner.press("q")
        self.assertEqual(tuner.exit_code(), 0)
        self.assertEqual(tuner.final_screen().text(), "Bye....")

    def song(self, tuner, number, timeout=30):
        """The screen once song `number` shows with its status line and banner drawn."""
        wait_for_song(tuner, number, timeout)
        return tuner.wait_until(lambda s: song_number_on_screen(s) != number
                                or "Zorvathimelle" in s.row(BANNER_ROW), 5, "the banner")

    def next_song(self, tuner, number):
        """Space while song `number` still has time left, else its end moves on by itself."""
        screen = tuner.screen()
        if song_number_on_screen(screen) == number and played(screen) and played(screen).left > 1:
            tuner.press(" ")
        return self.song(tuner, number + 1)

    def copy(self, tuner, program, before):
        """Presses "d" until the copy's request goes out (a copy still ending refuses it),
        then waits for the copy's file request to end; returns that request."""
        deadline = time.monotonic() + 20
        while len(player_requests(self.site, "copy")) == before:
            self.assertLess(time.monotonic(), deadline, "no copy was started")
            tuner.press("d")
            self.site.wait_for_request(
                lambda r: r["exchange"] == "copy" and len(player_requests(self.site, "copy")) > before,
                timeout=1)
        return self.site.wait_for_request(
            lambda r: r["exchange"] == "copy" and r["path"].startswith("/files/") and r["done"]
            and len(player_requests(self.site, "copy")) > before + 1, timeout=20)

    # -- the home page ------------------------------------------------------------------------

    def test_home_page_rows(self):
        for program in PROGRAMS:
            host = HOST_OF[program]
            for row, kind, params, code in HOME_ROWS:
                with self.subTest(program=program, row=row):
                    self.site.clear_faults()
                    self.site.clear_requests()
                    self.site.set_latest(host, params.get("latest", len(self.songs)))
                    if kind:
                        self.site.fault(host, kind, **params)
                    tuner = self.run_program(program, ())
                    if code == 3:
                        self.assertEqual(tuner.exit_code(), 3)
                        home = player_requests(self.site, "home", host)
                        screen = tuner.final_screen()
                        self.assertEqual(screen.text().splitlines()[-1],
                                         "Unable To Get latest song number! Exiting...")
                        self.assertEqual(len(home), 0 if kind == "home_refused" else 1)
                        if kind == "home_refused":
                            self.assertRegex(screen.text(), r"Error \d+ in function "
                                             r"_WinHttpSendRequest!\nhRequest = 0\n")
                        continue
                    screen = tuner.wait_until(lambda s: played(s) is not None and "Zorvathimelle"
                                              in s.row(BANNER_ROW), 40, "a song")
                    number = params.get("latest", len(self.songs)) % 65536
                    self.assertEqual(screen.title,
                                     f"Zorvathimelle {host} / ~{number} songs available")
                    assert_screen_shape(self, screen, program)
                    self.quit(tuner)
                    if kind == "home_endless":
                        # Read up to its limit, then let go: the site stopped sending soon after.
                        request = self.site.wait_for_request(
                            lambda r: r["exchange"] == "home" and r["done"], timeout=10)
                        self.assertIsNotNone(request)
                        self.assertGreater(request["sent"], 4 * 1024 * 1024)
                        self.assertLess(request["sent"], 64 * 1024 * 1024)

    # -- song pages ---------------------------------------------------------------------------

    def test_song_page_rows(self):
        self.each_program(self.song_page_rows)

    def song_page_rows(self, program):
        host = HOST_OF[program]
        other = next(h for h in HOST_OF.values() if h != host)
        for number, (row, kind, params, outcome) in enumerate(SONG_PAGE_ROWS, 1):
            if kind == "song_redirect_to":
                params = {"url": self.site.file_url(other, self.songs[OTHER_SITES_SONG])}
            if kind:
                self.site.fault(host, kind, song=number, **params)
            if outcome == ERROR_THEN_PASSED:
                self.site.fault(host, "slow", target="song", song=number + 1, delay=HOLD,
                                exchange="song_page", times=1)
        tuner = self.run_program(program)
        for number, (row, kind, params, outcome) in enumerate(SONG_PAGE_ROWS, 1):
            with self.subTest(row=row):
                if outcome == NO_NAME:
                    screen = self.song(tuner, number, timeout=40)
                    self.assertEqual(screen.row(2), "Playing:")
                    tuner.press("d")
                    time.sleep(1.5)
                    self.assertEqual(self.saved(), {})
                    self.assertEqual(player_requests(self.site, "copy"), [])
                    tuner.press(" ")
                    assert_screen_shape(self, screen, program, title="")
                elif outcome == ERROR_THEN_PASSED:
                    # The next page is held back: the error line stays to be read meanwhile.
                    self.assertIsNotNone(self.site.wait_for_request(
                        lambda r: r["exchange"] == "song_page"
                        and r["path"] == SONG_PATH[program] + str(number + 1), timeout=30))
                    screen = tuner.screen()
                    self.assertRegex(screen.row(ERROR_ROW), ERROR_LINE, f"\n{screen}")
                    assert_screen_shape(self, screen, program)
                elif outcome in (OTHER_NAME, OWN_NAME):
                    screen = self.song(tuner, number)
                    name = self.songs[OTHER_SITES_SONG if outcome == OTHER_NAME else number].file_name
                    assert_screen_shape(self, screen, program, title=name)
                    if outcome == OTHER_NAME:
                        self.assertTrue(any(r["site_host"] == other and r["exchange"] == "library"
                                            for r in self.site.requests()))
                        tuner.press(" ")
        self.quit(tuner)
        # Every song page went to the site's plain port, once each (the loop's own repeats
        # aside), in order; the failing ones were passed over.
        numbers = self.song_pages(program)
        self.assertEqual(sorted(set(numbers)), list(range(1, len(SONG_PAGE_ROWS) + 1)))
        self.assertEqual(numbers, sorted(numbers))

    # -- the audio the library streams ----------------------------------------------------------

    def test_audio_rows(self):
        self.each_program(self.audio_rows)

    def audio_rows(self, program):
        host = HOST_OF[program]
        for number, (row, kind, params, outcome) in enumerate(AUDIO_ROWS, 1):
            if kind:
                self.site.fault(host, kind, song=number, exchange="library", **params)
        tuner = self.run_program(program)
        for number, (row, kind, params, outcome) in enumerate(AUDIO_ROWS, 1):
            if outcome != OWN_NAME:
                continue
            with self.subTest(row=row):
                screen = self.song(tuner, number)
                assert_screen_shape(self, screen, program, title=self.songs[number].file_name)
                self.assertEqual(screen.row(ERROR_ROW), "")  # the library fails silently
                if kind == "wrong_length":  # the announced size is shown
                    self.assertEqual(screen.row(4), f"Size:    {self.songs[number].size + 50000} bytes")
                if kind == "slow":  # a stream still arriving does not hold the keys up
                    began = time.monotonic()
                    tuner.press(" ")
                    wait_for_song(tuner, number + 1, timeout=15)
                    self.assertLess(time.monotonic() - began, 15)
        self.quit(tuner)
        # The failing songs were asked for by the library once, and passed over.
        files = {r["song"]: r for r in self.site.requests(host)
                 if r["exchange"] == "library" and r["path"].startswith("/files/")}
        for number, (row, kind, params, outcome) in enumerate(AUDIO_ROWS, 1):
            if outcome == PASSED_OVER:
                self.assertIn(number, files, row)
                self.assertEqual(files[number]["fault"], kind, row)

    # -- every song fails ----------------------------------------------------------------------

    def test_every_song_fails(self):
        """Both programs at once, each on its own site, as the waits make a run slow."""
        tuners = {}
        for program in PROGRAMS:
            self.site.set_latest(HOST_OF[program], EVERY_SONG_FAILS_LATEST)
            self.site.fault(HOST_OF[program], "song_status", status=404)
            tuners[program] = self.run_program(program, ())
        for program, tuner in tuners.items():
            with self.subTest(program=program, check="the message and the first seconds"):
                screen = tuner.wait_until(lambda s: wait_left(s) > 0, 40, "the wait's message")
                self.assertEqual(screen.attribute(ERROR_ROW, 1), DEFAULT_ATTRIBUTE[program])
                began = player_requests(self.site, "home", HOST_OF[program])[0]["time"]
                time.sleep(max(0.0, began + FIRST_SECONDS - time.time()))
                first = [r for r in self.site.requests(HOST_OF[program])
                         if r["time"] < began + FIRST_SECONDS]
                tries = sum(r["exchange"] == "song_page" for r in first)
                self.assertTrue(3 <= tries <= MOST_TRIES_IN_FIRST_SECONDS, tries)
                self.assertLessEqual(len(first), 1 + 2 * tries)  # the page, the library's of it
        for program, tuner in tuners.items():
            with self.subTest(program=program, check="Space during the wait"):
                # Seconds enough left that a try before the wait's end is the key's.
                left = wait_left(tuner.wait_until(lambda s: wait_left(s) >= 5, 25, "a 5 s wait"))
                before = len(self.song_pages(program))
                tuner.press(" ")
                self.assertIsNotNone(self.site.wait_for_request(
                    lambda r: len(self.song_pages(program)) > before, timeout=left - 2))
                tuner.wait_until(lambda s: wait_left(s) > left + 1, 10, "the run's next wait")
        for program in PROGRAMS:
            self.site.clear_faults(HOST_OF[program])
        for program, tuner in tuners.items():
            with self.subTest(program=program, check="playing again by itself"):
                screen = tuner.wait_until(lambda s: played(s) and "Zorvathimelle"
                                          in s.row(BANNER_ROW), 30 + 15, "a song")
                assert_screen_shape(self, screen, program)
                self.assertEqual(screen.row(ERROR_ROW), "")
                self.quit(tuner)

    # -- the copy -----------------------------------------------------------------------------

    def test_copy_rows(self):
        self.each_program(self.copy_rows)

    def copy_rows(self, program):
        host, song = HOST_OF[program], self.songs[COPY_SONG]
        self.site.set_latest(host, COPY_SONG)
        tuner = self.run_program(program, ("/order", "1"))
        wait_for_song(tuner, COPY_SONG, timeout=40)
        self.save_folder.mkdir(exist_ok=True)
        older = b"an older copy of the song, which a failed copy must leave as it is"
        (self.save_folder / song.file_name).write_bytes(older)
        for row, kind, params, whole in COPY_ROWS:
            with self.subTest(row=row):
                self.site.fault(host, kind, song=COPY_SONG, exchange="copy", times=1, **params)
                request = self.copy(tuner, program, len(player_requests(self.site, "copy")))
                self.assertIsNotNone(request)
                if whole:
                    self.wait_until_saved({song.file_name: self.served(COPY_SONG)},
                                          "the copy was not saved", timeout=10)
                    self.assertLess(request["sent"], 64 * 1024 * 1024)  # it stopped reading
                    continue
                screen = tuner.wait_until(lambda s: s.row(ERROR_ROW) != "Downloading...", 10,
                                          "the copy's end")
                time.sleep(0.5)
                self.assertEqual(self.saved(), {song.file_name: older})
                screen = tuner.screen()
                if kind == "reset":  # the only one WinHTTP itself fails
                    self.assertRegex(screen.row(ERROR_ROW), ERROR_LINE, f"\n{screen}")
                assert_screen_shape(self, screen, program, title=song.file_name)
        self.quit(tuner)

    # -- names: the songs' own, then hostile ones ----------------------------------------------

    def test_names_follow_the_songs_and_hostile_names_keep_the_screen_and_the_folder(self):
        self.each_program(self.names)

    def names(self, program):
        host = HOST_OF[program]
        own_names, first_hostile = 3, 5
        for number, name in enumerate(HOSTILE_ROWS, first_hostile):
            self.site.fault(host, "song_hostile_name", song=number, name=name,
                            raw=any(ord(c) < 0x20 for c in name))
        tuner = self.run_program(program)
        for number in range(1, own_names + 1):
            with self.subTest(own_name=number):
                screen = self.song(tuner, number, timeout=40) if number == 1 else screen
                tuner.press("d")
                # Each copy lands beside the earlier ones: distinct files, each the served song.
                self.wait_until_saved({self.songs[n].file_name: self.served(n)
                                       for n in range(1, number + 1)}, f"song {number} not saved")
                try:
                    assert_screen_shape(self, screen, program, title=self.songs[number].file_name)
                finally:
                    screen = self.next_song(tuner, number)
        for number, name in enumerate(HOSTILE_ROWS, first_hostile):
            with self.subTest(hostile_name=name[:40]):
                screen = self.next_song(tuner, number - 1)
                before = set(self.saved())
                tuner.press("d")
                deadline = time.monotonic() + (15 if name else 2)
                while set(self.saved()) == before and time.monotonic() < deadline:
                    time.sleep(0.1)
                new = set(self.saved()) - before
                if not name:
                    self.assertEqual(new, set())  # nothing to name it after: not saved
                else:
                    self.assertEqual(len(new), 1, new)
                    saved = new.pop()
                    self.assertEqual(self.saved()[saved], self.served(number))
                    self.assertFalse(any(c in saved for c in '\\/:*?"<>|') or
                                     any(ord(c) < 0x20 or ord(c) == 0x7F for c in saved), saved)
                    self.assertLessEqual(len("Z:" + str(self.save_folder / saved)), 259)
                assert_screen_shape(self, screen, program, title=name)
        self.quit(tuner)
        self.song_pages(program)


if __name__ == "__main__":
    unittest.main()
