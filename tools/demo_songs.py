#!/usr/bin/env python3
"""The demo catalogue: two dozen arranged songs for each of the two sites, synthesised by
synth.arrange, encoded with lame into MP3 files with ID3v2 tags and cached in a folder.

    python3 tools/demo_songs.py CACHE_DIR            build what is missing, list the songs
    python3 tools/demo_songs.py --wav OUT.wav N      render song N of site A to a WAV file

The first build takes about a minute on two cores; later ones find everything cached. A
change to the arranging code rebuilds the songs (its fingerprint is part of each recipe).
"""

import argparse
import dataclasses
import hashlib
import json
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass

TOOLS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, TOOLS)
import songs  # noqa: E402
from synth import arrange, genres, instruments, melody, mixing, theory  # noqa: E402

SITE_HOSTS = ("listen.tuner.test", "download.tuner.test")
ENGINE_MODULES = (arrange, genres, instruments, melody, mixing, theory)


def engine_fingerprint():
    digest = hashlib.sha256()
    for module in ENGINE_MODULES:
        with open(module.__file__, "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()[:16]


@dataclass(frozen=True)
class DemoRecipe(songs.Recipe):
    artist: str = ""
    album: str = ""
    engine: str = ""  # the arranging code's fingerprint: a change there rebuilds the song

    def lame_options(self):
        options = list(self.encoding)
        options += ["--tt", self.title, "--ta", self.artist, "--tl", self.album,
                    "--ty", "2026", "--tn", str(self.number)]
        if self.tags == "id3v2":
            options.append("--id3v2-only")
        elif self.tags != "id3v1+id3v2":
            raise ValueError("demo songs carry ID3v2 tags")
        return options


ARTISTS = {
    "pop": "June Avenue", "ballad": "Mira Holt", "waltz": "The Lantern Quartet",
    "bossa": "Rio Paper", "synthwave": "Night Ferry", "chiptune": "Pixel Fox",
    "lofi": "Dusty Shelves", "jig": "Copperfield Strings", "ambient": "Long Meadow",
    "reggae": "Sunny Side Sound", "disco": "Glitter Stairs", "lullaby": "Little Owl",
}

# (title, file name, genre, seconds, tempo, key as a MIDI note, lame options, rate)
LISTEN_SONGS = (
    ("Harbour Lights", "Harbour Lights.mp3", "pop", 62, 112, 57, ("-b", "160"), 44100),
    ("Paper Boats", "paper_boats.mp3", "lullaby", 38, 76, 60, ("-V", "4"), 44100),
    ("Night Drive", "Night Drive.mp3", "synthwave", 84, 104, 52, ("-b", "192"), 44100),
    ("Copper Kettle", "03 - Copper Kettle.mp3", "jig", 46, 168, 62, ("-b", "128"), 44100),
    ("Slow Tide", "Slow Tide.mp3", "ambient", 72, 64, 55, ("-V", "2"), 44100),
    ("Pixel Garden", "pixel_garden_22k.mp3", "chiptune", 34, 144, 60, ("-b", "64"), 22050),
    ("Sunday Porch", "Sunday Porch (lo-fi).mp3", "lofi", 56, 80, 53, ("-b", "128"), 44100),
    ("Velvet Rain", "Velvet Rain.mp3", "bossa", 66, 132, 58, ("-V", "3"), 44100),
    ("Dancing in the Hall", "Dancing in the Hall.mp3", "waltz", 44, 156, 55, ("-b", "160"),
     44100),
    ("Island Morning", "island morning.mp3", "reggae", 60, 78, 57, ("-b", "128"), 44100),
    ("Mirror Ball", "Mirror Ball.mp3", "disco", 78, 120, 52, ("-b", "192"), 44100),
    ("Letters Home", "Letters Home.mp3", "ballad", 70, 72, 60, ("-V", "2"), 44100),
    ("Kite Weather", "Kite Weather.mp3", "pop", 26, 118, 62, ("-b", "128"), 44100),
    ("Starlight Carousel", "Starlight Carousel.mp3", "lullaby", 50, 84, 55, ("-b", "96"),
     32000),
    ("Neon Rivers", "Neon_Rivers.mp3", "synthwave", 58, 100, 55, ("-V", "4"), 44100),
    ("The Miller's Reel", "The Millers Reel.mp3", "jig", 36, 172, 55, ("-b", "128"), 44100),
    ("Glass Forest", "Glass Forest.mp3", "ambient", 90, 60, 57, ("-b", "160"), 44100),
    ("Level Two", "level two.mp3", "chiptune", 24, 152, 57, ("-b", "128"), 44100),
    ("Rainy Window", "Rainy Window.mp3", "lofi", 48, 76, 57, ("-V", "5"), 44100),
    ("Lanterns", "Lanterns.mp3", "bossa", 40, 126, 53, ("-b", "160"), 44100),
    ("Grandmother's Waltz", "Grandmothers Waltz.mp3", "waltz", 64, 144, 53, ("-b", "128"),
     44100),
    ("Sunday Market", "Sunday Market.mp3", "reggae", 32, 80, 62, ("-b", "112"), 44100),
    ("Roller Rink", "Roller Rink.mp3", "disco", 42, 122, 57, ("-V", "3"), 44100),
    ("Quiet Streets", "quiet streets.mp3", "ballad", 20, 70, 55, ("-b", "128"), 44100),
)

DOWNLOAD_SONGS = (
    ("Morning Ferry (Radio Edit)", "Morning Ferry (Radio Edit).mp3", "pop", 58, 108, 55,
     ("-b", "192"), 44100),
    ("Clockwork Waltz", "clockwork-waltz.mp3", "waltz", 50, 150, 57, ("-b", "128"), 44100),
    ("Afterglow Boulevard (Extended Mix)", "Afterglow Boulevard (Extended Mix).mp3",
     "synthwave", 72, 98, 53, ("-V", "2"), 44100),
    ("Lemon Tree Lane", "Lemon Tree Lane.mp3", "bossa", 54, 128, 60, ("-b", "160"), 44100),
    ("The Long Meadow", "The Long Meadow.mp3", "ambient", 80, 66, 52, ("-V", "4"), 44100),
    ("Boss Level", "boss_level.mp3", "chiptune", 30, 160, 55, ("-b", "64"), 22050),
    ("Dust and Vinyl", "Dust and Vinyl.mp3", "lofi", 62, 82, 58, ("-b", "128"), 44100),
    ("Five Mile Jig", "Five Mile Jig.mp3", "jig", 40, 176, 57, ("-b", "160"), 44100),
    ("Tin Roof Rain (Dub)", "Tin Roof Rain (Dub).mp3", "reggae", 46, 76, 55, ("-V", "3"),
     44100),
    ("Saturday Lights (Club Mix)", "Saturday Lights (Club Mix).mp3", "disco", 86, 124, 55,
     ("-b", "256"), 44100),
    ("Far from Shore", "Far from Shore.mp3", "ballad", 64, 74, 53, ("-b", "160"), 44100),
    ("Little Owl", "little owl.mp3", "lullaby", 28, 72, 62, ("-b", "96"), 32000),
    ("Open Road", "Open Road.mp3", "pop", 88, 116, 52, ("-V", "2"), 44100),
    ("Honeymoon Waltz", "Honeymoon Waltz.mp3", "waltz", 36, 162, 60, ("-b", "128"), 44100),
    ("Chrome Sunset", "Chrome Sunset.mp3", "synthwave", 44, 110, 57, ("-b", "192"), 44100),
    ("Sea Glass", "Sea Glass.mp3", "bossa", 76, 136, 55, ("-V", "4"), 44100),
    ("Northern Skies", "Northern Skies.mp3", "ambient", 52, 62, 60, ("-b", "128"), 44100),
    ("Save Point", "save point.mp3", "chiptune", 42, 138, 52, ("-b", "128"), 44100),
    ("Late Bus", "Late Bus.mp3", "lofi", 22, 86, 55, ("-b", "112"), 44100),
    ("Cobblestone Reel", "Cobblestone Reel.mp3", "jig", 60, 164, 53, ("-V", "3"), 44100),
    ("Hammock Days", "Hammock Days.mp3", "reggae", 68, 74, 58, ("-b", "160"), 44100),
    ("Glitter Stairs", "Glitter Stairs.mp3", "disco", 34, 118, 60, ("-b", "128"), 44100),
    ("Candle in the Attic", "Candle in the Attic.mp3", "ballad", 44, 76, 57, ("-V", "2"),
     44100),
    ("Moon over the Bay", "Moon over the Bay.mp3", "lullaby", 56, 80, 53, ("-b", "128"),
     44100),
)

ALBUMS = {SITE_HOSTS[0]: "Tuner Demo Sessions", SITE_HOSTS[1]: "Tuner Demo Remixes"}
TABLES = {SITE_HOSTS[0]: LISTEN_SONGS, SITE_HOSTS[1]: DOWNLOAD_SONGS}


def recipes(host, engine=None):
    """The recipes of one site's catalogue, numbered from 1."""
    engine = engine or engine_fingerprint()
    site = SITE_HOSTS.index(host)
    out = []
    for number, (title, name, genre, seconds, tempo, key, encoding, rate) in \
            enumerate(TABLES[host], 1):
        out.append(DemoRecipe(
            number=number, title=title, file_name=name, style="song", seconds=seconds,
            rate=rate, channels=2, encoding=tuple(encoding),
            tags="id3v1+id3v2" if number % 5 == 0 else "id3v2",
            seed=1000 * (site + 1) + number, key=key, tempo=tempo,
            style_options=(("genre", genre),), artist=ARTISTS[genre], album=ALBUMS[host],
            engine=engine))
    return out


def folder_of(cache_root, host):
    return os.path.join(cache_root, host)


def is_built(cache_root):
    """True when every song of both sites is in the cache and up to date (no work to do)."""
    fingerprint = songs._source_fingerprint()
    for host in SITE_HOSTS:
        folder = folder_of(cache_root, host)
        try:
            with open(os.path.join(folder, songs.MANIFEST)) as f:
                manifest = json.load(f)
        except (OSError, ValueError):
            return False
        for recipe in recipes(host):
            if manifest.get(recipe.file_name) != songs.recipe_hash(recipe, fingerprint) or \
                    not os.path.isfile(os.path.join(folder, recipe.file_name)):
                return False
    return True


def _build_site(cache_root, host):
    return songs.build_catalogue(folder_of(cache_root, host), recipes(host), jobs=1)


def build(cache_root, jobs=2):
    """Builds both sites' catalogues (one process each) and returns {host: [Song]}."""
    os.makedirs(cache_root, exist_ok=True)
    if jobs <= 1:
        return {host: _build_site(cache_root, host) for host in SITE_HOSTS}
    with ProcessPoolExecutor(max_workers=min(jobs, len(SITE_HOSTS))) as pool:
        futures = {host: pool.submit(_build_site, cache_root, host) for host in SITE_HOSTS}
        return {host: future.result() for host, future in futures.items()}


def main(argv=None):
    parser = argparse.ArgumentParser(description="Build and list the demo catalogue.")
    parser.add_argument("cache_dir", nargs="?")
    parser.add_argument("--wav", nargs=2, metavar=("OUT", "NUMBER"),
                        help="render one song of site A to a WAV file instead")
    parser.add_argument("--json", action="store_true", help="print the facts as JSON")
    args = parser.parse_args(argv)
    if args.wav:
        recipe = recipes(SITE_HOSTS[0])[int(args.wav[1]) - 1]
        song = arrange.arrange(dict(recipe.style_options)["genre"], recipe.seconds, recipe.rate,
                               recipe.channels, recipe.seed, recipe.key, recipe.tempo)
        with open(args.wav[0], "wb") as f:
            f.write(song.wav())
        return 0
    if not args.cache_dir:
        parser.error("a cache folder is needed")
    started = time.monotonic()
    catalogue = build(args.cache_dir)
    if args.json:
        print(json.dumps({h: [dataclasses.asdict(s) for s in v] for h, v in catalogue.items()},
                         indent=1))
        return 0
    for host, site_songs in catalogue.items():
        print(host)
        for s in site_songs:
            print("%4d  %-40s %6.1f s %5d Hz %s %6.1f kbps" % (
                s.number, s.file_name, s.duration, s.sample_rate, "VBR" if s.vbr else "CBR",
                s.bitrate_kbps))
    print("%.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
