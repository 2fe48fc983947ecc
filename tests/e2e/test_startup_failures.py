"""Start-up refusals: each ends the program with its own line and exit code."""
import tempfile
import unittest

from harness import Tuner, program_copy

PROGRAMS = ("listen_tuner", "download_tuner")


class StartupFailures(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="copy-")

    def test_without_winhttp_the_program_stops_with_code_1(self):
        for program in PROGRAMS:
            with self.subTest(program=program), \
                    Tuner(program, env={"WINEDLLOVERRIDES": "winhttp=,mscoree,mshtml="}) as tuner:
                self.assertEqual(tuner.exit_code(), 1)
                screen = tuner.final_screen()
                first = screen.find("Initializing WinHTTP...")
                self.assertGreater(first, 0, screen)
                self.assertEqual(screen.row(first + 1), "Unable To initialize Winhttp.dll! Exiting...")
                self.assertNotIn("Bass.dll", screen)

    def test_without_bass_dll_the_program_stops_with_code_2(self):
        for program in PROGRAMS:
            exe = program_copy(program, f"{self.folder}/{program}", with_bass=False)
            with self.subTest(program=program), Tuner(program, exe=exe) as tuner:
                self.assertEqual(tuner.exit_code(), 2)
                screen = tuner.final_screen()
                first = screen.find("Initializing WinHTTP...")
                self.assertGreater(first, 0, screen)
                self.assertEqual(screen.row(first + 1), "Initializing Bass.dll...")
                self.assertEqual(screen.row(first + 2), "Unable To initialize Bass.dll! Exiting...")
                # The input mode stays as start-up set it: no mouse, no quick-edit, extended.
                before = tuner.started.input_mode
                self.assertEqual(screen.input_mode, (before & ~0x50) | 0x80)

    def test_an_older_windows_is_refused_and_the_console_left_alone(self):
        for program in PROGRAMS:
            exe = program_copy(program, f"{self.folder}/{program}", name="oldwindows_tuner.exe")
            with self.subTest(program=program), Tuner(program, exe=exe) as tuner:
                self.assertEqual(tuner.exit_code(), 0)
                screen = tuner.final_screen()
                lines = [row for row in screen.text().split("\n") if row.strip()]
                self.assertEqual(lines, ["This operating system is NOT supported! Win7+ is required!"])
                self.assertEqual(screen.input_mode, tuner.started.input_mode)
                self.assertEqual(screen.title, tuner.started.title)


if __name__ == "__main__":
    unittest.main()
