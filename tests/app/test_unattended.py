#!/usr/bin/python3
"""The built program run as cron, a person at a terminal and a monitoring engine run it: no display, a calling
sequence, the logs in its folder. As root, under `unshare --mount`: test_unattended.py path/to/ostrel"""
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import (Port, Program, confine_resolver, headless, hosts_only, main_concurrently,  # noqa
                            marker, marker_script, private_address)

from aiosmtpd.controller import Controller  # noqa: E402

BUILT = sys.argv.pop(1)
FILESERVER, MAIL = private_address(), private_address()  # the help's example device and mail server
REJECTED = ["Port check not performed: Incorrect calling sequence.", "Type OSTREL /? for calling sequence help."]
UP, DOWN = "Port {port} on device {device} is available.", "Port {port} on device {device} is un-available."


class Unattended(unittest.TestCase):
    def setUp(self):
        self.program = Program(BUILT)
        self.folder = tempfile.mkdtemp(prefix="ostrel-script-")
        self.script = marker_script(self.folder)

    def check(self, sequence, kind="open", status=None, code=0, success=None, errors=None, err="", started=None):
        """One run against a listener of `kind` ("open ::1"); {port}, {device} and {script} stand for the listener's
        port, the device as typed and the marker script. Each log holds exactly the messages given (None: no file),
        standard error what is given and standard output nothing; `started`: the script's arguments, if it runs."""
        listener = Port(*kind.split())
        device = sequence.split(",")[0].strip()
        fill = lambda text: text.format(port=listener.port, device=device, script=self.script)
        for name in ("success.log", "error.log"):  # an earlier run's lines are gone first
            with open(os.path.join(self.program.folder, name), "w") as file:
                file.write("2026-01-01 00:00:00\told\r\n")
        environment = headless(**({"OSTREL_EXIT_STATUS": status} if status else {}))
        run = self.program.run(fill(sequence), environment)
        listener.close()
        # A command that shares our streams adds its own lines.
        shown = run.out.replace("marker output\n", ""), run.err.replace("marker errors\n", "")
        self.assertEqual((run.returncode, *shown), (code, "", fill(err)))
        for name, messages in (("success.log", success), ("error.log", errors)):
            self.assertEqual(self.program.log(name), messages and [fill(m) for m in messages], name)
        recorded = marker(self.script, 10 if started is not None else 0.3)
        self.assertEqual(recorded and recorded[3], started)
        if recorded:  # it works in our folder and knows the check
            os.remove(self.script + ".marker")
            self.assertEqual(recorded[1:3], (tempfile.gettempdir(), f"{device}|{fill(sequence).split(',')[1]}|"
                                             + ("available" if success else "un-available")))
        return run, recorded

    def test_outcome_and_exit_status(self):
        for status, kind, code in ((None, "refused", 0), ("1", "refused", 1), ("yes", "refused", 0), ("1", "open", 0)):
            with self.subTest(status=status, kind=kind):
                self.check("127.0.0.1,{port},5", kind, status, code, *([UP], None) if kind == "open" else (None, [DOWN]))
        self.check("127.0.0.1,{port}", status="1", code=2, errors=REJECTED,
                   err="ostrel: incorrect calling sequence: the timeout is missing (see ostrel --help)\n")

    def test_devices(self):
        """Names are looked up and every address is tried, IPv4 first; what is no host is un-available at once."""
        rows = (("localhost,{port},5", "open", [UP], None), ("[::1],{port},5", "open ::1", [UP], None),
                ("v6only.test,{port},5", "open ::1", [UP], None), ("::1,{port},1", "blackholed ::1", None, [DOWN]),
                ("both.test,{port},5", "open", [UP], None),  # ::1, where nothing listens, comes second
                ("refusing.test,{port},5", "open 127.0.0.2", [UP], None),  # 127.0.0.1 refuses, and comes first
                ("nohost.invalid,{port},5", "open", None, [DOWN]),
                # Dotted, but no address, and a name longer than DNS allows: never asking the silent resolver.
                ("999.1.1.1,{port},5", "open", None, [DOWN]),
                ("localhost" + "x" * 10000 + ",{port},5", "open", None, [DOWN]))
        for sequence, kind, success, errors in rows:
            with self.subTest(sequence[:30], kind=kind):
                run, _ = self.check(sequence, kind, success=success, errors=errors)
                self.assertLess(run.seconds, 1.5 if "blackholed" in kind else 2.5 if "nohost" in sequence else 0.5)

    def test_a_network_of_its_own(self):
        """Without a route the verdict comes at once, not after the timeout; a link-local address keeps its zone."""
        listen = "import socket,time; s=socket.socket(socket.AF_INET6); " \
                 "s.bind(socket.getaddrinfo('fe80::1%lo',4000)[0][4]); s.listen(); time.sleep(5)"
        devices = "192.0.2.55 2001:db8::55 fe80::1%lo [fe80::1%lo] fe80::1%1"
        script = (f"ip link set lo up && ip -6 addr add fe80::1/64 dev lo nodad && (/usr/bin/python3 -c \"{listen}\" "
                  f">/dev/null 2>&1 &) && sleep 0.5 && for d in {devices}; do {self.program.path} $d,4000,3; done")
        start = time.monotonic()
        run = subprocess.run(["unshare", "--net", "sh", "-c", script], env=headless(OSTREL_EXIT_STATUS="plugin"),
                             capture_output=True, text=True, timeout=30)
        self.assertLess(time.monotonic() - start, 3)
        lines = run.stdout.splitlines()
        self.assertEqual(lines[:2], ["TCP CRITICAL - No route to the device on 192.0.2.55 port 4000",
                                     "TCP CRITICAL - No route to the device on 2001:db8::55 port 4000"])
        self.assertEqual([line.split(" - ")[0] for line in lines[2:]], ["TCP OK"] * 3)

    def test_texts_as_typed(self):
        evil = "evil\r\n2026-01-01 00:00:00\tPort 22\x01\x7f\u2028on device 10.9.9.9 is available."
        shown = "evil  2026-01-01 00:00:00 Port 22   on device 10.9.9.9 is available."
        self.check(evil + ",{port},5,FAIL,/nonexistent/tool\r\nforged", "refused",
                   errors=["Port {port} on device " + shown + " is un-available.",
                           "Error executing specified command, /nonexistent/tool  forged"],
                   err="command: /nonexistent/tool  forged cannot be started: no such folder\n")
        # A number beyond its range is named so; one too small for a double is still above 0, a timeout of 1 s.
        for typed, said in (("5s,5", 'port "5s" is not a number'), ("70000,5", 'port "70000" is out of range'),
                            ("{port},soon", 'timeout "soon" is not a number'), ("{port},1e-400", None),
                            ("{port},32768", 'timeout "32768" is out of range')):
            with self.subTest(typed):
                self.check("127.0.0.1," + typed, "refused", "1", 1, err=f"ostrel: the {said}.\n" if said else "",
                           errors=[DOWN.replace("{port}", typed.split(",")[0])])
        # Over 128 KiB of device from two arguments: the command runs, told the first 64 KiB of it, on one line.
        word = "x\r\n" + "\u00e9" * 40000
        self.program.run([word, word + f",1\n,5,FAIL,{self.script}"])
        self.assertEqual(marker(self.script)[2], "x  " + "\u00e9" * 32766 + "|1 |un-available")

    def test_command(self):
        command = ",{script},\"two words\" plain"
        for trigger, kind, runs in (("FAIL", "refused", True), ("FAIL", "open", False), (" PASS", "open", True),
                                    ("PASS", "refused", False)):
            with self.subTest(trigger=trigger, kind=kind):
                up = kind == "open"
                run, recorded = self.check("127.0.0.1,{port},5," + trigger + command, kind,
                                           success=[UP] if up else None, errors=None if up else [DOWN],
                                           started=["two words", "plain"] if runs else None)
                if runs:  # it shares our output
                    self.assertEqual(recorded[0], run.out_pipe)
        self.check("127.0.0.1,{port},5,FAIL, /nonexistent/tool ,x", "refused", "1", 1,
                   errors=[DOWN, "Error executing specified command, /nonexistent/tool"],
                   err="command: /nonexistent/tool cannot be started: no such folder\n")
        empty = os.path.join(self.folder, "empty")
        os.close(os.open(empty, os.O_CREAT, 0o755))  # executable, but of no format the system can start
        self.check("127.0.0.1,{port},5,FAIL," + empty, "refused", errors=[DOWN, "Error executing specified command, "
                   + empty], err=f"command: {empty} cannot be started: Exec format error\n")
        # What a caller ignores (nohup, some schedulers) the command gets at its default.
        ignored = {number: signal.signal(number, signal.SIG_IGN)
                   for number in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM)}
        run = self.program.run("127.0.0.1,1,5,FAIL,/bin/grep,SigIgn /proc/self/status")
        for number, handler in ignored.items():
            signal.signal(number, handler)
        self.assertEqual(int(run.out.split()[1], 16) & (1 << 0 | 1 << 1 | 1 << 14), 0)  # signals 1, 2, 15 not ignored

    def test_programs_and_documents(self):
        """A bare name is found on PATH; no shell ever reads the fields; a document or folder goes to the desktop's
        application for its type (stand-ins for xdg-mime and xdg-open here), and only where there is one."""
        opener = marker_script(self.folder, "xdg-open")
        notes = os.path.join(self.folder, "notes.txt")
        open(notes, "w").close()
        shell = "a;b $(touch {folder}/X) `touch {folder}/X` | touch {folder}/X".format(folder=self.folder)
        rows = (("marker.sh", shell, "", None, shell.split(" ")), ("{script}; touch " + self.folder + "/X /S", "", "",
                                                                     "no such folder", None),
                (notes + " /s", "x", "", None, [notes]), (self.folder, "x", "", None, [self.folder]),
                (notes, "", "no display", "no application opens this file here", None),
                (notes, "", "no application", "no application opens this file here", None),
                (notes, "", "hangs", "no application opens this file here", None),
                (notes, "", "fails", "no application opens this file here", None),
                (notes, "", "tools only in the current folder", "no application opens this file here", None))
        with open(os.path.join(self.folder, "xdg-mime"), "w") as file:  # answers as $DESKTOP says
            file.write('#!/bin/sh\n[ "$DESKTOP" = hangs ] && exec sleep 60\ncase "$1 $2" in "query filetype") echo '
                       '"text/plain; charset=us-ascii" ;;\n"query default") [ "$DESKTOP" = "no application" ] || '
                       'echo viewer.desktop ;; esac\n[ "$DESKTOP" != fails ]\n')
        os.chmod(os.path.join(self.folder, "xdg-mime"), 0o755)
        for command, argument, setup, refused, started in rows:
            with self.subTest(command=command, setup=setup):
                here = setup == "tools only in the current folder"
                environment = headless(PATH="/nonexistent" if here else self.folder + ":/usr/bin:/bin", DESKTOP=setup)
                if setup != "no display":
                    environment["DISPLAY"] = ":99"
                listener = Port("refused")
                run = self.program.run(f"127.0.0.1,{listener.port},5,FAIL,{command.format(script=self.script)}"
                                       + (f",{argument}" if argument else ""), environment, cwd=here and self.folder)
                self.assertEqual(run.err.replace("marker errors\n", ""), "" if not refused else
                                 f"command: {command.format(script=self.script)} cannot be started: {refused}\n")
                script = opener if command.startswith(self.folder) else self.script
                recorded = marker(script, 10 if started else 0.3)
                self.assertEqual(recorded and recorded[3], started)
                if recorded:
                    self.assertEqual(recorded[0] == "/dev/null", command.endswith("/s"))
                    os.remove(script + ".marker")
                self.assertFalse(os.path.exists(os.path.join(self.folder, "X")))
                listener.close()

    def test_help_as_read(self):
        """--help as a person reads it: this system's command and paths, the variables, the folder the logs then go
        to; and each example, copied from its text, does what its caption says, none loading Qt (the mail libcurl)."""
        text, logger, received = self.program.run("--help").out, marker_script(self.folder, "logger"), []
        words = ("c:\\", "OSTREL ", "OSTREL_EXIT_STATUS=1", "OSTREL_LOG_DIR", "OSTREL_MAIL_FROM")
        self.assertEqual([word for word in words if word in text], list(words[2:]))
        examples = re.findall(r"^  (?:OSTREL_EXIT_STATUS=(\w+) )?ostrel (fileserver1.*)$", text, re.M)
        self.assertEqual([status for status, _ in examples], ["", "", "", "plugin"])

        class Recorder:
            async def handle_DATA(self, server, session, envelope):
                received.append(envelope.rcpt_tos)
                return "250 OK"

        mail = Controller(Recorder(), hostname=MAIL, port=25)
        mail.start()
        for status, sequence in examples:
            with self.subTest(sequence):
                listener, trace = Port("refused" if "FAIL" in sequence else "open", FILESERVER, 22), self.folder + "/t"
                run = self.program.run(sequence.split(" "), headless(
                    PATH=f"{self.folder}:/usr/bin:/bin", LD_DEBUG="files", LD_DEBUG_OUTPUT=trace,
                    **({"OSTREL_EXIT_STATUS": status} if status else {})))
                listener.close()
                files, mailing = open(f"{trace}.{run.pid}").read(), "mail.example.com" in sequence
                self.assertEqual(("ostrel-mail.so" in files, "libcurl" in files, "libQt6" in files), (mailing, mailing, False))
                self.assertEqual(run.err.replace("marker errors\n", ""), "")
                if status:
                    self.assertRegex(run.out, r"^TCP OK - .* on fileserver1 port 22\|")
                elif "FAIL" not in sequence:  # the logs are in the folder the help names
                    self.assertIn(f"\n  {self.program.folder}\n", text)
                    self.assertEqual(self.program.log("success.log"), ["Port 22 on device fileserver1 is available."])
        mail.stop()
        self.assertEqual((marker(logger)[3], received),
                         (examples[1][1].split(",")[-1].split(" "), [["admin@example.com"]]))

    def test_help_and_version(self):
        usage = "Use the following calling sequence..."
        for arguments, first in (("/?", usage), ("127.0.0.1,23,15,FAIL,tool/?", usage), ("--help", "Usage: ostrel "),
                                 ("-h", "Usage: ostrel "), ("--version", "ostrel 1.0.0"), ("-V", "ostrel 1.0.0")):
            with self.subTest(arguments):
                run = self.program.run(arguments, headless(OSTREL_EXIT_STATUS="plugin"))
                self.assertEqual((run.returncode, run.out.split("\n")[0][:len(first)], run.err), (0, first, ""))
                self.assertEqual(self.program.log("error.log"), None)

    def test_terminal(self):
        """On a terminal the result line comes with its cause; in a pipe or from cron nothing is printed."""
        rows = (("127.0.0.1,{port},5", "open", "{UP}"), ("127.0.0.1,{port},5", "refused", "{DOWN} Connection refused."),
                ("127.0.0.1,{port},0.4", "blackholed", "{DOWN} No answer within 1 s."),
                ("nohost.invalid,{port},1", "open", "{DOWN} The name could not be looked up."),
                ("127.0.0.1,x{port},1", "open", 'Port x{port} on device {device} is un-available. The port "x{port}" '
                                               'is not a number.'),
                ("127.0.0.1,0,1", "open", "Port 0 on device {device} is un-available. Port 0 cannot be connected to."))
        for sequence, kind, line in rows:
            with self.subTest(kind=kind, sequence=sequence):
                listener = Port(kind)
                run = self.program.run_on_terminal(sequence.format(port=listener.port))
                device = sequence.split(",")[0]
                expected = line.replace("{UP}", UP).replace("{DOWN}", DOWN).format(port=listener.port, device=device)
                self.assertEqual(run.out, expected + "\n")
                self.assertEqual(self.program.run(sequence.format(port=listener.port)).out, "")
                listener.close()

    def test_plugin(self):
        """One line for the engine, terminal or not, its state the exit status; logs only where OSTREL_LOG_DIR says;
        follow-ups that take their time (a command that sleeps, a mail server that never greets) never hold the
        engine's pipes, which communicate() reads to their end."""
        sleeper, mail, logs = os.path.join(self.folder, "sleeper.sh"), Port(), tempfile.mkdtemp()
        with open(sleeper, "w") as file:
            file.write('#!/bin/sh\nprintf "%s\\n" "$(readlink /proc/$$/fd/1)" - - > "$0.marker"\nsleep 5\n')
        os.chmod(sleeper, 0o755)
        ok = r"TCP OK - 0\.\d{{3}} second response time on 127\.0\.0\.1 port {port}\|time=0\.\d{{6}}s;;;0\.000000;"
        refused = r"TCP CRITICAL - Connection refused on 127\.0\.0\.1 port {port}"
        rows = (("127.0.0.1,{port},0,PASS,{script},x", "open", {}, 0, ok + r"15\.000000"),  # 0: the 15 s it waits
                ("127.0.0.1,{port},5,FAIL," + sleeper, "refused", {}, 2, refused),
                ("127.0.0.1," + "0" * 300 + "{port},5", "open", {}, 0,  # the port's text cut, never the figures
                 ok.replace("port {port}", r"port 0{{100}}\.\.\.") + r"5\.000000"),
                ("silent.test,{port},5", "open", {}, 3, r"TCP UNKNOWN - The name could not be looked up on silent\.test "
                 "port {port}"),
                ("nohost.test,{port},5", "open", hosts_only(), 2, r"TCP CRITICAL - No such host on nohost\.test port {port}"),
                (f"127.0.0.1,{{port}},5,FAIL,,,127.0.0.1:{mail.port},ops@example.com", "refused",
                 {"OSTREL_LOG_DIR": logs}, 2, refused))
        for sequence, kind, extra, code, line in rows:
            with self.subTest(sequence[:40], kind=kind):
                listener = Port(kind)
                hosts = isinstance(extra, list)
                environment = headless(OSTREL_EXIT_STATUS="plugin", **({} if hosts else extra))
                run = (Program(BUILT, extra) if hosts else self.program).run(
                    sequence.format(port=listener.port, script=self.script), environment)
                listener.close()
                self.assertEqual((run.returncode, run.err), (code, ""))
                self.assertRegex(run.out, "^" + line.format(port=listener.port) + "\n$")
                self.assertLess(run.seconds, 3 if "silent" in sequence else 1)
                self.assertEqual(sorted(os.listdir(self.program.folder)), ["ostrel", "ostrel-mail.so"])
                self.assertEqual(self.program.log("error.log", logs), ["Port {listener.port} on device 127.0.0.1 is "
                                 "un-available.".format(listener=listener)] if "OSTREL_LOG_DIR" in extra else None)
        # The commands ran with their streams on the null device, the sleeper too; the mail was on its way.
        self.assertEqual((marker(self.script)[0], marker(sleeper)[0]), ("/dev/null", "/dev/null"))
        mail.socket.settimeout(5)
        mail.socket.accept()[0].close()
        mail.close()
        run = self.program.run_on_terminal(f"127.0.0.1,{mail.port},5", headless(OSTREL_EXIT_STATUS="plugin"))
        self.assertEqual((run.returncode, run.out), (2, f"TCP CRITICAL - Connection refused on 127.0.0.1 port {mail.port}\n"))

    def test_logs_that_cannot_be_written(self):
        """A folder that cannot be written costs a standard-error line for each log and nothing else: the hidden
        command still starts."""
        os.chmod(self.program.folder, 0o555)
        run = self.program.run(f"127.0.0.1,1,5,FAIL,{self.script} /s,x", as_nobody=True)
        os.chmod(self.program.folder, 0o755)
        self.assertEqual(run.err, f"ostrel: cannot write {self.program.folder}/error.log: Permission denied\n")
        self.assertEqual(marker(self.script)[::3], ("/dev/null", ["x"]))


class Logs(unittest.TestCase):
    """The logs in a folder that several runs share, in a full file system and across a kill; started as a daemon may
    start it, with no standard input at all."""

    def setUp(self):
        self.program = Program(BUILT, ["sh", "-c", 'exec "$@" <&-', "sh"])

    def test_overlapping_runs_keep_lines_whole(self):
        """Runs that wait on the same port write their lines in the same instant, each of another length; lines
        may be lost to another run's start-of-run delete, but every line there is whole."""
        for opens in (True, False, True, False):
            listener = Port("blackholed")
            typed = ["0" * i + str(listener.port) for i in range(4)]
            runs = [self.program.start(f"127.0.0.1,{port},{5 if opens else 1}") for port in typed]
            if opens:
                time.sleep(0.3)
                listener.answer()
            for run in runs:
                run.communicate(timeout=15)
            written = self.program.log("success.log" if opens else "error.log")
            self.assertTrue(written and len(written) <= (1 if opens else 4), written)
            outcome = "available" if opens else "un-available"
            for message in written:
                self.assertIn(message, [f"Port {port} on device 127.0.0.1 is {outcome}." for port in typed])
            listener.close()

    def test_planted_logs_while_waiting(self):
        """Planted after the start-of-run delete, while the run waits: a link's target is never written, nothing
        goes into a FIFO, a lock held for good only delays the line, and the run ends on time."""
        secret = os.path.join(tempfile.mkdtemp(), "secret")
        for opens, planted in ((True, ("link", "fifo")), (False, ("fifo", "link")), (False, ("folder", "hard link")),
                               (False, ("folder", "locked file"))):
            with self.subTest(opens=opens, planted=planted):
                with open(secret, "w") as file:
                    file.write("secret\n")
                listener = Port("blackholed")
                paths = [os.path.join(self.program.folder, name) for name in ("success.log", "error.log")]
                for path in paths:  # links of an earlier attempt are removed at the start, never their target
                    os.symlink(secret, path)
                run = self.program.start(f"127.0.0.1,{listener.port},{2 if opens else 1}")
                deadline = time.monotonic() + 5
                while any(os.path.lexists(path) for path in paths):
                    self.assertLess(time.monotonic(), deadline, "the start-of-run delete did not happen")
                    time.sleep(0.01)
                readers, held = [], []
                for path, what in zip(paths, planted):
                    if what == "link":
                        os.symlink(secret, path)
                    elif what == "hard link":
                        os.link(secret, path)
                    elif what == "folder":
                        os.mkdir(path)
                    elif what == "locked file":  # held for good by someone who may only read it
                        held.append(os.open(path, os.O_RDONLY | os.O_CREAT, 0o644))
                        fcntl.flock(held[-1], fcntl.LOCK_EX)
                    else:
                        os.mkfifo(path)
                        readers.append(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
                if opens:
                    listener.answer()
                err = run.communicate(timeout=10)[1]
                with open(secret) as file:
                    self.assertEqual(file.read(), "secret\n")
                for reader in readers:
                    self.assertEqual(os.read(reader, 1), b"")
                    os.close(reader)
                if opens or planted[1] == "locked file":  # success.log is replaced, never followed; a lock only delays
                    outcome = "available" if opens else "un-available"
                    self.assertEqual(self.program.log("success.log" if opens else "error.log"),
                                     [f"Port {listener.port} on device 127.0.0.1 is {outcome}."])
                else:  # nothing went into the link, FIFO or hard link in error.log's place
                    self.assertEqual(err, f"ostrel: cannot write {paths[1]}: "
                                     + ("it is not a plain file of its own\n" if planted[1] != "link"
                                        else "a link stands in its place\n"))
                for path in paths:
                    os.remove(path) if not os.path.isdir(path) else os.rmdir(path)
                for reader in held:
                    os.close(reader)
                listener.close()

    def test_log_folders(self):
        """A log folder that someone besides root and the runner could change is refused with one line, and nothing
        another user's link leads to changes; root's link is followed. Folders are made 0755 and logs 0644 whatever
        the umask; one that cannot be made, however deep, is not left half made."""
        self.addCleanup(os.umask, os.umask(0))
        base = tempfile.mkdtemp()
        target, made = os.path.join(base, "target"), os.path.join(base, "made")
        os.mkdir(target)
        open(os.path.join(target, "error.log"), "w").write("kept\n")
        os.symlink("made", os.path.join(base, "link"))
        shared, planted = " may be written by others", "/logs is a link of another user"
        for name, mode, owner, group, said in (("theirs", 0o755, 65534, 65534, " belongs to another user"),
                                               ("others", 0o757, 0, 0, shared), ("group", 0o775, 0, 65534, shared),
                                               ("sticky", 0o1777, 0, 0, planted), ("rootgroup", 0o775, 0, 0, planted),
                                               ("link", 0, 0, 0, None)):
            if mode:  # with a link to the target planted by another user
                folder = os.path.join(base, name)
                os.mkdir(folder)
                os.chmod(folder, mode)
                os.chown(folder, owner, group)
                os.symlink(target, folder + "/logs")
                os.lchown(folder + "/logs", 65534, 65534)
            run = self.program.run("127.0.0.1,1,5", headless(OSTREL_LOG_DIR=name + "/logs"), cwd=base)
            self.assertEqual(run.err, f"ostrel: log folder {name}/logs refused: {base}/{name}{said}\n" if said else "")
        for folder in (base + "/deep" + "/a" * 10000, os.path.join(base, "half", "n" * 300)):  # within a memory bound
            run = self.program.start("127.0.0.1,1,5", headless(OSTREL_LOG_DIR=folder))
            self.assertEqual(run.stderr.read(), f"ostrel: cannot write {folder}/error.log: File name too long\n")
            self.assertLess(os.wait4(run.pid, 0)[2].ru_maxrss, 40000)
        self.assertEqual(open(os.path.join(target, "error.log")).read(), "kept\n")
        self.assertFalse(os.path.lexists(base + "/deep") or os.path.lexists(base + "/half"))
        logs = os.path.join(made, "logs")
        self.assertEqual([oct(os.stat(path).st_mode & 0o777) for path in (made, logs, logs + "/error.log")],
                         ["0o755", "0o755", "0o644"])

    def test_full_disk(self):
        """With one page left, a line is written whole or not at all, and the run says so."""
        folder = tempfile.mkdtemp()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder], check=True)
        try:
            filler = os.open(os.path.join(folder, "filler"), os.O_CREAT | os.O_WRONLY)
            os.posix_fallocate(filler, 0, 65536 - 4096)
            os.close(filler)
            long = "d" * 3000
            runs = [self.program.start(f"{long},1,5,FAIL,/nonexistent/{long}", headless(OSTREL_LOG_DIR=folder))
                    for _ in range(2)]
            errors = "".join(run.communicate(timeout=10)[1] for run in runs)
            written = self.program.log("error.log", folder)
            self.assertTrue(all(not m.startswith("<malformed") for m in written), written)
            self.assertIn("(the line was lost)", errors)
        finally:
            subprocess.run(["umount", folder], check=True)

    def test_run_killed_at_the_rename(self):
        """A run killed between writing its temporary success log and renaming it: the next run removes the file."""
        listener = Port()
        run = self.program.start(f"127.0.0.1,{listener.port},5", headless(OSTREL_TEST_STOP_BEFORE_RENAME="1"))
        stat = f"/proc/{run.pid}/stat"
        for _ in range(200):
            if open(stat).read().split(") ")[1].startswith("T"):
                break
            time.sleep(0.02)
        run.send_signal(signal.SIGKILL)
        run.wait()
        left = [name for name in os.listdir(self.program.folder) if name.startswith(".success.log.")]
        self.assertEqual(len(left), 1)
        self.program.run(f"127.0.0.1,{listener.port},5")
        self.assertEqual([name for name in os.listdir(self.program.folder) if name.startswith(".")], [])
        listener.close()


if __name__ == "__main__":
    # This host's own name too, which a mail's sender asks for.
    resolver = confine_resolver(f"::1 v6only.test\n{FILESERVER} fileserver1\n{MAIL} mail.example.com\n127.0.0.1 "
                                f"both.test refusing.test {os.uname().nodename}\n::1 both.test\n127.0.0.2 refusing.test\n")
    main_concurrently(Unattended, Logs)
