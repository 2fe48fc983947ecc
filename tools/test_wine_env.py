#!/usr/bin/env python3
"""Self-test of the Wine prefixes: a prefix made with another Wine is made anew before use.

    python3 tools/test_wine_env.py --build build/win [-v]

A real prefix is made in the build folder (twice, 20 to 40 s), and a real program runs in it.
"""
import argparse
import json
import pathlib
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import wine_env  # noqa: E402

BUILD = None


def run(prefix, *arguments):
    return subprocess.run(wine_env.command(*arguments), env=wine_env.wine_environment(prefix),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


class Prefixes(unittest.TestCase):
    def setUp(self):
        self.prefix = BUILD / "prefix-selftest"
        self.addCleanup(shutil.rmtree, self.prefix, ignore_errors=True)
        self.addCleanup(wine_env.stop_server, self.prefix)

    def test_a_prefix_of_another_wine_is_made_anew_and_runs_programs(self):
        wine_env.ensure_prefix(self.prefix)
        record = self.prefix / wine_env.RECORD
        self.assertEqual(json.loads(record.read_text()), wine_env.installation())
        self.assertEqual(run(self.prefix, "cmd.exe", "/c", "exit", "5"), 5)
        # As if made before Wine's 32-bit part came or went: its record names other loaders.
        wine_env.stop_server(self.prefix)
        current = wine_env.installation()
        stale = dict(current, loaders=["wine"] if current["loaders"] != ["wine"] else ["wine64"],
                     runs_32_bit=not current["runs_32_bit"])
        record.write_text(json.dumps(stale))
        left_over = self.prefix / "drive_c" / "made-by-the-old-wine"
        left_over.write_text("")
        wine_env.ensure_prefix(self.prefix)
        self.assertFalse(left_over.exists())
        self.assertEqual(json.loads(record.read_text()), wine_env.installation())
        self.assertEqual(run(self.prefix, "cmd.exe", "/c", "exit", "7"), 7)
        # A prefix whose record matches is used as it is.
        left_over.write_text("")
        wine_env.ensure_prefix(self.prefix)
        self.assertTrue(left_over.exists())


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, type=pathlib.Path)
    args, rest = parser.parse_known_args()
    BUILD = args.build.resolve()
    unittest.main(argv=[sys.argv[0]] + rest)
