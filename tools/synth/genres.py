"""The kinds of song the demo catalogue holds: for each, its metre, keys, chord progressions,
drum, bass and accompaniment patterns, and the instruments that play them."""

from dataclasses import dataclass

from .instruments import Drums, Mallet, Pluck, Tone


@dataclass(frozen=True)
class Genre:
    meter: int            # 4 (4/4), 3 (3/4) or 6 (6/8, counted in quarter beats, 3 to a bar)
    modes: tuple
    verse: tuple          # progression texts (theory.progression), one is chosen
    chorus: tuple
    bridge: tuple
    drums: str            # a DRUM_PATTERNS name, or "" for none
    kit: str              # "acoustic" or "chip"
    bass: str             # a BASS_PATTERNS name
    bass_sound: str
    comp: str             # a COMP_PATTERNS or ARPEGGIOS name
    comp_sound: str
    lead_sound: str
    pad_sound: str = ""
    counter: str = ""     # an ARPEGGIOS name played in the choruses, or ""
    counter_sound: str = ""
    swing: float = 0.0    # beats by which off-beat eighths are late
    room: float = 0.82    # reverb size (0.7 small to 0.9 large), 0 for none
    echo: float = 0.0     # echo of the tune, in beats, 0 for none
    lead_octave: int = 1  # the tune's centre, in octaves above the tonic
    humanise: bool = True


def bar_beats(meter):
    return 3 if meter in (3, 6) else 4


GENRES = {
    "pop": Genre(4, ("major",), ("1 5 6 4", "1 6 4 5", "6 4 1 5"), ("4 5 1 6", "1 5 6 4",
                 "4 1 5 6"), ("6 4 5 5", "2 5 1 1"), "pop", "acoustic", "pop", "bass_pluck",
                 "strum", "guitar", "flute", "strings", "arp8", "vibes", echo=0.75),
    "ballad": Genre(4, ("major", "minor"), ("1 5 6 4", "1 3 4 5"), ("4 5 3 6", "6 4 1 5"),
                    ("4 4 5 5",), "ballad", "acoustic", "roots", "bass_round", "arp8", "piano",
                    "whistle", "strings", room=0.88),
    "waltz": Genre(3, ("major",), ("1 4 5 1", "1 6 2 5"), ("4 1 5 1", "1 5 5 1"),
                   ("6 2 5 5",), "waltz", "acoustic", "waltz", "bass_round", "waltz",
                   "accordion", "fiddle", "", "arp8", "musicbox", room=0.8),
    "bossa": Genre(4, ("major", "minor"), ("2:7 5:7 1:7 1:7", "1:7 6:7 2:7 5:7"),
                   ("4:7 4:7 3:7 6:7", "2:7 5:7 3:7 6:7"), ("4:7 5:7 1:7 1:7",), "bossa",
                   "acoustic", "bossa", "bass_round", "bossa", "nylon", "flute", "",
                   "arp8", "vibes", room=0.75),
    "synthwave": Genre(4, ("minor",), ("1 6 3 7", "1 7 6 7"), ("6 7 1 1", "6 4 1 5D"),
                       ("4 4 6 7",), "pop", "acoustic", "eighths", "bass_synth", "pad",
                       "pad", "lead_saw", "", "arp16", "harp", room=0.86, echo=0.75),
    "chiptune": Genre(4, ("major", "minor"), ("1 6 4 5", "1 5 6 4"), ("4 5 1 1", "6 4 5 1"),
                      ("4 5 4 5",), "chip", "chip", "octaves", "bass_chip", "arp16",
                      "chip_arp", "chip_lead", room=0.0, humanise=False),
    "lofi": Genre(4, ("major",), ("4:7 3:7 2:7 1:7", "2:7 5:7 1:7 6:7"),
                  ("1:7 6:7 2:7 5:7", "4:7 5:7 3:7 6:7"), ("4:7 4:7 5:7 5:7",), "lofi",
                  "acoustic", "lofi", "bass_round", "epiano", "epiano", "vibes_lead",
                  swing=0.12, room=0.8),
    "jig": Genre(6, ("major", "mixolydian", "dorian"), ("1 4 1 5", "1 7 1 5", "1 1 4 5"),
                 ("4 1 5 1", "4 5 1 1"), ("6 4 5 5",), "jig", "acoustic", "jig",
                 "bass_pluck", "strum68", "guitar", "fiddle", room=0.78),
    "ambient": Genre(4, ("major", "dorian"), ("1 1 4 4", "6 6 4 4"), ("4 4 1 1", "1 1 5 5"),
                     ("4 5 6 6",), "", "acoustic", "pedal", "bass_round", "pad", "strings",
                     "bell", "pad", "arp8", "musicbox", room=0.9, echo=1.5, lead_octave=2),
    "reggae": Genre(4, ("major", "minor"), ("1 4 1 5", "1 4 5 4"), ("4 1 5 1", "4 5 1 1"),
                    ("6 4 5 5",), "onedrop", "acoustic", "reggae", "bass_round", "skank",
                    "organ", "lead_square", swing=0.08, room=0.7, echo=0.75),
    "disco": Genre(4, ("minor", "dorian"), ("1 4 1 4", "1 7 6 7"), ("6 7 1 1", "4 5 1 1"),
                   ("4 4 5 5",), "disco", "acoustic", "octaves", "bass_synth", "stabs", "piano",
                   "lead_square", "strings", "arp16", "vibes", room=0.72),
    "lullaby": Genre(3, ("major",), ("1 4 1 5", "1 6 4 5"), ("4 1 5 1", "4 5 1 1"),
                     ("6 4 5 5",), "", "acoustic", "waltz", "bass_round", "arp8", "harp",
                     "musicbox", "pad", room=0.88, lead_octave=2),
}


def instrument(name, rate):
    """A fresh instrument of the given sound."""
    makers = {
        "piano": lambda: Tone(rate, "soft", attack=0.003, half_life=0.9, release=0.12,
                              bright="string", bright_half_life=0.06, bright_level=0.45),
        "epiano": lambda: Tone(rate, "epiano", attack=0.002, half_life=1.6, release=0.2,
                               bright="tine", bright_half_life=0.12, bright_level=0.7),
        "guitar": lambda: Pluck(rate, brightness=0.62, ring=2.4, seed=3),
        "nylon": lambda: Pluck(rate, brightness=0.42, ring=1.8, seed=5),
        "harp": lambda: Pluck(rate, brightness=0.55, ring=3.0, seed=9),
        "bass_pluck": lambda: Pluck(rate, brightness=0.3, ring=1.6, seed=13, level=1.1),
        "bass_round": lambda: Tone(rate, "warm_bass", attack=0.006, decay=0.35, sustain=0.6,
                                   release=0.06),
        "bass_synth": lambda: Tone(rate, "saw", attack=0.004, decay=0.12, sustain=0.5,
                                   release=0.04, detune_cents=5, half_rate=True),
        "bass_chip": lambda: Tone(rate, "triangle", attack=0.002, release=0.01),
        "strings": lambda: Tone(rate, "string", attack=0.4, release=0.5, detune_cents=8,
                                half_rate=True),
        "pad": lambda: Tone(rate, "soft", attack=0.7, release=0.9, detune_cents=7,
                            half_rate=True),
        "organ": lambda: Tone(rate, "organ", attack=0.008, release=0.05),
        "accordion": lambda: Tone(rate, "reed", attack=0.03, release=0.08, detune_cents=10,
                                  half_rate=True),
        "flute": lambda: Tone(rate, "flute", attack=0.06, release=0.12, vibrato=0.006),
        "whistle": lambda: Tone(rate, "sine", attack=0.05, release=0.12, vibrato=0.007,
                                vibrato_rate=5.5),
        "fiddle": lambda: Tone(rate, "string", attack=0.05, decay=0.3, sustain=0.8,
                               release=0.1, vibrato=0.007, vibrato_rate=5.5),
        "lead_saw": lambda: Tone(rate, "saw", attack=0.01, decay=0.4, sustain=0.75,
                                 release=0.12, vibrato=0.005),
        "lead_square": lambda: Tone(rate, "square", attack=0.01, decay=0.3, sustain=0.8,
                                    release=0.08, vibrato=0.004),
        "chip_lead": lambda: Tone(rate, "pulse", attack=0.002, release=0.02, vibrato=0.01,
                                  vibrato_rate=6.0),
        "chip_arp": lambda: Tone(rate, "square", attack=0.002, release=0.01),
        "vibes": lambda: Mallet(rate, "vibes", tremolo=0.3),
        "vibes_lead": lambda: Mallet(rate, "vibes", tremolo=0.25),
        "marimba": lambda: Mallet(rate, "marimba"),
        "musicbox": lambda: Mallet(rate, "musicbox"),
        "bell": lambda: Mallet(rate, "bell"),
    }
    return makers[name]()


def drum_kit(kind, rate):
    return Drums(rate, kind)


# Per bar: (hit, beat, velocity). Hats on every eighth are written out by _eighths.
def _eighths(hit, bar, loud, soft, start=0.0):
    return [(hit, start + i * 0.5, loud if i % 2 == 0 else soft) for i in range(int(bar * 2))]


DRUM_PATTERNS = {
    "pop": [("kick", 0, 1.0), ("kick", 1.5, 0.6), ("kick", 2, 0.9), ("snare", 1, 1.0),
            ("snare", 3, 1.0)] + _eighths("hat", 4, 0.8, 0.55),
    "ballad": [("kick", 0, 0.9), ("kick", 2.5, 0.6), ("rim", 1, 0.8), ("rim", 3, 0.8)]
    + _eighths("shaker", 4, 0.6, 0.4),
    "waltz": [("kick", 0, 0.8), ("brush", 1, 0.7), ("brush", 2, 0.6)]
    + [("hat", 1, 0.45), ("hat", 2, 0.4)],
    "bossa": [("kick", 0, 0.8), ("kick", 1.5, 0.55), ("kick", 2, 0.8), ("kick", 3.5, 0.55),
              ("rim", 0, 0.8), ("rim", 0.75, 0.7), ("rim", 1.5, 0.7), ("rim", 2.5, 0.75),
              ("rim", 3, 0.6)] + [("shaker", i * 0.25, 0.55 if i % 4 == 0 else 0.35)
                                  for i in range(16)],
    "lofi": [("kick", 0, 1.0), ("kick", 1.75, 0.6), ("kick", 2.5, 0.85), ("snare", 1, 0.8),
             ("snare", 3, 0.85)] + _eighths("hat", 4, 0.6, 0.4),
    "onedrop": [("kick", 2, 1.0), ("rim", 2, 0.9), ("rim", 0.5, 0.35)]
    + _eighths("hat", 4, 0.6, 0.45),
    "disco": [("kick", b, 1.0) for b in range(4)] + [("clap", 1, 0.9), ("clap", 3, 0.9)]
    + [("open_hat", b + 0.5, 0.6) for b in range(4)] + [("hat", b, 0.35) for b in range(4)],
    "chip": [("kick", 0, 1.0), ("kick", 2, 0.9), ("kick", 2.5, 0.7), ("snare", 1, 0.9),
             ("snare", 3, 0.9)] + _eighths("hat", 4, 0.6, 0.4),
    "jig": [("tom", 0, 1.0), ("tom", 1.5, 0.8), ("kick", 0, 0.6)]
    + [("hat", b * 0.5, 0.45) for b in (1, 2, 4, 5)],
}

# Per bar: (beat, beats, which note of the chord); "fifth" and "third" are the chord's own.
BASS_PATTERNS = {
    "roots": [(0, 2, "root"), (2, 2, "fifth")],
    "pop": [(0, 1, "root"), (1.5, 0.5, "root"), (2, 1, "root"), (3, 0.5, "fifth"),
            (3.5, 0.5, "octave")],
    "eighths": [(i * 0.5, 0.45, "root") for i in range(8)],
    "octaves": [(i * 0.5, 0.4, "root" if i % 2 == 0 else "octave") for i in range(8)],
    "bossa": [(0, 1.5, "root"), (1.5, 0.5, "fifth"), (2, 1.5, "fifth"), (3.5, 0.5, "root")],
    "waltz": [(0, 1, "root"), (2, 0.5, "fifth")],
    "lofi": [(0, 1.5, "root"), (1.75, 0.25, "root"), (2.5, 1.25, "fifth")],
    "reggae": [(0, 0.75, "root"), (1, 0.5, "root"), (1.5, 0.5, "third"), (2, 1, "fifth"),
               (3.5, 0.5, "octave")],
    "jig": [(0, 1.5, "root"), (1.5, 1.5, "fifth")],
    "pedal": [(0, 4, "root")],
}

# Per bar: (beat, beats, stroke, velocity); D and U are guitar strums down and up, B a block.
COMP_PATTERNS = {
    "pad": [(0, 4, "B", 0.9)],
    "strum": [(0, 1, "D", 1.0), (1, 0.5, "D", 0.75), (1.5, 1, "U", 0.6), (2.5, 0.5, "U", 0.6),
              (3, 0.5, "D", 0.8), (3.5, 0.5, "U", 0.6)],
    "strum68": [(0, 1, "D", 1.0), (1, 0.5, "U", 0.6), (1.5, 1, "D", 0.85), (2.5, 0.5, "U", 0.6)],
    "waltz": [(1, 0.8, "B", 0.8), (2, 0.8, "B", 0.7)],
    "bossa": [(0, 0.75, "B", 0.8), (1.5, 0.75, "B", 0.7), (2.5, 0.5, "B", 0.7),
              (3.25, 0.75, "B", 0.6)],
    "skank": [(1, 0.35, "B", 0.8), (3, 0.35, "B", 0.8)],
    "stabs": [(0.5, 0.3, "B", 0.8), (1.5, 0.3, "B", 0.65), (2.5, 0.3, "B", 0.8),
              (3.5, 0.3, "B", 0.65)],
    "epiano": [(0, 1.75, "B", 0.9), (2.5, 1.5, "B", 0.7)],
}

# Broken chords: the step in beats and the order of the chord's notes (octave above: +n).
ARPEGGIOS = {
    "arp8": (0.5, (0, 1, 2, 3, 4, 3, 2, 1)),
    "arp16": (0.25, (0, 1, 2, 3, 4, 3, 2, 1)),
}
