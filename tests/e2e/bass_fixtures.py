"""MP3 files and a small web server for the tests of our Bass.dll.

The songs are synthesised and encoded with lame here; the server offers them plainly, by
redirect, and with faults (error statuses, bodies that are not MP3, a server that never
answers or resets the connection, truncated, damaged, slow, stalled, trickling and endless
bodies, and sizes no stream may hold). It listens over HTTPS with the sandbox's
test certificate on a catalogue host name, and over plain HTTP on 127.0.0.1.
"""
import http.server
import itertools
import math
import os
import pathlib
import random
import re
import select
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import wave

RATE = 44100


def write_wav(path, seconds, sample, rate=RATE, channels=2):
    """A 16-bit WAV whose n-th sample frame is sample(n) (an int, same on every channel)."""
    frames = bytearray()
    for n in range(int(seconds * rate)):
        frames += struct.pack("<h", sample(n)) * channels
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def encode(wav, mp3, *options):
    """Encodes with lame; returns the number of audio frames lame reports."""
    result = subprocess.run(["lame", *options, str(wav), str(mp3)], capture_output=True, text=True,
                            check=True)
    counts = re.findall(r"(\d+)/(\d+)\s+\(100%\)", result.stderr.replace("\r", "\n"))
    return int(counts[-1][1]) if counts else None


def id3v2_tag(body_size):
    """An ID3v2.3 tag with one text frame, padded to body_size bytes of body."""
    text = b"\x00Test title"
    frame = b"TIT2" + struct.pack(">I", len(text)) + b"\x00\x00" + text
    body = frame + b"\x00" * (body_size - len(frame))
    size = bytes([(body_size >> 21) & 0x7F, (body_size >> 14) & 0x7F, (body_size >> 7) & 0x7F,
                  body_size & 0x7F])
    return b"ID3\x03\x00\x00" + size + body


def read_wav(path):
    """(rate, channels, list of int samples interleaved)."""
    with wave.open(str(path), "rb") as w:
        data = w.readframes(w.getnframes())
        return w.getframerate(), w.getnchannels(), list(struct.unpack(f"<{len(data) // 2}h", data))


def make_songs(folder):
    """Makes the fixture songs; returns {name: facts} with lame's frame count and more."""
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    songs = {}
    tone = folder / "tone.wav"
    write_wav(tone, 6, lambda n: int(20000 * math.sin(2 * math.pi * 440 * n / RATE)))
    full = folder / "full.wav"
    write_wav(full, 3, lambda n: 32767 if (n // 50) % 2 else -32767)
    quiet = folder / "silence.wav"
    write_wav(quiet, 3, lambda n: 0)
    mono = folder / "mono.wav"
    write_wav(mono, 4, lambda n: int(12000 * math.sin(2 * math.pi * 300 * n / 24000)), rate=24000,
              channels=1)

    def add(name, wav, *options, rate=RATE, channels=2, tag=0):
        mp3 = folder / name
        frames = encode(wav, mp3, *options)
        if tag:
            mp3.write_bytes(id3v2_tag(tag) + mp3.read_bytes())
        songs[name] = {"frames": frames, "rate": rate, "channels": channels,
                       "samples_per_frame": 1152 if rate >= 32000 else 576,
                       "tag": tag + 10 if tag else 0, "size": mp3.stat().st_size}

    add("tone.mp3", tone, "-b", "128")
    add("tagged.mp3", tone, "-b", "128", tag=4096)
    add("vbr.mp3", tone, "-V", "2")
    add("noinfo.mp3", tone, "-b", "192", "-t")  # no summary frame: length from the size
    add("mono.mp3", mono, "-b", "32", "-m", "m", "--resample", "24", rate=24000, channels=1)
    add("full.mp3", full, "-b", "320")
    add("silence.mp3", quiet, "-b", "128")
    # Plain lame decodes of the same files, for comparison with what the library plays.
    for name in ("tone.mp3", "tagged.mp3"):
        subprocess.run(["lame", "--quiet", "--decode", str(folder / name),
                        str(folder / (name + ".wav"))], check=True)
    # Damage: a stretch of noise in the middle of the tone.
    data = bytearray((folder / "tone.mp3").read_bytes())
    noise = random.Random(7)
    for i in range(40000, 44000):
        data[i] = noise.randrange(256)
    (folder / "corrupt.mp3").write_bytes(bytes(data))
    (folder / "random.bin").write_bytes(bytes(random.Random(3).randrange(256) for _ in range(100000)))
    (folder / "page.html").write_bytes(b"<html><body><h1>Song not found</h1></body></html>\n" * 20)
    (folder / "empty.mp3").write_bytes(b"")
    return songs


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    folder = None
    stop = None

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        self.connection_number = self.server.site.next_connection()
        self.answered_at = None  # when this connection last answered a request

    def handle_one_request(self):
        # A server's keep-alive time-out: a connection idle that long is closed by the server.
        while self.answered_at is not None and not self.stop.is_set():
            if getattr(self.connection, "pending", lambda: 0)() or \
                    select.select([self.connection], [], [], 0.05)[0]:
                break
            limit = self.server.site.idle_close
            if limit is not None and time.monotonic() - self.answered_at >= limit:
                self.close_connection = True
                return
        super().handle_one_request()
        self.answered_at = time.monotonic()

    def _dropped(self):
        """A kept-alive connection idle past the site's limit: the server had closed it as
        the request came, so the request goes unanswered."""
        limit = self.server.site.idle_limit
        return (limit is not None and self.answered_at is not None
                and time.monotonic() - self.answered_at >= limit)

    def _send_file(self, data, status=200, content_type="audio/mpeg", announced=None, pace=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data) if announced is None else announced))
        self.end_headers()
        try:
            if pace is None:
                self.wfile.write(data)
            else:
                first, chunk, delay, limit = pace
                self.wfile.write(data[:first])
                self.wfile.flush()
                sent, started = first, time.monotonic()
                while sent < len(data) and not self.stop.is_set() and time.monotonic() - started < limit:
                    if self.stop.wait(delay):
                        break
                    self.wfile.write(data[sent:sent + chunk])
                    self.wfile.flush()
                    sent += chunk
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass
        # A whole answer leaves the connection for the next request, as real servers do.
        if pace is not None or announced is not None:
            self.close_connection = True

    def _send_endless(self, song):
        """The song's frames over and over, with no length: the body ends only when the
        client goes."""
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.send_header("Connection", "close")
        self.end_headers()
        block = song * max(1, (1 << 20) // len(song))
        try:
            while not self.stop.is_set():
                self.wfile.write(block)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass
        self.close_connection = True

    def do_GET(self):
        dropped = self._dropped()
        self.server.site.log.append((self.connection_number, self.path, not dropped))
        if dropped:
            self.close_connection = True
            return
        path = self.path.split("?")[0]
        parts = path.strip("/").split("/")
        kind, name = parts[0], "/".join(parts[1:])
        file = self.folder / name if name else None
        if kind == "songs" and file and file.is_file():
            self._send_file(file.read_bytes())
        elif kind == "listen" and name:
            # As the catalogue does: the song's page redirects to its file.
            self.send_response(302)
            self.send_header("Location", f"/songs/{name}")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif kind == "status":
            self._send_file(b"<html>error</html>", status=int(name), content_type="text/html")
        elif kind == "hang":
            self.stop.wait(30)
            self.close_connection = True
        elif kind == "truncated" and file and file.is_file():
            data = file.read_bytes()
            self._send_file(data[:len(data) // 2], announced=len(data))
        elif kind == "slow" and file and file.is_file():
            # The first 16 KiB at once, then a trickle: a download that is still running.
            self._send_file(file.read_bytes(), pace=(16384, 512, 0.2, 20))
        elif kind == "stall" and file and file.is_file():
            # The first 16 KiB, then nothing until the site closes.
            self._send_file(file.read_bytes(), pace=(16384, 0, 30, 30))
        elif kind == "trickle" and file and file.is_file():
            # The first 64 KiB, then 64 bytes a second: too slow to ever play.
            self._send_file(file.read_bytes(), pace=(65536, 64, 1.0, 120))
        elif kind == "huge" and file and file.is_file():
            # Announces 4 GB, more than any stream may hold.
            self._send_file(file.read_bytes(), announced=4 << 30)
        elif kind == "endless" and file and file.is_file():
            self._send_endless(file.read_bytes())
        elif kind == "slowhead":
            # The response head a byte at a time, 0.3 s apart.
            head = b"HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 1000\r\n\r\n"
            try:
                for byte in head:
                    if self.stop.wait(0.3):
                        break
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
            except OSError:
                pass
            self.close_connection = True
        elif kind == "reset":
            # The connection is reset as soon as the request is read.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
        else:
            self._send_file(b"no such thing", status=404, content_type="text/plain")


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, site):
        self.site = site
        super().__init__(address, handler)


class FixtureSite:
    """Serves `folder` over HTTPS at https://<host>:<port>/ (the sandbox's test CA) and over
    plain HTTP at http://127.0.0.1:<port>/."""

    def __init__(self, folder, host="listen.tuner.test", address="127.0.0.2", ca_dir=None):
        self.stop = threading.Event()
        # Every request: (number of its connection, path, whether it was answered).
        self.log = []
        # Seconds after which the server drops an idle kept-alive connection (None: never).
        self.idle_limit = None
        # Seconds after which the server closes an idle kept-alive connection (None: never).
        self.idle_close = None
        self._connections = itertools.count(1)
        handler = type("Handler", (_Handler,), {"folder": pathlib.Path(folder), "stop": self.stop})
        self.plain = _Server(("127.0.0.1", 0), handler, self)
        self.http = f"http://127.0.0.1:{self.plain.server_address[1]}"
        self.secure = None
        self.https = None
        ca_dir = ca_dir or os.environ.get("TUNER_CA_DIR")
        if ca_dir and os.environ.get("TUNER_SANDBOX"):
            self.secure = _Server((address, 0), handler, self)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(f"{ca_dir}/server.pem", f"{ca_dir}/server.key")
            self.secure.socket = context.wrap_socket(self.secure.socket, server_side=True)
            self.https = f"https://{host}:{self.secure.server_address[1]}"
        self.threads = [threading.Thread(target=s.serve_forever, daemon=True)
                        for s in (self.plain, self.secure) if s]
        for t in self.threads:
            t.start()

    def next_connection(self):
        return next(self._connections)

    def close(self):
        self.stop.set()
        for s in (self.plain, self.secure):
            if s:
                s.shutdown()
                s.server_close()


def captured(folder, number=1):
    """The WAV the library wrote of what it played: (rate, channels, samples)."""
    return read_wav(pathlib.Path(folder) / f"capture-{number}.wav")


class SongSiteCase(unittest.TestCase):
    """Test cases that share one folder of test songs and a FixtureSite serving them:
    `base` is its HTTPS address where the sandbox makes one (the catalogue serves songs
    that way), plain HTTP on loopback elsewhere."""

    @classmethod
    def setUpClass(cls):
        cls.folder = pathlib.Path(tempfile.mkdtemp(prefix="bass-songs-"))
        cls.songs = make_songs(cls.folder)
        cls.site = FixtureSite(cls.folder)
        cls.base = cls.site.https or cls.site.http

    @classmethod
    def tearDownClass(cls):
        cls.site.close()
        shutil.rmtree(cls.folder, ignore_errors=True)


def closed_port():
    """A loopback port nobody listens on."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
