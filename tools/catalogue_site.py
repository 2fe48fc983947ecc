#!/usr/bin/env python3
"""The local catalogue sites that the players talk to in tests and in the demo.

Each site listens on its own loopback address, plain HTTP on port 80 and HTTPS on port 443:
a home page carrying the newest song number, song pages that redirect to the audio file,
the MP3 files themselves (HEAD and byte ranges included), and faults on demand. Every request
is logged.

    python3 tools/catalogue_site.py --songs-dir DIR --cert CERT --key KEY [--log FILE]
                                    [--catalogue test|demo] [--latency MS]

With a latency the site is as far away as a real one: every connection to it passes a relay
that delivers each byte that many milliseconds after it was sent, in each direction, and a
connection's first bytes one round trip later still (the connect's own, which the kernel
answers at once on loopback). Nothing limits how many bytes travel.
"""

import argparse
import collections
import json
import os
import random
import re
import signal
import socket
import ssl
import struct
import sys
import threading
import time
from dataclasses import dataclass
from html import escape
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Optional
from urllib.parse import unquote


@dataclass(frozen=True)
class SiteConfig:
    name: str          # "A" or "B"
    host: str
    ip: str
    song_path: str     # the song page path before the number
    style: str         # which home page layout: "listen" or "download"


SITE_A = SiteConfig("A", "listen.tuner.test", "127.0.0.2", "/listen/", "listen")
SITE_B = SiteConfig("B", "download.tuner.test", "127.0.0.3", "/download.php/", "download")
DEAD_HOST, DEAD_IP = "dead.tuner.test", "127.0.0.9"  # nothing ever listens there
DEFAULT_SITES = (SITE_A, SITE_B)
HOSTILE_NAMES = ("..\\..\\evil.mp3", "CON.mp3", "what:is*this?.mp3", "a" * 296 + ".mp3", "")

_NUMBER = r"(\d{1,12})"


# --- faults ----------------------------------------------------------------------------------

# Faults that change what is answered, with the kind of request each applies to.
CONTENT_KINDS = {
    "home_status": "home",         # status=404|500|...: an error page instead of the home page
    "home_no_marker": "home",      # the page's layout changed: no newest-number marker
    "home_number_text": "home",    # text="...": what stands between the first marker and its end
    "song_status": "song",         # status=...: the song page answers an error
    "song_no_redirect": "song",    # the song page answers 200 with an HTML page
    "song_redirect_loop": "song",  # the song page redirects to itself
    "song_redirect_dead": "song",  # the redirect points at the dead host
    "song_redirect_to": "song",    # url="...": the redirect points there
    "song_hostile_name": "song",   # name="...": the redirect target's file name (served too);
                                   # raw=True sends it unescaped, control characters and all
    "home_endless": "home",        # the home page never ends: its head, then markup for ever
    "file_status": "file",         # status=...: the audio file answers an error
    "file_body": "file",           # body="html"|"random"|"empty"|"endless"|bytes,
                                   # content_type="...": 200 ("endless": the song, then more)
}
# Faults in how the answer travels; they apply to `target` ("home", "song", "file", "any").
TRANSPORT_KINDS = (
    "reset",         # the connection is reset as soon as the request is read
    "slow",          # delay=seconds before the head, rate=bytes per second of the body
    "truncate",      # keep=bytes of the body sent (default half), then the connection closes
    "wrong_length",  # delta=bytes added to Content-Length (negative: smaller); then it closes
)
TARGETS = ("home", "song", "file", "any")
# Which of the players' exchanges a request belongs to (see CatalogueSite._exchange); a fault
# given `exchange=` hits only that one.
EXCHANGES = ("home", "song_page", "copy", "library", "other")
PLAYER_AGENT = "RQ_WinHTTP/1.0"
# An endless body ends by itself after this much, so a client that never stops reading
# cannot keep the site busy for ever.
ENDLESS_LIMIT = 256 * 1024 * 1024


@dataclass
class Fault:
    kind: str
    host: str
    target: str
    number: Optional[int]
    scheme: Optional[str]
    times: Optional[int]
    exchange: Optional[str]
    params: dict


class FaultBook:
    """The faults in force, looked up once per request; thread-safe."""

    def __init__(self):
        self._lock = threading.Lock()
        self._faults = []
        self._refused = {}

    def add(self, host, kind, number, scheme, times, target, params, exchange=None):
        if kind in CONTENT_KINDS:
            if target not in (None, CONTENT_KINDS[kind]):
                raise ValueError("%s applies to %s requests only" % (kind, CONTENT_KINDS[kind]))
            target = CONTENT_KINDS[kind]
        elif kind in TRANSPORT_KINDS:
            target = target or "file"
            if target not in TARGETS:
                raise ValueError("target must be one of %s" % (TARGETS,))
        else:
            raise ValueError("unknown fault kind %r" % kind)
        if scheme not in (None, "http", "https"):
            raise ValueError("scheme must be None, 'http' or 'https'")
        if kind == "song_redirect_to" and "url" not in params:
            raise ValueError("song_redirect_to needs url=")
        if exchange not in (None,) + EXCHANGES:
            raise ValueError("exchange must be None or one of %s" % (EXCHANGES,))
        with self._lock:
            self._faults.append(Fault(kind, host, target, number, scheme, times, exchange,
                                      dict(params)))

    def add_refused(self, host, port):
        with self._lock:
            self._refused.setdefault(host, set()).add(port)

    def refused(self, host):
        with self._lock:
            return set(self._refused.get(host, ()))

    def clear(self, host):
        """Removes the host's faults; returns the ports it had closed."""
        with self._lock:
            self._faults = [f for f in self._faults if f.host != host]
            return sorted(self._refused.pop(host, ()))

    def take(self, host, target, number, song, scheme, song_index, exchange=None):
        """The content fault and the transport fault (each or both None) for one request."""
        found = {}
        with self._lock:
            for fault in list(self._faults):
                group = "transport" if fault.kind in TRANSPORT_KINDS else "content"
                if fault.exchange is not None and fault.exchange != exchange:
                    continue
                if group in found or not self._matches(fault, host, target, number, song,
                                                       scheme, song_index):
                    continue
                found[group] = fault
                if fault.times is not None:
                    fault.times -= 1
                    if fault.times <= 0:
                        self._faults.remove(fault)
        return found.get("content"), found.get("transport")

    @staticmethod
    def _matches(fault, host, target, number, song, scheme, song_index):
        if fault.host != host or fault.target not in (target, "any"):
            return False
        if fault.target == "any" and target not in ("home", "song", "file"):
            return False
        if fault.scheme is not None and fault.scheme != scheme:
            return False
        if fault.number is None or target == "home":
            return True
        if target == "file":
            return song is not None and song_index(host, fault.number) is song
        return number == fault.number


# --- pages -----------------------------------------------------------------------------------

_UNSAFE_IN_URL = re.compile(r"[\x00-\x20%#\x7f-\U0010ffff]")


def url_name(name):
    """A file name as it stands in the redirect: spaces as %20, the rest kept where HTTP allows.

    Hostile characters (backslashes, colons, question marks) stay as they are on purpose."""
    return _UNSAFE_IN_URL.sub(lambda m: "".join("%%%02X" % b for b in m.group().encode()), name)


def _duration(song):
    seconds = int(round(getattr(song, "duration", 0)))
    return "%d:%02d" % (seconds // 60, seconds % 60)


def _page(title, body):
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>%s</title><link rel=\"stylesheet\" href=\"/style.css\"></head>\n"
            "<body>\n<div id=\"top\"><a href=\"/\">Home</a> | <a href=\"/charts\">Charts</a> | "
            "<a href=\"/search\">Search</a> | <a href=\"/about\">About</a></div>\n%s\n"
            "<div id=\"foot\">Songs are free to listen to and to share.</div>\n</body></html>\n"
            % (escape(title), body)).encode("utf-8")


def home_page(config, songs, latest, marker=True, number_text=None, rows=25):
    """The newest songs first; the first row's number is the newest number players look for."""
    numbers = list(range(latest, max(0, latest - rows), -1))
    pick = lambda n: songs[(n - 1) % len(songs)]
    cell = "c1" if marker else "c0"
    lines = []
    if config.style == "listen":
        # A featured link before the table: only the first *marker* counts, not the first link.
        lines.append("<p class=\"featured\">Featured: <a href=\"/listen/%d/\">%s</a></p>"
                     % (1, escape(songs[0].title)))
        lines.append("<h1>Newest songs</h1>\n<table class=\"songs\">\n"
                     "<tr><th>Title</th><th>Artist</th><th>Length</th></tr>")
        for i, n in enumerate(numbers):
            shown = number_text if (i == 0 and number_text is not None) else str(n)
            lines.append("<tr><td class=\"%s\"><a href=\"/listen/%s/\">%s</a></td>"
                         "<td class=\"c2\"><a href=\"/artist/test-tones\">The Test Tones</a></td>"
                         "<td class=\"c3\">%s</td></tr>"
                         % (cell, shown, escape(pick(n).title), _duration(pick(n))))
        lines.append("</table>")
    else:
        lines.append("<p class=\"featured\">Remix of the week: <a href=\"/remix/1\">%s</a></p>"
                     % escape(songs[0].title))
        lines.append("<h1>Latest remixes</h1>\n<ul class=\"remixes\">")
        date_class = "date" if marker else "day"
        for i, n in enumerate(numbers):
            shown = number_text if (i == 0 and number_text is not None) else str(n)
            lines.append("<li><a class=\"%s\" href=\"/remix/%s\">2026-12-%02d</a> "
                         "<a class=\"title\" href=\"/remix/%d\">%s</a> "
                         "<a class=\"dl\" href=\"/download.php/%d\">download</a></li>"
                         % (date_class, shown, 1 + n % 28, n, escape(pick(n).title), n))
        lines.append("</ul>")
    lines.append("<p><a href=\"/archive?page=2\">Older songs</a></p>")
    return _page("%s - newest songs" % config.host, "\n".join(lines))


def remix_page(config, number, song):
    return _page(song.title, "<h1>%s</h1>\n<p>Length %s. <a href=\"/download.php/%d\">"
                 "Download</a></p>" % (escape(song.title), _duration(song), number))


def song_page(config, number, song):
    return _page(song.title, "<h1>%s</h1>\n<p>Song %d is being prepared. Please come back later."
                 "</p>" % (escape(song.title), number))


def moved_page(location):
    return _page("Moved", "<p>The song is <a href=\"%s\">here</a>.</p>" % escape(location))


def plain_on_tls_page():
    return _page("400 Bad Request", "<h1>400 Bad Request</h1>\n<p>A plain HTTP request was "
                 "sent to the HTTPS port.</p>")


ENDLESS_FILLER = b"\xa5" * 65536  # what an endless file body sends after the song


class EndlessBody:
    """A body without end: `head`, then `filler` over and over, sent without a length.
    It stops by itself after ENDLESS_LIMIT bytes, or when the client goes away."""

    def __init__(self, head, filler, limit=ENDLESS_LIMIT):
        self.head, self.filler, self.limit = bytes(head), bytes(filler), limit

    def pieces(self):
        sent = 0
        for piece in (self.head[i:i + 65536] for i in range(0, len(self.head), 65536)):
            yield piece
            sent += len(piece)
        while sent < self.limit:
            yield self.filler
            sent += len(self.filler)


def error_page(status):
    return _page("Error %d" % status, "<h1>Error %d</h1>\n<p>Sorry, that did not work.</p>"
                 % status)


def replacement_body(body, song):
    """What a broken file answer carries instead of the song's bytes."""
    if isinstance(body, (bytes, bytearray)):
        return bytes(body)
    if body == "empty":
        return b""
    if body == "random":  # the song's size, so only the content gives it away
        return random.Random(song.number).randbytes(os.path.getsize(song.path))
    if body == "html":
        return _page("Not found", "<h1>This song has been removed.</h1>")
    if body == "endless":
        return EndlessBody(song.data() if hasattr(song, "data") else open(song.path, "rb").read(),
                           ENDLESS_FILLER)
    raise ValueError("file_body body must be 'html', 'random', 'empty', 'endless' or bytes")


def parse_range(header, size):
    """(first, last) for one "bytes=" range, "unsatisfiable", or None to send the whole file."""
    match = re.fullmatch(r"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*", header)
    if not match or match.group(1) == match.group(2) == "":
        return None
    first, last = match.groups()
    if first == "":  # the last N bytes
        count = int(last)
        if count == 0:
            return "unsatisfiable"
        return max(0, size - count), size - 1
    first = int(first)
    if last != "" and int(last) < first:  # not a valid range at all: ignored
        return None
    if first >= size:
        return "unsatisfiable"
    return first, size - 1 if last == "" else min(int(last), size - 1)


class _Stopped(Exception):
    """The site is stopping, or the fault in force ended the connection: stop answering."""


class _Listener(ThreadingHTTPServer):
    """One address and port; HTTPS handshakes happen on the connection's own thread."""
    allow_reuse_address = True
    daemon_threads = True
    block_on_close = True  # server_close joins the connection threads: a stop leaves none

    def __init__(self, site, config, port, tls_context):
        self.site, self.config, self.tls_context = site, config, tls_context
        self.connections = set()
        self.connections_lock = threading.Lock()
        self.closing = threading.Event()  # wakes handlers that wait out a slow fault
        super().__init__((config.ip, port), _Handler)
        self.thread = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1},
                                       name="site %s:%d" % (config.ip, port), daemon=True)

    def finish_request(self, request, client_address):
        raw = request
        with self.connections_lock:
            self.connections.add(raw)
        try:
            if self.tls_context is not None:
                raw.settimeout(10)  # a client that never sends its first bytes
                first = raw.recv(1, socket.MSG_PEEK)
                if not first:
                    return
                # Plain HTTP on the TLS port is read, logged and refused with 400 (the
                # handler does that), as common servers answer it.
                if first != b"\x16":
                    self.site._note_plain_on_tls(client_address)
                else:
                    secure = self._handshake(raw, client_address)
                    if secure is None:
                        return
                    request = secure
            self.RequestHandlerClass(request, client_address, self)
        finally:
            with self.connections_lock:
                self.connections.discard(raw)
                self.connections.discard(request)
            if request is not raw:
                try:
                    request.close()
                except OSError:
                    pass

    def _handshake(self, raw, client_address):
        request = self.tls_context.wrap_socket(raw, server_side=True,
                                               do_handshake_on_connect=False)
        with self.connections_lock:
            self.connections.add(request)
        try:
            request.do_handshake()
            return request
        except (OSError, ssl.SSLError) as error:
            self.site._note_error("TLS handshake from %s: %s" % (client_address, error))
            with self.connections_lock:
                self.connections.discard(request)
            request.close()
            return None

    def drop_connections(self):
        """Ends every open connection at once (a keep-alive client would otherwise hold one)."""
        with self.connections_lock:
            connections = list(self.connections)
        for connection in connections:
            try:
                # The plain socket call: SSLSocket.shutdown would drop its TLS state under
                # the thread still using it.
                socket.socket.shutdown(connection, socket.SHUT_RDWR)
            except OSError:
                pass

    def handle_error(self, request, client_address):
        self.site._note_error("%s from %s" % (sys.exc_info()[1], client_address))


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as WinHTTP expects
    server_version = "tuner-catalogue/1.0"
    timeout = 60  # an idle keep-alive connection is closed after a minute
    # Heads and bodies go out in separate writes; with Nagle's algorithm a small answer on a
    # reused connection would wait for the client's delayed acknowledgement (~40 ms).
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        self.connection_id = self.server.site._next_connection_id()
        self.tls = isinstance(self.connection, ssl.SSLSocket)
        self.plain_on_tls = not self.tls and self.server.tls_context is not None

    def log_message(self, format, *args):  # the site keeps its own log
        pass

    def version_string(self):
        return self.server_version

    def do_GET(self):
        self._answer(head=False)

    def do_HEAD(self):
        self._answer(head=True)

    def _refuse_method(self):
        record = self.server.site._begin(self)
        self.close_connection = True  # its body, if any, is never read
        if self.plain_on_tls:
            return self._send(record, 400, {}, plain_on_tls_page(), None, False)
        self._send(record, 405, {"Allow": "GET, HEAD"}, error_page(405), None, False)

    do_POST = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = _refuse_method

    def handle(self):
        try:
            super().handle()
        except (_Stopped, OSError):
            self.close_connection = True

    def handle_one_request(self):
        self._logged, self.path, self.headers = False, None, None  # nothing from the last one
        super().handle_one_request()

    def send_error(self, code, message=None, explain=None):
        """Requests the server cannot even parse are logged too, with what could be read."""
        if not getattr(self, "_logged", False):
            record = self.server.site._begin(self, raw=getattr(self, "raw_requestline", b""))
            record["status"] = code
            self.server.site._end(record)
        super().send_error(code, message, explain)

    # --- routing -------------------------------------------------------------------------

    def _answer(self, head):
        site, config = self.server.site, self.server.config
        record = site._begin(self)
        if self.plain_on_tls:
            self.close_connection = True
            return self._send(record, 400, {}, plain_on_tls_page(), None, head)
        tls = self.tls
        target, number = self._classify(config)
        song = None
        if target == "file":
            song = site._resolve_file(config, unquote(self.path[len("/files/"):]))
        elif number is not None:
            song = site._song_for_number(config, number)
        record["song"] = number if number is not None else (song.number if song else None)
        exchange = site._exchange(config, target, song, tls, record["user_agent"])
        record["exchange"] = exchange
        content, transport = site._faults.take(config.host, target, number, song,
                                               "https" if tls else "http", site._song_index,
                                               exchange)
        record["fault"] = ",".join(f.kind for f in (content, transport) if f) or None
        status, headers, body = self._content(target, number, song, content, tls)
        if status in (301, 302) and "Location" in headers:
            site._expect_follow(headers["Location"], exchange)
        self._send(record, status, headers, body, transport, head)

    def _classify(self, config):
        """("home" | "song" | "file" | "remix" | "other", the song number in the path or None)."""
        path = self.path.split("?", 1)[0]
        if path in ("/", "/index.html", "/index.php"):
            return "home", None
        if self.path.startswith("/files/"):
            return "file", None
        song_page = re.fullmatch(re.escape(config.song_path) + _NUMBER + "/?", path)
        if song_page:
            return "song", int(song_page.group(1))
        remix_page = re.fullmatch("/remix/" + _NUMBER, path)
        if remix_page and config.style == "download":
            return "remix", int(remix_page.group(1))
        return "other", None

    def _content(self, target, number, song, fault, tls):
        site, config = self.server.site, self.server.config
        kind = fault.kind if fault else None
        params = fault.params if fault else {}
        if kind in ("home_status", "song_status", "file_status"):
            return params.get("status", 500), {}, error_page(params.get("status", 500))
        if target == "home":
            latest = site.latest(config.host)
            page = home_page(config, site._songs_of(config), latest,
                             marker=kind != "home_no_marker",
                             number_text=params.get("text", "") if kind == "home_number_text"
                             else None)
            if kind == "home_endless":
                # The page's top as usual, then rows that never stop coming.
                page = EndlessBody(page[:page.rindex(b"<div id=\"foot\">")],
                                   b"<p class=\"more\">" + b"and more " * 100 + b"</p>\n",
                                   int(params.get("limit", ENDLESS_LIMIT)))
            return 200, {"Content-Type": "text/html; charset=utf-8"}, page
        if target in ("song", "remix") and song is None:
            return 404, {}, error_page(404)
        if target == "remix":
            return 200, {"Content-Type": "text/html; charset=utf-8"}, \
                remix_page(config, number, song)
        if target == "song":
            return self._song_page(config, number, song, kind, params, tls)
        if target == "file":
            if song is None:
                return 404, {}, error_page(404)
            if not tls:  # audio is only handed out over HTTPS, as on the real sites
                return 301, {"Location": "https://%s%s" % (config.host, self.path)}, b""
            if kind == "file_body":
                return 200, {"Content-Type": params.get("content_type", "audio/mpeg")}, \
                    replacement_body(params.get("body", "html"), song)
            return self._file(song)
        return 404, {}, error_page(404)

    def _song_page(self, config, number, song, kind, params, tls):
        site = self.server.site
        name = song.file_name
        host = config.host
        if kind == "song_no_redirect":
            return 200, {"Content-Type": "text/html; charset=utf-8"}, \
                song_page(config, number, song)
        if kind == "song_redirect_loop":
            location = "%s://%s%s" % ("https" if tls else "http", host, self.path)
        elif kind == "song_redirect_to":
            location = params["url"]
        else:
            raw = False
            if kind == "song_hostile_name":
                name = params.get("name", HOSTILE_NAMES[0])
                raw = params.get("raw", False)
                site._add_alias(config, name, song)
            if kind == "song_redirect_dead":
                host = DEAD_HOST
            location = "https://%s/files/%s" % (host, name if raw else url_name(name))
        return 302, {"Location": location, "Content-Type": "text/html; charset=utf-8"}, \
            moved_page(location)

    def _file(self, song):
        data = self.server.site._file_bytes(song)
        headers = {"Content-Type": "audio/mpeg", "Accept-Ranges": "bytes",
                   "Last-Modified": self.date_time_string(int(os.path.getmtime(song.path)))}
        wanted = self.headers.get("Range")
        if not wanted:
            return 200, headers, data
        span = parse_range(wanted, len(data))
        if span is None:  # malformed or several ranges: the whole file is a fine answer
            return 200, headers, data
        if span == "unsatisfiable":
            headers["Content-Range"] = "bytes */%d" % len(data)
            return 416, headers, b""
        first, last = span
        headers["Content-Range"] = "bytes %d-%d/%d" % (first, last, len(data))
        return 206, headers, data[first:last + 1]

    # --- sending -------------------------------------------------------------------------

    def _send(self, record, status, headers, body, fault, head):
        site = self.server.site
        kind = fault.kind if fault else None
        params = fault.params if fault else {}
        record["status"] = status
        try:
            if kind == "reset":
                record["status"] = None
                self._reset()
                raise _Stopped()
            if kind == "slow" and params.get("delay"):
                self._pause(params["delay"])
            endless = isinstance(body, EndlessBody)
            length = None if endless else len(body)
            if kind == "wrong_length" and not endless:
                length = max(0, length + int(params.get("delta", 1000)))
            if "Content-Type" not in headers and body:
                headers["Content-Type"] = "text/html; charset=utf-8"
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            if endless:
                # No length: the body runs until the connection closes.
                self.send_header("Connection", "close")
                self.close_connection = True
            else:
                self.send_header("Content-Length", str(length))
            if kind in ("truncate", "wrong_length"):
                self.close_connection = True  # the client is not told: it finds out
            self.end_headers()
            if head:
                return
            rate = params.get("rate") if kind == "slow" else None
            if endless:
                return self._write_endless(record, body, rate)
            if kind == "truncate":
                body = body[:int(params.get("keep", len(body) // 2))]
            self._write_body(record, body, rate)
        finally:
            site._end(record)

    def _write_body(self, record, body, rate):
        if not rate:
            self.wfile.write(body)
            record["sent"] = len(body)
            return
        piece = max(1, int(rate / 10))
        for start in range(0, len(body), piece):
            self.wfile.write(body[start:start + piece])
            record["sent"] = min(len(body), start + piece)
            self._pause(piece / rate)

    def _write_endless(self, record, body, rate):
        for piece in body.pieces():
            if self.server.closing.is_set():
                raise _Stopped()
            self.wfile.write(piece)  # a client that went away ends it with an OSError
            record["sent"] += len(piece)
            if rate:
                self._pause(len(piece) / rate)

    def _pause(self, seconds):
        if self.server.closing.wait(seconds):
            raise _Stopped()

    def _reset(self):
        """Closes the connection with a TCP reset instead of an orderly close."""
        self.close_connection = True
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.rfile.close()
            self.connection.close()
        except OSError:
            pass


class _Relay:
    """Stands at one address and port of a site and forwards each connection to its
    listener, with `delay` seconds each way (see the module's notes)."""

    def __init__(self, address, target, delay):
        self.target, self.delay = target, delay
        self.socket = socket.create_server(address)
        self.socket.settimeout(0.2)
        self.closing = threading.Event()
        self.lock = threading.Lock()
        self.open = {}  # socket pair -> directions still carrying
        self.threads = []
        self.thread = threading.Thread(target=self._accept, name="relay %s:%d" % address,
                                       daemon=True)
        self.thread.start()

    def _accept(self):
        while not self.closing.is_set():
            try:
                client, _ = self.socket.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            try:
                server = socket.create_connection(self.target)
            except OSError:
                client.close()
                continue
            accepted = time.monotonic()
            for end in (client, server):
                end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            pair = (client, server)
            with self.lock:
                self.open[pair] = 2
                # The client's first bytes arrive once the connect's round trip is over.
                self._start(self._carry, pair, client, server, accepted + 2 * self.delay)
                self._start(self._carry, pair, server, client, 0.0)

    def _start(self, work, *args):
        thread = threading.Thread(target=work, args=args, daemon=True)
        self.threads = [t for t in self.threads if t.is_alive()] + [thread]
        thread.start()

    def _carry(self, pair, source, sink, earliest):
        """Reads one direction; a thread of its own delivers each piece `delay` after it
        came (None: the connection was reset)."""
        pieces = collections.deque()
        ready = threading.Condition()
        with self.lock:
            self._start(self._deliver, pair, sink, pieces, ready)
        while True:
            try:
                data = source.recv(65536)
            except OSError:
                data = None
            with ready:
                pieces.append((max(time.monotonic(), earliest) + self.delay, data))
                ready.notify()
            if not data:
                return

    def _deliver(self, pair, sink, pieces, ready):
        while True:
            with ready:
                while not pieces:
                    ready.wait()
                due, data = pieces.popleft()
            wait = due - time.monotonic()
            if wait > 0 and self.closing.wait(wait):
                data = b""
            try:
                if data:
                    sink.sendall(data)
                    continue
                if data is None:  # a reset is passed on as a reset
                    sink.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    sink.shutdown(socket.SHUT_RD)  # wakes the reader of the other way
                    sink.close()
                else:
                    sink.shutdown(socket.SHUT_WR)  # the other side's end, passed on
            except OSError:
                pass
            break
        with self.lock:
            self.open[pair] -= 1
            done = self.open[pair] == 0
            if done:
                del self.open[pair]
        if done:
            for end in pair:
                end.close()

    def close(self):
        self.closing.set()
        self.socket.close()
        self.thread.join()
        with self.lock:
            pairs, threads = list(self.open), list(self.threads)
        for pair in pairs:
            for end in pair:
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        for thread in threads:
            thread.join(5)


class CatalogueSite:
    """Site A and site B (or the `sites` given), serving `songs` until stopped.

    `songs`: a list of objects with number, title, file_name and path (songs.Song), shared by
    all sites, or a dict from host name to such a list. `latency`: seconds each way that
    every connection takes (see the module's notes), 0 for none."""

    def __init__(self, songs, cert_file, key_file, sites=DEFAULT_SITES, log_file=None,
                 http_port=80, https_port=443, latency=0.0):
        self.sites = tuple(sites)
        by_host = songs if isinstance(songs, dict) else {s.host: songs for s in self.sites}
        self._songs = {host: sorted(list(v), key=lambda s: s.number) for host, v in by_host.items()}
        if any(not self._songs.get(s.host) for s in self.sites):
            raise ValueError("every site needs at least one song")
        self._tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._tls.load_cert_chain(cert_file, key_file)
        self._ports = (http_port, https_port)
        self._plain_on_tls = 0
        self._follows = {}  # (host, song number) -> [(time, exchange)] of redirects given
        self._log_file = log_file
        self._lock = threading.Condition()
        self._log = []
        self._errors = []
        self._latest = {s.host: len(self._songs[s.host]) for s in self.sites}
        self._aliases = {s.host: {} for s in self.sites}
        self._file_cache = {}
        self._faults = FaultBook()
        self._listeners = {}
        self._running = False
        self._connections = 0
        self._latency = latency
        self._relays = {}

    # --- life ----------------------------------------------------------------------------

    def start(self):
        self._running = True
        try:
            for config in self.sites:
                for port in self._ports:
                    if port not in self._faults.refused(config.host):
                        self._open(config, port)
        except OSError:
            self.stop()
            raise
        return self

    def stop(self):
        self._running = False
        for key in list(self._listeners):
            self._close(key)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _open(self, config, port):
        tls = self._tls if port == self._ports[1] else None
        # At a distance, the listener takes a port of its own behind the relay.
        listener = _Listener(self, config, 0 if self._latency else port, tls)
        listener.public_port = port
        self._listeners[(config.host, port)] = listener
        listener.thread.start()
        if self._latency:
            self._relays[(config.host, port)] = _Relay((config.ip, port), listener.server_address,
                                                       self._latency)

    def _close(self, key):
        relay = self._relays.pop(key, None)
        if relay is not None:
            relay.close()
        listener = self._listeners.pop(key, None)
        if listener is None:
            return
        listener.closing.set()
        listener.shutdown()
        listener.drop_connections()
        listener.server_close()
        listener.thread.join()

    # --- what the site shows -------------------------------------------------------------

    def set_latest(self, host, number):
        """The newest number the home page shows (default: the number of songs)."""
        with self._lock:
            self._latest[self._config(host).host] = int(number)

    def latest(self, host):
        with self._lock:
            return self._latest[self._config(host).host]

    def song_url(self, host, number, tls=True):
        config = self._config(host)
        return "%s://%s%s%d" % ("https" if tls else "http", config.host, config.song_path, number)

    def file_url(self, host, song):
        return "https://%s/files/%s" % (self._config(host).host, url_name(song.file_name))

    def song_for_number(self, host, number):
        """The song that `number` is served as, or None when the site answers 404 for it."""
        return self._song_for_number(self._config(host), number)

    # --- faults --------------------------------------------------------------------------

    def fault(self, host, kind, song=None, scheme=None, times=None, target=None, exchange=None,
              **params):
        """Turns a fault on: a kind of CONTENT_KINDS or TRANSPORT_KINDS, or "home_refused"
        (port=80: nothing listens on that port of the site until the faults are cleared).

        host: a site's host name, or None for every site. song: one song number (for file
        faults: the file that number redirects to), or None for all. scheme: "http", "https" or
        None for both. times: how many requests it hits before it ends itself (None: until
        cleared). target: for transport kinds, "home", "song", "file" or "any" (default
        "file"). exchange: one of EXCHANGES, to hit only the requests of that exchange (say,
        "copy": a player's copy of a song, never its song page nor the audio library)."""
        if kind == "song_hostile_name" and re.search(r"[\r\n]", params.get("name", "")):
            raise ValueError("a name cannot hold a line break: it would end the header")
        configs = self.sites if host is None else (self._config(host),)
        for config in configs:
            if kind == "home_refused":
                self._close((config.host, int(params.get("port", self._ports[0]))))
                self._faults.add_refused(config.host, int(params.get("port", self._ports[0])))
                continue
            self._faults.add(config.host, kind, song, scheme, times, target, params, exchange)

    def clear_faults(self, host=None):
        """Ends every fault (of one site, or of all), reopening closed ports."""
        configs = self.sites if host is None else (self._config(host),)
        for config in configs:
            for port in self._faults.clear(config.host):
                if self._running and (config.host, port) not in self._listeners:
                    self._open(config, port)
            with self._lock:
                self._aliases[config.host].clear()

    # --- the request log -----------------------------------------------------------------

    def requests(self, host=None, since=0):
        """Copies of the logged requests so far, oldest first (optionally of one site only,
        or from the `since`th of the log on)."""
        with self._lock:
            return [dict(r) for r in self._log[since:] if host is None or r["site_host"] == host]

    def logged(self):
        """How many requests the log holds."""
        with self._lock:
            return len(self._log)

    def clear_requests(self):
        with self._lock:
            self._log.clear()

    def settle(self, timeout=10.0):
        """Waits until every logged request has ended; True if they did. A client can read
        a body's last byte before the server has counted it and written the log line."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while not all(r["done"] for r in self._log):
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
                self._lock.wait(remaining)
            return True

    def wait_for_request(self, predicate, timeout=10.0):
        """Waits until a logged request satisfies `predicate`; returns a copy of it or None."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                for record in self._log:
                    if predicate(record):
                        return dict(record)
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self._lock.wait(remaining)

    def errors(self, clear=False):
        """Failures inside the site (TLS handshakes refused by a client, broken connections)."""
        with self._lock:
            errors = list(self._errors)
            if clear:
                self._errors.clear()
            return errors

    # --- for the handlers ----------------------------------------------------------------

    def _config(self, host):
        for config in self.sites:
            if host in (config.host, config.name, config.ip):
                return config
        raise KeyError("no site %r" % host)

    def _songs_of(self, config):
        return self._songs[config.host]

    def _song_for_number(self, config, number):
        songs = self._songs[config.host]
        if number is None or not 1 <= number <= self.latest(config.host):
            return None
        return songs[(number - 1) % len(songs)]

    def _song_index(self, host, number):
        """The catalogue song a number stands for, however large (numbers wrap around)."""
        songs = self._songs[host]
        return songs[(number - 1) % len(songs)] if number >= 1 else None

    def _resolve_file(self, config, name):
        songs = self._songs[config.host]
        for song in songs:
            if song.file_name == name:
                return song
        with self._lock:
            aliases = dict(self._aliases[config.host])
        if name in aliases:
            return aliases[name]
        # A client may have normalised a hostile name's separators or dot segments.
        base = re.split(r"[/\\]", name)[-1]
        for alias, song in aliases.items():
            if re.split(r"[/\\]", alias)[-1] == base:
                return song
        return None

    def _add_alias(self, config, name, song):
        with self._lock:
            self._aliases[config.host][name] = song

    def _file_bytes(self, song):
        with self._lock:
            data = self._file_cache.get(song.path)
        if data is None:
            with open(song.path, "rb") as f:
                data = f.read()
            with self._lock:
                self._file_cache[song.path] = data
        return data

    def _next_connection_id(self):
        with self._lock:
            self._connections += 1
            return self._connections

    def _exchange(self, config, target, song, tls, agent):
        """Which exchange of a player a request belongs to: the home page, a song page
        (over plain HTTP, and the audio file its redirect leads to), a copy (the song page
        over HTTPS, and its file), the audio library's own requests, or something else."""
        if agent != PLAYER_AGENT:
            return "library"
        if target == "home":
            return "home"
        if target == "song":
            return "copy" if tls else "song_page"
        if target == "file" and song is not None:
            return self._take_follow(config.host, song.number) or "other"
        return "other"

    def _expect_follow(self, location, exchange):
        """Remembers that a redirect to one of our files was given to `exchange`, so the
        file request that follows it counts as part of that exchange."""
        match = re.fullmatch(r"https?://([^/]+)/files/(.*)", location, re.S)
        if not match or exchange not in ("song_page", "copy"):
            return
        try:
            config = self._config(match.group(1))
        except KeyError:
            return
        song = self._resolve_file(config, unquote(match.group(2)))
        if song is None:
            return
        with self._lock:
            self._follows.setdefault((config.host, song.number), []).append(
                (time.monotonic(), exchange))

    def _take_follow(self, host, number):
        with self._lock:
            waiting = self._follows.get((host, number), [])
            # A redirect that was never followed (the client gave up) is forgotten.
            while waiting and time.monotonic() - waiting[0][0] > 30:
                waiting.pop(0)
            return waiting.pop(0)[1] if waiting else None

    def plain_requests_on_tls_port(self):
        """How many connections spoke plain HTTP to the HTTPS port (each refused with 400)."""
        with self._lock:
            return self._plain_on_tls

    def _note_plain_on_tls(self, client_address):
        with self._lock:
            self._plain_on_tls += 1

    def _note_error(self, text):
        with self._lock:
            self._errors.append(text)

    def _begin(self, handler, raw=None):
        server = handler.server
        handler._logged = True
        headers = getattr(handler, "headers", None) or {}
        record = {
            "time": time.time(), "site": server.config.name, "site_host": server.config.host,
            "ip": server.config.ip, "port": getattr(server, "public_port", server.server_address[1]),
            "client": "%s:%d" % handler.client_address[:2],
            "connection": handler.connection_id, "tls": handler.tls,
            "method": getattr(handler, "command", None), "path": getattr(handler, "path", None),
            "host": headers.get("Host"), "user_agent": headers.get("User-Agent"),
            "range": headers.get("Range"),
            "song": None, "exchange": None, "fault": None, "status": None, "sent": 0,
            "done": False,
        }
        if raw is not None:  # a request line the server could not make sense of
            record["raw"] = raw[:200].decode("latin-1")
        with self._lock:
            self._log.append(record)
            self._lock.notify_all()
        return record

    def _end(self, record):
        with self._lock:
            record["done"] = True
            self._lock.notify_all()
            if self._log_file:
                with open(self._log_file, "a") as f:
                    f.write(json.dumps(record) + "\n")


def main(argv=None):
    parser = argparse.ArgumentParser(description="Serve the local catalogue sites.")
    parser.add_argument("--songs-dir", required=True, help="song cache folder (built if needed)")
    parser.add_argument("--cert", required=True, help="server certificate (PEM)")
    parser.add_argument("--key", required=True, help="server private key (PEM)")
    parser.add_argument("--log", help="append one JSON line per request to this file")
    parser.add_argument("--latest", action="append", default=[], metavar="HOST=N",
                        help="newest song number a site shows (repeatable)")
    parser.add_argument("--catalogue", choices=("test", "demo"), default="test",
                        help="the test songs, shared by both sites (default), or the demo "
                             "catalogue of two dozen songs per site")
    parser.add_argument("--http-port", type=int, default=80)
    parser.add_argument("--https-port", type=int, default=443)
    parser.add_argument("--latency", type=float, default=0.0, metavar="MS",
                        help="milliseconds each way of every connection (a round trip is "
                             "twice that)")
    args = parser.parse_args(argv)

    if args.catalogue == "demo":
        import demo_songs
        songs = demo_songs.build(args.songs_dir)
    else:
        import songs as song_catalogue
        songs = song_catalogue.build_catalogue(args.songs_dir)
    site = CatalogueSite(songs, args.cert, args.key, log_file=args.log,
                         http_port=args.http_port, https_port=args.https_port,
                         latency=args.latency / 1000)
    for item in args.latest:
        host, _, number = item.partition("=")
        site.set_latest(host, int(number))
    finished = threading.Event()
    for signal_number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signal_number, lambda *_: finished.set())
    with site:
        print("serving %s" % ", ".join("%s (%s) latest %d" % (c.host, c.ip, site.latest(c.host))
                                       for c in site.sites), flush=True)
        finished.wait()
    for error in site.errors():
        print("site error: %s" % error, file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
