#!/usr/bin/env python3
"""The README's picture of the running screen, taken from a real run: the program plays the
demo catalogue under Wine, the console-reading helper reads its console (characters and
colours), and this draws what it read as an SVG picture, plus the same screen as text.

    python3 tools/sandbox.py --build build/win -- \\
        python3 tools/demo_picture.py --tuner listen_tuner --out docs/demo-screen.svg
"""
import argparse
import pathlib
import sys
import time
from xml.sax.saxutils import escape

SOURCE = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "tools"))
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
import catalogue_site  # noqa: E402
import demo_songs  # noqa: E402
from harness import BUILD, Tuner  # noqa: E402

# The console's sixteen colours, as Windows shows them by default.
PALETTE = ("#0c0c0c", "#0037da", "#13a10e", "#3a96dd", "#c50f1f", "#881798", "#c19c00",
           "#cccccc", "#767676", "#3b78ff", "#16c60c", "#61d6d6", "#e74856", "#b4009e",
           "#f9f1a5", "#f2f2f2")
COLUMNS = 90  # the programs' console width
CELL_WIDTH, CELL_HEIGHT, TITLE_HEIGHT = 9, 18, 26


def runs(text, attributes):
    """(first column, text, attribute) for each stretch of one attribute."""
    start = 0
    for i in range(1, len(text) + 1):
        if i == len(text) or attributes[i] != attributes[start]:
            yield start, text[start:i], attributes[start]
            start = i


def svg(screen, rows):
    width = COLUMNS * CELL_WIDTH
    height = TITLE_HEIGHT + rows * CELL_HEIGHT
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'viewBox="0 0 {width} {height}" font-family="Consolas, \'DejaVu Sans Mono\', '
           f'monospace" font-size="15">',
           f'<rect width="{width}" height="{TITLE_HEIGHT}" fill="#2b2b2b"/>',
           f'<text x="8" y="18" fill="#e0e0e0" font-family="sans-serif" font-size="13">'
           f'{escape(screen.title)}</text>']
    for row in range(rows):
        text = screen.rows[row][:COLUMNS].ljust(COLUMNS)
        attributes = (screen.attributes[row] + [0x07] * COLUMNS)[:COLUMNS]
        y = TITLE_HEIGHT + row * CELL_HEIGHT
        for column, piece, attribute in runs(text, attributes):
            x = column * CELL_WIDTH
            out.append(f'<rect x="{x}" y="{y}" width="{len(piece) * CELL_WIDTH}" '
                       f'height="{CELL_HEIGHT}" fill="{PALETTE[(attribute >> 4) & 15]}"/>')
            piece = piece.rstrip()
            if piece.strip():
                out.append(f'<text x="{x}" y="{y + 14}" fill="{PALETTE[attribute & 15]}" '
                           f'xml:space="preserve" textLength="{len(piece) * CELL_WIDTH}" '
                           f'lengthAdjust="spacingAndGlyphs">{escape(piece)}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description="Draw the running screen from a real run.")
    parser.add_argument("--tuner", choices=("listen_tuner", "download_tuner"),
                        default="listen_tuner")
    parser.add_argument("--out", required=True, help="the SVG file to write")
    parser.add_argument("--seconds", type=float, default=9.0,
                        help="how long the song plays before the screen is read")
    parser.add_argument("args", nargs="*", default=["/order", "2"],
                        help="the program's options (default: /order 2)")
    args = parser.parse_args()
    ca = BUILD / "e2e" / "ca"
    songs = demo_songs.build(BUILD / "demo" / "songs")
    with catalogue_site.CatalogueSite(songs, ca / "server.pem", ca / "server.key"), \
            Tuner(args.tuner, args.args, columns=COLUMNS, lines=12) as tuner:
        tuner.wait_for("Played:", 60)
        time.sleep(args.seconds)
        # The credit line's colours follow the music: of a few readings, keep the most
        # colourful one.
        readings = []
        for _ in range(15):
            readings.append(tuner.screen())
            time.sleep(0.2)
        screen = max(readings, key=lambda s: len({a for row in s.attributes for a in row}))
        tuner.press("q")
        tuner.exit_code()
    rows = max(i for i, row in enumerate(screen.rows, 1) if row.strip())
    pathlib.Path(args.out).write_text(svg(screen, rows))
    print("\n".join(screen.rows[i][:COLUMNS].rstrip() for i in range(rows)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
