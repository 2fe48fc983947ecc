"""Windows icon files: several sizes of one picture in one file.

The small sizes are 32-bit bitmaps (colours with alpha, and an AND mask), the form every
Windows from XP on reads at any size; 256 is a PNG, which Windows reads from Vista on and
which keeps the largest picture small. Bitmap colours are not premultiplied by alpha.
"""
import struct

from . import png

PNG_FROM_SIDE = 256


def bitmap_entry(rgba, side):
    """A BITMAPINFOHEADER, the colours as BGRA and the AND mask, both bottom row first;
    the header counts the mask's rows in its height."""
    stride = side * 4
    colours = bytearray()
    mask = bytearray()
    mask_stride = (side + 31) // 32 * 4
    for y in reversed(range(side)):
        row = rgba[y * stride:(y + 1) * stride]
        bits = bytearray(mask_stride)
        for x in range(side):
            r, g, b, a = row[4 * x:4 * x + 4]
            colours += bytes((b, g, r, a))
            if a < 128:  # see-through where a display without alpha draws through the mask
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    return header + bytes(colours) + bytes(mask)


def write_ico(pictures):
    """An icon file of pictures, {side: RGBA bytes of side by side pixels}, smallest first."""
    sides = sorted(pictures)
    entries = [png.write_png(pictures[s], s, s) if s >= PNG_FROM_SIDE
               else bitmap_entry(pictures[s], s) for s in sides]
    directory = struct.pack("<HHH", 0, 1, len(sides))
    offset = len(directory) + 16 * len(sides)
    for side, entry in zip(sides, entries):
        directory += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(entry),
                                 offset)
        offset += len(entry)
    return directory + b"".join(entries)
