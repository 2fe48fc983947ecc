#!/usr/bin/env python3
"""`make fuzz`: runs each libFuzzer target in turn, niced, for a given time, from the seeds
(tests/fuzz/seeds.py) and the corpus it grew in earlier runs, and prints its figures:
executions, time, coverage. A finding stops the run (its input is kept in ARTIFACTS).

    python3 tests/fuzz/run_fuzzers.py --build build/fuzz --songs build/win/e2e/songs --seconds 600
"""
import argparse
import pathlib
import re
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--songs", required=True)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--only", help="run this target only")
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    seeds = build / "seeds"
    subprocess.run([sys.executable, str(HERE / "seeds.py"), str(seeds), "--songs", args.songs],
                   check=True)
    artifacts = build / "artifacts"
    artifacts.mkdir(parents=True, exist_ok=True)
    status = 0
    for source in sorted(HERE.glob("*_fuzz.cpp")):
        name = source.stem
        if args.only and name != args.only:
            continue
        corpus = build / "corpus" / name
        corpus.mkdir(parents=True, exist_ok=True)
        started = time.monotonic()
        run = subprocess.run(
            ["nice", "-n", "19", str(build / name), f"-max_total_time={args.seconds}",
             "-max_len=16384", "-print_final_stats=1", f"-artifact_prefix={artifacts}/{name}-",
             str(corpus), str(seeds / name)],
            capture_output=True, text=True)
        seconds = time.monotonic() - started
        log = run.stderr
        (build / f"{name}.log").write_text(log)
        executions = re.findall(r"stat::number_of_executed_units:\s*(\d+)", log)
        coverage = re.findall(r"cov: (\d+) ft: (\d+) corp: (\d+)", log)
        cov, features, units = coverage[-1] if coverage else ("?", "?", "?")
        runs = int(executions[-1]) if executions else 0
        verdict = "no finding" if run.returncode == 0 else f"FINDING (exit {run.returncode})"
        print(f"{name}: {runs} executions in {seconds:.0f} s ({runs / max(seconds, 1):.0f}/s), "
              f"coverage {cov} edges, {features} features, corpus {units} inputs: {verdict}",
              flush=True)
        if run.returncode != 0:
            print(log[-3000:])
            status = 1
            break
    return status


if __name__ == "__main__":
    sys.exit(main())
