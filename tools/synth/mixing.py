"""Mixing desk of the demo songs: mono tracks and a stereo bus of 32-bit integer samples.

Whole-buffer arithmetic runs on the standard library's sample operations (audioop), which do
it in C; Pythons without that module get the same operations written out in plain Python,
with the same rounding and clipping, only slower. Notes are rendered at UNIT full scale,
which leaves the 32-bit tracks 128 times of headroom before anything clips.
"""

import array
import math
import sys
import warnings

WIDTH = 4
UNIT = 1 << 24
_MAX, _MIN = 0x7FFFFFFF, -0x80000000

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        import audioop as _audioop
except ImportError:  # removed from Python 3.13
    _audioop = None


def _floor_bound(value):
    if value > _MAX:
        return _MAX
    if value < _MIN + 1.0:
        return _MIN
    return math.floor(value)


def _ints(data):
    return array.array("i", bytes(data))


class PlainOperations:
    """audioop's add, mul, tostereo, tomono, max, rms and lin2lin for 4-byte samples, in Python."""

    @staticmethod
    def add(first, second, width=WIDTH):
        if len(first) != len(second):
            raise ValueError("lengths not equal")
        total = [a + b for a, b in zip(_ints(first), _ints(second))]
        return array.array("i", [_MAX if s > _MAX else _MIN if s < _MIN else s
                                 for s in total]).tobytes()

    @staticmethod
    def mul(data, width, factor):
        return array.array("i", [_floor_bound(s * factor) for s in _ints(data)]).tobytes()

    @staticmethod
    def tostereo(data, width, left, right):
        out = array.array("i", bytes(2 * len(data)))
        samples = _ints(data)
        out[0::2] = array.array("i", [_floor_bound(s * left) for s in samples])
        out[1::2] = array.array("i", [_floor_bound(s * right) for s in samples])
        return out.tobytes()

    @staticmethod
    def tomono(data, width, left, right):
        samples = _ints(data)
        return array.array("i", [_floor_bound(a * left + b * right)
                                 for a, b in zip(samples[0::2], samples[1::2])]).tobytes()

    @staticmethod
    def max(data, width=WIDTH):
        samples = _ints(data)
        return max((abs(s) for s in samples), default=0)

    @staticmethod
    def rms(data, width=WIDTH):
        samples = _ints(data)
        return int(math.sqrt(sum(s * s for s in samples) / len(samples))) if samples else 0

    @staticmethod
    def lin2lin(data, width, new_width):
        if (width, new_width) != (4, 2):
            raise ValueError("only 32 to 16 bits")
        return array.array("h", [s >> 16 for s in _ints(data)]).tobytes()


ops = _audioop if _audioop is not None else PlainOperations


def use_plain_operations(plain):
    """Switches the whole module to the plain-Python operations (for comparing the two)."""
    global ops
    ops = PlainOperations if plain or _audioop is None else _audioop


def samples_to_bytes(values):
    """A list of numbers (UNIT is full scale) as a mono fragment."""
    return array.array("i", map(int, values)).tobytes()


def silence(samples, channels=1):
    return bytes(WIDTH * channels * samples)


class Track:
    """One mono part of a song (bass, drums, lead, ...), panned and sent to reverb at mixdown."""

    def __init__(self, samples, pan=0.0, gain=1.0, reverb=0.0, echo=0.0):
        self.samples = samples
        self.data = None  # made on the first note: many songs leave some parts out
        self.pan, self.gain, self.reverb, self.echo = pan, gain, reverb, echo

    @property
    def used(self):
        return self.data is not None

    def add(self, start, fragment, gain=1.0):
        """Adds a mono fragment at sample `start`; what falls outside the track is dropped."""
        if start < 0:
            fragment = fragment[-start * WIDTH:]
            start = 0
        end = min(self.samples, start + len(fragment) // WIDTH)
        if end <= start:
            return
        fragment = fragment[:(end - start) * WIDTH]
        if gain != 1.0:
            fragment = ops.mul(fragment, WIDTH, gain)
        if self.data is None:
            self.data = bytearray(WIDTH * self.samples)
        a, b = start * WIDTH, end * WIDTH
        self.data[a:b] = ops.add(bytes(self.data[a:b]), fragment, WIDTH)


def upsample_double(fragment, count):
    """A mono fragment at twice its rate, `count` samples long: each sample held for two,
    then every pair averaged (which is linear interpolation, half a sample late)."""
    half = array.array("i", bytes(fragment))
    held = array.array("i", bytes(WIDTH * 2 * len(half)))
    held[0::2] = half
    held[1::2] = half
    data = held.tobytes()
    smooth = ops.add(ops.mul(data, WIDTH, 0.5), ops.mul(delayed(data, 1), WIDTH, 0.5), WIDTH)
    return smooth[:count * WIDTH]


def pan_gains(pan):
    """Constant-power panning: -1 is left, 1 right; the centre is 3 dB down on each side."""
    angle = (pan + 1.0) * math.pi / 4.0
    return math.cos(angle), math.sin(angle)


def delayed(fragment, samples, channels=1):
    """The fragment shifted later by `samples`, same length (silence in front)."""
    shift = samples * WIDTH * channels
    if shift >= len(fragment):
        return silence(len(fragment) // WIDTH // channels, channels)
    return silence(samples, channels) + fragment[:len(fragment) - shift]


def _chunks(data, size):
    return [data[i:i + size] for i in range(0, len(data), size)]


def feedback_comb(signal, delay, feedback, damping=0.5):
    """y[n] = x[n] + feedback * lowpass(y)[n - delay], computed a delay-length chunk at a time
    (each chunk depends only on the one before, so each step is whole-fragment arithmetic).
    The lowpass, a blend of a sample and its predecessor, makes the echoes darken."""
    size = delay * WIDTH
    out = []
    previous = silence(delay)
    carried = silence(1)
    for chunk in _chunks(signal, size):
        n = len(chunk)
        held = (carried + previous[:-WIDTH])[:n]
        smooth = ops.add(ops.mul(previous[:n], WIDTH, 1.0 - damping),
                         ops.mul(held, WIDTH, damping), WIDTH)
        current = ops.add(chunk, ops.mul(smooth, WIDTH, feedback), WIDTH)
        carried = previous[-WIDTH:]
        out.append(current)
        previous = current if n == size else current + silence(delay - n // WIDTH)
    return b"".join(out)


def allpass(signal, delay, gain):
    """Schroeder all-pass: y[n] = -g x[n] + x[n - d] + g y[n - d], chunk by chunk."""
    size = delay * WIDTH
    out = []
    previous_in = previous_out = silence(delay)
    for chunk in _chunks(signal, size):
        n = len(chunk)
        current = ops.add(ops.add(ops.mul(chunk, WIDTH, -gain), previous_in[:n], WIDTH),
                          ops.mul(previous_out[:n], WIDTH, gain), WIDTH)
        out.append(current)
        pad = silence(delay - n // WIDTH)
        previous_in, previous_out = chunk + pad, current + pad
    return b"".join(out)


# Comb and all-pass lengths at 44.1 kHz (mutually prime-ish, so echoes do not pile up).
_COMBS = ((1116, 1188, 1277, 1356), (1139, 1211, 1300, 1379))
_ALLPASSES = ((556, 441), (579, 464))


def reverb(send, rate, size=0.84, damping=0.35):
    """A small room for a mono send: two banks of combs and all-passes, one per side; returns
    the wet stereo fragment."""
    scale = rate / 44100.0
    sides = []
    for combs, passes in zip(_COMBS, _ALLPASSES):
        wet = silence(len(send) // WIDTH)
        for length in combs:
            wet = ops.add(wet, feedback_comb(send, max(8, int(length * scale)), size, damping),
                          WIDTH)
        for length in passes:
            wet = allpass(wet, max(8, int(length * scale)), 0.5)
        sides.append(ops.mul(wet, WIDTH, 0.25))
    return ops.add(ops.tostereo(sides[0], WIDTH, 1.0, 0.0),
                   ops.tostereo(sides[1], WIDTH, 0.0, 1.0), WIDTH)


def ping_pong(send, delay, feedback, repeats=6):
    """Echoes that bounce between the sides: the first on the left, the next on the right."""
    samples = len(send) // WIDTH
    out = silence(samples, 2)
    echo = send
    for i in range(repeats):
        echo = ops.mul(delayed(echo, delay), WIDTH, feedback if i else 1.0)
        side = (1.0, 0.25) if i % 2 == 0 else (0.25, 1.0)
        out = ops.add(out, ops.tostereo(echo, WIDTH, *side), WIDTH)
    return out


def mixdown(tracks, rate, room=0.84, echo_seconds=0.0):
    """Pans the tracks onto a stereo bus and adds the reverb and echo returns. The tracks are
    emptied on the way (a long song's parts take a lot of memory)."""
    samples = tracks[0].samples
    bus = silence(samples, 2)
    reverb_send = silence(samples)
    echo_send = silence(samples)
    for track in tracks:
        if track.data is None:
            continue
        data, track.data = track.data, None
        left, right = pan_gains(track.pan)
        bus = ops.add(bus, ops.tostereo(data, WIDTH, left * track.gain, right * track.gain),
                      WIDTH)
        if track.reverb:
            reverb_send = ops.add(reverb_send, ops.mul(data, WIDTH, track.gain * track.reverb),
                                  WIDTH)
        if track.echo and echo_seconds:
            echo_send = ops.add(echo_send, ops.mul(data, WIDTH, track.gain * track.echo), WIDTH)
    if room and ops.max(reverb_send, WIDTH):
        bus = ops.add(bus, reverb(reverb_send, rate, room), WIDTH)
    if echo_seconds and ops.max(echo_send, WIDTH):
        bus = ops.add(bus, ping_pong(echo_send, int(echo_seconds * rate), 0.45), WIDTH)
    return bus


def release(fragment, rate, seconds, channels=1):
    """The fragment with its last `seconds` faded linearly to silence, in steps of 32 samples
    (a step under a millisecond long, too short to hear)."""
    frame = WIDTH * channels
    total = len(fragment) // frame
    fade = min(total, int(rate * seconds))
    if fade <= 0:
        return fragment
    step = 32
    pieces = [fragment[:(total - fade) * frame]]
    for start in range(total - fade, total, step):
        gain = (total - start - step / 2) / fade
        pieces.append(ops.mul(fragment[start * frame:min(total, start + step) * frame], WIDTH,
                              max(0.0, gain)))
    return b"".join(pieces)


def fade_out(stereo, rate, seconds):
    """Fades the last `seconds` to silence in small steps (5 ms, too short to hear as steps)."""
    step = max(1, int(rate * 0.005))
    total = len(stereo) // (WIDTH * 2)
    fade = min(total, int(rate * seconds))
    head = stereo[:(total - fade) * WIDTH * 2]
    pieces = [head]
    for index, start in enumerate(range(total - fade, total, step)):
        gain = (1.0 - index * step / fade) ** 2
        pieces.append(ops.mul(stereo[start * 8:min(total, start + step) * 8], WIDTH, gain))
    return b"".join(pieces)


def master(stereo, channels, peak=0.89):
    """The bus as 16-bit PCM: scaled so its loudest sample sits at `peak` of full scale, and
    folded to mono when the song is mono."""
    if channels == 1:
        stereo = ops.tomono(stereo, WIDTH, 0.5, 0.5)
    loudest = ops.max(stereo, WIDTH)
    if loudest:
        stereo = ops.mul(stereo, WIDTH, peak * _MAX / loudest)
    pcm = ops.lin2lin(stereo, WIDTH, 2)
    if sys.byteorder != "little":
        swapped = array.array("h", pcm)
        swapped.byteswap()
        pcm = swapped.tobytes()
    return pcm
