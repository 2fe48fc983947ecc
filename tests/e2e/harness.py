"""The end-to-end tests' view of a running program: start it under Wine in a terminal,
read its console exactly, type keys, collect its exit code.

Runs inside the sandbox (tools/sandbox.py), which sets TUNER_BUILD (the tree whose songs, test
CA and Wine prefixes the tests use), TUNER_PROGRAMS (the tree whose programs are under test:
the same one, or the 32-bit build beside it) and the Wine prefix.
"""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import sys
import uuid

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
import wine_env  # noqa: E402

BUILD = pathlib.Path(os.environ.get("TUNER_BUILD", pathlib.Path(__file__).resolve().parents[2] / "build" / "win"))
PROGRAMS = pathlib.Path(os.environ.get("TUNER_PROGRAMS", BUILD))
BIN = PROGRAMS / "bin"
# The test build beside the tested one (tools/test_build.py): its Bass.dll obeys the test
# switches (TUNER_BASS_*), which the shipped one does not even know.
TEST_BIN = PROGRAMS.with_name(PROGRAMS.name + "-test") / "bin"
PROBE = PROGRAMS / "tests" / "console_probe.exe"

KEYS = {
    "esc": "v27:27",       # as Windows delivers it
    "esc-wine": "v27:0",   # as Wine's terminal console delivers it
    "backspace": "v8:8",
    "enter": "v13:13",
    "up": "v38:0", "down": "v40:0", "left": "v37:0", "right": "v39:0",
    "f1": "v112:0",
    # With the console's modifier flags: left Alt 2; AltGr is right Alt (1) with left Ctrl (8).
    "alt-q": "v81:113:2", "alt-d": "v68:100:2", "alt-p": "v80:112:2", "alt-space": "v32:32:2",
    "alt-1": "v49:49:2", "altgr-plus": "v187:43:9",
}


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


class Screen:
    """One reading of the console: rows of characters and of attributes (0-based lists,
    but row() and cell() take the console's 1-based rows and columns)."""

    def __init__(self, text):
        self.title, self.rows, self.attributes = "", [], []
        self.size = (0, 0)
        self.cursor = (0, 0, True)
        self.input_mode = 0
        for line in text.split("\n"):
            kind, _, rest = line.partition(" ")
            if kind == "TITLE":
                self.title = rest
            elif kind == "SIZE":
                self.size = tuple(int(v) for v in rest.split())
            elif kind == "CURSOR":
                x, y, visible = rest.split()
                self.cursor = (int(x), int(y), visible == "1")
            elif kind == "INPUTMODE":
                self.input_mode = int(rest)
            elif kind == "C":
                self.rows.append(rest)
            elif kind == "A":
                self.attributes.append([int(rest[i:i + 4], 16) for i in range(0, len(rest), 4)])

    def row(self, number):
        """Text of a 1-based row, trailing blanks removed."""
        return self.rows[number - 1].rstrip() if 0 < number <= len(self.rows) else ""

    def attribute(self, row, column):
        return self.attributes[row - 1][column - 1]

    def text(self):
        return "\n".join(r.rstrip() for r in self.rows).rstrip()

    def find(self, text):
        """1-based row holding text, or 0."""
        for i, row in enumerate(self.rows, 1):
            if text in row:
                return i
        return 0

    def __contains__(self, text):
        return self.find(text) != 0

    def __str__(self):
        return self.text()


# Sites the tests started (tests/e2e/catalogue.py adds each): a wait that fails shows what they
# saw last, so a stall can be placed even when it happened once, on a loaded machine.
SITES = []


def last_requests(count=12):
    now, lines = time.time(), []
    for site in SITES[-2:]:
        for r in site.requests()[-count:]:
            lines.append(f"  {r['time'] - now:+6.1f} s  {r['site_host']} {r['exchange']} {r['method']} "
                         f"{r['path']} -> {r['status']}, {r['sent']} bytes"
                         + ("" if r["done"] else ", not ended"))
    return "\nthe site's last requests (seconds before now):\n" + "\n".join(lines) if lines else ""


class Tuner:
    """A program run by plain `wine` in a tmux terminal, through the console probe."""

    poll_seconds = 0.02  # how often the probe's answer files are looked for

    def __init__(self, program="listen_tuner", args=(), env=None, exe=None, columns=120, lines=40):
        self.program = program
        self.args = list(args)
        self.exe = pathlib.Path(exe) if exe else BIN / f"{program}.exe"
        self.env = dict(env or {})
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="tuner-run-"))
        self.session = "tuner-" + uuid.uuid4().hex[:8]
        self.columns, self.lines = columns, lines
        self._request = 0
        self.started = None

    # -- life -------------------------------------------------------------------------
    def start(self):
        command = wine_env.command(windows_path(PROBE), windows_path(self.folder), windows_path(self.exe))
        command += self.args
        tmux = ["tmux", "-L", self.session, "new-session", "-d", "-s", self.session,
                "-x", str(self.columns), "-y", str(self.lines)]
        for key, value in self.env.items():
            tmux += ["-e", f"{key}={value}"]
        tmux.append(" ".join(_shell_quote(c) for c in command) + f" 2>{self.folder}/stderr")
        subprocess.run(tmux, check=True)
        self.started = Screen(self._wait_file("started", 30))
        return self

    def close(self):
        if not (self.folder / "exit").exists() and (self.folder / "started").exists():
            try:
                self._ask("kill", timeout=5)
                self._wait_file("exit", 10)
            except TimeoutError:
                pass
        subprocess.run(["tmux", "-L", self.session, "kill-server"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    # -- looking ----------------------------------------------------------------------
    def screen(self):
        """The console now; after the program has ended, its last screen."""
        if self.exited():
            return self.final_screen()
        try:
            return Screen(self._ask("snap", timeout=10))
        except TimeoutError:
            if self.exited():
                return self.final_screen()
            raise

    def final_screen(self):
        return Screen(self._wait_file("final", 10))

    def wait_for(self, text, timeout=30):
        """Waits until text shows on the screen; returns that screen."""
        return self.wait_until(lambda s: text in s, timeout, f"text {text!r}")

    def wait_until(self, predicate, timeout=30, what="condition"):
        deadline = time.monotonic() + timeout
        while True:
            screen = self.screen()
            if predicate(screen):
                return screen
            if self.exited() or time.monotonic() > deadline:
                raise AssertionError(f"{what} not seen within {timeout} s; screen:\n{screen}"
                                     f"{last_requests()}")
            time.sleep(0.1)

    def exited(self):
        return (self.folder / "exit").exists()

    def exit_code(self, timeout=30):
        text = self._wait_file("exit", timeout).strip()
        return int(text) if text.lstrip("-").isdigit() else text

    # -- typing -----------------------------------------------------------------------
    def press(self, *keys):
        """Puts key events into the console's input queue, all at once and in order. A key
        is a character ("q", " ", "Q") or a name of KEYS ("esc", "up", "backspace")."""
        codes = [KEYS[k] if k in KEYS else f"c{ord(k)}" for k in keys]
        self._ask("keys " + " ".join(codes), timeout=10)

    def type_in_terminal(self, text):
        """Types into the terminal itself, as a user at the keyboard would."""
        subprocess.run(["tmux", "-L", self.session, "send-keys", "-t", self.session, "-l", text],
                       check=True)

    # -- the probe's files ---------------------------------------------------------------
    def _ask(self, request, timeout):
        self._request += 1
        name = f"{self._request:06d}"
        temporary = self.folder / f"req-{name}.tmp"
        temporary.write_text(request + "\n")
        temporary.rename(self.folder / f"req-{name}")
        return self._wait_file(f"resp-{name}", timeout)

    def _wait_file(self, name, timeout):
        path = self.folder / name
        deadline = time.monotonic() + timeout
        while not path.exists():
            if time.monotonic() > deadline:
                raise TimeoutError(f"no {name} from the console probe within {timeout} s"
                                   + self._stderr())
            time.sleep(self.poll_seconds)
        return path.read_text(encoding="utf-8", errors="replace")

    def _stderr(self):
        path = self.folder / "stderr"
        return ("; stderr: " + path.read_text(errors="replace")[-2000:]) if path.exists() else ""


def _shell_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def program_copy(program, folder, with_bass=True, name=None, test_build=False):
    """A copy of a program in a folder of its own (optionally without Bass.dll beside it,
    or under another name, or beside the test build's Bass.dll for a test that needs its
    switches); returns the copy's path."""
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / (name or f"{program}.exe")
    shutil.copy(BIN / f"{program}.exe", target)
    bass = (TEST_BIN if test_build else BIN) / "Bass.dll"
    if with_bass and bass.exists():
        shutil.copy(bass, folder / "Bass.dll")
    return target
