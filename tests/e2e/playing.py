"""Reading the player's screen and captured audio in the end-to-end tests."""
import array
import pathlib
import re
import time

from catalogue import HOST_OF
from harness import Tuner

STATUS_ROW = 6
BANNER_ROW = 8
DEFAULT_ATTRIBUTE = {"listen_tuner": 0x4F, "download_tuner": 0x5F}
SONG_PATH = {"listen_tuner": "/listen/", "download_tuner": "/download.php/"}
PLAYED = re.compile(r"^Played:  (\d{2,3}\.\d{2}) % / (\d+\.\d{2}) s / "
                    r"(\d{2}):(\d{2}):(\d{2}):(\d{3}) / volume: (\d+)$")


class Played:
    def __init__(self, match):
        self.share = float(match.group(1))
        self.left = float(match.group(2))
        h, m, s, ms = (int(match.group(i)) for i in range(3, 7))
        self.clock = h * 3600 + m * 60 + s + ms / 1000
        self.volume = int(match.group(7))


def played(screen):
    match = PLAYED.match(screen.row(STATUS_ROW))
    return Played(match) if match else None


def playing_url(screen):
    row = screen.row(1)
    return row[len("URL:     "):] if row.startswith("URL:     ") else None


def song_number_on_screen(screen):
    url = playing_url(screen)
    return int(url.rsplit("/", 1)[1]) if url else None


def start_playing(program, args=(), env=None, timeout=40, exe=None):
    """A running player whose first song's status line is showing."""
    tuner = Tuner(program, args=args, env=env, exe=exe).start()
    try:
        tuner.wait_until(lambda s: played(s) is not None, timeout, "the Played: line")
    except BaseException:
        tuner.close()
        raise
    return tuner


def wait_for_song(tuner, number, timeout=30):
    return tuner.wait_until(lambda s: song_number_on_screen(s) == number and played(s) is not None,
                            timeout, f"song {number}")


def wait_for_clock(tuner, seconds, timeout=30):
    return tuner.wait_until(lambda s: played(s) is not None and played(s).clock >= seconds,
                            timeout, f"a played time of {seconds} s")


def song_pages(site, program):
    """Song numbers whose pages the program asked for, in order (plain requests only,
    as the audio library's own requests go over TLS)."""
    host, prefix = HOST_OF[program], SONG_PATH[program]
    numbers = []
    for request in site.requests(host):
        path = request["path"]
        if not request["tls"] and path.startswith(prefix):
            numbers.append(int(path[len(prefix):].strip("/")))
    return numbers


def press_one_by_one(tuner, key, times, pause=0.12):
    """Separate presses: keys queued together would be drained into one."""
    for _ in range(times):
        tuner.press(key)
        time.sleep(pause)


def read_capture(path):
    """(sample rate, channels, samples as floats) of a captured WAV, also while it is still
    being written (the header's sizes are then not final)."""
    data = pathlib.Path(path).read_bytes()
    channels = int.from_bytes(data[22:24], "little")
    rate = int.from_bytes(data[24:28], "little")
    start = data.find(b"data") + 8
    body = data[start:]
    samples = array.array("h")
    samples.frombytes(body[:len(body) // 2 * 2])
    return rate, channels, [s / 32768 for s in samples]


def peak(samples):
    return max((abs(s) for s in samples), default=0.0)


SCREEN_SIZE = (90, 9)
LINE_STARTS = ("URL:     ", "Playing: ", "Bitrate: Ø ", "Size:    ", "Length: ")
ERROR_LINE = re.compile(r"^Error \d+ in function _WinHttp(SendRequest|ReceiveResponse)!$")
# From the third failed song in a row the player waits before its next try, and says so.
WAIT_LINE = re.compile(r"^No song could be played; next try in (\d+) s$")


def shown_text(text):
    """A text as the screen shows it: control characters as '?'."""
    return "".join("?" if ord(c) < 0x20 or ord(c) == 0x7F else c for c in text)


def assert_screen_shape(test, screen, program, title=None):
    """The player's screen keeps its shape whatever the site sent: the five song lines,
    the status line and the banner on their rows, nothing wrapped onto another row, no
    control character shown, and row 9 blank or holding one error line, in the default
    colours. With `title`, the Playing row shows that name as the screen shows names."""
    test.assertEqual(screen.size, SCREEN_SIZE, screen)
    for row, start in enumerate(LINE_STARTS, 1):
        test.assertTrue(screen.rows[row - 1].startswith(start), f"row {row}:\n{screen}")
    test.assertIsNotNone(played(screen), f"the status line is not on row {STATUS_ROW}:\n{screen}")
    test.assertEqual(screen.row(STATUS_ROW + 1), "", screen)
    test.assertTrue(screen.row(BANNER_ROW).startswith("Zorvathimelle Tuner"), screen)
    last = screen.row(BANNER_ROW + 1)
    test.assertTrue(last == "" or ERROR_LINE.match(last), f"row {BANNER_ROW + 1}:\n{screen}")
    for row in (1, 2, 3, 4, 5, BANNER_ROW + 1):
        test.assertEqual(screen.attribute(row, 1), DEFAULT_ATTRIBUTE[program], f"row {row}")
    for text in screen.rows:
        test.assertFalse(any(ord(c) < 0x20 or ord(c) == 0x7F for c in text), repr(text))
    if title is not None:
        # Cut to the row; the last column may be left free.
        whole, row = shown_text("Playing: " + title), screen.rows[1]
        room = min(len(whole), SCREEN_SIZE[0] - 1)
        test.assertEqual(row[:room], whole[:room])
        test.assertTrue(whole.startswith(row.rstrip()), f"{row!r} is not {whole!r}")
