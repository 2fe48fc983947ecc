#!/usr/bin/env python3
"""Prints the apt-get arguments that install Wine's 32-bit part where the plain install fails.

Packages of both architectures (Multi-Arch: same) must be of one version. When the mirror's
i386 archive lags behind its amd64 one, the newest amd64 version has no i386 twin and apt
gives up. This asks apt what it cannot install and pins each such package, in both
architectures, to the newest version both archives hold, until apt's simulation succeeds.
"""
import re
import subprocess
import sys

WANTED = ["wine32:i386", "wine32-preloader:i386"]
BLOCKED = re.compile(r"(?:Depends: |^ )([\w.+-]+):i386", re.M)


def versions(package):
    policy = subprocess.run(["apt-cache", "policy", package], capture_output=True, text=True).stdout
    return re.findall(r"^\s+(?:\*\*\* )?(\S+) \d+$", policy, re.M)


def main():
    pins = {}
    for _ in range(30):
        arguments = WANTED + [f"{name}={version}" for name, version in pins.items()]
        trial = subprocess.run(["apt-get", "install", "-s", "-y", "--allow-downgrades"] + arguments,
                               capture_output=True, text=True)
        if trial.returncode == 0:
            print(" ".join(arguments))
            return 0
        added = False
        for package in sorted(set(BLOCKED.findall(trial.stdout + trial.stderr))):
            if package in pins:
                continue
            amd64 = versions(package)
            common = [v for v in versions(package + ":i386") if v in amd64]
            if common:
                pins[package] = pins[package + ":i386"] = common[0]
                added = True
        if not added:
            sys.stderr.write(trial.stdout[-2000:] + trial.stderr[-2000:])
            return 1
    return 1


if __name__ == "__main__":
    sys.exit(main())
