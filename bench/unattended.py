#!/usr/bin/python3
"""Unattended runs against loopback ports, beside `nc -z` measured in the same run.

For an open, a refused and a silent ("blackholed": backlog 0, queue already full)
port, ostrel and nc run in alternating pairs (which goes first alternates too);
the ratio is the median of the per-pair ratios, so a slow moment of the machine
weighs on both sides of a pair alike. Peak memory comes from GNU time.
Usage: bench/unattended.py [path/to/ostrel]   (default: build/bin/ostrel)
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TIMEOUT = 2
PAIRS = {"open": 60, "refused": 60, "blackholed": 5}


class Listener:
    """An open port accepts (and closes) every connection, as a real service
    would; a blackholed one never answers."""

    def __init__(self, kind):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.held = []
        if kind == "open":
            self.server.listen(64)
            threading.Thread(target=self._accept, daemon=True).start()
        elif kind == "blackholed":
            self.server.listen(0)
            self.held.append(socket.create_connection(("127.0.0.1", self.port)))

    def _accept(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            connection.close()

    def close(self):
        for sock in self.held:
            sock.close()
        try:
            self.server.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self.server.close()


def wall(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_mb(command):
    # A child forked from Python starts out with Python's memory, so the
    # peak comes from GNU time, whose own footprint is tiny.
    report = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True).stderr
    return int(report.strip().splitlines()[-1]) / 1024


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build", "bin", "ostrel")
    folder = tempfile.mkdtemp(prefix="ostrel-bench-")
    program = shutil.copy(source, folder)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "OSTREL_EXIT_STATUS"):
        os.environ.pop(name, None)
    print(f"{'port':<11} {'pairs':>5} {'ostrel ms':>10} {'nc -z ms':>9} {'ratio':>6} {'ostrel MB':>10} {'nc MB':>6}")
    try:
        for kind, pairs in PAIRS.items():
            listener = Listener(kind)
            ours = [program, f"127.0.0.1,{listener.port},{TIMEOUT}"]
            theirs = ["nc", "-z", "-w", str(TIMEOUT), "127.0.0.1", str(listener.port)]
            wall(ours), wall(theirs)  # warm the caches
            our_walls, their_walls, ratios = [], [], []
            for i in range(pairs):
                if i % 2:
                    b, a = wall(theirs), wall(ours)
                else:
                    a, b = wall(ours), wall(theirs)
                our_walls.append(a)
                their_walls.append(b)
                ratios.append(a / b)
            a, b, ratio = statistics.median(our_walls) * 1000, statistics.median(their_walls) * 1000, statistics.median(ratios)
            print(f"{kind:<11} {pairs:>5} {a:>10.1f} {b:>9.1f} {ratio:>5.2f}x {peak_mb(ours):>10.1f} {peak_mb(theirs):>6.1f}")
            if kind == "blackholed":
                print(f"{'':<11} blackholed run ends {a / 1000 - TIMEOUT:+.3f} s after the {TIMEOUT} s timeout")
            listener.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
