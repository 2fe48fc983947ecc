"""The console as a window: under wineconsole on a virtual X display the console has a real
window and font. Start-up makes it 90 by 9 with the player's font and locks the window's shape;
"q" gives size, font, title and style back. A screenshot of the running player is kept under
the build tree. Whatever the site sends, the 9-row screen keeps its rows and never scrolls.

A program alone on a terminal's console: the test build takes Wine's hidden terminal console
for a pseudo console and starts the host that TUNER_CLASSIC_CONSOLE_HOST names; through
wineconsole the program moves into a console window of its own, and through a host that fails
(Wine's conhost.exe ends with 1) it stays in the terminal, as the shipped program always does."""
import os
import pathlib
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import unittest
import uuid
import zlib

from catalogue import HOST_OF, start_site
from harness import BIN, BUILD, PROBE, TEST_BIN, Screen, Tuner, _shell_quote, wine_env, windows_path
from playing import DEFAULT_ATTRIBUTE, PLAYED, SONG_PATH, WAIT_LINE, playing_url

PROGRAMS = ("listen_tuner", "download_tuner")
ARTEFACTS = BUILD / "e2e" / "artefacts"
WS_MAXIMIZEBOX, WS_SIZEBOX = 0x00010000, 0x00040000
MF_GRAYED, MF_DISABLED = 0x1, 0x2
# The console's colours as the screenshot shows them: red and magenta backgrounds.
BACKGROUND_RGB = {"listen_tuner": (128, 0, 0), "download_tuner": (128, 0, 128)}

display = None
xvfb = None


def setUpModule():
    global display, xvfb
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    # Xvfb writes the number and the line break separately and dies if the pipe is gone
    # in between: read the whole line before closing.
    number = b""
    while not number.endswith(b"\n"):
        piece = os.read(read, 64)
        if not piece:
            break
        number += piece
    os.close(read)
    display = ":" + number.decode().strip()


def tearDownModule():
    if xvfb is not None:
        xvfb.terminate()
        xvfb.wait(timeout=10)


class Facts:
    """The console window facts of one probe reading."""

    def __init__(self, text):
        self.screen = Screen(text)
        for line in text.split("\n"):
            kind, _, rest = line.partition(" ")
            if kind == "WINDOW":
                style, close, items, columns, lines = rest.split()
                self.style, self.close = int(style, 16), int(close, 16)
                self.menu_items, self.window = int(items), (int(columns), int(lines))
            elif kind == "FONT":
                width, height, weight, family, face = (rest.split(" ", 4) + [""])[:5]
                self.font = (int(width), int(height), int(weight), int(family), face)
            elif kind == "CONSOLEWINDOW":
                window_class, visible, logos = rest.rsplit(" ", 2)
                self.console_window = (window_class, visible == "1", int(logos))


class WindowedTuner(Tuner):
    """A program run through the console probe by wineconsole, in a console window of its own."""

    def start(self):
        command = wine_env.command("wineconsole", windows_path(PROBE), windows_path(self.folder),
                                   windows_path(self.exe), *self.args)
        env = dict(os.environ, DISPLAY=display, **self.env)
        with open(self.folder / "stderr", "w") as errors:
            self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=errors)
        self.started = Screen(self._wait_file("started", 30))
        return self

    def close(self):
        super().close()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()

    def facts(self):
        return Facts(self._ask("snap", timeout=10))

    def started_facts(self):
        return Facts(self._wait_file("started", 1))

    def final_facts(self):
        return Facts(self._wait_file("final", 10))


class AttachedTuner(WindowedTuner):
    """The console probe attached to a program that something else started, in whatever
    console that program has; found by its file name."""

    def start(self):
        command = wine_env.command(windows_path(PROBE), windows_path(self.folder), "--attach",
                                   self.exe.name)
        env = dict(os.environ, DISPLAY=display)
        with open(self.folder / "stderr", "w") as errors:
            self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=errors)
        started = self._wait_file("started", 40)
        self.instances = int(started.split("\n", 1)[0].split()[1])
        self.started = Screen(started)
        return self


class AloneInATerminal:
    """A program started by plain wine in a tmux terminal with no process of ours on its
    console, as Explorer starts one: everything it writes to the terminal is recorded."""

    def __init__(self, exe, args=(), env=None):
        self.exe, self.args, self.env = exe, list(args), dict(env or {})
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="tuner-alone-"))
        self.session = "alone-" + uuid.uuid4().hex[:8]
        self.seconds = None

    def start(self):
        go, exit_file = self.folder / "go", self.folder / "exit"
        command = " ".join(_shell_quote(c) for c in wine_env.command(windows_path(self.exe), *self.args))
        script = (f"while [ ! -e {go} ]; do sleep 0.05; done; {command} 2>{self.folder}/stderr; "
                  f"echo $? >{exit_file}.tmp; mv {exit_file}.tmp {exit_file}")
        tmux = ["tmux", "-L", self.session, "new-session", "-d", "-s", self.session, "-x", "120",
                "-y", "40", "-e", f"DISPLAY={display}"]
        for key, value in self.env.items():
            tmux += ["-e", f"{key}={value}"]
        subprocess.run(tmux + ["sh -c " + _shell_quote(script)], check=True)
        subprocess.run(["tmux", "-L", self.session, "pipe-pane", "-t", self.session, "-o",
                        f"cat >{self.folder}/terminal"], check=True)
        go.touch()
        self.began = time.monotonic()
        return self

    def exit_code(self, timeout=30):
        path = self.folder / "exit"
        deadline = time.monotonic() + timeout
        while not path.exists():
            if time.monotonic() > deadline:
                raise AssertionError(f"the program did not end within {timeout} s")
            time.sleep(0.02)
        self.seconds = time.monotonic() - self.began
        return int(path.read_text())

    def printed(self):
        """What the terminal shows of the recording: its text without escape sequences."""
        time.sleep(0.3)  # the pipe's reader writes out what it has read
        data = (self.folder / "terminal").read_bytes() if (self.folder / "terminal").exists() else b""
        text = re.sub(rb"\x1b(\[[0-?]*[ -/]*[@-~]|\][^\x07\x1b]*(\x07|\x1b\\)|[@-Z\\-_])", b"", data)
        return text.decode(errors="replace").strip()

    def close(self):
        subprocess.run(["tmux", "-L", self.session, "kill-server"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(self.folder, ignore_errors=True)


def screenshot(display_name, path):
    """Saves the X display's root window as a PNG; returns (width, height, RGB bytes)."""
    number = display_name.lstrip(":").split(".")[0]
    connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    connection.connect(f"/tmp/.X11-unix/X{number}")
    with connection:
        connection.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
        head = _receive(connection, 8)
        if head[0] != 1:
            raise RuntimeError("the X server refused the connection")
        setup = _receive(connection, struct.unpack_from("<H", head, 6)[0] * 4)
        vendor_length, = struct.unpack_from("<H", setup, 16)
        formats = setup[21]
        screen_at = 32 + (vendor_length + 3) // 4 * 4 + 8 * formats
        root, = struct.unpack_from("<I", setup, screen_at)
        width, height = struct.unpack_from("<HH", setup, screen_at + 20)
        connection.sendall(struct.pack("<BBHIhhHHI", 73, 2, 5, root, 0, 0, width, height,
                                       0xFFFFFFFF))  # GetImage, ZPixmap
        reply = _receive(connection, 32)
        if reply[0] != 1:
            raise RuntimeError("GetImage failed")
        pixels = _receive(connection, struct.unpack_from("<I", reply, 4)[0] * 4)
    rgb = bytearray(width * height * 3)
    rgb[0::3], rgb[1::3], rgb[2::3] = pixels[2::4], pixels[1::4], pixels[0::4]  # BGRX
    rows = b"".join(b"\0" + bytes(rgb[y * width * 3:(y + 1) * width * 3]) for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                     + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))
    return width, height, bytes(rgb)


def _receive(connection, count):
    data = bytearray()
    while len(data) < count:
        piece = connection.recv(min(1 << 20, count - len(data)))
        if not piece:
            raise RuntimeError("the X server closed the connection")
        data += piece
    return bytes(data)


class ConsoleWindow(unittest.TestCase):
    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)

    def test_the_console_is_shaped_locked_and_given_back(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                tuner = WindowedTuner(program, ["/order", "2"]).start()
                self.addCleanup(tuner.close)
                before = tuner.started_facts()
                self.assertTrue(before.style & WS_MAXIMIZEBOX and before.style & WS_SIZEBOX)
                self.assertGreater(before.font[1], 0, "the console has no font of its own")

                tuner.wait_until(lambda s: "Played:" in s, 40, "the Played: line")
                running = tuner.facts()
                self.assertEqual(running.window, (90, 9))
                self.assertEqual(running.screen.size, (90, 9))
                self.assertEqual(running.style & (WS_MAXIMIZEBOX | WS_SIZEBOX), 0, hex(running.style))
                # The heavy 8 by 12 cell asked for, as near as the fonts here allow.
                self.assertNotEqual(running.font[:2], before.font[:2])
                self.assertLessEqual(abs(running.font[1] - 12), 2, running.font)
                self.assertGreaterEqual(running.font[2], 700, running.font)
                if running.menu_items >= 0:  # Wine gives no process another's system menu
                    self.assertEqual(running.close & (MF_GRAYED | MF_DISABLED), MF_GRAYED | MF_DISABLED)
                time.sleep(1.0)  # wineconsole repaints a moment after the text changes
                width, height, rgb = screenshot(display, ARTEFACTS / f"console_window_{program}.png")
                background = bytes(BACKGROUND_RGB[program])
                painted = sum(1 for i in range(0, len(rgb), 3) if rgb[i:i + 3] == background)
                cell = running.font[0] * running.font[1]
                self.assertGreater(painted, 90 * 9 * cell // 3, "the screenshot shows no player")

                tuner.press("q")
                self.assertEqual(tuner.exit_code(), 0)
                after = tuner.final_facts()
                self.assertEqual(after.screen.text(), "Bye....")
                self.assertEqual(after.window, before.window)
                self.assertEqual(after.font[:3], before.font[:3])
                self.assertEqual(after.font[4], before.font[4])
                self.assertEqual(after.screen.title, before.screen.title)
                self.assertEqual(after.style & (WS_MAXIMIZEBOX | WS_SIZEBOX), WS_MAXIMIZEBOX | WS_SIZEBOX)
                tuner.close()

    def watch(self, tuner, seconds, check):
        """Reads the screen every quarter second for `seconds`; `check` judges each reading."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            screen = tuner.facts().screen
            with self.subTest(screen=screen.text()):
                self.assertEqual(screen.size, (90, 9))
                self.assertFalse(screen.cursor[2], "the cursor shows")
                check(screen)
            time.sleep(0.25)

    def test_a_long_name_keeps_every_row_in_its_place(self):
        name = "n" * 196 + ".mp3"
        for program in PROGRAMS:
            self.site.fault(HOST_OF[program], "song_hostile_name", name=name)
            self.site.set_latest(HOST_OF[program], 5)  # the 60 s song: no song change

        def check(screen):
            labels = [screen.row(r)[:8] for r in range(1, 6)]
            self.assertEqual(labels, ["URL:    ", "Playing:", "Bitrate:", "Size:   ", "Length: "])
            # Cut to the row less its last column, which the line break needs.
            self.assertEqual(screen.row(2), ("Playing: " + name)[:89])
            self.assertRegex(screen.row(6), PLAYED)
            self.assertEqual(screen.row(7), "")
            self.assertTrue(screen.row(8).startswith("Zorvathimelle"), screen.row(8))
            self.assertEqual(screen.row(9), "")

        for program in PROGRAMS:
            with self.subTest(program=program):
                tuner = WindowedTuner(program, ["/order", "1"]).start()
                self.addCleanup(tuner.close)
                tuner.wait_until(lambda s: PLAYED.match(s.row(6)), 40, "the Played: line")
                self.watch(tuner, 10.0, check)
                tuner.close()

    def test_failed_requests_report_on_the_row_below_the_banner(self):
        # Every song's page and stream fail: the player goes from song to song, and each
        # song's error line lands on the same row, never scrolling the screen up; from the
        # third failure on, the wait before the next try shows there in its place.
        error = re.compile(r"^Error \d+ in function _WinHttp(SendRequest|ReceiveResponse)!$")
        for program in PROGRAMS:
            self.site.fault(HOST_OF[program], "reset", target="song")
        notice = {"listen_tuner": "Please wait while connecting to a song...", "download_tuner": ""}
        for program in PROGRAMS:
            with self.subTest(program=program):
                tuner = WindowedTuner(program, ["/order", "2"]).start()
                self.addCleanup(tuner.close)
                # The cursor hides with the first song's cursor move, after its request.
                tuner.wait_until(lambda s: error.match(s.row(9)) and not s.cursor[2], 40,
                                 "an error line")

                def check(screen):
                    self.assertEqual(screen.row(1), notice[program])
                    self.assertLessEqual(screen.text().count("Error"), 1)
                    self.assertTrue(error.match(screen.row(9)) or WAIT_LINE.match(screen.row(9)),
                                    screen.row(9))
                    self.assertEqual({screen.attribute(9, c) for c in (1, 60, 90)},
                                     {DEFAULT_ATTRIBUTE[program]})

                self.watch(tuner, 3.0, check)
                tuner.close()


class ClassicConsoleWindow(unittest.TestCase):
    HOST = "TUNER_CLASSIC_CONSOLE_HOST"

    def setUp(self):
        self.site = start_site()
        self.addCleanup(self.site.stop)

    def alone(self, exe, host):
        first = AloneInATerminal(exe, ["/order", "2"], {self.HOST: host}).start()
        self.addCleanup(first.close)
        return first

    def attach(self, program, exe):
        tuner = AttachedTuner(program, exe=exe).start()
        self.addCleanup(tuner.close)
        self.assertEqual(tuner.instances, 1, "more than one player runs")
        tuner.wait_until(lambda s: PLAYED.match(s.row(6)), 40, "the Played: line")
        return tuner

    def test_alone_in_a_terminal_it_moves_into_a_console_window_of_its_own(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                exe = TEST_BIN / f"{program}.exe"
                first = self.alone(exe, "wineconsole.exe")
                self.assertEqual(first.exit_code(), 0)
                print(f"\n{program}: the first process ended after {first.seconds:.2f} s", flush=True)
                self.assertEqual(first.printed(), "")

                tuner = self.attach(program, exe)
                running = tuner.wait_until(lambda s: s.size == (90, 9), 10, "the 90 by 9 console")
                facts = tuner.facts()
                self.assertEqual(facts.console_window[:2], ("WineConsoleClass", True))
                self.assertEqual(facts.screen.title, f"Zorvathimelle {HOST_OF[program]} / "
                                 f"~{self.site.latest(HOST_OF[program])} songs available")
                # The arguments came along: "/order 2" starts at song 1.
                self.assertEqual(playing_url(running), f"https://{HOST_OF[program]}{SONG_PATH[program]}1")
                self.assertEqual(facts.window, (90, 9))
                self.assertLessEqual(abs(facts.font[1] - 12), 2, facts.font)
                self.assertGreaterEqual(facts.font[2], 700, facts.font)
                deadline = time.monotonic() + 10
                while facts.console_window[2] == 0 and time.monotonic() < deadline:
                    time.sleep(0.2)
                    facts = tuner.facts()
                self.assertEqual(facts.console_window[2], 1, "no logo window in the console window")
                tuner.press("q")
                self.assertEqual(tuner.exit_code(), 0)
                tuner.close()

    def test_it_stays_in_the_terminal_when_no_host_gives_it_a_window(self):
        # Wine's conhost.exe starts and ends with 1; a host that is not there does not start;
        # and the shipped program knows no such switch and never looks for a host.
        for exe, host in ((TEST_BIN / "listen_tuner.exe", "conhost.exe"),
                          (TEST_BIN / "listen_tuner.exe", "absent.exe"),
                          (BIN / "listen_tuner.exe", "wineconsole.exe")):
            with self.subTest(exe=str(exe), host=host):
                first = self.alone(exe, host)
                tuner = self.attach("listen_tuner", exe)
                facts = tuner.facts()
                self.assertEqual(facts.console_window[:2], ("WineConsoleClass", False))
                self.assertEqual(facts.font[:2], (0, 0))
                self.assertFalse((first.folder / "exit").exists(), "the program left its terminal")
                tuner.press("q")
                self.assertEqual(first.exit_code(), 0)
                self.assertIn("Bye....", first.printed())
                tuner.close()
                first.close()


if __name__ == "__main__":
    unittest.main()
