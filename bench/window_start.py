#!/usr/bin/python3
"""Start of the check window on Xvfb, beside a minimal Qt Widgets window measured in the same run.

For each program: the time from starting it to its window being mapped (MapNotify on the root
window), and its peak resident memory (GNU time), in alternating pairs; prints the medians and the
median of the per-pair ratios. The minimal window is bench/minimal_window.cpp, built here.
Usage: bench/window_start.py [path/to/ostrel] [pairs]   (default: build/bin/ostrel, 20)
"""
import ctypes
import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class MapWatch:
    """Reports when any top-level window is mapped on the display."""

    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        for name in ("XPending", "XNextEvent", "XConnectionNumber", "XFlush"):
            getattr(self.x, name).argtypes = [ctypes.c_void_p] + ([ctypes.c_void_p] if name == "XNextEvent" else [])
        self.display = self.x.XOpenDisplay(display.encode())
        if not self.display:
            raise SystemExit(f"cannot open display {display}")
        self.x.XSelectInput(self.display, self.x.XDefaultRootWindow(self.display), SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XFlush(self.display)
        self.event = ctypes.create_string_buffer(192)

    def wait_for_map(self, limit=20.0):
        """Time (perf_counter) of the next MapNotify, or None after `limit` seconds."""
        deadline = time.perf_counter() + limit
        fd = self.x.XConnectionNumber(self.display)
        while time.perf_counter() < deadline:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, self.event)
                if ctypes.c_int.from_buffer(self.event).value == MAP_NOTIFY:
                    return time.perf_counter()
            select.select([fd], [], [], max(0.0, deadline - time.perf_counter()))
        return None


def start_once(command, watch, environment):
    """Milliseconds from start to mapped, and peak memory in MiB."""
    started = time.perf_counter()
    timer = subprocess.Popen(["/usr/bin/time", "-f", "%M", *command], env=environment,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    mapped = watch.wait_for_map()
    if mapped is None:
        timer.kill()
        raise SystemExit(f"{command[0]}: no window was mapped")
    time.sleep(0.2)  # let it settle into its shown state before it is ended
    with open(f"/proc/{timer.pid}/task/{timer.pid}/children") as children:
        for pid in children.read().split():
            os.kill(int(pid), signal.SIGTERM)
    report = timer.communicate(timeout=20)[1]
    return (mapped - started) * 1000, int(report.strip().splitlines()[-1]) / 1024


def main():
    ostrel = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "bin", "ostrel")
    pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    work = tempfile.mkdtemp(prefix="ostrel-bench-window-")
    minimal = os.path.join(work, "minimal_window")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "Qt6Widgets"], capture_output=True, text=True,
                           check=True).stdout.split()
    subprocess.run(["g++", "-O2", "-fPIC", os.path.join(HERE, "minimal_window.cpp"), "-o", minimal, *flags],
                   check=True)
    # Xvfb picks a free display itself and names it once it is ready.
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    try:
        display = ":" + server.stdout.readline().strip()
        watch = MapWatch(display)
        environment = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=work)  # first-run settings
        for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY"):
            environment.pop(name, None)
        results = {"ostrel": [], "minimal": []}
        commands = {"ostrel": [ostrel], "minimal": [minimal]}
        start_once(commands["ostrel"], watch, environment)  # warm the caches once for both
        start_once(commands["minimal"], watch, environment)
        for pair in range(pairs):
            for name in (("ostrel", "minimal") if pair % 2 == 0 else ("minimal", "ostrel")):
                results[name].append(start_once(commands[name], watch, environment))
    finally:
        server.terminate()
        server.wait()
    ratios = [o[0] / m[0] for o, m in zip(results["ostrel"], results["minimal"])]
    memory = [o[1] / m[1] for o, m in zip(results["ostrel"], results["minimal"])]
    print(f"{pairs} alternating pairs on Xvfb")
    print("| program | start to mapped (median) | peak memory (median) |")
    print("|---|---|---|")
    for name in ("ostrel", "minimal"):
        times = [r[0] for r in results[name]]
        print(f"| {name} | {statistics.median(times):.1f} ms | {statistics.median(r[1] for r in results[name]):.1f} MiB |")
    print(f"| ratio (median of pairs) | {statistics.median(ratios):.2f}x | {statistics.median(memory):.2f}x |")


if __name__ == "__main__":
    main()
