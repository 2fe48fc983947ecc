"""A sound server of the test's own: PulseAudio with one null sink, reachable only through
a socket in a private folder, so Wine's waveOut finds a real output device inside the
sandbox. The sink's monitor can be recorded to hear what reached the device.

Wine (winepulse) connects to it when its environment holds client_env().
"""
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import time

SINK = "tuner"
RATE = 44100


class SoundServer:
    def __init__(self):
        if not shutil.which("pulseaudio") or not shutil.which("parec"):
            raise RuntimeError("pulseaudio is not installed (tools/install_deps.sh installs it)")
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="pulse-"))
        self.socket = self.folder / "native"
        (self.folder / "home").mkdir()
        # The server keeps its runtime files, state and cookie in the private folder; no
        # D-Bus, no default configuration, no idle exit: exactly one null sink.
        server_env = dict(os.environ, HOME=str(self.folder / "home"),
                          PULSE_RUNTIME_PATH=str(self.folder / "runtime"),
                          PULSE_STATE_PATH=str(self.folder / "state"))
        server_env.pop("PULSE_SERVER", None)
        self.log = self.folder / "server.log"
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                 "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                 "--log-target=stderr",
                 "-L", f"module-null-sink sink_name={SINK} rate={RATE} channels=2",
                 "-L", f"module-native-protocol-unix socket={self.socket} auth-anonymous=1"],
                env=server_env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        try:
            self._wait_ready(15)
        except BaseException:
            self.close()
            raise

    def client_env(self):
        """Environment for a client (pactl, parec, a Wine process) of this server only."""
        return {"PULSE_SERVER": f"unix:{self.socket}",
                "PULSE_COOKIE": str(self.folder / "client-cookie")}

    def _run(self, *command, timeout=10):
        return subprocess.run(list(command), env=dict(os.environ, **self.client_env()),
                              capture_output=True, text=True, timeout=timeout)

    def _wait_ready(self, timeout):
        deadline = time.monotonic() + timeout
        while True:
            if self.process.poll() is not None:
                raise RuntimeError("pulseaudio ended at start: " + self.log.read_text(errors="replace")[-2000:])
            if self.socket.exists() and self._run("pactl", "info").returncode == 0:
                return
            if time.monotonic() > deadline:
                raise RuntimeError("pulseaudio did not answer: " + self.log.read_text(errors="replace")[-2000:])
            time.sleep(0.1)

    def playing_clients(self):
        """Streams now playing into the sink: one line per stream."""
        result = self._run("pactl", "list", "short", "sink-inputs")
        return [line for line in result.stdout.splitlines() if line.strip()]

    def record(self):
        """Records the sink's monitor from now on; stop() the result for its samples."""
        return Recording(self).wait_ready()

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Recording:
    """What the sink plays, as 16-bit stereo samples at the sink's rate, from start to stop."""

    def __init__(self, server):
        self.path = pathlib.Path(tempfile.mkstemp(prefix="monitor-", dir=server.folder)[1])
        with open(self.path, "wb") as out:
            self.process = subprocess.Popen(
                ["parec", "-d", f"{SINK}.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
                 "--channels=2", "--latency-msec=20"],
                env=dict(os.environ, **server.client_env()), stdin=subprocess.DEVNULL,
                stdout=out, stderr=subprocess.DEVNULL)

    def wait_ready(self, timeout=10):
        """Waits for the first samples: from then on everything the sink plays is kept."""
        deadline = time.monotonic() + timeout
        while self.path.stat().st_size == 0:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("parec records nothing")
            time.sleep(0.02)
        return self

    def stop(self):
        """The interleaved samples recorded."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        data = self.path.read_bytes()
        self.path.unlink()
        data = data[:len(data) // 4 * 4]
        return list(struct.unpack(f"<{len(data) // 2}h", data))
