"""The console as a window: under wineconsole on a virtual X display the console has a real
window and font. Start-up makes it 90 by 9 with the player's font and locks the window's shape;
"q" gives size, font, title and style back. A screenshot of the running player is kept under
the build tree."""
import os
import pathlib
import socket
import struct
import subprocess
import time
import unittest
import zlib

from catalogue import start_site
from harness import BUILD, PROBE, Screen, Tuner, windows_path

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
    number = os.read(read, 64).decode().strip()
    os.close(read)
    display = ":" + number


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


class WindowedTuner(Tuner):
    """A program run through the console probe by wineconsole, in a console window of its own."""

    def start(self):
        command = ["wineconsole", windows_path(PROBE), windows_path(self.folder),
                   windows_path(self.exe)] + self.args
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

    def test_the_windows_side_console_tests_run_with_a_window(self):
        # Without a display they skip; here the console they make has a window and a font.
        result = subprocess.run(["wine", str(BUILD / "tests" / "win_tests.exe"),
                                 "--gtest_filter=ConsoleSetupTest.*", "--gtest_color=no"],
                                env=dict(os.environ, DISPLAY=display, TUNER_TESTS_NEED_DISPLAY="1"),
                                capture_output=True,
                                text=True, timeout=300, stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, result.stdout[-3000:])
        self.assertNotIn("SKIPPED", result.stdout)
        self.assertRegex(result.stdout, r"\[  PASSED  \] [1-9]\d* tests?\.")


if __name__ == "__main__":
    unittest.main()
