"""Scales, chords and chord progressions for the demo songs, in semitones above the tonic."""

from dataclasses import dataclass

SCALES = {
    "major": (0, 2, 4, 5, 7, 9, 11),
    "minor": (0, 2, 3, 5, 7, 8, 10),
    "dorian": (0, 2, 3, 5, 7, 9, 10),
    "mixolydian": (0, 2, 4, 5, 7, 9, 10),
}


@dataclass(frozen=True)
class Chord:
    degree: int    # 0-based scale degree of the root
    tones: tuple   # semitones above the tonic, root first, each above the last
    beats: float   # how long it lasts

    @property
    def root(self):
        return self.tones[0]

    def pitch_classes(self):
        return {t % 12 for t in self.tones}

    def fifth(self):
        return self.tones[2]


def chord(mode, degree, seventh=False, dominant=False, beats=4.0):
    """The triad (or seventh chord) built from the scale on a degree; `dominant` gives the
    degree its major third, as the fifth degree of a minor key borrows from harmonic minor."""
    scale = SCALES[mode]
    tones = []
    for step in ((0, 2, 4, 6) if seventh else (0, 2, 4)):
        d = degree + step
        tones.append(scale[d % 7] + 12 * (d // 7))
    if dominant:
        tones[1] = tones[0] + 4
        if seventh:
            tones[3] = tones[0] + 10
    return Chord(degree, tuple(tones), beats)


def progression(text, mode, bar_beats):
    """Chords from a text such as "1 5 6 4" or "2:7 5:7D 1:7 1:7/2": 1-based degrees, ":7" a
    seventh chord, "D" a major-third dominant, "/2" half a bar (the default is a whole bar)."""
    chords = []
    for token in text.split():
        beats = bar_beats
        if "/" in token:
            token, divisor = token.split("/")
            beats = bar_beats / int(divisor)
        degree_text, _, marks = token.partition(":")
        dominant = degree_text.endswith("D") or "D" in marks
        degree = int(degree_text.rstrip("D")) - 1
        chords.append(chord(mode, degree, seventh="7" in marks, dominant=dominant, beats=beats))
    return chords


def scale_notes(tonic, mode, low, high):
    """The key's notes from `low` to `high` (MIDI numbers), ascending."""
    pitch_classes = {(tonic + s) % 12 for s in SCALES[mode]}
    return [n for n in range(low, high + 1) if n % 12 in pitch_classes]


def voicing(tones, tonic, centre, previous=None):
    """MIDI notes for a chord near `centre`, moving as little as possible from the previous
    voicing (smooth voice leading): each inversion is tried in the octaves around the centre."""
    classes = [t % 12 for t in tones]
    best, best_cost = None, None
    for inversion in range(len(classes)):
        order = classes[inversion:] + classes[:inversion]
        notes = [tonic + order[0]]
        for pc in order[1:]:
            n = tonic + pc
            while n <= notes[-1]:
                n += 12
            notes.append(n)
        for shift in range(-24, 25, 12):
            candidate = [n + shift for n in notes]
            mean = sum(candidate) / len(candidate)
            cost = abs(mean - centre) * 0.7
            if previous:
                cost += sum(abs(a - b) for a, b in zip(sorted(candidate), sorted(previous))) / 3
            if best_cost is None or cost < best_cost:
                best, best_cost = candidate, cost
    return best
