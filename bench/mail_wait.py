#!/usr/bin/python3
"""CPU time of an unattended run whose mail server accepts TCP but never greets.

The run checks an open loopback port with trigger PASS, then waits the full
10 s for the mail server's greeting. Prints wall time and CPU time (user +
system, from the child's rusage) for that run and, as a baseline, for the
same run without a mail server. Target: at most 50 ms of CPU for the wait.
Usage: bench/mail_wait.py [path/to/ostrel]   (default: build/bin/ostrel)
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = {"no mail": 20, "silent mail server": 3}


def run_once(command):
    """Wall seconds and CPU milliseconds (user + system) of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    return wall, (usage.ru_utime + usage.ru_stime) * 1000


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build", "bin", "ostrel")
    folder = tempfile.mkdtemp(prefix="ostrel-bench-")
    program = shutil.copy(source, folder)
    # The mail module the program loads when a mail is due lies beside it.
    shutil.copy(os.path.join(os.path.dirname(source), "ostrel-mail.so"), folder)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        os.environ.pop(name, None)

    device = socket.socket()
    device.bind(("127.0.0.1", 0))
    device.listen(64)
    # Listens and never accepts: the system completes the connection, and
    # nobody ever sends the greeting.
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(64)
    device_port, silent_port = device.getsockname()[1], silent.getsockname()[1]
    commands = {
        "no mail": [program, f"127.0.0.1,{device_port},5,PASS"],
        "silent mail server": [program, f"127.0.0.1,{device_port},5,PASS,,,127.0.0.1:{silent_port},ops@test"],
    }
    print(f"{'run':<20} {'rounds':>6} {'wall s':>8} {'CPU ms':>8} {'CPU ms max':>10}")
    try:
        for name, command in commands.items():
            results = [run_once(command) for _ in range(ROUNDS[name])]
            walls = [wall for wall, _ in results]
            cpus = [cpu for _, cpu in results]
            print(f"{name:<20} {len(results):>6} {statistics.median(walls):>8.3f} "
                  f"{statistics.median(cpus):>8.1f} {max(cpus):>10.1f}")
        with open(os.path.join(folder, "error.log"), encoding="utf-8") as log:
            print("error.log after the last run:", log.read().strip().split("\t")[-1])
    finally:
        device.close()
        silent.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
