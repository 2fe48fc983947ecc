"""Runs the Bass.dll probe (helpers/bass_probe) under Wine and talks to it line by line."""
import json
import os
import pathlib
import queue
import subprocess
import threading

from harness import BIN, PROGRAMS, TEST_BIN, wine_env, windows_path

PROBE = PROGRAMS / "tests" / "bass_probe.exe"


class BassProbe:
    def __init__(self, capture=None, env=None, bound=True):
        """The shipped library, or the test build's where a capture or a switch of `env` is
        asked for. bound=False: the probe does not load the library itself (for
        unloadcycles and watch)."""
        environment = dict(os.environ)
        environment.setdefault("WINEDEBUG", "-all")
        if capture:
            environment["TUNER_BASS_CAPTURE"] = windows_path(capture)
        environment.update(env or {})
        switches = capture or any(key.startswith("TUNER_BASS_") for key in env or {})
        self.library = (TEST_BIN if switches else BIN) / "Bass.dll"
        self.process = subprocess.Popen(
            wine_env.command(PROBE, windows_path(self.library)) + ([] if bound else ["--unbound"]),
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=environment, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        ready = self._next(60)
        assert ready.get("event") == "ready", ready

    def _read(self):
        for line in self.process.stdout:
            line = line.strip()
            if line.startswith("{"):
                self.lines.put(json.loads(line))
        self.lines.put(None)

    def _next(self, timeout):
        answer = self.lines.get(timeout=timeout)
        if answer is None:
            raise AssertionError("the probe ended")
        return answer

    def ask(self, command, timeout=60):
        """Sends one command; returns its JSON answer (the last one for commands with two)."""
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = self._next(timeout)
        if answer.get("event") == "waitend":
            state = self._next(timeout)
            state["ended"], state["waited_ms"] = answer["ended"], answer["ms"]
            return state
        return answer

    def close(self):
        """Quits the probe, which unloads the library whatever streams are left: that must
        not hang (the library's threads keep it loaded instead)."""
        if self.process.poll() is not None:
            return
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.flush()
            self.process.wait(timeout=20)
        except (BrokenPipeError, OSError):
            self.process.kill()
            self.process.wait()
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the probe hung unloading the library")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
