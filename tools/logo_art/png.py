"""An RGBA PNG writer with a deflate coder of its own, hitting an exact file size.

zlib's output differs between its versions; a coder of our own keeps the file the same on
every machine. The image is coded with fixed Huffman codes up to a cut point and stored,
uncoded, after it; moving the cut changes the size one byte at a time, so any size between
"all coded" and "all stored" can be hit exactly.
"""
import struct
import zlib

LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
               99, 115, 131, 163, 195, 227, 258]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DIST_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11,
              12, 12, 13, 13]


def bucket(value, bases):
    index = 0
    while index + 1 < len(bases) and bases[index + 1] <= value:
        index += 1
    return index


class BitWriter:
    def __init__(self):
        self.out, self.bits, self.count = bytearray(), 0, 0

    def put(self, value, width):
        """Least significant bit first, as deflate packs its header fields and extras."""
        self.bits |= value << self.count
        self.count += width
        while self.count >= 8:
            self.out.append(self.bits & 0xFF)
            self.bits >>= 8
            self.count -= 8

    def put_code(self, code, width):
        """Huffman codes go most significant bit first."""
        self.put(int(format(code, f"0{width}b")[::-1], 2), width)

    def align(self):
        if self.count:
            self.put(0, 8 - self.count)


def literal_code(symbol):
    if symbol < 144:
        return 0x30 + symbol, 8
    if symbol < 256:
        return 0x190 + symbol - 144, 9
    if symbol < 280:
        return symbol - 256, 7
    return 0xC0 + symbol - 280, 8


def match_bits(length, distance):
    li = bucket(length, LENGTH_BASE)
    di = bucket(distance, DIST_BASE)
    return literal_code(257 + li)[1] + LENGTH_EXTRA[li] + 5 + DIST_EXTRA[di]


def literal_bits(byte):
    return literal_code(byte)[1]


def lz77(data, window=32768, chain=64):
    """Greedy longest matches through 3-byte hash chains: (position, length, distance);
    length 1 means a literal."""
    heads, previous, tokens, i = {}, {}, [], 0

    def insert(at):
        if at + 3 <= len(data):
            key = data[at:at + 3]
            previous[at] = heads.get(key)
            heads[key] = at

    while i < len(data):
        best_len, best_dist = 0, 0
        if i + 3 <= len(data):
            candidate, tries = heads.get(data[i:i + 3]), 0
            while candidate is not None and i - candidate <= window and tries < chain:
                length = 0
                while (length < 258 and i + length < len(data)
                       and data[candidate + length] == data[i + length]):
                    length += 1
                if length > best_len:
                    best_len, best_dist = length, i - candidate
                candidate, tries = previous.get(candidate), tries + 1
        if best_len >= 3:
            tokens.append((i, best_len, best_dist))
            for at in range(i, i + best_len):
                insert(at)
            i += best_len
        else:
            tokens.append((i, 1, 0))
            insert(i)
            i += 1
    return tokens


def deflate_of_size(data, size=None):
    """A deflate stream of exactly size bytes holding data; without a size, all of it coded."""
    tokens = lz77(data)
    if size is None:
        return deflate_with_cut(data, tokens, len(data))
    # Bits of the coded block (3-bit header, tokens, 7-bit end code) when it ends at cut.
    best_cut, bits_before = None, 3
    for position, length, distance in tokens:
        for cut in range(position, position + length):
            # Up to cut: the whole tokens before, and what is left of this one.
            part = cut - position
            if part >= 3:
                extra = match_bits(part, distance)
            else:
                extra = sum(literal_bits(b) for b in data[position:cut])
            total = (bits_before + extra + 7 + 3 + 7) // 8 + 4 + len(data) - cut
            if total == size:
                best_cut = cut
        if length >= 3:
            bits_before += match_bits(length, distance)
        else:
            bits_before += literal_bits(data[position])
    if (bits_before + 7 + 3 + 7) // 8 + 4 == size:
        best_cut = len(data)
    if best_cut is None:
        raise SystemExit(f"no cut of {len(data)} bytes gives a deflate stream of {size} bytes")
    stream = deflate_with_cut(data, tokens, best_cut)
    assert len(stream) == size
    return stream


def deflate_with_cut(data, tokens, best_cut):
    """The tokens before best_cut in a fixed-code block, the rest of data in a stored one."""
    writer = BitWriter()
    writer.put(0, 1)  # not the last block
    writer.put(1, 2)  # fixed Huffman codes
    for position, length, distance in tokens:
        if position >= best_cut:
            break
        length = min(length, best_cut - position)
        if length >= 3:
            li, di = bucket(length, LENGTH_BASE), bucket(distance, DIST_BASE)
            writer.put_code(*literal_code(257 + li))
            writer.put(length - LENGTH_BASE[li], LENGTH_EXTRA[li])
            writer.put_code(di, 5)
            writer.put(distance - DIST_BASE[di], DIST_EXTRA[di])
        else:
            for byte in data[position:position + length]:
                writer.put_code(*literal_code(byte))
    writer.put_code(*literal_code(256))
    tail = data[best_cut:]
    writer.put(1, 1)  # last block
    writer.put(0, 2)  # stored
    writer.align()
    writer.out += struct.pack("<HH", len(tail), len(tail) ^ 0xFFFF) + tail
    return bytes(writer.out)


def zlib_of_size(data, size=None):
    body = deflate_of_size(data, None if size is None else size - 6)
    stream = b"\x78\x01" + body + struct.pack(">I", zlib.adler32(data))
    assert zlib.decompress(stream) == data
    return stream


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered_rows(rgba, width, height):
    """Each row with the filter whose output has the smallest sum of magnitudes."""
    stride, out, above = width * 4, bytearray(), bytes(width * 4)
    for y in range(height):
        row = rgba[y * stride:(y + 1) * stride]
        candidates = []
        for kind in range(5):
            line = bytearray()
            for i, value in enumerate(row):
                left = row[i - 4] if i >= 4 else 0
                up = above[i]
                upleft = above[i - 4] if i >= 4 else 0
                predictor = [0, left, up, (left + up) // 2, paeth(left, up, upleft)][kind]
                line.append((value - predictor) & 0xFF)
            cost = sum(v if v < 128 else 256 - v for v in line)
            candidates.append((cost, kind, line))
        _, kind, line = min(candidates, key=lambda c: (c[0], c[1]))
        out += bytes([kind]) + line
        above = row
    return bytes(out)


def chunk(kind, payload):
    return (struct.pack(">I", len(payload)) + kind + payload
            + struct.pack(">I", zlib.crc32(kind + payload)))


def write_png(rgba, width, height, total_size=None):
    """An 8-bit RGBA, non-interlaced PNG of IHDR, IDAT and IEND only, total_size bytes
    (without one, as small as the fixed codes make it)."""
    header = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    end = chunk(b"IEND", b"")
    overhead = 8 + len(header) + 12 + len(end)
    idat_size = None if total_size is None else total_size - overhead
    idat = chunk(b"IDAT", zlib_of_size(filtered_rows(rgba, width, height), idat_size))
    return b"\x89PNG\r\n\x1a\n" + header + idat + end


def write_preview_png(rgb, width, height):
    """A quick RGB picture for looking at, not part of the product."""
    raw = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
