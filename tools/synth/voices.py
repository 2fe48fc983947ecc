"""A tiny wavetable synthesiser: notes and noise bursts mixed into 16-bit PCM, pure Python.

Speed matters more than fidelity: every note is one list comprehension over a wavetable
with a block-wise envelope, so a minute of mono audio renders in well under a second.
"""

import array
import io
import math
import random
import sys
import wave

TABLE_BITS = 12
TABLE_SIZE = 1 << TABLE_BITS
TABLE_MASK = TABLE_SIZE - 1
ENVELOPE_BLOCK_BITS = 6  # the envelope changes every 64 samples, fine enough to the ear
FULL_SCALE = 32767.0


def _harmonic_table(partials):
    """One period as a sum of (harmonic, weight) partials, normalised to a peak of 1."""
    values = [sum(w * math.sin(2 * math.pi * h * i / TABLE_SIZE) for h, w in partials)
              for i in range(TABLE_SIZE)]
    peak = max(abs(v) for v in values) or 1.0
    return [v / peak for v in values]


WAVETABLES = {
    "sine": _harmonic_table([(1, 1.0)]),
    "organ": _harmonic_table([(1, 1.0), (2, 0.5), (3, 0.25), (4, 0.12)]),
    "square": _harmonic_table([(k, 1.0 / k) for k in (1, 3, 5, 7, 9)]),
    "saw": _harmonic_table([(k, 1.0 / k) for k in range(1, 9)]),
    "bell": _harmonic_table([(1, 1.0), (3, 0.3), (5, 0.2), (7, 0.1)]),
}

_NOISE_SIZE = 1 << 15
_noise_source = random.Random(20240601)
_NOISE = [_noise_source.uniform(-1.0, 1.0) for _ in range(_NOISE_SIZE)]


def midi_frequency(note):
    """Frequency in Hz of a MIDI note number (69 is A 440 Hz)."""
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def _envelope(length, rate, attack, release, decay):
    """Gain per block of 64 samples: linear attack, optional exponential decay, linear release."""
    blocks = (length >> ENVELOPE_BLOCK_BITS) + 1
    block_seconds = (1 << ENVELOPE_BLOCK_BITS) / rate
    attack_blocks = max(1, int(attack / block_seconds))
    release_blocks = max(1, int(release / block_seconds))
    gains = []
    for b in range(blocks):
        t = b * block_seconds
        g = min(1.0, (b + 1) / attack_blocks)
        if decay:
            g *= math.exp(-t / decay)
        remaining = blocks - b
        if remaining < release_blocks:
            g *= remaining / release_blocks
        gains.append(g)
    return gains


class Mix:
    """A mono or stereo buffer of float samples (full scale is 1.0) that notes are added into."""

    def __init__(self, rate, seconds, channels):
        if channels not in (1, 2):
            raise ValueError("channels must be 1 or 2")
        self.rate = rate
        self.channels = channels
        self.length = int(round(rate * seconds))
        self.left = [0.0] * self.length
        self.right = [0.0] * self.length if channels == 2 else None

    def tone(self, start, duration, frequency, amplitude, voice="sine", pan=0.0,
             attack=0.01, release=0.05, decay=None):
        """Adds one note; `start` and `duration` in seconds, `pan` from -1 (left) to 1 (right)."""
        first, count = self._span(start, duration)
        if count <= 0:
            return
        table = WAVETABLES[voice]
        step = frequency * TABLE_SIZE / self.rate
        gains = _envelope(count, self.rate, attack, release, decay)
        shift, mask = ENVELOPE_BLOCK_BITS, TABLE_MASK
        samples = [table[int(i * step) & mask] * gains[i >> shift] for i in range(count)]
        self._add(first, samples, amplitude, pan)

    def noise(self, start, duration, amplitude, pan=0.0, decay=0.05, offset=0):
        """Adds a burst of white noise (a drum hit when the decay is short)."""
        first, count = self._span(start, duration)
        if count <= 0:
            return
        gains = _envelope(count, self.rate, 0.001, 0.01, decay)
        shift, mask, noise = ENVELOPE_BLOCK_BITS, _NOISE_SIZE - 1, _NOISE
        samples = [noise[(offset + i) & mask] * gains[i >> shift] for i in range(count)]
        self._add(first, samples, amplitude, pan)

    def repeat(self, start, duration, until):
        """Copies the stretch [start, start + duration) over and over up to `until` seconds.

        Copying is much cheaper than rendering again, which keeps long loops fast. It overwrites
        what lay there, so call it before adding the parts that must not repeat."""
        first, count = self._span(start, duration)
        end = min(self.length, int(round(until * self.rate)))
        for buffer in (self.left, self.right):
            if buffer is None:
                continue
            pattern = buffer[first:first + count]
            position = first + count
            while position < end:
                piece = pattern[:end - position]
                buffer[position:position + len(piece)] = piece
                position += len(piece)

    def pcm(self):
        """The mix as interleaved signed 16-bit little-endian PCM, clipped at full scale."""
        channels = [self._to_int16(self.left)]
        if self.right is not None:
            channels.append(self._to_int16(self.right))
        if len(channels) == 1:
            out = channels[0]
        else:
            out = array.array("h", bytes(2 * 2 * self.length))
            out[0::2] = channels[0]
            out[1::2] = channels[1]
        if sys.byteorder != "little":
            out.byteswap()
        return out.tobytes()

    def wav(self):
        """The mix as the bytes of a WAV file."""
        buffer = io.BytesIO()
        with wave.open(buffer, "wb") as writer:
            writer.setnchannels(self.channels)
            writer.setsampwidth(2)
            writer.setframerate(self.rate)
            writer.writeframes(self.pcm())
        return buffer.getvalue()

    def _span(self, start, duration):
        first = max(0, int(round(start * self.rate)))
        count = min(int(round(duration * self.rate)), self.length - first)
        return first, count

    def _add(self, first, samples, amplitude, pan):
        end = first + len(samples)
        if self.right is None:
            targets = [(self.left, amplitude)]
        else:
            targets = [(self.left, amplitude * min(1.0, 1.0 - pan)),
                       (self.right, amplitude * min(1.0, 1.0 + pan))]
        for buffer, gain in targets:
            if gain:
                buffer[first:end] = [a + gain * b for a, b in zip(buffer[first:end], samples)]

    @staticmethod
    def _to_int16(samples):
        if samples and (max(samples) > 1.0 or min(samples) < -1.0):
            samples = [1.0 if s > 1.0 else -1.0 if s < -1.0 else s for s in samples]
        return array.array("h", map(round, map(FULL_SCALE.__mul__, samples)))
