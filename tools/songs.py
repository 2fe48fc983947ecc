#!/usr/bin/env python3
"""The test songs: synthesised, encoded with lame into real MP3 files, cached in a folder.

A song is rebuilt only when its file is missing or its recipe changed; the recipe's hash also
covers the synthesiser's source and the lame version, so editing either rebuilds everything.

    python3 tools/songs.py CACHE_DIR [--json]
"""

import argparse
import dataclasses
import fcntl
import hashlib
import json
import os
import subprocess
import sys
from dataclasses import dataclass, field
from typing import Optional

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from synth import compose as _compose_module  # noqa: E402
from synth import voices as _voices_module  # noqa: E402
from synth.compose import compose  # noqa: E402
from synth.mp3info import read_mp3  # noqa: E402

MANIFEST = "manifest.json"
ARTIST = "The Test Tones"


@dataclass(frozen=True)
class Recipe:
    number: int
    title: str
    file_name: str
    style: str                 # a style of synth.compose.STYLES
    seconds: float
    rate: int                  # 22050 or 44100 here; lame keeps the input rate
    channels: int
    encoding: tuple            # lame's bitrate options, e.g. ("-b", "128") or ("-V", "4")
    tags: str = "none"         # "none", "id3v2", "id3v1+id3v2" or "id3v2-padded"
    seed: int = 1
    key: int = 57
    tempo: int = 110
    style_options: tuple = ()  # (name, value) pairs handed to the style
    lame_tag: bool = True      # False leaves out the Xing/Info frame (lame -t)

    def lame_options(self):
        options = list(self.encoding)
        if not self.lame_tag:
            options.append("-t")
        if self.tags != "none":
            options += ["--tt", self.title, "--ta", ARTIST]
        if self.tags == "id3v2":
            options.append("--id3v2-only")
        elif self.tags == "id3v2-padded":
            options += ["--id3v2-only", "--pad-id3v2-size", "3000"]
        elif self.tags != "id3v1+id3v2" and self.tags != "none":
            raise ValueError("unknown tag choice %r" % self.tags)
        return options


def _recipe(number, title, file_name, style, seconds, rate, channels, encoding, **rest):
    return Recipe(number, title, file_name, style, seconds, rate, channels, tuple(encoding),
                  seed=number * 7919, **rest)


# Sizes, rates, tags and headers vary on purpose: each is something a player can get wrong.
TEST_SONGS = (
    _recipe(1, "Morning Scale", "Morning Scale.mp3", "melody", 8, 44100, 2, ["-b", "128"],
            tags="id3v2"),
    _recipe(2, "Bells", "bells_22k_mono.mp3", "bells", 5, 22050, 1, ["-b", "64"]),
    _recipe(3, "Evening Chords", "Evening Chords (VBR).mp3", "chords", 12, 44100, 2,
            ["-V", "4"], tags="id3v1+id3v2", tempo=90),
    _recipe(4, "Blip", "blip.mp3", "arpeggio", 3, 44100, 1, ["-b", "96"], lame_tag=False,
            tempo=140),
    _recipe(5, "Long Walk Home", "Long Walk Home.mp3", "drums", 60, 22050, 2, ["-b", "64"],
            tags="id3v2-padded", tempo=96),
    _recipe(6, "Full Scale Tone", "Full Scale Tone.mp3", "tone", 6, 44100, 2, ["-b", "192"],
            tags="id3v2"),
    _recipe(7, "Silence", "silence.mp3", "silence", 5, 44100, 2, ["-b", "128"]),
    _recipe(8, "Waltz for Two", "Waltz for Two.mp3", "waltz", 20, 44100, 1, ["-b", "112"],
            tags="id3v1+id3v2", tempo=150),
    _recipe(9, "Arpeggio Rain", "arpeggio rain.mp3", "arpeggio", 15, 22050, 2, ["-b", "80"],
            tags="id3v2", key=62),
    _recipe(10, "Night Groove", "Night Groove.mp3", "drums", 10, 44100, 2, ["-b", "160"],
            tempo=120),
    _recipe(11, "Small Hours", "small hours 22k.mp3", "chords", 9, 22050, 1, ["-b", "32"],
            tags="id3v2", lame_tag=False, key=52),
    _recipe(12, "Quick Tune", "Quick Tune.mp3", "melody", 4, 44100, 2, ["-b", "256"],
            key=64, tempo=132),
)


@dataclass(frozen=True)
class Song:
    """One built song: its recipe's choices and the facts read back from the MP3 file."""
    number: int
    title: str
    file_name: str
    path: str
    size: int                  # bytes of the file
    sample_rate: int
    channels: int
    mpeg_version: str          # "1" (44.1 kHz) or "2" (22.05 kHz)
    samples_per_frame: int     # 1152 for MPEG 1, 576 for MPEG 2
    frames: int                # audio frames counted in the file (the Xing/Info frame not counted)
    duration: float            # frames * samples_per_frame / sample_rate, in seconds
    vbr: bool                  # frames of more than one bitrate
    bitrate_kbps: float        # the one frame bitrate (CBR) or the average over the audio (VBR)
    xing_tag: Optional[str]    # "Xing", "Info" or None when lame wrote no such frame
    xing_frames: Optional[int]  # the frame count the Xing/Info header claims
    encoder_delay: Optional[int]
    encoder_padding: Optional[int]
    id3v2: bool
    id3v2_size: int            # bytes of the leading tag; also the offset of the first frame
    id3v1: bool
    audio_start: int           # offset of the first frame (after the ID3v2 tag)
    audio_end: int             # offset after the last frame (before an ID3v1 tag)
    style: str                 # e.g. "tone" (the full-scale song) or "silence"
    recipe_hash: str = field(repr=False, default="")

    def data(self):
        with open(self.path, "rb") as f:
            return f.read()


def _source_fingerprint():
    digest = hashlib.sha256()
    for module in (_compose_module, _voices_module):
        with open(module.__file__, "rb") as f:
            digest.update(f.read())
    version = subprocess.run(["lame", "--version"], capture_output=True, text=True).stdout
    digest.update(version.splitlines()[0].encode() if version else b"no lame")
    return digest.hexdigest()


def recipe_hash(recipe, fingerprint):
    text = json.dumps(dataclasses.asdict(recipe), sort_keys=True) + fingerprint
    return hashlib.sha256(text.encode()).hexdigest()[:20]


def describe(recipe, path, hash_text=""):
    """Reads a built song file back into a Song."""
    with open(path, "rb") as f:
        facts = read_mp3(f.read())
    xing = facts.xing
    bitrate = facts.bitrates[0] if not facts.vbr else round(facts.average_bitrate_kbps, 1)
    return Song(number=recipe.number, title=recipe.title, file_name=recipe.file_name,
                path=os.path.abspath(path), size=facts.size, sample_rate=facts.sample_rate,
                channels=facts.channels, mpeg_version=facts.version,
                samples_per_frame=facts.samples_per_frame, frames=facts.frames,
                duration=facts.duration, vbr=facts.vbr, bitrate_kbps=bitrate,
                xing_tag=xing.tag if xing else None, xing_frames=xing.frames if xing else None,
                encoder_delay=xing.encoder_delay if xing else None,
                encoder_padding=xing.encoder_padding if xing else None,
                id3v2=facts.id3v2_size > 0, id3v2_size=facts.id3v2_size, id3v1=facts.id3v1,
                audio_start=facts.audio_start, audio_end=facts.audio_end, style=recipe.style,
                recipe_hash=hash_text)


def _check_recipes(recipes):
    names = [r.file_name for r in recipes]
    numbers = [r.number for r in recipes]
    if len(set(names)) != len(names) or len(set(numbers)) != len(numbers):
        raise ValueError("song numbers and file names must be unique")
    for name in names:
        if not name or "/" in name or name.startswith(".") or name == MANIFEST:
            raise ValueError("unusable song file name %r" % name)


def build_catalogue(cache_dir, recipes=TEST_SONGS, jobs=2):
    """Builds what is missing or stale in `cache_dir` and returns the Songs in number order.

    Several processes may call this on one folder at once (tests run in parallel): a lock file
    makes the later ones wait and then find everything built."""
    _check_recipes(recipes)
    os.makedirs(cache_dir, exist_ok=True)
    with open(os.path.join(cache_dir, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        manifest_path = os.path.join(cache_dir, MANIFEST)
        try:
            with open(manifest_path) as f:
                manifest = json.load(f)
        except (OSError, ValueError):
            manifest = {}
        fingerprint = _source_fingerprint()
        hashes = {r.file_name: recipe_hash(r, fingerprint) for r in recipes}
        stale = [r for r in recipes
                 if manifest.get(r.file_name) != hashes[r.file_name]
                 or not os.path.isfile(os.path.join(cache_dir, r.file_name))]
        for recipe in stale:
            manifest.pop(recipe.file_name, None)
        _encode_all(cache_dir, stale, jobs)
        manifest.update({r.file_name: hashes[r.file_name] for r in stale})
        temporary = manifest_path + ".tmp"
        with open(temporary, "w") as f:
            json.dump(manifest, f, indent=1, sort_keys=True)
        os.replace(temporary, manifest_path)
    songs = [describe(r, os.path.join(cache_dir, r.file_name), hashes[r.file_name])
             for r in recipes]
    return sorted(songs, key=lambda s: s.number)


def _encode_all(cache_dir, recipes, jobs):
    """Synthesises each song while lame encodes the previous ones (up to `jobs` at a time)."""
    work = os.path.join(cache_dir, ".work")
    os.makedirs(work, exist_ok=True)
    running = []

    def finish(entry):
        process, recipe, wav_path, mp3_path = entry
        error = process.communicate()[1]
        os.unlink(wav_path)
        if process.returncode != 0:
            raise RuntimeError("lame failed on %s: %s" % (recipe.file_name, error.decode()))
        os.replace(mp3_path, os.path.join(cache_dir, recipe.file_name))

    try:
        for index, recipe in enumerate(recipes):
            mix = compose(recipe.style, recipe.seconds, recipe.rate, recipe.channels,
                          recipe.seed, recipe.key, recipe.tempo, **dict(recipe.style_options))
            wav_path = os.path.join(work, "%d.wav" % index)
            mp3_path = os.path.join(work, "%d.mp3" % index)
            with open(wav_path, "wb") as f:
                f.write(mix.wav())
            while len(running) >= jobs:
                finish(running.pop(0))
            command = ["lame", "--quiet", *recipe.lame_options(), wav_path, mp3_path]
            running.append((subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.PIPE), recipe, wav_path, mp3_path))
        while running:
            finish(running.pop(0))
    finally:
        for process, *_ in running:
            process.kill()
            process.wait()


def main(argv=None):
    parser = argparse.ArgumentParser(description="Build the test songs and list their facts.")
    parser.add_argument("cache_dir")
    parser.add_argument("--json", action="store_true", help="print the facts as JSON")
    args = parser.parse_args(argv)
    songs = build_catalogue(args.cache_dir)
    if args.json:
        print(json.dumps([dataclasses.asdict(s) for s in songs], indent=1))
        return 0
    for s in songs:
        print("%3d  %-26s %8d B %5d Hz %d ch %6.2f s %4d frames %-4s %s%s" % (
            s.number, s.file_name, s.size, s.sample_rate, s.channels, s.duration, s.frames,
            "VBR" if s.vbr else "CBR", s.xing_tag or "-",
            " id3v2 %d B" % s.id3v2_size if s.id3v2 else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
