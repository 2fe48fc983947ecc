"""Counting a player's console calls per pass of its loop, from outside the program.

Under Wine every console call is a round trip to the wineserver and the console host, so
their number per pass is what the loop costs beyond its own computing. Wine's relay debug
channel logs each call a program makes to a DLL entry; limited (through the prefix's
registry, which only the relay channel reads) to the console entries and Sleep, it logs
only those, with the calling thread. The player loop ends each pass with a 15 ms Sleep,
which marks the passes and tells the loop's thread from every other (the console probe
polls with 10 ms sleeps, the audio library waits otherwise).
"""
import collections
import contextlib
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import wine_env  # noqa: E402

# Every kernel32 entry through which a program talks to its console.
CONSOLE_ENTRIES = (
    "GetConsoleMode", "SetConsoleMode", "GetConsoleScreenBufferInfo", "GetConsoleCursorInfo",
    "SetConsoleCursorInfo", "SetConsoleCursorPosition", "SetConsoleTextAttribute",
    "WriteConsoleA", "WriteConsoleW", "WriteConsoleOutputA", "WriteConsoleOutputW",
    "WriteConsoleOutputCharacterA", "WriteConsoleOutputCharacterW",
    "WriteConsoleOutputAttribute", "FillConsoleOutputCharacterA", "FillConsoleOutputCharacterW",
    "FillConsoleOutputAttribute", "ReadConsoleOutputW", "PeekConsoleInputA", "PeekConsoleInputW",
    "ReadConsoleInputA", "ReadConsoleInputW", "GetNumberOfConsoleInputEvents",
    "FlushConsoleInputBuffer", "WriteFile", "GetConsoleTitleA", "SetConsoleTitleA",
    # The players look for a key with a wait of no time on the input handle: a wineserver
    # request, though not one the console host answers; counted all the same.
    "WaitForSingleObject")
PASS_END = "0000000f"  # Sleep(15)
DEBUG_KEY = r"HKCU\Software\Wine\Debug"
CALL = re.compile(r"^([0-9a-f]+):Call (?:KERNEL32|KERNELBASE)\.(\w+)\(([^)]*)\)")
SETTLE_PASSES = 20  # the first passes after the song starts are left out


def _reg(*args):
    subprocess.run(wine_env.command("reg", *args, "/f"), env=os.environ, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@contextlib.contextmanager
def relay():
    """While open, programs started with the environment it gives log their console calls
    and Sleeps on their standard error. (Limiting the log to calls from one module with
    RelayFromInclude does not work: Wine's default RelayFromExclude list overrides it.)"""
    _reg("add", DEBUG_KEY, "/v", "RelayInclude", "/d", ";".join(CONSOLE_ENTRIES + ("Sleep",)))
    try:
        yield {"WINEDEBUG": "-all,+relay"}
    finally:
        _reg("delete", DEBUG_KEY, "/v", "RelayInclude")
        # The wineserver writes the registry out only now and then, and the sandbox ends
        # it without notice: stopped here, it saves the prefix without the setting. The
        # next one stays running between programs, as the sandbox's did.
        for command in (["wineserver", "-k"], ["wineserver", "-p"]):
            subprocess.run(command, env=os.environ, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def calls_per_pass(log):
    """(passes counted, {entry: calls per pass}) of the thread that ends passes with
    Sleep(15), over its passes after the first few; (0, {}) when it made too few."""
    by_thread = collections.defaultdict(list)
    for line in log.splitlines():
        match = CALL.match(line)
        if match:
            by_thread[match.group(1)].append((match.group(2), match.group(3)))
    loop = max(by_thread.values(), default=[],
               key=lambda calls: sum(1 for c in calls if c == ("Sleep", PASS_END)))
    ends = [i for i, call in enumerate(loop) if call == ("Sleep", PASS_END)]
    if len(ends) <= SETTLE_PASSES + 1:
        return 0, {}
    first, last = ends[SETTLE_PASSES], ends[-1]
    passes = len(ends) - 1 - SETTLE_PASSES
    counts = collections.Counter(name for name, _ in loop[first + 1:last + 1] if name != "Sleep")
    return passes, {name: count / passes for name, count in counts.most_common()}
