"""An animated GIF89a writer: shared palette, LZW, transparency, exact file size."""
import struct

TRANSPARENT = 0  # palette index of the see-through pixels
MAX_CODES = 4096


def median_cut(colours, size):
    """Reduces {colour: count} to at most size colours, splitting the widest box first."""
    boxes = [sorted(colours.items())]
    while len(boxes) < size:
        best, best_spread, best_channel = None, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for channel in range(3):
                values = [c[channel] for c, _ in box]
                spread = max(values) - min(values)
                if spread > best_spread:
                    best, best_spread, best_channel = i, spread, channel
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda item: (item[0][best_channel], item[0]))
        total = sum(n for _, n in box)
        running, cut = 0, 1
        for cut in range(1, len(box)):
            running += box[cut - 1][1]
            if running * 2 >= total:
                break
        boxes[best:best] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(n for _, n in box)
        palette.append(tuple((sum(c[k] * n for c, n in box) + total // 2) // total
                             for k in range(3)))
    return palette


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def lzw(indices, min_code_size=8):
    """GIF LZW: variable-width codes, least significant bit first, clear when full."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    current = (indices[0],)
    for index in indices[1:]:
        extended = current + (index,)
        if extended in table:
            current = extended
            continue
        emit(table[current], width)
        if next_code < MAX_CODES:
            table[extended] = next_code
            next_code += 1
            # The reader adds its entries one code later, so it widens one code later too.
            if next_code - 1 == 1 << width and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        current = (index,)
    emit(table[current], width)
    emit(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def unlzw(data, min_code_size=8):
    """The reader's side, kept to check every frame written."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    pos, bits, nbits, out = 0, 0, 0, []
    table, width, previous = None, min_code_size + 1, None
    while True:
        while nbits < width:
            bits |= data[pos] << nbits
            pos += 1
            nbits += 8
        code = bits & ((1 << width) - 1)
        bits >>= width
        nbits -= width
        if code == clear:
            table = [(i,) for i in range(clear)] + [None, None]
            width, previous = min_code_size + 1, None
            continue
        if code == end:
            return out
        if previous is None:
            entry = table[code]
        else:
            entry = table[code] if code < len(table) else previous + previous[:1]
            if len(table) < MAX_CODES:
                table.append(previous + entry[:1])
                if len(table) == 1 << width and width < 12:
                    width += 1
        out.extend(entry)
        previous = entry


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


def comment_of_size(text, size):
    """A comment extension of exactly size bytes (at least 3), its text repeated to fill.

    Sub-blocks may be shorter than 255, so one more block adds one byte: every size fits.
    """
    assert size >= 3 and size != 4
    room = size - 3
    blocks = []
    while room > 0:
        length = min(room - 1, 255)
        if length == 0:  # one byte left: move one from the previous block into a new one
            blocks[-1] -= 1
            room += 1
            length = 1
        blocks.append(length)
        room -= length + 1
    filler = (text * (size // max(len(text), 1) + 1))[:sum(blocks)]
    out, pos = bytearray(b"\x21\xfe"), 0
    for length in blocks:
        out += bytes([length]) + filler[pos:pos + length]
        pos += length
    out += b"\0"
    assert len(out) == size
    return bytes(out)


def write_gif(width, height, palette, frames, delay_cs, comment, total_size):
    """frames: lists of palette indices; index TRANSPARENT is see-through."""
    colours = list(palette) + [(0, 0, 0)] * (256 - len(palette))
    head = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0)
    head += b"".join(bytes(c) for c in colours)
    # Loop for ever.
    head += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    body = bytearray()
    for indices in frames:
        # Every frame is whole and its see-through pixels lie where the previous frame's
        # did, so any disposal gives the same picture; "leave in place" is the plainest.
        body += b"\x21\xf9\x04" + struct.pack("<BHBB", 0x05, delay_cs, TRANSPARENT, 0)
        body += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        data = lzw(indices)
        assert unlzw(data) == list(indices)
        body += b"\x08" + sub_blocks(data)
    trailer = b"\x3b"
    padding = total_size - len(head) - len(body) - len(trailer)
    if padding < 3:
        raise SystemExit(f"GIF is {len(head) + len(body) + 1} bytes, over {total_size}")
    return head + bytes(body) + comment_of_size(comment, padding) + trailer
