#!/usr/bin/python3
"""Unattended runs against loopback ports, beside `nc -z` and `check_tcp` measured in the same rounds.

For an open (accepts and closes every connection, as a service would), a refused and a silent ("blackholed":
backlog 0, queue already full) port, each round runs ostrel, nc and check_tcp once, in an order that rotates from
round to round, so a slow moment of the machine weighs on all three alike. Each ratio is the median of the per-round
ratios. Peak memory comes from GNU time; the machine's load average is printed with the figures.
Then the calling sequence's reading time against its number of recipient fields (CPU time of the whole run).
Usage: bench/unattended.py [path/to/ostrel] [rounds]   (default: build/bin/ostrel, 300)
"""
import os
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TIMEOUT = 2
CHECK_TCP = "/usr/lib/nagios/plugins/check_tcp"


class Listener:
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


def peak_mib(command):
    # A child forked from Python starts out with Python's memory, so the peak comes from GNU time.
    report = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True).stderr
    return int(report.strip().splitlines()[-1]) / 1024


def cpu_seconds(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build", "bin",
                                                                "ostrel")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    folder = tempfile.mkdtemp(prefix="ostrel-bench-")
    program = shutil.copy(source, folder)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "OSTREL_EXIT_STATUS", "OSTREL_LOG_DIR"):
        os.environ.pop(name, None)
    print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}, {os.cpu_count()} cores")
    print(f"{'port':<11} {'rounds':>6} {'ostrel':>9} {'nc -z':>9} {'check_tcp':>9} {'vs nc':>6} {'vs check_tcp':>12}"
          f" {'ostrel MiB':>10} {'nc MiB':>6} {'check_tcp MiB':>13}")
    try:
        for kind, count in (("open", rounds), ("refused", rounds), ("blackholed", 5)):
            listener = Listener(kind)
            commands = ([program, f"127.0.0.1,{listener.port},{TIMEOUT}"],
                        ["nc", "-z", "-w", str(TIMEOUT), "127.0.0.1", str(listener.port)],
                        [CHECK_TCP, "-H", "127.0.0.1", "-p", str(listener.port), "-t", str(TIMEOUT)])
            for command in commands:
                wall(command)  # warm the caches
            times = [[], [], []]
            for i in range(count):
                for j in range(3):
                    k = (i + j) % 3
                    times[k].append(wall(commands[k]))
            medians = [statistics.median(t) * 1000 for t in times]
            versus = [statistics.median(a / b for a, b in zip(times[0], t)) for t in times[1:]]
            memory = [peak_mib(command) for command in commands]
            print(f"{kind:<11} {count:>6} {medians[0]:>7.2f}ms {medians[1]:>7.2f}ms {medians[2]:>7.2f}ms"
                  f" {versus[0]:>5.2f}x {versus[1]:>11.2f}x {memory[0]:>10.1f} {memory[1]:>6.1f} {memory[2]:>13.1f}")
            listener.close()
        print(f"load average after: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        print("\nreading the calling sequence (CPU time of a run against a refused port, median of 3):")
        for fields in (1000, 100000, 200000):
            # PASS against a refused port: no mail is due. The fields come as many arguments (one may hold
            # 128 KiB at most), which the program joins with blanks.
            command = [program, "127.0.0.1,1,1,PASS,,,relay.invalid"] + [",a@b" * 10000] * (fields // 10000) \
                + [",a@b" * (fields % 10000)]
            seconds = statistics.median(cpu_seconds(command) for _ in range(3))
            print(f"  {fields:>7} recipient fields: {seconds * 1000:8.1f} ms")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
