"""Decode speed of our Bass.dll's decoding path under Wine, in multiples of real time
(target >= 200x), printed, never judged.

    cd tests/e2e && python3 ../../tools/sandbox.py --build ../../build/win -- \\
        python3 ../bench/bass_decode_bench.py
(run outside the sandbox, the script goes into it itself).

The library itself decodes only half a second ahead of what is played, so there is no
call to time. bass_decode_bench_win.cpp is built here, with the stand-in's own, unchanged
decoding sources (frame cursor, ACM decoder), into build/win/bench/, and decodes each song
back to back: the test catalogue (every format it holds) and a 30 s 128 kbps song of the
player benchmark. For comparison, mpg123 (native) decoding that song with no output
(-t), its process start included.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve()
ROOT = HERE.parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(HERE.parent))
from catalogue import songs, test_songs  # noqa: E402
from harness import BUILD, PROGRAMS, wine_env, windows_path  # noqa: E402
from player_bench import BENCH_SONGS  # noqa: E402

BASS = ROOT / "standins" / "bass"
SOURCES = [HERE.parent / "bass_decode_bench_win.cpp"] + [
    BASS / name for name in ("acm_decoder_win.cpp", "frame_cursor.cpp", "downloaded_file.cpp",
                             "mp3_frame.cpp")]
PROGRAM = PROGRAMS / "bench" / "bass_decode_bench.exe"
# Built for the architecture of the programs under test.
X86 = wine_env.is_32_bit(PROGRAMS / "bin" / "Bass.dll")
COMPILER = "i686-w64-mingw32-g++-posix" if X86 else "x86_64-w64-mingw32-g++-posix"
# The flags the Windows build gives Bass.dll (a Release build).
FLAGS = ["-std=c++20", "-O3", "-DNDEBUG", "-DWIN32_LEAN_AND_MEAN", "-DNOMINMAX",
         "-D_WIN32_WINNT=0x0601", "-Wall", "-Wextra", "-Werror", f"-I{ROOT}"]


def build():
    inputs = SOURCES + list(BASS.glob("*.h"))
    if PROGRAM.exists() and all(p.stat().st_mtime < PROGRAM.stat().st_mtime for p in inputs):
        return
    PROGRAM.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run([COMPILER, *FLAGS, *map(str, SOURCES), "-o", str(PROGRAM),
                    "-lmsacm32", "-lwinmm", "-static", "-static-libgcc", "-static-libstdc++"],
                   check=True)


def main():
    if not os.environ.get("TUNER_SANDBOX"):
        return subprocess.run([sys.executable, str(ROOT / "tools" / "sandbox.py"), "--build",
                               str(BUILD), "--", sys.executable, str(HERE)],
                              cwd=ROOT / "tests" / "e2e").returncode
    build()
    files = [song.path for song in test_songs()]
    long_song = songs.build_catalogue(BUILD / "bench" / "songs", BENCH_SONGS[:1])[0]
    files.append(long_song.path)
    result = subprocess.run(wine_env.command(windows_path(PROGRAM), *map(windows_path, files)),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    print("decode speed of the Bass.dll decoding path (frame cursor + ACM Layer-3 codec), "
          "one thread, target >= 200x:")
    for line in result.stdout.splitlines():
        print("  " + line)
    if result.returncode != 0:
        print(f"  (exit status {result.returncode})")
    if shutil.which("mpg123"):
        print(f"  mpg123 -t, for comparison: {mpg123_speed(long_song):.0f}x real time (best of 5)")
    return 0


def mpg123_speed(song):
    best = None
    for _ in range(5):
        began = time.monotonic()
        subprocess.run(["mpg123", "-q", "-t", song.path], check=True)
        spent = time.monotonic() - began
        best = spent if best is None else min(best, spent)
    return song.duration / best


if __name__ == "__main__":
    sys.exit(main())
