"""Whole songs for the demo catalogue: a form of intro, verses, choruses, a bridge and an
ending, each section's chords, bass line, accompaniment, drums and tune, rendered on the
mixing desk and mastered to 16-bit PCM.

    song = arrange("pop", seconds=60, rate=44100, channels=2, seed=1, key=57, tempo=110)
    song.wav()
"""

import bisect
import io
import random
import wave
from dataclasses import dataclass

from . import genres as kinds
from . import melody, mixing, theory

END_SECONDS = 3.0  # the last chord rings this long (and the song fades in its last second)


@dataclass
class Section:
    name: str      # "intro", "verse", "chorus", "bridge", "end"
    bar: int       # first bar
    bars: int
    chords: list   # theory.Chord of one pass of the progression


class Rendering:
    """A finished song as 16-bit PCM; `wav()` gives the bytes of a WAV file."""

    def __init__(self, pcm, rate, channels):
        self._pcm, self.rate, self.channels = pcm, rate, channels
        self.length = len(pcm) // (2 * channels)

    def pcm(self):
        return self._pcm

    def wav(self):
        buffer = io.BytesIO()
        with wave.open(buffer, "wb") as writer:
            writer.setnchannels(self.channels)
            writer.setsampwidth(2)
            writer.setframerate(self.rate)
            writer.writeframes(self._pcm)
        return buffer.getvalue()


def plan_form(bars):
    """Section names and lengths filling `bars` bars: the usual order, the last section cut
    to fit, left-over bars added to the intro."""
    order = [("intro", 4), ("verse", 8), ("chorus", 8), ("verse", 8), ("chorus", 8),
             ("bridge", 4), ("chorus", 8), ("chorus", 8), ("verse", 8), ("chorus", 8)]
    form, used = [], 0
    for name, length in order:
        left = bars - used
        if left < 2:
            break
        if left < length:
            length = 4 if left >= 4 and name != "intro" else left if name == "intro" else 0
            if not length:
                break
        form.append([name, length])
        used += length
    if bars - used > 0 and form:
        form[0][1] += bars - used
    return [(name, length) for name, length in form]


class Song:
    def __init__(self, genre_name, seconds, rate, channels, seed, key, tempo):
        self.genre = kinds.GENRES[genre_name]
        self.rng = random.Random(seed)
        self.rate, self.channels, self.seconds = rate, channels, seconds
        self.tonic = key
        self.beat_seconds = 60.0 / tempo
        self.bar_beats = kinds.bar_beats(self.genre.meter)
        self.mode = self.rng.choice(self.genre.modes)
        self.length = int(round(seconds * rate))
        g = self.genre
        pick = self.rng.choice
        progressions = {"verse": pick(g.verse), "chorus": pick(g.chorus),
                        "bridge": pick(g.bridge)}
        progressions["intro"] = progressions["verse"]
        self.progressions = {name: theory.progression(text, self.mode, self.bar_beats)
                             for name, text in progressions.items()}
        bar_seconds = self.bar_beats * self.beat_seconds
        bars = max(2, int((seconds - END_SECONDS) / bar_seconds))
        self.sections = []
        bar = 0
        for name, length in plan_form(bars):
            self.sections.append(Section(name, bar, length, self.progressions[name]))
            bar += length
        self.sections.append(Section("end", bar, 1, [theory.chord(self.mode, 0,
                                                                 beats=self.bar_beats)]))
        self._timeline()
        self.tracks = {name: mixing.Track(self.length, pan, gain, reverb, echo)
                       for name, (pan, gain, reverb, echo) in self.TRACKS.items()}

    # name: (pan, gain, reverb send, echo send). The gains of the pitched parts are the
    # loudness of one of their notes, as `loudness` measures it, relative to full scale.
    TRACKS = {
        "kick": (0.0, 0.7, 0.04, 0.0), "snare": (0.08, 0.5, 0.22, 0.0),
        "hats": (0.35, 0.3, 0.1, 0.0), "cymbals": (-0.3, 0.2, 0.15, 0.0),
        "bass": (0.0, 0.2, 0.03, 0.0), "comp": (-0.35, 0.17, 0.22, 0.0),
        "pad": (0.3, 0.08, 0.4, 0.0), "lead": (0.05, 0.25, 0.25, 0.3),
        "harmony": (-0.2, 0.14, 0.3, 0.2), "counter": (0.5, 0.09, 0.3, 0.0),
    }
    PITCHED = ("bass", "comp", "pad", "lead", "harmony", "counter")

    # --- time -----------------------------------------------------------------------------

    def _timeline(self):
        """The chord at every beat of the song."""
        self.chord_starts, self.chord_list = [], []
        for section in self.sections:
            beat = section.bar * self.bar_beats
            end = beat + section.bars * self.bar_beats
            i = 0
            while beat < end - 1e-9:
                chord = section.chords[i % len(section.chords)]
                self.chord_starts.append(beat)
                self.chord_list.append(chord)
                beat += chord.beats
                i += 1

    def chord_at(self, beat):
        i = bisect.bisect_right(self.chord_starts, beat + 1e-9) - 1
        return self.chord_list[max(0, i)]

    def sample_at(self, beat, jitter=True):
        whole = int(beat)
        part = beat - whole
        if self.genre.swing and abs(part - 0.5) < 1e-6:
            beat += self.genre.swing
        elif self.genre.swing and (abs(part - 0.25) < 1e-6 or abs(part - 0.75) < 1e-6):
            beat += self.genre.swing / 2
        seconds = beat * self.beat_seconds
        if jitter and self.genre.humanise:
            seconds += self.rng.uniform(-0.004, 0.004)
        return int(seconds * self.rate)

    def play(self, track, instrument, midi, beat, beats, velocity=1.0, extra=0.0):
        fragment = instrument.note(midi, beats * self.beat_seconds + extra)
        self.tracks[track].add(self.sample_at(beat), fragment, velocity)

    @staticmethod
    def loudness(instrument, midi):
        """How loud a note of the instrument sounds: the level of its loudest tenth of a second
        (early for a plucked note, late for a pad that swells), so that parts can be balanced
        whatever plays them."""
        fragment = instrument.note(midi, 1.5)
        window = int(0.1 * instrument.rate) * mixing.WIDTH
        levels = [mixing.ops.rms(fragment[i:i + window], mixing.WIDTH)
                  for i in range(0, len(fragment) - window + 1, window)]
        return max(1, max(levels, default=1)) / mixing.UNIT

    # --- parts ----------------------------------------------------------------------------

    def drums(self, section, kit, full):
        pattern = kinds.DRUM_PATTERNS[self.genre.drums]
        bar_beats = self.bar_beats
        for b in range(section.bars):
            start = (section.bar + b) * bar_beats
            last_bar = b == section.bars - 1
            for hit, beat, velocity in pattern:
                if beat >= bar_beats:
                    continue
                if not full and hit in ("open_hat", "snare", "clap", "rim", "tom", "brush"):
                    continue
                if last_bar and section.name in ("verse", "bridge") and beat >= bar_beats - 1 \
                        and hit in ("hat", "open_hat", "shaker", "snare", "clap"):
                    continue  # room for the fill
                track = "kick" if hit in ("kick", "tom") else \
                    "snare" if hit in ("snare", "rim", "clap", "brush") else "hats"
                self.tracks[track].add(self.sample_at(start + beat), kit.hit(hit),
                                       velocity * self.rng.uniform(0.9, 1.0))
            if last_bar and section.name in ("verse", "bridge"):
                fill = "tom" if self.genre.drums in ("jig", "waltz") else "snare"
                for i in range(4):
                    beat = start + bar_beats - 1 + i * 0.25
                    self.tracks["kick" if fill == "tom" else "snare"].add(
                        self.sample_at(beat), kit.hit(fill), 0.45 + 0.15 * i)
        if section.name in ("chorus", "end") and full:
            self.tracks["cymbals"].add(self.sample_at(section.bar * bar_beats), kit.hit("crash"),
                                       0.8)

    def bass(self, section, instrument):
        pattern = kinds.BASS_PATTERNS[self.genre.bass]
        for b in range(section.bars):
            start = (section.bar + b) * self.bar_beats
            for beat, beats, which in pattern:
                if beat >= self.bar_beats:
                    continue
                beats = min(beats, self.bar_beats - beat)
                if section.name == "end":
                    beat, beats, which = 0, self.bar_beats + END_SECONDS / self.beat_seconds, \
                        "root"
                chord = self.chord_at(start + beat)
                root = 36 + (self.tonic + chord.root - 36) % 12
                midi = root + {"root": 0, "octave": 12, "fifth": chord.fifth() - chord.root,
                               "third": chord.tones[1] - chord.root}[which]
                velocity = 1.0 if beat == 0 else 0.85
                self.play("bass", instrument, midi, start + beat, beats * 0.95, velocity)
                if section.name == "end":
                    break

    def comp(self, section, instrument, voicings):
        name = self.genre.comp
        if name in kinds.ARPEGGIOS:
            self.arpeggio(section, instrument, name, "comp", self.tonic, voicings)
            return
        pattern = kinds.COMP_PATTERNS[name]
        guitar = name.startswith("strum")
        for b in range(section.bars):
            start = (section.bar + b) * self.bar_beats
            for beat, beats, stroke, velocity in pattern:
                if beat >= self.bar_beats:
                    continue
                beats = min(beats, self.bar_beats - beat)
                if section.name == "end":
                    beat, beats, stroke = 0, self.bar_beats + END_SECONDS / self.beat_seconds, \
                        "D" if guitar else "B"
                chord = self.chord_at(start + beat)
                notes = voicings(chord, self.tonic + (0 if guitar else 2))
                if guitar:
                    notes = [notes[0] - 12] + notes  # the root on a low string too
                    if stroke == "U":
                        notes = notes[::-1][:3]
                gap = 0.012 if guitar else 0.0
                for i, midi in enumerate(notes):
                    fragment = instrument.note(midi, beats * self.beat_seconds + 0.05)
                    at = self.sample_at(start + beat) + int(i * gap * self.rate)
                    self.tracks["comp"].add(at, fragment, velocity * 0.8 / len(notes) ** 0.5)
                if section.name == "end":
                    break

    def pad(self, section, instrument, voicings):
        for b in range(section.bars):
            start = (section.bar + b) * self.bar_beats
            beat = 0.0
            while beat < self.bar_beats - 1e-9:
                chord = self.chord_at(start + beat)
                beats = min(chord.beats, self.bar_beats - beat)
                if section.name == "end":
                    beats += END_SECONDS / self.beat_seconds
                for midi in voicings(chord, self.tonic + 7):
                    self.play("pad", instrument, midi, start + beat, beats, 0.6, extra=0.3)
                beat += beats

    def arpeggio(self, section, instrument, name, track, centre, voicings, octave=0):
        step, order = kinds.ARPEGGIOS[name]
        for b in range(section.bars):
            start = (section.bar + b) * self.bar_beats
            count = int(round(self.bar_beats / step))
            if section.name == "end":
                count = 1
            for i in range(count):
                beat = start + i * step
                notes = voicings(self.chord_at(beat), centre)
                up = notes + [n + 12 for n in notes]
                midi = up[order[i % len(order)] % len(up)] + 12 * octave
                velocity = 0.65 if i % int(round(1 / step)) == 0 else 0.45
                length = step * 1.8 if section.name != "end" else self.bar_beats
                self.play(track, instrument, midi, beat, length, velocity)

    # --- the tune -------------------------------------------------------------------------

    def tune(self, lead, harmony_instrument):
        g = self.genre
        centre = self.tonic + 12 * g.lead_octave
        scale = theory.scale_notes(self.tonic, self.mode, centre - 10, centre + 15)
        tune = melody.Tune(self.rng, scale, self.tonic, g.meter, self.bar_beats, self.chord_at)
        home = scale.index(min((n for n in scale if n % 12 == self.tonic % 12),
                               key=lambda n: abs(n - centre)))
        made = {}
        for section in self.sections:
            if section.name not in ("verse", "chorus"):
                continue
            start = section.bar * self.bar_beats
            key = (section.name, section.bars)
            if key not in made:
                first = home + (3 if section.name == "chorus" else 0)
                if section.bars >= 8:
                    question, index = tune.phrase(start, 4, first, "open")
                    reply, _ = melody.answer(question, start, tune, start + 4 * self.bar_beats,
                                             4, 2, index)
                    notes = question + reply
                else:
                    notes, _ = tune.phrase(start, section.bars, first, "home")
                made[key] = (start, notes)
            origin, notes = made[key]
            notes = [melody.Note(n.beat - origin + start, n.beats, n.midi, n.velocity)
                     for n in notes]
            for n in notes:
                self.play("lead", lead, n.midi, n.beat, n.beats * 0.92, n.velocity)
            if section.name == "chorus" and section is self._last_chorus():
                for n in melody.harmony(notes, scale):
                    self.play("harmony", harmony_instrument, n.midi, n.beat, n.beats * 0.92,
                              n.velocity)

    def _last_chorus(self):
        choruses = [s for s in self.sections if s.name == "chorus"]
        return choruses[-1] if len(choruses) > 1 else None

    # --- the whole song -------------------------------------------------------------------

    def render(self):
        g, rate = self.genre, self.rate
        kit = kinds.drum_kit(g.kit, rate)
        bass = kinds.instrument(g.bass_sound, rate)
        comp = kinds.instrument(g.comp_sound, rate)
        pad = kinds.instrument(g.pad_sound, rate) if g.pad_sound else None
        lead = kinds.instrument(g.lead_sound, rate)
        harmony = kinds.instrument(g.lead_sound, rate)
        counter = kinds.instrument(g.counter_sound, rate) if g.counter else None
        typical = {"bass": (bass, 40), "comp": (comp, self.tonic + 2),
                   "pad": (pad, self.tonic + 7), "lead": (lead, self.tonic + 12 * g.lead_octave),
                   "harmony": (harmony, self.tonic + 12 * g.lead_octave - 4),
                   "counter": (counter, self.tonic + 16)}
        for name, (instrument, midi) in typical.items():
            if instrument is not None:
                self.tracks[name].gain /= self.loudness(instrument, midi)
        previous = {}

        def voicings(chord, centre):
            """Voice leading per part: each centre remembers its last voicing."""
            notes = theory.voicing(chord.tones, self.tonic, centre, previous.get(centre))
            previous[centre] = notes
            return notes

        for section in self.sections:
            name = section.name
            if g.drums and name != "intro":
                self.drums(section, kit, full=name != "bridge")
            elif g.drums and section.bars >= 4:  # the drums come in halfway through the intro
                half = Section(name, section.bar + section.bars // 2,
                               section.bars - section.bars // 2, section.chords)
                self.drums(half, kit, full=False)
            self.bass(section, bass)
            self.comp(section, comp, voicings)
            if pad and (name != "intro" or g.comp == "pad"):
                self.pad(section, pad, voicings)
            if counter and name in ("chorus", "bridge"):
                self.arpeggio(section, counter, g.counter, "counter", self.tonic + 12,
                              voicings)
        self.tune(lead, harmony)
        del kit, bass, comp, pad, lead, harmony, counter, previous, typical  # notes: memory
        tracks = list(self.tracks.values())
        bus = mixing.mixdown(tracks, rate, room=g.room,
                             echo_seconds=g.echo * self.beat_seconds)
        bus = mixing.fade_out(bus, rate, 1.0)
        return Rendering(mixing.master(bus, self.channels), rate, self.channels)


def arrange(genre, seconds, rate, channels, seed, key=57, tempo=110):
    """Composes and renders one song of a genre of genres.GENRES."""
    return Song(genre, seconds, rate, channels, seed, key, tempo).render()
