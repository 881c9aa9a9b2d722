#!/usr/bin/python3
"""Unattended runs against loopback ports, beside `nc -z` measured in the same run.

Prints median wall time and peak memory for an open, a refused and a silent
("blackholed": backlog 0, queue already full) port, and the ratio to nc.
Usage: bench/unattended.py [path/to/ostrel]   (default: build/bin/ostrel)
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

TIMEOUT = 2
ROUNDS = {"open": 40, "refused": 40, "blackholed": 5}


def listener(kind):
    held = []
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    if kind == "open":
        server.listen(64)
    elif kind == "blackholed":
        server.listen(0)
        filler = socket.create_connection(server.getsockname())
        held.append(filler)
    return server, held


def measure(command, rounds):
    """Median wall time in ms and peak resident memory in MB."""
    walls = []
    for _ in range(rounds):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        walls.append(time.perf_counter() - start)
    # A child forked from Python starts out with Python's memory, so the
    # peak comes from GNU time, whose own footprint is tiny.
    report = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True).stderr
    return statistics.median(walls) * 1000, int(report.strip().splitlines()[-1]) / 1024


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build", "bin", "ostrel")
    folder = tempfile.mkdtemp(prefix="ostrel-bench-")
    program = shutil.copy(source, folder)
    env_free = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    os.environ.clear()
    os.environ.update(env_free)
    print(f"{'port':<11} {'ostrel ms':>10} {'nc -z ms':>9} {'ratio':>6} {'ostrel MB':>10} {'nc MB':>6}")
    try:
        for kind, rounds in ROUNDS.items():
            server, held = listener(kind)
            port = server.getsockname()[1]
            ours = measure([program, f"127.0.0.1,{port},{TIMEOUT}"], rounds)
            theirs = measure(["nc", "-z", "-w", str(TIMEOUT), "127.0.0.1", str(port)], rounds)
            print(f"{kind:<11} {ours[0]:>10.1f} {theirs[0]:>9.1f} {ours[0] / theirs[0]:>5.2f}x {ours[1]:>10.1f} {theirs[1]:>6.1f}")
            if kind == "blackholed":
                print(f"{'':<11} blackholed run ends {ours[0] / 1000 - TIMEOUT:+.3f} s after the {TIMEOUT} s timeout")
            for sock in held + [server]:
                sock.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
