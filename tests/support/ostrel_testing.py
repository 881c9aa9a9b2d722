"""Shared by the tests of the built program: loopback peers, a resolver of our own, the program in its own folder."""
import contextlib
import io
import itertools
import multiprocessing
import os
import pathlib
import pty
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BANNER = b"SSH-2.0-OpenSSH_9.2p1\r\n"
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t(.*)\r$")
_calls = itertools.count(1)


def private_address():
    """A loopback address of this process's own (127.x.y.z), for fixed ports such as 23, 25 or 53."""
    return f"127.{1 + os.getpid() // 250 % 250}.{1 + os.getpid() % 250}.{1 + next(_calls) % 250}"


class Port:
    """A TCP end: "open" accepts and closes, "refused" is bound but not listening, "blackholed" has backlog 0 and
    a full queue, so connects get no answer until its socket listens again; "banner" greets each connection with BANNER
    and keeps in `received` what each sent until it closed."""

    def __init__(self, kind="open", address="127.0.0.1", port=0):
        self.socket = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.bind((address, int(port)))
        self.port = self.socket.getsockname()[1]
        self.received = []
        if kind != "refused":
            self.socket.listen(0 if kind == "blackholed" else 16)
        self.held = socket.create_connection((address, self.port)) if kind == "blackholed" else None
        if kind == "banner":
            threading.Thread(target=self._greet, daemon=True).start()

    def _greet(self):
        with contextlib.suppress(OSError):  # until closed
            while True:
                peer, received = self.socket.accept()[0], b""
                with peer, contextlib.suppress(OSError):
                    peer.settimeout(5)
                    peer.sendall(BANNER)
                    while chunk := peer.recv(4096):
                        received += chunk
                self.received.append(received)

    def close(self):
        if self.held:
            self.held.close()
        self.socket.close()


def confine_resolver(hosts=""):
    """Look-ups of this process and its programs: the hosts lines given, else a silent name server on loopback."""
    silent, address = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), private_address()
    silent.bind((address, 53))
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    for target, content in (("/etc/resolv.conf", f"nameserver {address}\noptions timeout:2 attempts:1\n"),
                            ("/etc/hosts", "127.0.0.1 localhost\n::1 localhost ip6-localhost\n" + hosts)):
        with tempfile.NamedTemporaryFile("w", delete=False, prefix="ostrel-resolver-") as file:
            file.write(content)
        subprocess.run(["mount", "--bind", file.name, target], check=True)
    return silent


def hosts_only():
    """A command prefix: the program asks the hosts file alone, never a name server (a mount namespace of its own)."""
    return ["unshare", "--mount", "sh", "-c", 'f=$(mktemp) && echo "hosts: files" > "$f" && '
            'mount --bind "$f" /etc/nsswitch.conf && rm "$f" && exec "$@"', "sh"]


def headless(**extra):
    """The environment of a scheduled run: no display, no choice of exit status, unless given (None: not set)."""
    removed = ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "OSTREL_EXIT_STATUS", "OSTREL_LOG_DIR")
    return {k: v for k, v in {**os.environ, **extra}.items() if v is not None and (k in extra or k not in removed)}


class Program:
    """The built program copied into a temporary folder of its own, where its logs land."""

    def __init__(self, built, prefix=()):
        self.prefix = list(prefix)  # every run goes through it, e.g. hosts_only()
        self.folder = tempfile.mkdtemp(prefix="ostrel-run-")
        self.path = shutil.copy(built, self.folder)
        os.chmod(self.folder, 0o755)
        if os.path.basename(built) == "ostrel":
            shutil.copy(os.path.join(os.path.dirname(built), "ostrel-mail.so"), self.folder)

    def start(self, arguments, environment=None, stdout=subprocess.PIPE, cwd=None):
        """The started run, `arguments` split at blanks as a shell would; `out_pipe`: its stdout as /proc names it."""
        words = [w for w in arguments.split(" ") if w] if isinstance(arguments, str) else arguments
        process = subprocess.Popen(self.prefix + [self.path] + words, env=environment or headless(), stdout=stdout,
                                   stderr=subprocess.PIPE, text=True, cwd=cwd or tempfile.gettempdir())
        process.out_pipe = process.stdout and f"pipe:[{os.fstat(process.stdout.fileno()).st_ino}]"
        return process

    def run(self, arguments, environment=None, timeout=60, cwd=None, terminal=False):
        """The finished run: returncode, out, err, seconds; out what a person reads there when on a `terminal`."""
        start, shown = time.monotonic(), b""
        leader, follower = pty.openpty() if terminal else (None, subprocess.PIPE)
        process = self.start(arguments, environment, follower, cwd)
        if terminal:
            os.close(follower)
            with contextlib.suppress(OSError):  # until the terminal's other end has closed
                while select.select([leader], [], [], timeout)[0] and (chunk := os.read(leader, 4096)):
                    shown += chunk
            os.close(leader)
        try:
            process.out, process.err = process.communicate(timeout=timeout)
        finally:
            process.kill()  # a run that outlasts its timeout is not left behind
        process.out = shown.decode().replace("\r\n", "\n") if terminal else process.out
        process.seconds = time.monotonic() - start
        return process

    def log(self, name, folder=None):
        """The messages of a log, each line checked for its time stamp, tab and CR LF; None when there is none."""
        path = os.path.join(folder or self.folder, name)
        if not os.path.exists(path):
            return None
        lines = open(path, encoding="utf-8", newline="").read().split("\n")
        assert lines.pop() == "", f"{name} does not end in a line end"
        return [m.group(1) if (m := LINE.match(line)) else f"<malformed: {line!r}>" for line in lines]


def marker_script(folder, name="marker.sh", then=""):
    """A script that records in "<name>.marker" its arguments, its standard output, its working folder and what
    the environment tells it of the check; then prints "<path> output" and "<path> errors", and runs `then`."""
    path = os.path.join(folder, name)
    with open(path, "w") as file:
        file.write('#!/bin/sh\nm="$0.marker"\nprintf "%s\\n" "$(readlink /proc/$$/fd/1)" "$(pwd -P)" '
                   '"$OSTREL_DEVICE|$OSTREL_PORT|$OSTREL_RESULT" "$@" > "$m.partial" && mv "$m.partial" "$m"\n'
                   'echo "$0 output"\necho "$0 errors" >&2\n' + then)
    os.chmod(path, 0o755)
    os.chmod(folder, 0o777)
    return path


def until(done, seconds):
    """The first true value of done(), asked for `seconds`, else its last."""
    deadline = time.monotonic() + seconds
    while not (value := done()) and time.monotonic() < deadline:
        time.sleep(0.02)
    return value


def marker(script, wait=10.0):
    """(standard output, folder, check, [arguments]) once the script has run, None if it did not within `wait`."""
    path = pathlib.Path(script + ".marker")
    lines = until(lambda: path.exists() and path.read_text().split("\n")[:-1], wait) or None
    return lines and (lines[0], lines[1], lines[2], lines[3:])


def _run_one(name):
    report = io.StringIO()
    test = unittest.defaultTestLoader.loadTestsFromName(name, sys.modules["__main__"])
    return unittest.TextTestRunner(report, warnings="ignore").run(test).wasSuccessful(), report.getvalue()


def main_concurrently(*cases):
    """The tests named as arguments (Class.test_name), else all of the cases', six at once in processes of their own:
    they spend most of their time waiting for timeouts. Prints the failed tests' reports."""
    names = sys.argv[1:] or [f"{case.__name__}.{name}" for case in cases
                             for name in unittest.getTestCaseNames(case, "test")]
    with multiprocessing.get_context("fork").Pool(6) as pool:
        results = pool.map_async(_run_one, names, chunksize=1).get(240)
    print("".join(report for passed, report in results if not passed) + f"{len(names)} tests ran")
    sys.exit(not all(passed for passed, _ in results))
