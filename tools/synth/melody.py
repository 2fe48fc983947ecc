"""Tunes for the demo songs: phrases built on a rhythm motif, chord tones on the strong beats,
steps in between, an arch over the phrase and a cadence at its end; answers repeat the
question's opening, as tunes people hum do."""

import math
from dataclasses import dataclass

# One bar of rhythm each, in beats; a negative length is a rest.
RHYTHMS = {
    4: ((1, 1, 1, 1), (1.5, 0.5, 1, 1), (0.5, 0.5, 1, 2), (1, 0.5, 0.5, 1, 1), (2, 1, 1),
        (1, 1, 2), (0.5, 0.5, 0.5, 0.5, 2), (1.5, 0.5, 2), (0.75, 0.25, 1, 2),
        (-1, 1, 1, 1), (1, 1.5, 0.5, 1), (-0.5, 0.5, 1, 0.5, 0.5, 1)),
    3: ((1, 1, 1), (2, 1), (1.5, 0.5, 1), (0.5, 0.5, 1, 1), (1, 2), (-1, 1, 1)),
    6: ((1.5, 1.5), (1, 0.5, 1, 0.5), (0.5, 0.5, 0.5, 1.5), (1.5, 1, 0.5),
        (0.5, 0.5, 0.5, 0.5, 0.5, 0.5)),
}
CADENCES = {4: ((2, 2), (4,), (3, -1), (1, 1, 2)), 3: ((3,), (2, 1), (2, -1)),
            6: ((3,), (1.5, 1.5), (2.5, -0.5))}


@dataclass(frozen=True)
class Note:
    beat: float    # onset from the start of the phrase
    beats: float   # length
    midi: int
    velocity: float = 1.0


def strong(beat, bar_beats, meter):
    position = beat % bar_beats
    if meter == 6:
        return abs(position) < 1e-6 or abs(position - 1.5) < 1e-6
    return abs(position) < 1e-6 or (meter == 4 and abs(position - 2) < 1e-6)


class Tune:
    """Makes phrases in one key and range; `chord_at(beat)` gives the chord sounding there."""

    def __init__(self, rng, scale, tonic, meter, bar_beats, chord_at):
        self.rng, self.scale, self.tonic = rng, scale, tonic
        self.meter, self.bar_beats, self.chord_at = meter, bar_beats, chord_at

    def rhythm(self, bars):
        """A motif bar, its variation, the motif again, then a cadence bar (for 4 bars)."""
        rng = self.rng
        options = RHYTHMS[self.meter]
        motif = rng.choice(options)
        answer = rng.choice(options)
        cadence = rng.choice(CADENCES[self.meter])
        pattern = [motif, answer, motif, cadence]
        return [pattern[i % 4] if i < bars - 1 else cadence for i in range(bars)]

    def phrase(self, start_beat, bars, start_index, ending, rhythm=None, height=4):
        """Notes of one phrase beginning at `start_beat` of the song; returns (notes, the
        scale index of the last note). `ending` is "home" (tonic) or "open" (2nd or 5th)."""
        rng, scale = self.rng, self.scale
        rhythm = rhythm or self.rhythm(bars)
        onsets = []
        for bar, lengths in enumerate(rhythm):
            beat = bar * self.bar_beats
            for length in lengths:
                onsets.append((beat, length))
                beat += abs(length)
        sounding = [(b, l) for b, l in onsets if l > 0]
        total = len(sounding)
        index = start_index
        base = start_index
        notes = []
        for n, (beat, length) in enumerate(sounding):
            song_beat = start_beat + beat
            progress = n / max(1, total - 1)
            desired = base + height * math.sin(math.pi * progress)
            tones = {(t + self.tonic) % 12 for t in self.chord_at(song_beat).tones}
            if n == total - 1:
                index = self._cadence(index, ending, tones)
            elif strong(beat, self.bar_beats, self.meter) or length >= 1.5:
                index = self._chord_tone(index, desired, tones)
            else:
                index = self._step(index, desired)
            velocity = 1.0 if strong(beat, self.bar_beats, self.meter) else 0.82
            notes.append(Note(start_beat + beat, length, scale[index],
                              velocity * rng.uniform(0.92, 1.0)))
        return notes, index

    def _chord_tone(self, index, desired, tones):
        scale, rng = self.scale, self.rng
        candidates = [i for i in range(max(0, index - 5), min(len(scale), index + 6))
                      if scale[i] % 12 in tones] or [index]
        return min(candidates, key=lambda i: abs(i - desired) * 0.6 + abs(i - index) * 0.4
                   + rng.uniform(0.0, 1.2))

    def _step(self, index, desired):
        rng = self.rng
        direction = 1 if desired > index else -1 if desired < index else rng.choice((-1, 1))
        move = rng.choices((direction, 2 * direction, 0, -direction), (6, 2, 1, 1))[0]
        return min(len(self.scale) - 1, max(0, index + move))

    def _cadence(self, index, ending, tones):
        """The last note: the tonic (home) or the 2nd or 5th (open) when the chord holds it,
        else the chord tone nearest the note before, so the tune never ends against the
        harmony."""
        scale = self.scale
        if ending == "home":
            wanted = {self.tonic % 12} & tones
        else:
            wanted = {(self.tonic + step) % 12 for step in (2, 7)} & tones
        wanted = wanted or tones
        near = [i for i in range(len(scale)) if scale[i] % 12 in wanted]
        return min(near, key=lambda i: abs(i - index)) if near else index


def answer(question, question_start, tune, start_beat, bars, keep_bars, last_index):
    """The answering phrase: the question's first `keep_bars` bars again, then a new ending
    that comes home."""
    offset = start_beat - question_start
    kept = [Note(n.beat + offset, n.beats, n.midi, n.velocity) for n in question
            if n.beat - question_start < keep_bars * tune.bar_beats]
    index = tune.scale.index(kept[-1].midi) if kept else last_index
    rest_start = start_beat + keep_bars * tune.bar_beats
    tail, index = tune.phrase(rest_start, bars - keep_bars, index, "home",
                              rhythm=tune.rhythm(bars - keep_bars + 2)[2:], height=-2)
    return kept + tail, index


def harmony(notes, scale, steps=-2):
    """A second voice a third (two scale steps) below the tune."""
    out = []
    for n in notes:
        i = scale.index(n.midi) + steps if n.midi in scale else None
        if i is not None and 0 <= i < len(scale):
            out.append(Note(n.beat, n.beats, scale[i], n.velocity * 0.7))
    return out
