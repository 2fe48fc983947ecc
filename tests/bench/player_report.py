"""Printing the player benchmark's figures: each program's in detail, then all of them side
by side as a Markdown table that BENCHMARKS.md and the README take as it is."""
import statistics

FLOOR = "cmd /c pause"
REFERENCE = "two-call loop"
PROGRAMS = ("listen_tuner", "download_tuner")


def ms(values):
    known = [v for v in values if v is not None]
    if not known:
        return "not seen"
    text = f"median {statistics.median(known) * 1000:6.1f} ms, worst {max(known) * 1000:6.1f} ms"
    text += f" (n={len(known)})"
    if len(known) < len(values):
        text += f", {len(values) - len(known)} not seen"
    return text


def median_ms(values):
    known = [v for v in values if v is not None]
    return f"{statistics.median(known) * 1000:.0f} ms" if known else "not seen"


def on_the_way(rounds, names):
    """The median of each milestone over the rounds, in ms."""
    parts = []
    for name in names:
        values = [r[name] for r in rounds if name in r]
        if values:
            parts.append(f"{name} {statistics.median(values) * 1000:.0f}")
    return ", ".join(parts)


def footprint(shares):
    """What playing costs the machine: the program, the wineserver and the console host."""
    return shares["program"] + shares["wineserver"] + shares["conhost"]


def print_costs(f, doing, cpu_seconds):
    shares = f["shares"]
    print(f"  CPU {doing} ({cpu_seconds:.0f} s)  program {shares['program']:.1f} %, "
          f"wineserver {shares['wineserver']:.1f} %, conhost {shares['conhost']:.1f} %, "
          f"console probe {shares['probe']:.1f} % of one core")
    busy = sorted(((v, k[len("thread "):]) for k, v in shares.items() if k.startswith("thread ")
                   and v >= 0.05), reverse=True)
    print("    its busy threads:          " + (", ".join(f"{name} {v:.1f} %" for v, name in busy)
                                                or "none"))
    print(f"  resident memory               VmRSS {f['rss'] / 1024:.1f} MiB "
          f"(RssAnon {f['anon'] / 1024:.1f} MiB)")


def calls_text(calls, detail=True):
    passes, per_entry = calls
    if not passes:
        return "not seen"
    text = f"{sum(per_entry.values()):.2f}"
    if detail:
        text += f" over {passes} passes (" + ", ".join(
            f"{name} {count:.2f}" for name, count in per_entry.items()) + ")"
    return text


def report(figures, mpg123, milestones, cpu_seconds):
    for program, f in figures.items():
        print(f"{program}:")
        if "launches" not in f:
            print_costs(f, "waiting    ", cpu_seconds)
            continue
        launches, spaces = f["launches"], f["spaces"]
        print(f"  launch -> first sample        {ms([r.get('first sample') for r in launches])}")
        print(f"    medians, ms after launch:   {on_the_way(launches, milestones)}")
        print_costs(f, "playing    ", cpu_seconds)
        print(f"  console calls per pass        {calls_text(f['calls'])}")
        print(f"  Space -> next song's sample   {ms([r.get('first sample') for r in spaces])}")
        print(f"    medians, ms after Space:    {on_the_way(spaces, milestones[1:])}")
        print(f"  p -> silence                  {ms([p[0] for p in f['pauses']])}")
        print(f"    by played sample count      {ms([p[1] for p in f['pauses']])}")
    if mpg123 is None:
        print("mpg123: not installed (tools/install_deps.sh mpg123, outside the sandbox)")
    else:
        firsts, shares, rss, anon = mpg123
        print("mpg123 -s, https through curl, into a pipe read in real time:")
        print(f"  launch -> first sample        {ms(firsts)}")
        print(f"  CPU playing     ({cpu_seconds:.0f} s)  mpg123 {shares['mpg123']:.1f} %, "
              f"curl {shares['curl']:.1f} % of one core")
        print(f"  resident memory               VmRSS {rss / 1024:.1f} MiB "
              f"(RssAnon {anon / 1024:.1f} MiB)")
    print()
    side_by_side(figures, mpg123, cpu_seconds)


def side_by_side(figures, mpg123, cpu_seconds):
    """The figures the targets speak of, one column per player, as a Markdown table."""
    floor = footprint(figures[FLOOR]["shares"])
    players = [figures[p] for p in PROGRAMS if p in figures]
    rows = []

    def row(name, per_player, for_mpg123="", target=""):
        rows.append([name] + [per_player(f) for f in players] + [for_mpg123, target])

    def whole(f):
        s = f["shares"]
        return (f"{s['program']:.1f} + {s['wineserver']:.1f} + {s['conhost']:.1f} "
                f"= {footprint(s):.1f} %")

    mpg = {}
    if mpg123 is not None:
        firsts, shares, rss, _ = mpg123
        mpg = dict(whole=f"{shares['mpg123']:.1f} + curl {shares['curl']:.1f} = "
                         f"{shares['mpg123'] + shares['curl']:.1f} %",
                   first=median_ms(firsts), rss=f"{rss / 1024:.1f} MiB")
    row(f"CPU while playing ({cpu_seconds:.0f} s): program + wineserver + conhost", whole,
        mpg.get("whole", ""))
    row(f"… above the `cmd /c pause` floor ({floor:.1f} %)",
        lambda f: f"{footprint(f['shares']) - floor:.1f} %", mpg.get("whole", "").split("= ")[-1],
        "≤ 4 %")
    row("… of it, the program's main thread (player loop)",
        lambda f: f"{f['shares'].get('thread main', 0.0):.1f} %", "", "≤ 1 %")
    if REFERENCE in figures:
        loop = figures[REFERENCE]["shares"]
        shown = f"{footprint(loop) - floor:.1f} % / {loop.get('thread main', 0.0):.1f} %"
        row("the two-call reference loop: above the floor / its loop thread (one figure)",
            lambda f: shown if f is players[0] else "")
    row("console calls per pass of the player loop", lambda f: calls_text(f["calls"], False))
    row("launch → first played sample, median",
        lambda f: median_ms([r.get("first sample") for r in f["launches"]]),
        mpg.get("first", ""), "≤ 450 ms")
    row("resident memory, VmRSS", lambda f: f"{f['rss'] / 1024:.1f} MiB", mpg.get("rss", ""))
    row("Space → next song's first sample, median",
        lambda f: median_ms([r.get("first sample") for r in f["spaces"]]), "", "≤ 180 ms")
    row("\"p\" → silence, median", lambda f: median_ms([p[0] for p in f["pauses"]]), "",
        "≤ 18 ms")
    print("| figure | " + " | ".join(p for p in PROGRAMS if p in figures)
          + " | mpg123 (same file) | target |")
    print("|---" * (len(players) + 3) + "|")
    for cells in rows:
        print("| " + " | ".join(cells) + " |")
    idle = figures[FLOOR]["shares"]
    if REFERENCE in figures:
        print("\nThe two-call reference loop (tests/bench/helpers/console_loop) peeks at the "
              "keyboard and writes three 90-column rows with their colours every 15 ms, "
              "nothing else; measured in the same run.")
    print(f"\nThe floor, `cmd /c pause` in the same console probe: program {idle['program']:.1f} "
          f"+ wineserver {idle['wineserver']:.1f} + conhost {idle['conhost']:.1f} = {floor:.1f} %, "
          f"VmRSS {figures[FLOOR]['rss'] / 1024:.1f} MiB.")
