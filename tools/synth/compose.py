"""Short pieces in a handful of styles, made from a seed so that every song sounds different
but is rebuilt identically (the song cache relies on that)."""

import random

from .voices import Mix, midi_frequency

MAJOR_PENTATONIC = (0, 2, 4, 7, 9)
# I V vi IV, the progression of a thousand pop songs: (root offset, minor?)
PROGRESSION = ((0, False), (7, False), (9, True), (5, False))


def _triad(root, minor):
    return (root, root + (3 if minor else 4), root + 7)


def _accompaniment(mix, key, beat, bars, beats_per_bar, voice):
    """Bass on the first beat and the chord on the others, for `bars` bars from time 0."""
    for bar in range(bars):
        root, minor = PROGRESSION[bar % len(PROGRESSION)]
        start = bar * beats_per_bar * beat
        mix.tone(start, beat * 0.9, midi_frequency(key - 12 + root), 0.28, "organ",
                 pan=-0.2, release=0.08)
        for b in range(1, beats_per_bar):
            for i, note in enumerate(_triad(root, minor)):
                mix.tone(start + b * beat, beat * 0.6, midi_frequency(key + note), 0.07, voice,
                         pan=0.4 - 0.4 * i, release=0.05)


def _melody(mix, rng, key, beat, seconds, amplitude=0.22, voice="sine"):
    t = 0.0
    while t < seconds:
        length = beat * rng.choice((0.5, 1, 1, 2))
        if rng.random() < 0.85:
            note = key + 12 + rng.choice(MAJOR_PENTATONIC) + 12 * rng.choice((0, 0, 1))
            mix.tone(t, length * 0.95, midi_frequency(note), amplitude, voice,
                     pan=rng.uniform(-0.3, 0.3), release=min(0.1, length / 3))
        t += length


def melody(mix, rng, key, tempo):
    """A looping accompaniment with a melody that never repeats."""
    beat = 60.0 / tempo
    bar_seconds = 4 * beat
    _accompaniment(mix, key, beat, len(PROGRESSION), 4, "organ")
    mix.repeat(0, bar_seconds * len(PROGRESSION), mix.length / mix.rate)
    _melody(mix, rng, key, beat, mix.length / mix.rate)


def waltz(mix, rng, key, tempo):
    """Three beats to the bar: bass, chord, chord, and a tune above."""
    beat = 60.0 / tempo
    _accompaniment(mix, key, beat, len(PROGRESSION), 3, "sine")
    mix.repeat(0, 3 * beat * len(PROGRESSION), mix.length / mix.rate)
    _melody(mix, rng, key, beat, mix.length / mix.rate, voice="organ", amplitude=0.18)


def chords(mix, rng, key, tempo):
    """Slow held chords, each a little different in voicing."""
    seconds = mix.length / mix.rate
    chord_seconds = 4 * 60.0 / tempo
    t, bar = 0.0, 0
    while t < seconds:
        root, minor = PROGRESSION[bar % len(PROGRESSION)]
        lift = rng.choice((0, 12))
        for i, note in enumerate(_triad(root, minor)):
            mix.tone(t, chord_seconds, midi_frequency(key + note + (lift if i == 0 else 0)),
                     0.16, "organ", pan=-0.6 + 0.6 * i, attack=0.3, release=0.4)
        t += chord_seconds
        bar += 1


def arpeggio(mix, rng, key, tempo):
    """Quick broken chords on a square wave."""
    seconds = mix.length / mix.rate
    step = 60.0 / tempo / 4
    t, i = 0.0, 0
    while t < seconds:
        root, minor = PROGRESSION[(i // 16) % len(PROGRESSION)]
        note = key + _triad(root, minor)[i % 3] + 12 * ((i // 3) % 2)
        mix.tone(t, step * 0.9, midi_frequency(note), 0.2, "square",
                 pan=0.5 if i % 2 else -0.5, release=0.02)
        t += step
        i += 1


def bells(mix, rng, key, tempo):
    """Sparse bell strokes that ring on and overlap."""
    seconds = mix.length / mix.rate
    t = 0.0
    while t < seconds:
        note = key + 12 + rng.choice(MAJOR_PENTATONIC) + 12 * rng.choice((0, 1))
        mix.tone(t, 1.6, midi_frequency(note), 0.3, "bell", pan=rng.uniform(-0.8, 0.8),
                 attack=0.002, decay=0.45, release=0.2)
        t += 60.0 / tempo * rng.choice((0.5, 1, 1.5))


def drums(mix, rng, key, tempo):
    """A two-bar groove of kick, snare and hats under a bass line, looped."""
    beat = 60.0 / tempo
    for step in range(16):
        t = step * beat / 2
        if step % 4 == 0:
            mix.tone(t, 0.25, 55.0, 0.6, "sine", attack=0.002, decay=0.08)
        if step % 4 == 2:
            mix.noise(t, 0.2, 0.35, decay=0.06, offset=step * 997)
        mix.noise(t, 0.05, 0.12, pan=0.5, decay=0.015, offset=step * 331)
        root, _ = PROGRESSION[(step // 4) % len(PROGRESSION)]
        mix.tone(t, beat / 2 * 0.8, midi_frequency(key - 12 + root), 0.25, "saw",
                 release=0.03)
    mix.repeat(0, 8 * beat, mix.length / mix.rate)


def tone(mix, rng, key, tempo, frequency=1000.0, amplitude=1.0):
    """One steady sine; at amplitude 1.0 it reaches full scale (the loud song for level tests)."""
    mix.tone(0, mix.length / mix.rate, frequency, amplitude, "sine", attack=0.001,
             release=0.001)


def silence(mix, rng, key, tempo):
    """Nothing at all (the quiet song for level tests)."""


STYLES = {
    "melody": melody,
    "waltz": waltz,
    "chords": chords,
    "arpeggio": arpeggio,
    "bells": bells,
    "drums": drums,
    "tone": tone,
    "silence": silence,
}


def compose(style, seconds, rate, channels, seed, key=57, tempo=110, **style_options):
    """Renders one piece and returns its Mix (call .wav() or .pcm() on it).

    The style "song" is a whole arranged song of the demo catalogue (synth.arrange), whose
    style option `genre` names its kind; it is rendered by its own mixing desk."""
    if style == "song":
        from .arrange import arrange
        return arrange(style_options["genre"], seconds, rate, channels, seed, key, tempo)
    mix = Mix(rate, seconds, channels)
    STYLES[style](mix, random.Random(seed), key, tempo, **style_options)
    return mix
