"""The newest song number from each site's home page, and the requests that fetch it."""
import unittest

from catalogue import HOST_OF, start_site
from harness import Tuner

PROGRAMS = ("listen_tuner", "download_tuner")


class NewestSongNumber(unittest.TestCase):
    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)

    def test_the_title_names_the_host_and_the_newest_number(self):
        for program in PROGRAMS:
            host = HOST_OF[program]
            self.site.set_latest(host, 4321)
            self.site.clear_requests()
            with self.subTest(program=program), Tuner(program) as tuner:
                screen = tuner.wait_until(lambda s: "songs available" in s.title, 30, "the title")
                self.assertEqual(screen.title, f"Zorvathimelle {host} / ~4321 songs available")
                home = [r for r in self.site.requests(host) if r["path"] == "/"]
                self.assertEqual(len(home), 1)
                self.assertEqual(home[0]["user_agent"], "RQ_WinHTTP/1.0")
                self.assertFalse(home[0]["tls"])
                self.assertEqual(home[0]["method"], "GET")
                tuner.press("q")
                self.assertEqual(tuner.exit_code(), 0)

    def test_a_number_above_65535_is_taken_modulo_65536(self):
        self.site.set_latest(HOST_OF["listen_tuner"], 70000)
        with Tuner("listen_tuner") as tuner:
            screen = tuner.wait_until(lambda s: "songs available" in s.title, 30, "the title")
            self.assertTrue(screen.title.endswith(" / ~4464 songs available"), screen.title)

    def test_a_site_that_is_down_ends_the_program_with_code_3(self):
        for program in PROGRAMS:
            self.site.fault(HOST_OF[program], "home_refused")
            with self.subTest(program=program), Tuner(program) as tuner:
                self.assertEqual(tuner.exit_code(), 3)
                screen = tuner.final_screen()
                start = screen.find("Getting latest song number...")
                self.assertGreater(start, 0, screen)
                lines = [screen.row(start + i) for i in range(1, 4)]
                self.assertRegex(lines[0], r"^Error \d+ in function _WinHttpSendRequest!$")
                self.assertEqual(lines[1:], ["hRequest = 0",
                                             "Unable To Get latest song number! Exiting..."])
            self.site.clear_faults()

    def test_a_home_page_without_the_marker_or_with_an_error_gives_code_3(self):
        for kind, params in (("home_no_marker", {}), ("home_status", {"status": 500}),
                             ("home_status", {"status": 404})):
            for program in PROGRAMS:
                self.site.clear_faults()
                self.site.fault(HOST_OF[program], kind, **params)
                with self.subTest(program=program, fault=kind, **params), Tuner(program) as tuner:
                    self.assertEqual(tuner.exit_code(), 3)
                    self.assertIn("Unable To Get latest song number! Exiting...", tuner.final_screen())


if __name__ == "__main__":
    unittest.main()
