#!/usr/bin/env python3
"""Seeds for the fuzz targets, made the same way every time: crafted inputs (frames of every
MPEG version, ID3v2 tags with and without a footer, Xing/Info/VBRI summary frames, trailing
tags, junk, damage) and slices of the test songs, which tools/songs.py synthesises into the
song cache (built there first if missing). No audio file is ever committed.

    python3 tests/fuzz/seeds.py OUT_DIR [--songs SONG_CACHE]

Writes OUT_DIR/<target>/<name> for each target; `make test` replays them and `make fuzz`
starts from them.
"""
import argparse
import hashlib
import pathlib
import shutil
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]

MPEG1_KBPS = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
MPEG2_KBPS = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}


def header(version=3, bitrate=9, rate=0, padding=0, mono=False, crc=False):
    """A Layer III frame header; version bits 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5."""
    return bytes([0xFF, 0xE0 | version << 3 | 1 << 1 | (0 if crc else 1),
                  bitrate << 4 | rate << 2 | padding << 1, (3 if mono else 0) << 6])


def frame(version=3, bitrate=9, rate=0, padding=0, mono=False, fill=0, body=b""):
    kbps = (MPEG1_KBPS if version == 3 else MPEG2_KBPS)[bitrate]
    size = (144 if version == 3 else 72) * kbps * 1000 // RATES[version][rate] + padding
    data = header(version, bitrate, rate, padding, mono) + body
    return data + bytes([fill]) * (size - len(data))


def chain(count, **options):
    return b"".join(frame(fill=i & 0xFF, **options) for i in range(count))


def summary_frame(kind=b"Xing", flags=3, frames=40, size=20000, mono=False, version=3):
    side = (17 if mono else 32) if version == 3 else (9 if mono else 17)
    body = bytes(side) + kind + struct.pack(">III", flags, frames, size)
    return frame(version=version, mono=mono, body=body)


def vbri_frame(frames=40, size=20000):
    return frame(body=bytes(32) + b"VBRI" + bytes(6) + struct.pack(">II", size, frames))


def id3v2(body_size, footer=False, bad_size=False):
    size = [(body_size >> s) & 0x7F for s in (21, 14, 7, 0)]
    if bad_size:
        size[0] |= 0x80
    head = b"ID3\x04\x00" + bytes([0x10 if footer else 0]) + bytes(size)
    tag = head + bytes(body_size)
    return tag + (b"3DI" + head[3:] if footer else b"")


def crafted():
    """(name, bytes) of hand-made files."""
    yield "mpeg1-chain", chain(6)
    yield "mpeg1-padded-mono", chain(5, padding=1, mono=True)
    yield "mpeg2-chain", chain(6, version=2, bitrate=8, rate=1)
    yield "mpeg25-chain", chain(6, version=0, bitrate=4, rate=2)
    yield "largest-frame", chain(3, bitrate=14, rate=2, padding=1)
    yield "xing", summary_frame() + chain(5)
    yield "info-frames-only", summary_frame(b"Info", flags=1) + chain(4)
    yield "xing-mono-mpeg2", summary_frame(mono=True, version=2) + chain(3, version=2, mono=True)
    yield "xing-cut-short", summary_frame()[:40]
    yield "vbri", vbri_frame() + chain(4)
    yield "id3v2", id3v2(200) + chain(4)
    yield "id3v2-footer", id3v2(200, footer=True) + chain(4)
    yield "id3v2-bad-size", id3v2(10, bad_size=True) + chain(3)
    yield "two-id3v2", id3v2(30) + id3v2(20, footer=True) + chain(3)
    yield "junk-then-frames", bytes(range(256)) * 3 + chain(5)
    yield "false-sync", b"\xff\xfb\x90\x00" + bytes(100) + chain(4)
    yield "trailing-tag", chain(4) + b"TAG" + bytes(125)
    yield "trailing-ape", chain(4) + b"APETAGEX" + bytes(24)
    damaged = bytearray(chain(10))
    damaged[1000:1500] = bytes((i * 7) & 0xFF for i in range(500))
    yield "damaged", bytes(damaged)
    yield "reserved-values", header(bitrate=15) + header(rate=3) + header(version=1) + bytes(8)
    yield "empty", b""


def song_slices(cache):
    """(name, bytes): the start (tags, summary frame), a stretch of the middle and the end
    (the last frames and any ID3v1 tag) of every test song."""
    sys.path.insert(0, str(ROOT / "tools"))
    import songs  # noqa: E402
    for song in songs.build_catalogue(str(cache)):
        data = song.data()
        stem = "song%02d" % song.number
        yield stem + "-start", data[:6000]
        yield stem + "-middle", data[len(data) // 2:len(data) // 2 + 4000]
        yield stem + "-end", data[-3000:]


SAVE_NAMES = [b"\x00\x10Morning Scale.mp3", b"\x00\xf0..\\..\\evil.mp3", b"\x01\x00CON.mp3",
              b"\x00\x20what:is*this?.mp3", b"\x00\x05" + b"a" * 300 + b".mp3", b"\x00\x00 . ",
              b"\x00\x30\x01\x1f\x7fname.mp3"]


def write(folder, name, data):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / (name + "-" + hashlib.sha1(data).hexdigest()[:8])).write_bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--songs", help="the song cache (tools/songs.py); none: crafted only")
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    shutil.rmtree(out, ignore_errors=True)
    inputs = list(crafted())
    if args.songs:
        inputs += list(song_slices(args.songs))
    for name, data in inputs:
        # The frame finder's first byte says how to search: complete or not, from where,
        # with a limit, how long a chain, for one stream or any.
        for mode in (0x01, 0x20, 0x41, 0x93, 0x68):
            write(out / "mp3_frame_fuzz", "%s-%02x" % (name, mode), bytes([mode]) + data)
        # The cursor's two bytes: the size of the pieces the file arrives in, and of a step.
        for piece, step in ((255, 255), (3, 60), (40, 1)):
            write(out / "frame_cursor_fuzz", "%s-%d-%d" % (name, piece, step), bytes([piece, step]) + data)
    for i, data in enumerate(SAVE_NAMES):
        write(out / "save_name_fuzz", "name%d" % i, data)
    print("seeds: %d inputs in %s" % (sum(1 for _ in out.rglob("*") if _.is_file()), out))


if __name__ == "__main__":
    main()
