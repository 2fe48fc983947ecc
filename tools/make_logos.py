#!/usr/bin/env python3
"""Draws the two programs' logos and writes them as stored logo records.

    make_logos.py                 rewrite targets/*/logo_record.cpp and the programs' icons
                                  (targets/<program>/<program>.ico) in this checkout
    make_logos.py --out DIR       write them under DIR instead (DIR/targets/...)
    make_logos.py --images DIR    also write the logo files (listen_tuner.gif, download_tuner.png)
    make_logos.py --preview DIR   also write enlarged pictures on the console colours

listen_tuner: an animated 64 by 64 GIF of exactly 63212 bytes, a tuning dial whose needle
follows a row of level bars, see-through around its rounded corners, "Base128" text.
download_tuner: a still 48 by 48 RGBA PNG of exactly 4611 bytes, a download badge, Base64.
Each program's icon is the same drawing at 16, 24, 32, 48 and 256 pixels (listen_tuner's
first frame), with its own soft edges instead of the GIF's cut-out ones.
The output depends on nothing but this code, so rerunning it gives the same bytes.
"""
import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from logo_art import gif, ico, png, records  # noqa: E402
from logo_art.raster import (PI, Canvas, circle, clamp, cos, intersect, mix,  # noqa: E402
                             polygon, ring, rounded_rect, segment, sin)

GIF_SIZE, PNG_SIZE = 63212, 4611
GIF_SIDE, PNG_SIDE = 64, 48
ICON_SIDES = (16, 24, 32, 48, 256)
FRAMES = 30
FRAME_DELAY_CS = 5
# The consoles' backgrounds: colour 4 (red) and 5 (magenta), in the classic and the newer
# Windows console palettes. Edge pixels of the GIF are blended towards a red between the two.
LISTEN_BACKGROUNDS = [(128, 0, 0), (197, 15, 31)]
DOWNLOAD_BACKGROUNDS = [(128, 0, 128), (136, 23, 152)]
EDGE_RED = (160, 8, 24)
GIF_COMMENT = (b"Zorvathimelle listen_tuner logo: a tuning dial and its level bars, "
               b"drawn by tools/make_logos.py. This comment pads the file to its stored size. ")

# --- listen_tuner: the dial ------------------------------------------------------------

PIVOT = (32.0, 46.0)
SCALE_RADIUS = 31.0
SCALE_HALF_ANGLE = 45.0 * PI / 180.0
BARS, SEGMENTS = 8, 6
SEGMENT_COLOURS = [(40, 220, 80)] * 3 + [(250, 210, 40)] * 2 + [(255, 60, 40)]


def bar_levels(frame):
    """Lit segments of each bar: every bar swings at a whole number of cycles per loop."""
    levels = []
    for bar in range(BARS):
        cycles = 1 + bar % 3
        phase = bar * 0.9
        wave = sin(2 * PI * cycles * frame / FRAMES + phase)
        wobble = sin(2 * PI * (4 - bar % 2) * frame / FRAMES + bar)
        level = 3.4 + 2.2 * wave + 0.8 * wobble
        levels.append(int(clamp(level, 1.0, SEGMENTS) + 0.5))
    return levels


def needle_angle(frame, levels):
    """A slow sweep across the scale, nudged by the mean level as a meter would be."""
    mean = sum(levels) / len(levels)
    reading = 0.5 + 0.36 * sin(2 * PI * frame / FRAMES - 0.6) + 0.1 * (mean - 3.5) / 2.5
    return -SCALE_HALF_ANGLE + 2 * SCALE_HALF_ANGLE * reading


def on_scale(radius, angle):
    return PIVOT[0] + radius * sin(angle), PIVOT[1] - radius * cos(angle)


def draw_dial(frame, side=GIF_SIDE):
    canvas = Canvas(side, side, scale=side / GIF_SIDE)
    panel = rounded_rect(1, 1, 63, 63, 9)
    canvas.fill(panel, lambda x, y: mix((62, 62, 72), (22, 22, 27), y / 64.0))
    canvas.fill(intersect(rounded_rect(2, 2, 62, 62, 8), lambda x, y: 3.2 - y),
                (120, 120, 135), opacity=0.55)  # top light
    canvas.fill(lambda x, y: abs(panel(x, y)) - 0.5, (10, 10, 12), opacity=0.9)

    window = rounded_rect(6, 6, 58, 36, 4)
    glow = lambda x, y: mix((255, 232, 170), (206, 128, 36),
                            clamp(((x - 32) ** 2 + (y - 30) ** 2) / 900.0))
    canvas.fill(window, glow, box=(5, 5, 59, 37))
    canvas.fill(lambda x, y: abs(window(x, y)) - 0.6, (24, 16, 10), box=(4, 4, 60, 38))

    # Scale: arc, ticks and a red zone at the loud end.
    in_window = rounded_rect(7, 7, 57, 35, 3.5)
    arc = intersect(ring(PIVOT[0], PIVOT[1], SCALE_RADIUS, 0.45), in_window,
                    lambda x, y: y - 22.5 - abs(x - 32) * 0.0)
    canvas.fill(arc, (70, 36, 12), box=(7, 7, 57, 35))
    for tick in range(11):
        angle = -SCALE_HALF_ANGLE + tick * 2 * SCALE_HALF_ANGLE / 10
        inner = SCALE_RADIUS - (3.5 if tick % 5 == 0 else 2.0)
        a, b = on_scale(inner, angle), on_scale(SCALE_RADIUS + 0.4, angle)
        colour = (196, 30, 20) if tick >= 8 else (70, 36, 12)
        canvas.fill(intersect(segment(*a, *b, 0.5 if tick % 5 == 0 else 0.4), in_window), colour,
                    box=(min(a[0], b[0]) - 2, min(a[1], b[1]) - 2,
                         max(a[0], b[0]) + 2, max(a[1], b[1]) + 2))
    red_zone = intersect(ring(PIVOT[0], PIVOT[1], SCALE_RADIUS + 1.3, 0.8), in_window,
                         lambda x, y: (PIVOT[0] + 19.0) - x)
    canvas.fill(red_zone, (196, 30, 20), box=(40, 7, 57, 35))

    levels = bar_levels(frame)
    angle = needle_angle(frame, levels)
    tip = on_scale(SCALE_RADIUS - 1.0, angle)
    canvas.fill(intersect(segment(PIVOT[0] + 0.8, PIVOT[1] + 0.8, tip[0] + 0.8, tip[1] + 0.8,
                                  0.65), in_window), (60, 30, 10), opacity=0.35)
    canvas.fill(intersect(segment(*PIVOT, *tip, 0.6), in_window), (170, 14, 14))
    # The needle's foot hides under a dark hub at the bottom of the window.
    canvas.fill(intersect(circle(PIVOT[0], 36.5, 5.0), window), (34, 28, 24), box=(26, 30, 38, 37))

    for bar in range(BARS):
        x0 = 8.0 + bar * 6.0
        for level in range(SEGMENTS):
            y1 = 58.0 - level * 3.0
            colour = SEGMENT_COLOURS[level]
            if level >= levels[bar]:
                colour = mix((30, 30, 34), colour, 0.22)
            canvas.fill(rounded_rect(x0, y1 - 2.0, x0 + 5.0, y1, 0.5), colour,
                        box=(x0 - 1, y1 - 3, x0 + 6, y1 + 1))
    return canvas


def gif_pixels(canvas):
    """Opaque colours (edge pixels blended onto the console red), None where see-through."""
    pixels = []
    for colour, alpha in zip(canvas.colour, canvas.alpha):
        if alpha < 0.5:
            pixels.append(None)
        else:
            blended = mix(EDGE_RED, colour, alpha)
            pixels.append(tuple(int(clamp(c, 0, 255) + 0.5) for c in blended))
    return pixels


def make_gif():
    frames = [gif_pixels(draw_dial(f)) for f in range(FRAMES)]
    counts = {}
    for frame in frames:
        for colour in frame:
            if colour is not None:
                counts[colour] = counts.get(colour, 0) + 1
    palette = [(0, 0, 0)] + gif.median_cut(counts, 255)
    index_of = {c: 1 + gif.nearest(palette[1:], c) for c in counts}
    indexed = [[gif.TRANSPARENT if c is None else index_of[c] for c in frame] for frame in frames]
    data = gif.write_gif(GIF_SIDE, GIF_SIDE, palette, indexed, FRAME_DELAY_CS, GIF_COMMENT,
                         GIF_SIZE)
    return data, palette, indexed


# --- download_tuner: the badge ---------------------------------------------------------

def draw_badge(side=PNG_SIDE):
    canvas = Canvas(side, side, scale=side / PNG_SIDE)
    canvas.fill(circle(24.8, 25.4, 21.5), (0, 0, 0), opacity=0.35)
    canvas.fill(circle(24, 24, 21.5), lambda x, y: mix((40, 206, 226), (12, 60, 150), y / 46.0))
    canvas.fill(intersect(circle(24, 24, 19.0), circle(24, 4.0, 17.0)), (255, 255, 255),
                opacity=0.20)
    canvas.fill(ring(24, 24, 21.0, 1.0), (255, 255, 255), opacity=0.92)

    arrow_shaft = rounded_rect(20.5, 9.5, 27.5, 25.0, 1.5)
    arrow_head = polygon([(12.5, 22.5), (35.5, 22.5), (24.0, 34.0)])
    tray = [segment(12.5, 30.0, 12.5, 37.0, 1.6), segment(12.5, 37.0, 35.5, 37.0, 1.6),
            segment(35.5, 37.0, 35.5, 30.0, 1.6)]
    for shape in [arrow_shaft, arrow_head] + tray:
        canvas.fill(lambda x, y, s=shape: s(x - 0.9, y - 0.9), (0, 20, 50), opacity=0.35)
    for shape in [arrow_shaft, arrow_head] + tray:
        canvas.fill(shape, (255, 255, 255))
    return canvas


def make_png():
    canvas = draw_badge()
    return png.write_png(canvas.rgba_bytes(), PNG_SIDE, PNG_SIDE, PNG_SIZE), canvas


def make_icons():
    return {
        "listen_tuner": ico.write_ico({s: draw_dial(0, s).rgba_bytes() for s in ICON_SIDES}),
        "download_tuner": ico.write_ico({s: draw_badge(s).rgba_bytes() for s in ICON_SIDES}),
    }


# --- output ----------------------------------------------------------------------------

def preview(rgba_rows, side, backgrounds, scale=6):
    """Side-by-side enlarged copies on each background, as RGB bytes."""
    width = side * scale * len(backgrounds) + 8 * (len(backgrounds) - 1)
    out = bytearray()
    for y in range(side * scale):
        for k, background in enumerate(backgrounds):
            if k:
                out += bytes((255, 255, 255)) * 8
            for x in range(side * scale):
                r, g, b, a = rgba_rows[(y // scale) * side + x // scale]
                out += bytes(int(c * a / 255 + bg * (255 - a) / 255 + 0.5)
                             for c, bg in zip((r, g, b), background))
    return width, side * scale, bytes(out)


def write_previews(directory, palette, frames, badge):
    directory.mkdir(parents=True, exist_ok=True)
    for number in (0, FRAMES // 4, FRAMES // 2):
        pixels = [(0, 0, 0, 0) if i == 0 else palette[i] + (255,) for i in frames[number]]
        w, h, rgb = preview(pixels, GIF_SIDE, LISTEN_BACKGROUNDS)
        (directory / f"listen_tuner_frame{number}.png").write_bytes(png.write_preview_png(rgb, w, h))
    rgba = badge.rgba_bytes()
    pixels = [tuple(rgba[i:i + 4]) for i in range(0, len(rgba), 4)]
    w, h, rgb = preview(pixels, PNG_SIDE, DOWNLOAD_BACKGROUNDS)
    (directory / "download_tuner.png").write_bytes(png.write_preview_png(rgb, w, h))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    root = pathlib.Path(__file__).resolve().parent.parent
    parser.add_argument("--out", type=pathlib.Path, default=root)
    parser.add_argument("--images", type=pathlib.Path)
    parser.add_argument("--preview", type=pathlib.Path)
    args = parser.parse_args()

    gif_data, palette, frames = make_gif()
    png_data, badge = make_png()
    assert len(gif_data) == GIF_SIZE and len(png_data) == PNG_SIZE

    listen_text = records.encode_base128(gif_data)
    assert records.decode_base128(listen_text) == gif_data
    download_text = records.encode_base64(png_data)
    outputs = {
        "listen_tuner": records.record_source(
            "listen_tuner", f"an animated GIF of {FRAMES} frames, {GIF_SIDE} by {GIF_SIDE}.",
            gif_data, "Base128", listen_text),
        "download_tuner": records.record_source(
            "download_tuner", f"a PNG of {PNG_SIDE} by {PNG_SIDE}, RGBA.",
            png_data, "Base64", download_text),
    }
    for target, icon in make_icons().items():
        folder = args.out / "targets" / target
        folder.mkdir(parents=True, exist_ok=True)
        record = folder / "logo_record.cpp"
        record.write_text(outputs[target], encoding="ascii", newline="\n")
        (folder / f"{target}.ico").write_bytes(icon)
    if args.images:
        args.images.mkdir(parents=True, exist_ok=True)
        (args.images / "listen_tuner.gif").write_bytes(gif_data)
        (args.images / "download_tuner.png").write_bytes(png_data)
    if args.preview:
        write_previews(args.preview, palette, frames, badge)
    return 0


if __name__ == "__main__":
    sys.exit(main())
