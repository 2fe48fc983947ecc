"""The soak's results in two forms: one SVG picture of memory, handles and threads over time
for both programs (hand-written, standard library only), and a Markdown table of the run.

    python3 tools/soak_report.py RUN_FOLDER     redraws both from the folder's samples.jsonl
                                                and summary.json
"""
import json
import pathlib
import statistics
import sys
from html import escape

COLOURS = {"listen_tuner": "#c0392b", "download_tuner": "#7d3c98"}
PANELS = (("rss_mib", "resident memory (MiB)"), ("handles", "handles"), ("threads", "threads"),
          ("gdi", "GDI objects"), ("user", "user objects (windows)"))
SETTLED_SECONDS = 600  # growth is counted from the level at 10 minutes
WIDTH, PANEL_HEIGHT, LEFT, RIGHT, TOP, GAP = 900, 150, 70, 20, 40, 42


def read_samples(path):
    samples = []
    for line in pathlib.Path(path).read_text().splitlines():
        if line.strip():
            samples.append(json.loads(line))
    return samples


def by_program(samples):
    programs = {}
    for sample in samples:
        programs.setdefault(sample["program"], []).append(sample)
    return programs


def _nice_range(values):
    low, high = min(values), max(values)
    if high - low < 1e-9:
        low, high = low - 1, high + 1
    pad = (high - low) * 0.08
    return low - pad, high + pad


def picture(samples, title):
    """The SVG text: one panel per measure, minutes along the bottom, a line per program."""
    programs = by_program(samples)
    panels = [(key, label) for key, label in PANELS
              if any(s.get(key) is not None and s.get(key) >= 0 for s in samples)]
    height = TOP + len(panels) * (PANEL_HEIGHT + GAP) + 30
    end = max((s["seconds"] for s in samples), default=1) or 1
    plot_width = WIDTH - LEFT - RIGHT
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
           f'viewBox="0 0 {WIDTH} {height}" font-family="sans-serif" font-size="12">',
           f'<rect width="{WIDTH}" height="{height}" fill="white"/>',
           f'<text x="{LEFT}" y="20" font-size="15">{escape(title)}</text>']
    legend_x = WIDTH - RIGHT - 300
    for i, program in enumerate(sorted(programs)):
        x = legend_x + i * 150
        out.append(f'<line x1="{x}" y1="16" x2="{x + 24}" y2="16" stroke="{COLOURS.get(program, "#333")}" '
                   'stroke-width="2"/>')
        out.append(f'<text x="{x + 30}" y="20">{escape(program)}</text>')
    for index, (key, label) in enumerate(panels):
        top = TOP + index * (PANEL_HEIGHT + GAP)
        values = [s[key] for s in samples if s.get(key) is not None and s[key] >= 0]
        low, high = _nice_range(values)
        y_of = lambda v: top + PANEL_HEIGHT - (v - low) / (high - low) * PANEL_HEIGHT  # noqa: E731
        x_of = lambda t: LEFT + t / end * plot_width  # noqa: E731
        out.append(f'<rect x="{LEFT}" y="{top}" width="{plot_width}" height="{PANEL_HEIGHT}" '
                   'fill="none" stroke="#999"/>')
        out.append(f'<text x="{LEFT}" y="{top - 6}">{escape(label)}</text>')
        for fraction in (0, 0.5, 1):
            value = low + (high - low) * fraction
            out.append(f'<text x="{LEFT - 6}" y="{y_of(value) + 4:.1f}" text-anchor="end">'
                       f'{value:.0f}</text>' if high - low > 5 else
                       f'<text x="{LEFT - 6}" y="{y_of(value) + 4:.1f}" text-anchor="end">'
                       f'{value:.1f}</text>')
        if end > SETTLED_SECONDS:
            x = x_of(SETTLED_SECONDS)
            out.append(f'<line x1="{x:.1f}" y1="{top}" x2="{x:.1f}" y2="{top + PANEL_HEIGHT}" '
                       'stroke="#bbb" stroke-dasharray="4 3"/>')
        for program, series in sorted(programs.items()):
            points = " ".join(f"{x_of(s['seconds']):.1f},{y_of(s[key]):.1f}" for s in series
                              if s.get(key) is not None and s[key] >= 0)
            if points:
                out.append(f'<polyline fill="none" stroke="{COLOURS.get(program, "#333")}" '
                           f'stroke-width="1.5" points="{points}"/>')
    bottom = TOP + len(panels) * (PANEL_HEIGHT + GAP) - GAP + 16
    minutes = end / 60
    step = next(s for s in (1, 2, 5, 10, 15, 20, 30, 60) if minutes / s <= 12)
    tick = 0
    while tick <= minutes + 1e-9:
        x = LEFT + tick * 60 / end * plot_width
        out.append(f'<text x="{x:.1f}" y="{bottom}" text-anchor="middle">{tick:g}</text>')
        tick += step
    out.append(f'<text x="{LEFT + plot_width / 2}" y="{bottom + 16}" text-anchor="middle">'
               'minutes (dashed: 10 minutes, the level growth is counted from)</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def growth(series, key):
    """(least-squares slope per hour after 10 minutes, largest distance from the level at 10
    minutes), or (None, None) without samples past 10 minutes."""
    points = [(s["seconds"], s[key]) for s in series
              if s["seconds"] >= SETTLED_SECONDS and s.get(key) is not None and s[key] >= 0]
    if len(points) < 2:
        return None, None
    level = points[0][1]
    times = [t for t, _ in points]
    values = [v for _, v in points]
    mean_t, mean_v = statistics.fmean(times), statistics.fmean(values)
    spread = sum((t - mean_t) ** 2 for t in times)
    slope = sum((t - mean_t) * (v - mean_v) for t, v in points) / spread * 3600 if spread else 0.0
    return slope, max((v - level for v in values), key=abs)


def table(summary, samples):
    """The Markdown table of the run, one column per program."""
    programs = sorted(summary["programs"])
    series = by_program(samples)
    rows = [("minutes of play", lambda p, f: f"{summary['minutes']:.0f}"),
            ("songs played (shown on screen)", lambda p, f: f["songs_played"]),
            ("song pages asked for", lambda p, f: f["song_pages"]),
            ("exchanges / faults served", lambda p, f: f"{f['exchanges']} / {f['faults']} "
                                                        f"({f['faults'] / max(1, f['exchanges']):.0%})"),
            ("keys pressed", lambda p, f: f["keys"]),
            ("copies saved and checked / wrong", lambda p, f: f"{f['copies_checked']} / {f['wrong_copies']}"),
            ("crashes / hangs", lambda p, f: f"{f['crashes']} / {f['hangs']}"),
            ("worst song change (s)", lambda p, f: f"{f['worst_change']:.1f}"),
            ("median song change (s)", lambda p, f: f"{f['median_change']:.1f}"),
            ("temporary files left / written outside the save folder",
             lambda p, f: f"{f['temporary_left']} / {f['outside']}")]
    for key, label, unit in (("rss_mib", "resident memory", " MiB"), ("anon_mib", "anonymous memory", " MiB"),
                             ("handles", "handles", ""), ("threads", "threads", ""),
                             ("gdi", "GDI objects", ""), ("user", "user objects (windows)", "")):
        def cell(p, f, key=key, unit=unit):
            slope, largest = growth(series.get(p, []), key)
            if slope is None:
                return "n/a"
            at = [s[key] for s in series[p] if s["seconds"] >= SETTLED_SECONDS][0]
            return f"{at:.1f}{unit} at 10 min; {slope:+.2f}{unit}/h, largest {largest:+.1f}"
        rows.append((f"{label} after 10 min", cell))
    for key, label in (("cpu", "CPU, share of one core (median / worst 10 s)"),):
        def cpu(p, f):
            values = [s["cpu"] for s in series.get(p, []) if s.get("cpu") is not None]
            return f"{statistics.median(values):.1f} % / {max(values):.1f} %" if values else "n/a"
        rows.append((label, cpu))
    lines = []
    if programs:  # a run of starts alone has no play to tabulate
        lines = ["| | " + " | ".join(f"`{p}`" for p in programs) + " |",
                 "|---|" + "---|" * len(programs)]
    for label, cell in rows if programs else ():
        lines.append(f"| {label} | " + " | ".join(str(cell(p, summary["programs"][p]))
                                                 for p in programs) + " |")
    starts = summary.get("starts") or {}
    if starts:
        lines += [""] * bool(lines) + ["| starts | " + " | ".join(f"`{p}`" for p in sorted(starts)) + " |",
                  "|---|" + "---|" * len(starts)]
        for label, key in (("reached the status line", "reached"),
                           ("median to the status line (s)", "median"),
                           ("worst (s)", "worst"),
                           ("first start after Wine's server started on its own (s)", "cold")):
            lines.append(f"| {label} | " + " | ".join(str(starts[p][key]) for p in sorted(starts)) + " |")
    return "\n".join(lines) + "\n"


def write(folder, samples, summary):
    folder = pathlib.Path(folder)
    title = (f"{summary['minutes']:.0f} minutes of both players, faults on about one exchange in "
             f"ten, keys at human rates; sampled every 10 s")
    (folder / "soak.svg").write_text(picture(samples, title))
    text = table(summary, samples)
    (folder / "table.md").write_text(text)
    return text


def main():
    folder = pathlib.Path(sys.argv[1])
    summary = json.loads((folder / "summary.json").read_text())
    print(write(folder, read_samples(folder / "samples.jsonl"), summary))


if __name__ == "__main__":
    main()
