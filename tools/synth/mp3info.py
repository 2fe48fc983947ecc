"""Reads the facts of an MP3 file from its bytes: tags, frame headers, the Xing/Info header.

Frames are counted by walking the headers from the first frame to the end of the audio, so
the count does not depend on what the encoder claims; the Xing/Info header's own claim is
reported beside it for comparison.
"""

from dataclasses import dataclass
from typing import Optional

# Layer III bitrates in kbps by bitrate index.
_BITRATES_MPEG1 = (None, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, None)
_BITRATES_MPEG2 = (None, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, None)
# Sample rates by version bits (0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1) and rate index.
_SAMPLE_RATES = {0: (11025, 12000, 8000), 2: (22050, 24000, 16000), 3: (44100, 48000, 32000)}
_VERSION_NAMES = {0: "2.5", 2: "2", 3: "1"}


@dataclass(frozen=True)
class FrameHeader:
    version: str          # "1", "2" or "2.5"
    bitrate_kbps: int
    sample_rate: int
    channels: int
    padding: bool
    length: int           # bytes of the whole frame, header included
    samples: int          # samples per channel that the frame decodes to

    @property
    def side_info_length(self):
        if self.version == "1":
            return 32 if self.channels == 2 else 17
        return 17 if self.channels == 2 else 9


def parse_frame_header(data, offset=0):
    """The Layer III frame header at `offset`, or None when the bytes there are not one."""
    if offset + 4 > len(data):
        return None
    b0, b1, b2, b3 = data[offset:offset + 4]
    if b0 != 0xFF or (b1 & 0xE0) != 0xE0:
        return None
    version_bits = (b1 >> 3) & 3
    layer_bits = (b1 >> 1) & 3
    bitrate_index = b2 >> 4
    rate_index = (b2 >> 2) & 3
    if version_bits == 1 or layer_bits != 1 or rate_index == 3:
        return None
    mpeg1 = version_bits == 3
    bitrate = (_BITRATES_MPEG1 if mpeg1 else _BITRATES_MPEG2)[bitrate_index]
    if bitrate is None:  # free format or the forbidden index: not made by our encoder
        return None
    sample_rate = _SAMPLE_RATES[version_bits][rate_index]
    padding = bool((b2 >> 1) & 1)
    samples = 1152 if mpeg1 else 576
    length = samples // 8 * bitrate * 1000 // sample_rate + int(padding)
    channels = 1 if (b3 >> 6) == 3 else 2
    return FrameHeader(_VERSION_NAMES[version_bits], bitrate, sample_rate, channels, padding,
                       length, samples)


def id3v2_length(data):
    """Bytes taken by a leading ID3v2 tag (header, body and any footer), 0 when there is none."""
    if len(data) < 10 or data[:3] != b"ID3" or any(b & 0x80 for b in data[6:10]):
        return 0
    body = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
    footer = 10 if data[5] & 0x10 else 0
    return 10 + body + footer


@dataclass(frozen=True)
class XingHeader:
    tag: str                   # "Xing" (variable bitrate) or "Info" (constant bitrate)
    frames: Optional[int]
    bytes: Optional[int]
    encoder: str               # e.g. "LAME3.100", empty without a LAME extension
    encoder_delay: Optional[int]
    encoder_padding: Optional[int]


def parse_xing(data, offset, header):
    """The Xing/Info header inside the frame at `offset`, or None when the frame has none."""
    at = offset + 4 + header.side_info_length
    tag = bytes(data[at:at + 4])
    if tag not in (b"Xing", b"Info"):
        return None
    flags = int.from_bytes(data[at + 4:at + 8], "big")
    at += 8
    fields = {}
    for name, bit, size in (("frames", 1, 4), ("bytes", 2, 4), ("toc", 4, 100), ("quality", 8, 4)):
        if flags & bit:
            fields[name] = int.from_bytes(data[at:at + 4], "big") if size == 4 else None
            at += size
    encoder = bytes(data[at:at + 9])
    delay = padding = None
    if encoder.startswith(b"LAME") or encoder.startswith(b"Lavc"):
        packed = int.from_bytes(data[at + 21:at + 24], "big")
        delay, padding = packed >> 12, packed & 0xFFF
    else:
        encoder = b""
    return XingHeader(tag.decode(), fields.get("frames"), fields.get("bytes"),
                      encoder.decode("latin-1").rstrip("\0 "), delay, padding)


@dataclass(frozen=True)
class Mp3Facts:
    size: int                  # bytes of the whole file
    id3v2_size: int            # bytes of the leading ID3v2 tag, 0 without one
    id3v1: bool                # a 128-byte "TAG" record ends the file
    audio_start: int           # offset of the first MPEG frame (the Xing/Info frame if any)
    audio_end: int             # offset just after the last MPEG frame
    version: str
    sample_rate: int
    channels: int
    samples_per_frame: int
    frames: int                # audio frames, the Xing/Info frame not counted
    xing: Optional[XingHeader]
    bitrates: tuple            # the distinct frame bitrates in kbps, sorted
    trailing_bytes: int        # bytes between the last frame and the end (or the ID3v1 tag)
    first_frame_length: int

    @property
    def vbr(self):
        return len(self.bitrates) > 1

    @property
    def duration(self):
        """Seconds of decoded audio: frames times samples per frame, over the sample rate."""
        return self.frames * self.samples_per_frame / self.sample_rate

    @property
    def average_bitrate_kbps(self):
        audio_bytes = self.audio_end - self.audio_start
        if self.xing is not None:
            audio_bytes -= self.first_frame_length
        return audio_bytes * 8 / self.duration / 1000 if self.frames else 0.0


def read_mp3(data):
    """Walks an MP3 file's bytes; raises ValueError when no frame follows the ID3v2 tag."""
    size = len(data)
    tag_length = id3v2_length(data)
    id3v1 = size >= tag_length + 128 and data[size - 128:size - 125] == b"TAG"
    limit = size - 128 if id3v1 else size
    first = parse_frame_header(data, tag_length)
    if first is None:
        raise ValueError("no MPEG audio frame at offset %d" % tag_length)
    xing = parse_xing(data, tag_length, first)
    offset, frames, bitrates = tag_length, 0, set()
    while True:
        header = parse_frame_header(data, offset)
        if header is None or offset + header.length > limit:
            break
        if (header.sample_rate, header.channels) != (first.sample_rate, first.channels):
            break
        if not (xing is not None and offset == tag_length):
            frames += 1
            bitrates.add(header.bitrate_kbps)
        offset += header.length
    return Mp3Facts(size=size, id3v2_size=tag_length, id3v1=id3v1, audio_start=tag_length,
                    audio_end=offset, version=first.version, sample_rate=first.sample_rate,
                    channels=first.channels, samples_per_frame=first.samples, frames=frames,
                    xing=xing, bitrates=tuple(sorted(bitrates)), trailing_bytes=limit - offset,
                    first_frame_length=first.length)
