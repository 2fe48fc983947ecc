"""The instruments of the demo songs: each renders one note as a mono fragment (mixing.UNIT
is full scale) and remembers it, because songs play the same notes again and again.

Tones are wavetables summed from partials below the Nyquist limit (no aliasing), shaped by
envelopes that change every 32 samples; plucked strings are Karplus-Strong loops; drums are
swept sines and filtered noise.
"""

import math
import random

from . import mixing

TABLE_BITS = 12
TABLE_SIZE = 1 << TABLE_BITS
MASK = TABLE_SIZE - 1
BLOCK_BITS = 5  # envelope resolution: 32 samples


def midi_frequency(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


# Partials (harmonic number, weight) of each timbre, before band-limiting.
TIMBRES = {
    "sine": ((1, 1.0),),
    "soft": ((1, 1.0), (2, 0.25), (3, 0.08)),
    "flute": ((1, 1.0), (2, 0.18), (3, 0.12), (4, 0.04)),
    "reed": ((1, 1.0), (2, 0.45), (3, 0.55), (4, 0.2), (5, 0.25), (6, 0.08), (7, 0.1)),
    "string": tuple((k, 0.9 / k ** 1.2) for k in range(1, 17)),
    "saw": tuple((k, 1.0 / k) for k in range(1, 31)),
    "square": tuple((k, 1.0 / k) for k in range(1, 30, 2)),
    "pulse": tuple((k, abs(math.sin(math.pi * k / 4)) / k) for k in range(1, 25)),
    "triangle": tuple((k, (-1) ** ((k - 1) // 2) / (k * k)) for k in range(1, 16, 2)),
    "organ": ((1, 1.0), (2, 0.8), (3, 0.45), (4, 0.35), (6, 0.2), (8, 0.18)),
    "epiano": ((1, 1.0), (2, 0.12), (3, 0.05)),
    "tine": ((1, 0.5), (7, 0.3), (14, 0.25)),
    "warm_bass": ((1, 1.0), (2, 0.5), (3, 0.22), (4, 0.1), (5, 0.05)),
}

_tables = {}


def table(timbre, frequency, rate):
    """One period of the timbre with only the partials the rate can carry at this pitch."""
    partials = tuple((h, w) for h, w in TIMBRES[timbre] if h * frequency < 0.45 * rate) \
        or TIMBRES[timbre][:1]
    key = (timbre, len(partials))
    if key not in _tables:
        two_pi = 2.0 * math.pi / TABLE_SIZE
        values = [sum(w * math.sin(h * i * two_pi) for h, w in partials)
                  for i in range(TABLE_SIZE)]
        peak = max(abs(v) for v in values) or 1.0
        _tables[key] = [v * mixing.UNIT / peak for v in values]
    return _tables[key]


def envelope(count, rate, attack=0.005, decay=0.0, sustain=1.0, release=0.05, half_life=None):
    """Gains per block: linear attack, decay towards the sustain level (exponential, time
    constant `decay`), an optional exponential fall of the whole note (`half_life`), and a
    linear release over the note's last `release` seconds."""
    size = 1 << BLOCK_BITS
    blocks = (count >> BLOCK_BITS) + 1
    per_block = size / rate
    attack_blocks = max(1, int(attack / per_block))
    release_blocks = max(1, min(blocks - 1, int(release / per_block))) if release > 0 else 0
    gains = []
    for b in range(blocks):
        t = b * per_block
        g = min(1.0, (b + 1) / attack_blocks)
        if decay:
            g *= sustain + (1.0 - sustain) * math.exp(-max(0.0, t - attack) / decay)
        if half_life:
            g *= 0.5 ** (t / half_life)
        left = blocks - b
        if left <= release_blocks:
            g *= (left - 1) / release_blocks
        gains.append(g)
    return gains


class Instrument:
    """Renders notes of one sound. Each pitch is rendered once, as long as the song needs it
    (`render` gives the note held to its end); shorter notes are its beginning with the
    release put on. A note that has died away (`natural` seconds) is cut there."""

    natural = None  # seconds after which the note is silent, for sounds that die away

    def __init__(self, rate, release=0.05):
        self.rate, self.release = rate, release
        self._held = {}
        self._notes = {}

    def note(self, midi, seconds):
        count = max(1, int(seconds * self.rate))
        if self.natural:
            count = min(count, int(self.natural * self.rate))
        key = (midi, count)
        fragment = self._notes.get(key)
        if fragment is None:
            held = self._held.get(midi)
            if held is None or len(held) < count * mixing.WIDTH:
                # Longer than asked when it has to grow, so it need not grow again soon.
                longest = max(count, 3 * len(held) // (2 * mixing.WIDTH)) if held else count
                if self.natural:
                    longest = min(longest, int(self.natural * self.rate))
                held = self.render_fragment(midi, max(count, longest))
                self._held[midi] = held
            fragment = mixing.release(held[:count * mixing.WIDTH], self.rate, self.release)
            self._notes[key] = fragment
        return fragment

    def render_fragment(self, midi, count):
        return mixing.samples_to_bytes(self.render(midi, count))

    def render(self, midi, count):
        raise NotImplementedError


class Tone(Instrument):
    """Wavetable voices: one timbre, or two detuned copies for width, optionally with vibrato
    that fades in, and a bright second timbre that dies away faster than the body."""

    def __init__(self, rate, timbre, attack=0.005, decay=0.0, sustain=1.0, release=0.05,
                 half_life=None, detune_cents=0.0, vibrato=0.0, vibrato_rate=5.0,
                 bright=None, bright_half_life=0.08, bright_level=0.5, octave=0,
                 half_rate=False):
        super().__init__(rate, release)
        self.half_rate = half_rate
        self.timbre, self.bright = timbre, bright
        self.shape = dict(attack=attack, decay=decay, sustain=sustain, release=0.0,
                          half_life=half_life)
        if half_life:
            self.natural = 12 * half_life  # 72 dB down
        self.detune = 2.0 ** (detune_cents / 1200.0)
        self.vibrato, self.vibrato_rate = vibrato, vibrato_rate
        self.bright_half_life, self.bright_level = bright_half_life, bright_level
        self.octave = octave

    def render_fragment(self, midi, count):
        """Soft sustained sounds (pads, strings) have nothing high enough to need the full
        rate: they are rendered at half of it, which halves the work, and interpolated."""
        if not self.half_rate:
            return super().render_fragment(midi, count)
        full_rate = self.rate
        self.rate = full_rate // 2
        try:
            half = mixing.samples_to_bytes(self.render(midi, count // 2 + 1))
        finally:
            self.rate = full_rate
        return mixing.upsample_double(half, count)

    def render(self, midi, count):
        frequency = midi_frequency(midi + 12 * self.octave)
        rate = self.rate
        gains = envelope(count, rate, **self.shape)
        wave = table(self.timbre, frequency * self.detune, rate)
        step = frequency * TABLE_SIZE / rate
        shift, mask = BLOCK_BITS, MASK
        if self.vibrato:
            phases, steps = self._vibrato_phases(count, step)
            inside = (1 << shift) - 1
            body = [wave[int(phases[i >> shift] + (i & inside) * steps[i >> shift]) & mask]
                    * gains[i >> shift] for i in range(count)]
        elif self.detune != 1.0:
            other = step * self.detune
            step = step / self.detune
            body = [(wave[int(i * step) & mask] + wave[int(i * other + 1000) & mask])
                    * 0.5 * gains[i >> shift] for i in range(count)]
        else:
            body = [wave[int(i * step) & mask] * gains[i >> shift] for i in range(count)]
        if self.bright:
            shine = table(self.bright, frequency, rate)
            span = min(count, int(12 * self.bright_half_life * rate))
            fall = envelope(span, rate, attack=0.002, half_life=self.bright_half_life,
                            release=0.0)
            level = self.bright_level
            body[:span] = [b + shine[int(i * step) & mask] * fall[i >> shift] * level
                           for i, b in enumerate(body[:span])]
        return body

    def _vibrato_phases(self, count, step):
        """Table phase at the start of every block and the per-sample step inside it."""
        size = 1 << BLOCK_BITS
        phases, steps = [], []
        phase = 0.0
        for b in range((count >> BLOCK_BITS) + 1):
            t = b * size / self.rate
            depth = self.vibrato * min(1.0, max(0.0, (t - 0.15) / 0.35))  # sets in after 150 ms
            block_step = step * (1.0 + depth * math.sin(2 * math.pi * self.vibrato_rate * t))
            phases.append(phase)
            steps.append(block_step)
            phase += block_step * size
        return phases, steps


class Pluck(Instrument):
    """A plucked string (Karplus-Strong): a burst of noise circulating in a delay line whose
    averaging filter takes the high partials away first. `brightness` below 1 softens the
    pluck; `ring` is the time, in seconds, in which a middle-C note falls by 60 dB."""

    def __init__(self, rate, brightness=0.7, ring=2.0, release=0.06, seed=7, level=1.0):
        super().__init__(rate, release)
        self.brightness, self.ring, self.level = brightness, ring, level
        self.natural = 1.5 * ring  # the low notes ring a little longer than middle C
        self.random = random.Random(seed)

    def render(self, midi, count):
        rate = self.rate
        period = rate / midi_frequency(midi)
        length = max(2, int(period - 0.5))  # the averaging filter adds half a sample
        # Loss per trip round the loop so that the note falls 60 dB in `ring` seconds
        # (scaled so higher notes, which make more trips, ring about as long).
        ring = self.ring * (261.6 / midi_frequency(midi)) ** 0.3
        trips = ring * rate / length
        loss = 10.0 ** (-3.0 / trips)
        noise = [self.random.uniform(-1.0, 1.0) for _ in range(length)]
        soft = self.brightness
        for _ in range(2):  # a softer pluck has fewer high partials to begin with
            noise = [soft * a + (1.0 - soft) * b for a, b in zip(noise, noise[-1:] + noise[:-1])]
        mean = sum(noise) / length
        out = [0.0] + [n - mean for n in noise]
        wanted = int(count * (length + 0.5) / period) + 2
        half = 0.5 * loss
        while len(out) < wanted + 1:
            prev = out[-length - 1:]
            out.extend([half * (prev[i] + prev[i + 1]) for i in range(length)])
        # Resample so the pitch is exact, not the nearest whole-sample loop length.
        ratio = (length + 0.5) / period
        src = out[1:]
        scale = mixing.UNIT * 0.9 * self.level
        return [(src[int(p)] + (src[int(p) + 1] - src[int(p)]) * (p - int(p))) * scale
                for p in (i * ratio for i in range(count))]


class Mallet(Instrument):
    """Struck bars (marimba, vibraphone, music box): a few partials at inharmonic ratios,
    the higher ones dying faster."""

    PARTIALS = {
        "marimba": ((1.0, 1.0, 0.45), (3.93, 0.25, 0.05), (9.2, 0.08, 0.02)),
        "vibes": ((1.0, 1.0, 1.2), (4.0, 0.3, 0.25), (10.0, 0.08, 0.05)),
        "musicbox": ((1.0, 1.0, 0.7), (2.0, 0.3, 0.25), (5.4, 0.2, 0.06), (8.9, 0.1, 0.03)),
        "bell": ((1.0, 1.0, 1.2), (2.0, 0.6, 0.8), (2.76, 0.4, 0.5), (5.4, 0.25, 0.2)),
    }

    def __init__(self, rate, kind, tremolo=0.0):
        super().__init__(rate, release=0.03)
        self.partials, self.tremolo = self.PARTIALS[kind], tremolo
        self.natural = 12 * max(half_life for _, _, half_life in self.partials)

    def render(self, midi, count):
        rate = self.rate
        frequency = midi_frequency(midi)
        sine = table("sine", 1.0, rate)
        out = [0.0] * count
        shift, mask = BLOCK_BITS, MASK
        for ratio, level, half_life in self.partials:
            if ratio * frequency >= 0.45 * rate:
                continue
            step = ratio * frequency * TABLE_SIZE / rate
            span = min(count, int(12 * half_life * rate))  # quieter than 72 dB after this
            gains = envelope(span, rate, attack=0.001, half_life=half_life, release=0.0)
            if self.tremolo and ratio == 1.0:
                size = 1 << shift
                gains = [g * (1.0 - self.tremolo * (0.5 + 0.5 * math.sin(
                    2 * math.pi * 5.5 * b * size / rate))) for b, g in enumerate(gains)]
            out[:span] = [o + sine[int(i * step) & mask] * gains[i >> shift] * level
                          for i, o in enumerate(out[:span])]
        return [o * 0.8 for o in out]


class Drums:
    """The drum hits of one kit, rendered once each."""

    def __init__(self, rate, kind="acoustic", seed=11):
        self.rate, self.kind = rate, kind
        self.random = random.Random(seed)
        self._hits = {}

    def hit(self, name):
        if name not in self._hits:
            self._hits[name] = mixing.samples_to_bytes(getattr(self, "_" + name)())
        return self._hits[name]

    # --- pieces ---------------------------------------------------------------------------

    def _noise(self, count, highpass=0, hold=1):
        rnd = self.random.uniform
        noise = [rnd(-1.0, 1.0) for _ in range(count // hold + 1)]
        if hold > 1:  # the grainy noise of a sound chip
            noise = [noise[i // hold] for i in range(count)]
        for _ in range(highpass):  # each difference tilts the spectrum up 6 dB an octave
            noise = [0.5 * (a - b) for a, b in zip(noise, [0.0] + noise[:-1])]
        return noise[:count]

    def _sweep(self, seconds, start, end, sweep, half_life, level=1.0):
        """A sine whose pitch falls from `start` to `end` Hz (the body of kicks and toms)."""
        rate = self.rate
        count = int(seconds * rate)
        sine = table("sine", 1.0, rate)
        out, phase = [], 0.0
        per = TABLE_SIZE / rate
        for i in range(count):
            t = i / rate
            frequency = end + (start - end) * math.exp(-t / sweep)
            phase += frequency * per
            out.append(sine[int(phase) & MASK] * level * 0.5 ** (t / half_life))
        fade = min(count, int(0.01 * rate))
        for i in range(fade):
            out[count - 1 - i] *= i / fade
        return out

    def _shaped(self, noise, half_life, attack=0.0005, level=1.0):
        rate = self.rate
        gains = envelope(len(noise), rate, attack=attack, half_life=half_life, release=0.01)
        return [n * gains[i >> BLOCK_BITS] * level * mixing.UNIT for i, n in enumerate(noise)]

    # --- hits -----------------------------------------------------------------------------

    def _kick(self):
        if self.kind == "chip":
            return self._sweep(0.18, 220.0, 60.0, 0.02, 0.05, 0.9)
        body = self._sweep(0.45, 150.0, 48.0, 0.035, 0.12)
        click = self._shaped(self._noise(int(0.006 * self.rate), 1), 0.002, level=0.5)
        return [b + (click[i] if i < len(click) else 0.0) for i, b in enumerate(body)]

    def _snare(self):
        rate = self.rate
        if self.kind == "chip":
            return self._shaped(self._noise(int(0.15 * rate), 0, hold=6), 0.04, level=0.8)
        count = int(0.3 * rate)
        rattle = self._shaped(self._noise(count, 1), 0.055, level=1.3)
        body = self._sweep(0.3, 240.0, 185.0, 0.02, 0.03, 0.55)
        return [r + body[i] for i, r in enumerate(rattle)]

    def _rim(self):
        wood = self._sweep(0.06, 1900.0, 1650.0, 0.01, 0.012, 0.6)
        low = self._sweep(0.06, 820.0, 800.0, 0.01, 0.015, 0.5)
        return [a + b for a, b in zip(wood, low)]

    def _clap(self):
        rate = self.rate
        count = int(0.35 * rate)
        noise = self._noise(count, 1)
        out = [0.0] * count
        for burst, level in ((0.0, 0.6), (0.011, 0.7), (0.022, 0.8)):
            start = int(burst * rate)
            tail = 0.004 if burst < 0.02 else 0.07
            gains = envelope(count - start, rate, attack=0.0005, half_life=tail, release=0.01)
            for i in range(start, count):
                out[i] += noise[i] * gains[(i - start) >> BLOCK_BITS] * level
        return [o * mixing.UNIT for o in out]

    def _hat(self):
        hold = 3 if self.kind == "chip" else 1
        return self._shaped(self._noise(int(0.09 * self.rate), 3, hold), 0.018, level=1.4)

    def _open_hat(self):
        return self._shaped(self._noise(int(0.45 * self.rate), 3), 0.11, level=1.1)

    def _shaker(self):
        return self._shaped(self._noise(int(0.09 * self.rate), 2), 0.025, attack=0.012,
                            level=0.9)

    def _crash(self):
        return self._shaped(self._noise(int(2.2 * self.rate), 2), 0.45, level=0.9)

    def _tom(self):
        return self._sweep(0.4, 180.0, 110.0, 0.05, 0.1)

    def _brush(self):
        return self._shaped(self._noise(int(0.25 * self.rate), 1), 0.06, attack=0.02, level=0.6)
