#!/usr/bin/env python3
"""Self-test of the test songs and the local catalogue site.

Run as root: it re-runs itself in a private network and mount namespace, where the site's
host names resolve through a hosts file of its own and a throwaway CA signs the certificate.

    python3 tools/test_catalogue_site.py [-v]
"""

import dataclasses
import http.client
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import catalogue_site  # noqa: E402
import songs  # noqa: E402
from catalogue_site import CatalogueSite, SITE_A, SITE_B, HOSTILE_NAMES  # noqa: E402
from synth.compose import compose  # noqa: E402
from synth.mp3info import id3v2_length, parse_frame_header, read_mp3  # noqa: E402

INSIDE = "TUNER_SITE_SELFTEST_INSIDE"
WORK = None       # temporary folder of the whole run
SONGS = None      # the built test catalogue
CA = CERT = KEY = None


def setUpModule():
    global WORK, SONGS, CA, CERT, KEY
    WORK = tempfile.mkdtemp(prefix="site-selftest-")
    CA, CERT, KEY = _make_certificates(os.path.join(WORK, "tls"))
    hosts = os.path.join(WORK, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost\n%s %s\n%s %s\n%s %s\n" % (
            SITE_A.ip, SITE_A.host, SITE_B.ip, SITE_B.host,
            catalogue_site.DEAD_IP, catalogue_site.DEAD_HOST))
    subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    started = time.monotonic()
    SONGS = songs.build_catalogue(os.path.join(WORK, "songs"))
    print("built %d songs in %.1f s" % (len(SONGS), time.monotonic() - started), file=sys.stderr)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def _make_certificates(folder):
    os.makedirs(folder)
    path = lambda name: os.path.join(folder, name)
    quiet = {"check": True, "capture_output": True}
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", path("ca.key"), "-out", path("ca.pem"), "-subj", "/CN=Self-test CA",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"], **quiet)
    subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout",
                    path("server.key"), "-out", path("server.csr"), "-subj",
                    "/CN=" + SITE_A.host], **quiet)
    with open(path("ext.cnf"), "w") as f:
        f.write("subjectAltName=DNS:%s,DNS:%s,DNS:%s\nextendedKeyUsage=serverAuth\n"
                % (SITE_A.host, SITE_B.host, catalogue_site.DEAD_HOST))
    subprocess.run(["openssl", "x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"),
                    "-CAkey", path("ca.key"), "-CAcreateserial", "-days", "2", "-out",
                    path("server.pem"), "-extfile", path("ext.cnf")], **quiet)
    return path("ca.pem"), path("server.pem"), path("server.key")


def _decode(path):
    """(sample rate, channels, frames, samples) of lame's own decoding of an MP3 file."""
    out = path + ".decoded.wav"
    subprocess.run(["lame", "--quiet", "--decode", path, out], check=True)
    with wave.open(out) as w:
        data = w.readframes(w.getnframes())
        facts = (w.getframerate(), w.getnchannels(), w.getnframes())
    os.unlink(out)
    import array
    return facts + (array.array("h", data),)


class Mp3ReaderTest(unittest.TestCase):
    def test_frame_headers(self):
        mpeg1 = parse_frame_header(bytes([0xFF, 0xFB, 0x92, 0x64]))  # 128 kbps, 44.1k, padded
        self.assertEqual((mpeg1.version, mpeg1.bitrate_kbps, mpeg1.sample_rate, mpeg1.channels,
                          mpeg1.length, mpeg1.samples), ("1", 128, 44100, 2, 418, 1152))
        mpeg2 = parse_frame_header(bytes([0xFF, 0xF3, 0x80, 0xC4]))  # 64 kbps, 22.05k, mono
        self.assertEqual((mpeg2.version, mpeg2.bitrate_kbps, mpeg2.sample_rate, mpeg2.channels,
                          mpeg2.length, mpeg2.samples), ("2", 64, 22050, 1, 208, 576))
        for bad in ([0xFF, 0xFD, 0x92, 0x64],   # layer II
                    [0xFF, 0xFB, 0xF2, 0x64],   # bitrate index 15
                    [0xFF, 0xFB, 0x9C, 0x64],   # sample rate index 3
                    [0xFF, 0xEB, 0x92, 0x64],   # reserved version
                    [0xFE, 0xFB, 0x92, 0x64]):  # no sync
            self.assertIsNone(parse_frame_header(bytes(bad)), bad)

    def test_id3v2_length(self):
        self.assertEqual(id3v2_length(b"ID3\x03\x00\x00\x00\x00\x02\x01" + bytes(300)), 10 + 257)
        self.assertEqual(id3v2_length(b"ID3\x04\x00\x10\x00\x00\x00\x05" + bytes(30)), 25)
        self.assertEqual(id3v2_length(b"ID3\x03\x00\x00\x00\x00\x80\x00"), 0)  # not syncsafe
        self.assertEqual(id3v2_length(b"\xff\xfb\x92\x64" + bytes(10)), 0)

    def test_frames_agree_with_the_encoder(self):
        """Frame count, samples and tags read from the files match what lame made and decodes."""
        for song in SONGS:
            recipe = next(r for r in songs.TEST_SONGS if r.number == song.number)
            with self.subTest(song=song.file_name):
                self.assertEqual(song.size, os.path.getsize(song.path))
                self.assertEqual((song.sample_rate, song.channels), (recipe.rate, recipe.channels))
                if song.xing_tag:
                    self.assertEqual(song.xing_frames, song.frames)
                    self.assertEqual(song.frames * song.samples_per_frame,
                                     int(round(recipe.seconds * recipe.rate))
                                     + song.encoder_delay + song.encoder_padding)
                rate, channels, decoded, _ = _decode(song.path)
                self.assertEqual((rate, channels), (song.sample_rate, song.channels))
                if song.xing_tag:  # lame trims delay and padding exactly when the tag says so
                    self.assertEqual(decoded, int(round(recipe.seconds * recipe.rate)))
                else:
                    self.assertLessEqual(abs(decoded - song.frames * song.samples_per_frame),
                                         2 * song.samples_per_frame)
                with open(song.path, "rb") as f:
                    data = f.read()
                self.assertEqual(song.id3v2, data.startswith(b"ID3"))
                self.assertEqual(data[song.audio_start], 0xFF)
                self.assertEqual(song.audio_end, song.size - (128 if song.id3v1 else 0))

    def test_damaged_files(self):
        data = open(SONGS[0].path, "rb").read()
        longer = read_mp3(data + b"junk at the end")
        self.assertEqual(longer.frames, SONGS[0].frames)
        self.assertEqual(longer.trailing_bytes, len(b"junk at the end"))
        cut = read_mp3(data[:len(data) - 1000])
        self.assertLess(cut.frames, SONGS[0].frames)
        with self.assertRaises(ValueError):
            read_mp3(b"ID3\x03\x00\x00\x00\x00\x00\x00<html>not audio</html>")


class SongCatalogueTest(unittest.TestCase):
    def test_variety_that_players_must_cope_with(self):
        has = lambda test: any(test(s) for s in SONGS)
        self.assertTrue(has(lambda s: s.vbr and s.xing_tag == "Xing"))
        self.assertTrue(has(lambda s: not s.vbr and s.xing_tag == "Info"))
        self.assertTrue(has(lambda s: s.xing_tag is None))
        self.assertTrue(has(lambda s: s.id3v2) and has(lambda s: not s.id3v2))
        self.assertTrue(has(lambda s: s.id3v1))
        self.assertEqual({s.sample_rate for s in SONGS}, {22050, 44100})
        self.assertEqual({s.channels for s in SONGS}, {1, 2})
        self.assertTrue(has(lambda s: " " in s.file_name))
        self.assertTrue(has(lambda s: s.duration > 55))

    def test_level_songs(self):
        loud = next(s for s in SONGS if s.style == "tone")
        quiet = next(s for s in SONGS if s.style == "silence")
        self.assertGreater(max(map(abs, _decode(loud.path)[3])), 0.9 * 32767)
        self.assertEqual(max(map(abs, _decode(quiet.path)[3])), 0)

    def test_cache_rebuilds_only_what_changed(self):
        folder = os.path.join(WORK, "small-cache")
        recipes = songs.TEST_SONGS[3:5]
        first = songs.build_catalogue(folder, recipes)
        times = {s.file_name: os.stat(s.path).st_mtime_ns for s in first}
        again = songs.build_catalogue(folder, recipes)
        self.assertEqual(times, {s.file_name: os.stat(s.path).st_mtime_ns for s in again})
        changed = (dataclasses.replace(recipes[0], seed=recipes[0].seed + 1), recipes[1])
        os.unlink(first[1].path)
        rebuilt = songs.build_catalogue(folder, changed)
        self.assertNotEqual(os.stat(rebuilt[0].path).st_mtime_ns, times[recipes[0].file_name])
        self.assertTrue(os.path.isfile(rebuilt[1].path))
        with self.assertRaises(ValueError):
            songs.build_catalogue(folder, (recipes[0], dataclasses.replace(recipes[1], number=4)))

    def test_synthesis(self):
        self.assertEqual(compose("melody", 1, 22050, 2, 5).pcm(),
                         compose("melody", 1, 22050, 2, 5).pcm())
        self.assertNotEqual(compose("melody", 1, 22050, 2, 5).pcm(),
                            compose("melody", 1, 22050, 2, 6).pcm())
        self.assertEqual(len(compose("bells", 0.5, 22050, 2, 1).pcm()), 22050 // 2 * 4)
        loud = compose("tone", 0.1, 44100, 1, 1, amplitude=2.0).pcm()
        values = [int.from_bytes(loud[i:i + 2], "little", signed=True)
                  for i in range(0, len(loud), 2)]
        self.assertEqual((max(values), min(values)), (32767, -32767))


class SiteTestCase(unittest.TestCase):
    def setUp(self):
        self.log_file = os.path.join(WORK, "requests-%s.jsonl" % self.id().rsplit(".", 1)[1])
        self.site = CatalogueSite(SONGS, CERT, KEY, log_file=self.log_file).start()
        self.addCleanup(self.site.stop)
        self.tls = ssl.create_default_context(cafile=CA)

    def tearDown(self):
        self.assertEqual(self.site.errors(), [])

    def connect(self, host, tls=False):
        if tls:
            return http.client.HTTPSConnection(host, 443, context=self.tls, timeout=10)
        return http.client.HTTPConnection(host, 80, timeout=10)

    def fetch(self, host, path, tls=False, method="GET", headers=None):
        """(status, headers as a dict with lower-case names, body)"""
        connection = self.connect(host, tls)
        try:
            connection.request(method, path, headers=dict(headers or {},
                                                          **{"User-Agent": "RQ_WinHTTP/1.0"}))
            response = connection.getresponse()
            body = response.read()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, body
        finally:
            connection.close()

    def newest_number(self, host):
        """Reads the newest number the way the players do."""
        body = self.fetch(host, "/")[2].decode()
        marker, end = (('<td class="c1"><a href="/listen/', "/") if host == SITE_A.host
                       else ('<a class="date" href="/remix/', '"'))
        if marker not in body:
            return 0
        rest = body.split(marker, 1)[1]
        text = rest.split(end, 1)[0].lstrip(" ")
        digits = re.match(r"\d*", text).group()
        return int(digits) % 65536 if digits else 0


class SitePagesTest(SiteTestCase):
    def test_home_pages_carry_the_newest_number(self):
        self.assertEqual(self.newest_number(SITE_A.host), len(SONGS))
        self.assertEqual(self.newest_number(SITE_B.host), len(SONGS))
        self.site.set_latest(SITE_A.host, 4321)
        self.site.set_latest(SITE_B.host, 70000)
        self.assertEqual(self.newest_number(SITE_A.host), 4321)
        self.assertEqual(self.newest_number(SITE_B.host), 70000 % 65536)
        status, _, body = self.fetch(SITE_A.host, "/", tls=True)
        self.assertEqual(status, 200)
        self.assertIn(b'<td class="c1"><a href="/listen/4321/">', body)

    def test_song_pages_redirect_to_the_file(self):
        for config in (SITE_A, SITE_B):
            for tls in (False, True):
                status, headers, _ = self.fetch(config.host, config.song_path + "3", tls=tls)
                self.assertEqual(status, 302)
                self.assertEqual(headers["location"], "https://%s/files/%s" % (
                    config.host, SONGS[2].file_name.replace(" ", "%20")))
        self.assertEqual(self.fetch(SITE_A.host, "/listen/3/")[0], 302)
        for number in (0, len(SONGS) + 1, 65535):
            self.assertEqual(self.fetch(SITE_A.host, "/listen/%d" % number)[0], 404)
        self.assertEqual(self.fetch(SITE_A.host, "/download.php/3")[0], 404)
        self.site.set_latest(SITE_B.host, 4321)
        location = self.fetch(SITE_B.host, "/download.php/4321")[1]["location"]
        self.assertTrue(location.endswith(SONGS[(4321 - 1) % len(SONGS)].file_name
                                          .replace(" ", "%20")))

    def test_files(self):
        song = SONGS[2]
        data = song.data()
        path = "/files/" + song.file_name.replace(" ", "%20")
        status, headers, body = self.fetch(SITE_B.host, path, tls=True)
        self.assertEqual((status, headers["content-type"], body), (200, "audio/mpeg", data))
        self.assertEqual(int(headers["content-length"]), len(data))
        status, headers, body = self.fetch(SITE_B.host, path, tls=True, method="HEAD")
        self.assertEqual((status, int(headers["content-length"]), body), (200, len(data), b""))
        size = len(data)
        for wanted, first, last in (("bytes=10-19", 10, 19), ("bytes=100-", 100, size - 1),
                                    ("bytes=-50", size - 50, size - 1),
                                    ("bytes=5-999999999", 5, size - 1)):
            status, headers, body = self.fetch(SITE_B.host, path, tls=True,
                                               headers={"Range": wanted})
            self.assertEqual((status, body), (206, data[first:last + 1]), wanted)
            self.assertEqual(headers["content-range"], "bytes %d-%d/%d" % (first, last, size))
        self.assertEqual(self.fetch(SITE_B.host, path, tls=True,
                                    headers={"Range": "bytes=%d-" % len(data)})[0], 416)
        self.assertEqual(self.fetch(SITE_B.host, path, tls=True,
                                    headers={"Range": "bytes=9-3"})[:3:2], (200, data))
        self.assertEqual(self.fetch(SITE_B.host, "/files/nothing.mp3", tls=True)[0], 404)
        status, headers, _ = self.fetch(SITE_B.host, path)
        self.assertEqual((status, headers["location"]), (301, "https://%s%s" % (SITE_B.host, path)))

    def test_keep_alive_carries_many_requests(self):
        for tls in (False, True):
            connection = self.connect(SITE_A.host, tls)
            for number in (1, 2, 3):
                connection.request("GET", "/listen/%d" % number)
                response = connection.getresponse()
                response.read()
                self.assertEqual(response.status, 302)
            connection.request("GET", "/")
            self.assertEqual(connection.getresponse().status, 200)
            connection.close()
        connections = {(r["tls"], r["connection"]) for r in self.site.requests()}
        self.assertEqual(len(connections), 2)

    def test_plain_http_on_the_tls_port_is_refused_with_400(self):
        """As common servers answer it; a client that sends song pages there gets no redirect."""
        connection = http.client.HTTPConnection(SITE_A.host, 443, timeout=10)
        connection.request("GET", "/listen/2")
        response = connection.getresponse()
        self.assertEqual(response.status, 400)
        self.assertIn(b"HTTPS port", response.read())
        self.assertIsNone(response.getheader("Location"))
        connection.close()
        self.assertEqual(self.site.plain_requests_on_tls_port(), 1)
        self.assertEqual([(r["port"], r["tls"], r["path"], r["status"]) for r in self.site.requests()],
                         [(443, False, "/listen/2", 400)])

    def test_exchanges_are_told_apart(self):
        """The copy's file request follows an https song page of the player's agent; the song
        page's own follow-up comes after a plain one; the library has an agent of its own."""
        song = "/files/" + SONGS[2].file_name.replace(" ", "%20")
        for tls in (False, True):  # the song page, then the copy, each followed to the file
            self.fetch(SITE_A.host, "/listen/3", tls=tls)
            self.fetch(SITE_A.host, song, tls=True)
        self.fetch(SITE_A.host, "/")
        connection = self.connect(SITE_A.host, tls=True)
        connection.request("GET", song, headers={"User-Agent": "TunerBass/1.0"})
        connection.getresponse().read()
        connection.close()
        self.assertEqual([r["exchange"] for r in self.site.requests()],
                         ["song_page", "song_page", "copy", "copy", "home", "library"])
        # A fault for the copy leaves the song page's follow-up and the library alone.
        self.site.fault(SITE_A.host, "file_status", status=503, exchange="copy")
        self.fetch(SITE_A.host, "/listen/3")
        self.assertEqual(self.fetch(SITE_A.host, song, tls=True)[0], 200)
        self.fetch(SITE_A.host, "/listen/3", tls=True)
        self.assertEqual(self.fetch(SITE_A.host, song, tls=True)[0], 503)
        with self.assertRaises(ValueError):
            self.site.fault(SITE_A.host, "file_status", exchange="nobody")

    def test_request_log(self):
        self.fetch(SITE_A.host, "/listen/2")
        self.fetch(SITE_A.host, "/files/blip.mp3", tls=True, headers={"Range": "bytes=0-9"})
        self.assertTrue(self.site.settle())
        log = self.site.requests()
        self.assertEqual([(r["method"], r["path"], r["tls"], r["status"]) for r in log],
                         [("GET", "/listen/2", False, 302), ("GET", "/files/blip.mp3", True, 206)])
        self.assertEqual(log[0]["host"], SITE_A.host)
        self.assertEqual(log[0]["user_agent"], "RQ_WinHTTP/1.0")
        self.assertEqual((log[1]["range"], log[1]["sent"], log[1]["song"]), ("bytes=0-9", 10, 4))
        self.assertEqual(log[0]["ip"], SITE_A.ip)
        with open(self.log_file) as f:
            self.assertEqual([json.loads(line)["path"] for line in f],
                             ["/listen/2", "/files/blip.mp3"])
        self.assertEqual(self.site.requests(SITE_B.host), [])

    def test_other_clients(self):
        """curl (another HTTP and TLS stack) follows the redirect and gets the whole file."""
        if not shutil.which("curl"):
            self.skipTest("no curl")
        out = os.path.join(WORK, "curl.mp3")
        result = subprocess.run(["curl", "-sS", "-L", "--cacert", CA, "-o", out, "-w",
                                 "%{http_code} %{num_redirects}",
                                 "https://%s/download.php/5" % SITE_B.host],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.stdout, "200 1", result.stderr)
        self.assertEqual(open(out, "rb").read(), SONGS[4].data())


class SiteFaultTest(SiteTestCase):
    def test_home_page_faults(self):
        self.site.fault(SITE_A.host, "home_refused")
        with self.assertRaises(ConnectionRefusedError):
            self.fetch(SITE_A.host, "/")
        self.assertEqual(self.fetch(SITE_A.host, "/", tls=True)[0], 200)
        self.assertEqual(self.fetch(SITE_B.host, "/")[0], 200)
        self.site.clear_faults()
        self.assertEqual(self.newest_number(SITE_A.host), len(SONGS))
        self.site.fault(SITE_A.host, "home_status", status=500, times=1)
        self.assertEqual(self.fetch(SITE_A.host, "/")[0], 500)
        self.assertEqual(self.fetch(SITE_A.host, "/")[0], 200)
        self.site.fault(None, "home_no_marker")
        self.assertEqual((self.newest_number(SITE_A.host), self.newest_number(SITE_B.host)), (0, 0))
        self.site.clear_faults()
        self.site.fault(SITE_B.host, "home_number_text", text="  77abc")
        self.assertEqual(self.newest_number(SITE_B.host), 77)
        self.site.fault(SITE_A.host, "reset", target="home")
        with self.assertRaises((ConnectionResetError, http.client.RemoteDisconnected)):
            self.fetch(SITE_A.host, "/")
        self.site.clear_faults()
        # A page without end: the marker near its top, no length, and more for as long as
        # the client reads (here up to the limit the fault was given).
        self.site.fault(SITE_A.host, "home_endless", limit=3 * 1024 * 1024)
        status, headers, body = self.fetch(SITE_A.host, "/")
        self.assertEqual(status, 200)
        self.assertNotIn("content-length", headers)
        self.assertLess(body.index(b'<td class="c1">'), 4096)
        self.assertGreaterEqual(len(body), 3 * 1024 * 1024)
        self.assertTrue(self.site.settle())
        self.assertEqual(self.site.requests()[-1]["sent"], len(body))

    def test_song_page_faults(self):
        site, host = self.site, SITE_A.host
        site.fault(host, "song_no_redirect", song=2)
        status, _, body = self.fetch(host, "/listen/2")
        self.assertEqual(status, 200)
        self.assertIn(b"<html", body)
        self.assertEqual(self.fetch(host, "/listen/3")[0], 302)
        site.fault(host, "song_redirect_loop", song=3)
        self.assertEqual(self.fetch(host, "/listen/3")[1]["location"],
                         "http://%s/listen/3" % host)
        site.fault(host, "song_redirect_dead", song=4)
        self.assertEqual(self.fetch(host, "/listen/4", tls=True)[1]["location"],
                         "https://dead.tuner.test/files/blip.mp3")
        site.fault(host, "song_status", song=5, status=404, scheme="http")
        self.assertEqual(self.fetch(host, "/listen/5")[0], 404)
        self.assertEqual(self.fetch(host, "/listen/5", tls=True)[0], 302)
        site.fault(host, "song_redirect_to", song=6, url="https://elsewhere.test/x.mp3")
        self.assertEqual(self.fetch(host, "/listen/6")[1]["location"], "https://elsewhere.test/x.mp3")
        with self.assertRaises(ValueError):
            site.fault(host, "song_redirect_to")
        with self.assertRaises(ValueError):
            site.fault(host, "no_such_fault")

    def test_hostile_file_names_are_served(self):
        host = SITE_B.host
        for number, name in enumerate(HOSTILE_NAMES, start=1):
            self.site.fault(host, "song_hostile_name", song=number, name=name)
            location = self.fetch(host, "/download.php/%d" % number)[1]["location"]
            prefix = "https://%s/files/" % host
            self.assertTrue(location.startswith(prefix), location)
            self.assertEqual(location[len(prefix):], name)  # none of them needs escaping
            status, _, body = self.fetch(host, location[len("https://" + host):], tls=True)
            self.assertEqual((status, body), (200, SONGS[number - 1].data()), name)
        # A client that straightened the separators still gets the song.
        self.assertEqual(self.fetch(host, "/files/evil.mp3", tls=True)[2], SONGS[0].data())
        self.site.fault(host, "song_hostile_name", song=6, name="two  spaces.mp3")
        self.assertTrue(self.fetch(host, "/download.php/6")[1]["location"]
                        .endswith("/files/two%20%20spaces.mp3"))
        # raw: control characters reach the Location header as they are.
        self.site.fault(host, "song_hostile_name", song=7, name="bell\x07esc\x1b[7m.mp3", raw=True)
        self.assertTrue(self.fetch(host, "/download.php/7")[1]["location"]
                        .endswith("/files/bell\x07esc\x1b[7m.mp3"))
        with self.assertRaises(ValueError):
            self.site.fault(host, "song_hostile_name", name="a\r\nSet-Cookie: x", raw=True)

    def test_file_faults(self):
        host = SITE_A.host
        paths = ["/files/" + s.file_name.replace(" ", "%20") for s in SONGS]
        self.site.fault(host, "file_status", song=1 + len(SONGS), status=500)  # wraps to song 1
        self.assertEqual(self.fetch(host, paths[0], tls=True)[0], 500)
        self.assertEqual(self.fetch(host, paths[1], tls=True)[0], 200)
        self.site.clear_faults()
        for body, check in (("empty", lambda b: b == b""),
                            ("html", lambda b: b.startswith(b"<!DOCTYPE html>")),
                            ("random", lambda b: len(b) == SONGS[1].size and b != SONGS[1].data()),
                            (b"\x00\x01", lambda b: b == b"\x00\x01")):
            self.site.fault(host, "file_body", song=2, body=body, times=1)
            status, _, received = self.fetch(host, paths[1], tls=True)
            self.assertEqual(status, 200)
            self.assertTrue(check(received), body)
        self.assertEqual(self.fetch(host, paths[1], tls=True)[2], SONGS[1].data())
        # "endless": the song, then more for as long as the client reads.
        self.site.fault(host, "file_body", song=2, body="endless", times=1)
        connection = self.connect(host, tls=True)
        connection.request("GET", paths[1])
        response = connection.getresponse()
        self.assertIsNone(response.getheader("Content-Length"))
        received = response.read(SONGS[1].size + 200000)
        connection.close()
        self.assertEqual(received[:SONGS[1].size], SONGS[1].data())
        self.assertEqual(len(received), SONGS[1].size + 200000)

    def test_transport_faults(self):
        host, song = SITE_A.host, SONGS[3]
        path = "/files/" + song.file_name
        self.site.fault(host, "truncate", keep=1000, times=1)
        with self.assertRaises(http.client.IncompleteRead) as caught:
            self.fetch(host, path, tls=True)
        self.assertEqual(len(caught.exception.partial), 1000)
        self.site.fault(host, "wrong_length", delta=500, times=1)
        with self.assertRaises(http.client.IncompleteRead) as caught:
            self.fetch(host, path, tls=True)
        self.assertEqual(caught.exception.partial, song.data())
        self.site.fault(host, "wrong_length", delta=-500, times=1)
        self.assertEqual(self.fetch(host, path, tls=True)[2], song.data()[:-500])
        self.site.fault(host, "reset", times=1)
        with self.assertRaises((ConnectionResetError, http.client.RemoteDisconnected,
                                ssl.SSLError)):
            self.fetch(host, path, tls=True)
        self.site.fault(host, "slow", target="song", rate=2000, delay=0.3, times=1)
        started = time.monotonic()
        status, headers, body = self.fetch(host, "/listen/4")
        self.assertEqual(status, 302)
        self.assertGreaterEqual(time.monotonic() - started, 0.3 + (len(body) - 200) / 2000)
        self.assertEqual(self.fetch(host, path, tls=True)[2], song.data())  # all used up
        faults = [r["fault"] for r in self.site.requests()]
        self.assertEqual(faults, ["truncate", "wrong_length", "wrong_length", "reset", "slow", None])


class SiteDistanceTest(SiteTestCase):
    """A site with a latency: every round trip costs what it would on a real network, the
    connect's included, and nothing else changes."""
    DELAY = 0.04  # each way

    def setUp(self):
        self.site = CatalogueSite(SONGS, CERT, KEY, latency=self.DELAY).start()
        self.addCleanup(self.site.stop)
        self.tls = ssl.create_default_context(cafile=CA)

    def test_round_trips_cost_their_time_and_bytes_arrive_unchanged(self):
        trip, song = 2 * self.DELAY, SONGS[3]
        for tls, trips in ((False, 2), (True, 3)):  # connect, (handshake,) request
            connection = self.connect(SITE_A.host, tls)
            started = time.monotonic()
            connection.request("GET", "/files/" + song.file_name if tls else "/listen/4")
            response = connection.getresponse()
            body = response.read()
            self.assertGreaterEqual(time.monotonic() - started, trips * trip)
            if tls:
                self.assertEqual(body, song.data())
            started = time.monotonic()
            connection.request("GET", "/")  # kept alive: one round trip
            self.assertEqual(connection.getresponse().read(), self.fetch(SITE_A.host, "/")[2])
            self.assertGreaterEqual(time.monotonic() - started, trip)
            connection.close()
        ports = [(r["port"], r["tls"]) for r in self.site.requests()]
        self.assertEqual(ports, [(80, False)] * 3 + [(443, True)] * 2 + [(80, False)])
        # A reset travels as a reset.
        self.site.fault(SITE_A.host, "reset", target="home", times=1)
        with self.assertRaises((ConnectionResetError, http.client.RemoteDisconnected)):
            self.fetch(SITE_A.host, "/")

    def test_stop_ends_every_relayed_connection(self):
        self.site.stop()
        baseline = threading.active_count()
        self.site = CatalogueSite(SONGS, CERT, KEY, latency=self.DELAY).start()
        idle = self.connect(SITE_A.host, True)
        idle.request("GET", "/")
        idle.getresponse().read()  # kept alive, as a client leaves it
        self.site.stop()
        self.assertEqual(threading.active_count(), baseline)
        idle.close()


class SiteLifeTest(unittest.TestCase):
    def test_stop_leaves_nothing_behind(self):
        baseline = threading.active_count()
        site = CatalogueSite(SONGS, CERT, KEY).start()
        site.fault(SITE_A.host, "slow", rate=100, target="file")
        idle = http.client.HTTPConnection(SITE_A.host, 80, timeout=10)
        idle.request("GET", "/")
        idle.getresponse().read()  # the connection stays open, as a keep-alive client leaves it
        context = ssl.create_default_context(cafile=CA)
        slow = http.client.HTTPSConnection(SITE_A.host, 443, context=context, timeout=10)
        slow.request("GET", "/files/blip.mp3")
        response = slow.getresponse()
        response.read(10)
        site.wait_for_request(lambda r: r["sent"] > 0)
        started = time.monotonic()
        site.stop()
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(threading.active_count(), baseline)
        for config in (SITE_A, SITE_B):
            for port in (80, 443):
                with self.assertRaises(ConnectionRefusedError):
                    socket.create_connection((config.ip, port), timeout=2)
        idle.close()
        slow.close()
        with CatalogueSite(SONGS, CERT, KEY) as again:  # the ports are free for the next test
            self.assertEqual(again.latest(SITE_B.host), len(SONGS))

    def test_standalone_program(self):
        log = os.path.join(WORK, "standalone.jsonl")
        process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "catalogue_site.py"), "--songs-dir",
             os.path.join(WORK, "songs"), "--cert", CERT, "--key", KEY, "--log", log,
             "--latest", "%s=4321" % SITE_A.host], stdout=subprocess.PIPE, text=True)
        try:
            self.assertTrue(process.stdout.readline().startswith("serving"))
            connection = http.client.HTTPConnection(SITE_A.host, 80, timeout=10)
            connection.request("GET", "/")
            self.assertIn(b"/listen/4321/", connection.getresponse().read())
            connection.close()
        finally:
            process.send_signal(signal.SIGTERM)
            self.assertEqual(process.wait(timeout=10), 0)
        with open(log) as f:
            self.assertEqual(json.loads(f.readline())["path"], "/")


def _run_inside_namespace():
    """Re-runs this file with a private network and mount namespace (needs root)."""
    env = dict(os.environ, **{INSIDE: "1"})
    command = ["unshare", "--net", "--mount", "--pid", "--fork", "--mount-proc",
               sys.executable, os.path.abspath(__file__)] + sys.argv[1:]
    return subprocess.call(command, env=env)


if __name__ == "__main__":
    if os.environ.get(INSIDE) != "1":
        sys.exit(_run_inside_namespace())
    unittest.main()
