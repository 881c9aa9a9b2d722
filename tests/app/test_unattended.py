#!/usr/bin/python3
"""The built program run as cron, a person at a terminal and a monitoring engine run it: no display, a calling
sequence, the logs in its folder. As root, under `unshare --mount`: test_unattended.py path/to/ostrel [Class.test]"""
import fcntl
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import types
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import (Port, Program, confine_resolver, headless, main_concurrently, marker,  # noqa
                            marker_script, private_address, until)

from aiosmtpd.controller import Controller  # noqa: E402

BUILT, MODULES = sys.argv.pop(1), sys.argv.pop(1)  # the program, and where its modules are to be installed
FILESERVER, MAIL = private_address(), private_address()  # the help's example device and mail server
REJECTED = ["Port check not performed: Incorrect calling sequence.", "Type OSTREL /? for calling sequence help."]
UP, DOWN = "Port {port} on device {device} is available.", "Port {port} on device {device} is un-available."


class Unattended(unittest.TestCase):
    def setUp(self):
        self.program, self.folder = Program(BUILT), tempfile.mkdtemp(prefix="ostrel-script-")
        self.script = marker_script(self.folder)

    def check(self, sequence, kind="open", status=None, code=0, success=None, errors=None, err="", started=None,
              out="", within=10, terminal=False, program=None, cwd=None, script=None, hidden=False, **env):
        """One run of `program` (ours) against a listener of `kind` ("open ::1"), ended `within` seconds; {port},
        {device}, {script}: its port, the device as typed, the marker script. Each log holds the messages given (None:
        no file, ["old"]: untouched), stderr and stdout what is given; `started`: the arguments `script` got, if run."""
        program, script = program or self.program, script or self.script
        listener, device = Port(*kind.split()), sequence.split(",")[0].strip()
        fill = lambda text: text.format(port=listener.port, device=device, script=self.script)
        for name in ("success.log", "error.log"):
            pathlib.Path(program.folder, name).write_text("2026-01-01 00:00:00\told\r\n")
        run = program.run(fill(sequence), headless(OSTREL_EXIT_STATUS=status, **env), within, cwd, terminal)
        listener.close()
        # A command that shares our streams adds its own lines; a response time's digits are shown as #.
        shown = re.sub(r"(?<=[ =]0\.)\d+", lambda n: "#" * len(n[0]), run.out.replace(script + " output\n", ""))
        said = run.err.replace(script + " errors\n", "")
        self.assertEqual((run.returncode, shown, said), (code, fill(out), fill(err)))
        for name, messages in (("success.log", success), ("error.log", errors)):
            self.assertEqual(program.log(name), messages and [fill(m) for m in messages], name)
        recorded = marker(script, 10 if started is not None else 0.3 * (sequence.count(",") > 3))  # a command given
        self.assertEqual(recorded and recorded[3], started)
        if recorded:  # it shares our output unless hidden, works in our folder and knows the check
            os.remove(script + ".marker")
            checked = f"{device}|{fill(sequence).split(',')[1]}|" + ("available" if success else "un-available")
            self.assertEqual(recorded[:3], ("/dev/null" if hidden else run.out_pipe, tempfile.gettempdir(), checked))
        return run

    def test_outcomes(self):
        """Every address of a name is tried; what cannot be checked is un-available at once, never asking the silent
        resolver. OSTREL_EXIT_STATUS=1: 0 available, 1 not, 2 rejected; other values 0; "plugin": UNKNOWN unchecked."""
        rows = (("localhost,{port},5", "open", "1", 0, [UP], None), ("[::1],{port},5", "open ::1", None, 0, [UP], None),
                ("v6only.test,{port},5", "open ::1", "yes", 0, [UP], None),
                ("::1,{port},1", "blackholed ::1", "1", 1, None, [DOWN]),
                ("refusing.test,{port},5", "open 127.0.0.2", None, 0, [UP], None),  # 127.0.0.1 refuses, and comes first
                ("999.1.1.1,{port},5", "open", "yes", 0, None, [DOWN]),
                ("localhost" + "x" * 10000 + ",{port},5", "open", None, 0, None, [DOWN]),
                ("127.0.0.1,5e,5", "refused", "plugin", 3, ["old"], ["old"], 'ostrel: the port "5e" is not a number.\n',
                 None, 'TCP UNKNOWN - The port "5e" is not a number\n'),
                ("127.0.0.1,{port},32768", "refused", "1", 1, None, [DOWN],
                 'ostrel: the timeout "32768" is out of range.\n'),
                ("127.0.0.1,{port}", "open", "1", 2, None, REJECTED,
                 "ostrel: incorrect calling sequence: the timeout is missing (see ostrel --help)\n"),
                ("127.0.0.1,{port},5,", "open", "plugin", 3, ["old"], ["old"], "ostrel: incorrect calling sequence: a "
                 "comma ends the sequence after the timeout (see ostrel --help)\n", None,
                 "TCP UNKNOWN - Incorrect calling sequence: a comma ends the sequence after the timeout\n"))
        for sequence, kind, *expected in rows:
            with self.subTest(sequence[:30], kind=kind):
                self.check(sequence, kind, *expected, within=1.5 if "blackholed" in kind else 0.5)

    def test_a_network_of_its_own(self):
        """Without a route the verdict comes at once, not after the timeout; a link-local address keeps its zone."""
        network = Program(BUILT, ["unshare", "--net", "sh", "-c", "ip link set lo up && ip -6 addr add fe80::1/64 "
                                  "dev lo nodad && (timeout 5 nc -lk fe80::1%lo 4000 </dev/null >/dev/null 2>&1 &) && "
                                  "sleep 0.5 && for d in 192.0.2.55 2001:db8::55 fe80::2 fe80::1%lo [fe80::1%lo] "
                                  "fe80::1%1; do $1 $d,4000,3; done", "sh"])
        run = network.run([], headless(OSTREL_EXIT_STATUS="plugin"))
        self.assertLess(run.seconds, 3)
        self.assertEqual(run.out.splitlines()[:3], ["TCP CRITICAL - No route to the device on 192.0.2.55 port 4000",
                                     "TCP CRITICAL - No route to the device on 2001:db8::55 port 4000",
                                     "TCP CRITICAL - Invalid argument on fe80::2 port 4000"])  # which link?
        self.assertEqual([line.split(" - ")[0] for line in run.out.splitlines()[3:]], ["TCP OK"] * 3)

    def test_texts_as_typed(self):
        """Control characters typed become blanks in the logs, on standard error and for the command."""
        evil = "evil\r\n2026-01-01 00:00:00\tPort 22\x01\x7f\u2028on device 10.9.9.9 is available."
        shown = "evil  2026-01-01 00:00:00 Port 22   on device 10.9.9.9 is available."
        self.check(evil + ",{port},5,FAIL,/nonexistent/tool\r\nforged", "refused",
                   errors=["Port {port} on device " + shown + " is un-available.",
                           "Error executing specified command, /nonexistent/tool  forged"],
                   err="command: /nonexistent/tool  forged cannot be started: no such folder\n")
        # Over 128 KiB of device from two arguments: the command runs, told the first 64 KiB of it, on one line.
        word = "x\r\n" + "\u00e9" * 40000
        self.program.run([word, word + f",1\n,5,FAIL,{self.script}"])
        self.assertEqual(marker(self.script)[2], "x  " + "\u00e9" * 32766 + "|1 |un-available")

    def test_command(self):
        """Started when the trigger matches, with its argument field's words; signals our caller ignored at default."""
        for trigger, kind, runs in (("FAIL", "refused", True), ("FAIL", "open", False), (" PASS", "open", True),
                                    ("PASS", "refused", False)):
            with self.subTest(trigger=trigger, kind=kind):
                self.check("127.0.0.1,{port},5," + trigger + ",{script},\"two words\" plain", kind, None, 0,
                           *([UP], None) if kind == "open" else (None, [DOWN]),
                           started=["two words", "plain"] if runs else None)
        empty = os.path.join(self.folder, "empty")
        os.close(os.open(empty, os.O_CREAT, 0o755))  # executable, but of no format the system can start
        self.check("127.0.0.1,{port},5,FAIL," + empty, "refused", errors=[DOWN, "Error executing specified command, "
                   + empty], err=f"command: {empty} cannot be started: Exec format error\n")
        nohup = Program(BUILT, ["sh", "-c", "trap '' HUP INT TERM && exec \"$@\"", "sh"])  # ignoring as nohup does
        run = nohup.run("127.0.0.1,1,5,FAIL,/bin/grep,SigIgn /proc/self/status")
        self.assertEqual(int(run.out.split()[1], 16) & (1 << 0 | 1 << 1 | 1 << 14), 0)  # signals 1, 2, 15 not ignored

    def test_programs_and_documents(self):
        """A bare name is found on PATH; no shell reads the fields; a document or folder goes to the application the
        desktop (stand-ins for xdg-mime and xdg-open) has for its type, and only where there is one."""
        opener, notes = marker_script(self.folder, "xdg-open"), os.path.join(self.folder, "notes.txt")
        open(notes, "w").close()
        shell = "a;b $(touch {folder}/X) `touch {folder}/X` | touch {folder}/X".format(folder=self.folder)
        pathlib.Path(self.folder, "xdg-mime").write_text(  # answers as $DESKTOP says
            '#!/bin/sh\n[ "$DESKTOP" = hangs ] && exec sleep 60\ncase "$1 $2" in "query filetype") echo '
            '"text/plain; charset=us-ascii" ;;\n"query default") [ "$DESKTOP" = "no application" ] || '
            'echo viewer.desktop ;; esac\n[ "$DESKTOP" != fails ]\n')
        os.chmod(os.path.join(self.folder, "xdg-mime"), 0o755)
        rows = (("marker.sh", shell, "", None, shell.split(" ")), ("absent", "", "", "no such file", None),
                ("{script}; touch " + self.folder + "/X /S", "", "", "no such folder", None),
                (notes + " /s", "x", "", None, [notes]), (self.folder, "x", "", None, [self.folder]),
                *((notes, "", setup, "no application opens this file here", None) for setup in (
                    "no display", "no application", "hangs", "fails", "tools only in the current folder")))
        for command, argument, setup, refused, started in rows:
            with self.subTest(command=command, setup=setup):
                here = setup == "tools only in the current folder"
                self.check("127.0.0.1,{port},5,FAIL," + command + (argument and "," + argument), "refused",
                           errors=[DOWN] + [f"Error executing specified command, {command}"] * bool(refused),
                           err=f"command: {command} cannot be started: {refused}\n" if refused else "", started=started,
                           cwd=here and self.folder, script=opener if command.startswith(self.folder) else None,
                           hidden=command.endswith("/s"), DISPLAY=None if setup == "no display" else ":99",
                           DESKTOP=setup, PATH="/nonexistent" if here else self.folder + ":/usr/bin:/bin")
                self.assertFalse(os.path.exists(os.path.join(self.folder, "X")))

    def test_help(self):
        """/?, --help, --version: exit status 0, no log. --help as read: this system's command, paths, variables and log
        folder; each example, copied from its text, does what its caption says, none loading Qt (the mail libcurl)."""
        usage = "Use the following calling sequence..."
        for arguments, first in (("/?", usage), ("127.0.0.1,23,15,FAIL,tool/?", usage), ("--help", "Usage: ostrel "),
                                 ("-h", "Usage: ostrel "), ("--version", "ostrel 1.0.0"), ("-V", "ostrel 1.0.0")):
            with self.subTest(arguments):
                run = self.program.run(arguments, headless(OSTREL_EXIT_STATUS="plugin"))
                self.assertEqual((run.returncode, run.out.split("\n")[0][:len(first)], run.err,
                                  self.program.log("error.log")), (0, first, "", None))
        text, received = self.program.run("--help").out, []
        words = ("c:\\", "OSTREL ", "OSTREL_EXIT_STATUS=1", "OSTREL_LOG_DIR", "OSTREL_MAIL_FROM")
        self.assertEqual([word for word in words if word in text], list(words[2:]))
        self.assertIn(f"\n  {self.program.folder}\n", text)  # the logs go there (the first example's)
        examples = re.findall(r"^  (?:OSTREL_EXIT_STATUS=(\w+) )?ostrel (fileserver1.*)$", text, re.M)
        self.assertEqual([status for status, _ in examples], ["", "", "", "plugin"])
        self.script = marker_script(self.folder, "logger")
        expected = (([UP], None, None, ""), (None, [DOWN], examples[1][1].split(",")[-1].split(" "), ""),
                    (None, [DOWN], None, ""), (["old"], ["old"], None, "TCP OK - 0.### second response time on "
                                               "fileserver1 port 22|time=0.######s;;;0.000000;5.000000\n"))

        async def recorded(server, session, envelope):
            received.append(envelope.rcpt_tos)
            return "250 OK"

        mail = Controller(types.SimpleNamespace(handle_DATA=recorded), hostname=MAIL, port=25)
        mail.start()
        for (status, sequence), (success, errors, started, out) in zip(examples, expected):
            with self.subTest(sequence):
                run = self.check(sequence, ("refused " if "FAIL" in sequence else "open ") + FILESERVER + " 22",
                                 status or None, 0, success, errors, started=started, out=out, LD_DEBUG="files",
                                 LD_DEBUG_OUTPUT=self.folder + "/t", PATH=f"{self.folder}:/usr/bin:/bin")
                files, mailing = open(f"{self.folder}/t.{run.pid}").read(), "mail.example.com" in sequence
                self.assertEqual([library in files for library in ("ostrel-mail.so", "libcurl", "libQt6")],
                                 [mailing, mailing, False])
        mail.stop()
        self.assertEqual(received, [["admin@example.com"]])

    def test_terminal(self):
        """On a terminal the result line comes with its cause, an engine's line alone (in a pipe nothing: check())."""
        self.check("127.0.0.1,{port},5", success=[UP], out=UP + "\n", terminal=True)
        self.check("127.0.0.1,{port},0.4", "blackholed", errors=[DOWN], out=DOWN + " No answer within 1 s.\n",
                   terminal=True)
        zero = "Port 0 on device 127.0.0.1 is un-available."
        self.check("127.0.0.1,0,1", errors=[zero], out=zero + " Port 0 cannot be connected to.\n", terminal=True)
        self.check("127.0.0.1,{port},5", "refused", "plugin", 2, ["old"], ["old"], terminal=True,
                   out="TCP CRITICAL - Connection refused on 127.0.0.1 port {port}\n")

    def test_plugin(self):
        """One line for the engine, its state the exit status; logs only in OSTREL_LOG_DIR; slow follow-ups never hold
        the pipes communicate() reads to their end. A port's text is cut, not the figures; timeout 0 waits 15 s."""
        sleeper, mail, logged = marker_script(self.folder, "sleeper.sh", "sleep 5\n"), Port(), Program(BUILT)
        old, at = ["old"], " on {device} port {port}\n"
        self.check("127.0.0.1," + "0" * 300 + "{port},0,PASS," + sleeper + ",x", "open", "plugin", 0, old, old,
                   out="TCP OK - 0.### second response time on 127.0.0.1 port " + "0" * 100
                   + "...|time=0.######s;;;0.000000;15.000000\n", within=1)
        self.check("silent.test,{port},5", "open", "plugin", 3, old, old,
                   out="TCP UNKNOWN - The name could not be looked up" + at, within=3)
        self.check(f"127.0.0.1,{{port}},5,FAIL,,,127.0.0.1:{mail.port},ops@example.com", "refused", "plugin", 2, None,
                   [DOWN], out="TCP CRITICAL - Connection refused" + at, within=1, program=logged,
                   OSTREL_LOG_DIR=logged.folder)
        # The command ran with its streams on the null device; the mail was on its way.
        self.assertEqual(marker(sleeper)[::3], ("/dev/null", ["x"]))
        mail.socket.settimeout(5)
        mail.socket.accept()[0].close()
        mail.close()

    def test_logs_that_cannot_be_written(self):
        """An unwritable folder costs a standard-error line for each log and nothing else: the command still starts."""
        program = Program(BUILT, ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"])
        os.chmod(program.folder, 0o555)
        run = program.run(f"127.0.0.1,1,5,FAIL,{self.script} /s,x")
        self.assertEqual(run.err, f"ostrel: cannot write {program.folder}/error.log: Permission denied\n")
        self.assertEqual(marker(self.script)[::3], ("/dev/null", ["x"]))

    def test_modules_where_installed(self):
        """A lone copy mails via the installed module; without /proc it logs in its state folder, loads none here."""
        stage, home = tempfile.mkdtemp(), tempfile.mkdtemp()
        os.renames(os.path.join(self.program.folder, "ostrel-mail.so"),
                   os.path.join(stage, os.path.basename(MODULES), "ostrel-mail.so"))
        subprocess.run(["gcc", "-shared", "-fPIC", "-x", "c", "-o", os.path.join(self.folder, "ostrel-mail.so"), "-"],
                       check=True, text=True, input='#include <fcntl.h>\n__attribute__((constructor)) static void '
                       f'f(void) {{ creat("{self.folder}/loaded", 0644); }}\n')
        refused, state = "mail: Connection refused (127.0.0.1:1)\n", home + "/.local/state/ostrel"
        for no_proc, said, logs in (("", refused, self.program.folder), ("1", "ostrel: the program's own folder is "
                                    f"unknown (no /proc): its logs go to {state}\n{refused}", state)):
            self.program.prefix = ["unshare", "--mount", "sh", "-c", 'mount -t overlay overlay -o "lowerdir=$0:$1" '
                                   '"$1" && { [ -z "$NO_PROC" ] || mount -t tmpfs tmpfs /proc; } && shift && exec "$@"',
                                   stage, os.path.dirname(MODULES)]
            run = self.program.run("127.0.0.1,1,5,FAIL,,,127.0.0.1:1,ops@test", headless(HOME=home, NO_PROC=no_proc),
                                   cwd=self.folder)
            # Without /proc a sanitizer can only say that it cannot work; its lines are none of ours.
            self.assertEqual(re.sub(r"(?m)^==\d+==.*\n", "", run.err), said)
            self.assertEqual(self.program.log("error.log", logs), [DOWN.format(port=1, device="127.0.0.1"),
                                                                   "Error sending SMTP email."])
        self.program.prefix = []  # no module anywhere: the mail fails, saying why
        run = self.program.run("127.0.0.1,1,5,FAIL,,,127.0.0.1:1,ops@test", headless(HOME=home), cwd=self.folder)
        self.assertEqual(run.err, "mail: the mail module cannot be loaded: ostrel-mail.so is not installed\n")
        self.assertFalse(os.path.exists(self.folder + "/loaded"))


class Logs(unittest.TestCase):
    """Logs shared by several runs, on a full disk, across a kill; run with no standard input, as a daemon may."""

    def setUp(self):
        self.program = Program(BUILT, ["sh", "-c", 'exec "$@" <&-', "sh"])

    def test_overlapping_runs_keep_lines_whole(self):
        """Runs on one port write lines of other lengths at once: some lost to a start-of-run delete, none cut."""
        for opens in (True, False, True, False):
            listener = Port("blackholed")
            typed = ["0" * i + str(listener.port) for i in range(4)]
            runs = [self.program.start(f"127.0.0.1,{port},{5 if opens else 1}") for port in typed]
            if opens:
                time.sleep(0.3)
                listener.socket.listen(64)  # answers now
            for run in runs:
                run.communicate(timeout=15)
            written = self.program.log("success.log" if opens else "error.log")
            lines = [(UP if opens else DOWN).format(port=port, device="127.0.0.1") for port in typed]
            self.assertTrue(written and len(written) <= (1 if opens else 4) and set(written) <= set(lines), written)
            listener.close()

    def test_planted_logs_while_waiting(self):
        """Planted while the run waits: no link followed, nothing into a FIFO, a lock held for good only delays."""
        for opens, planted in ((True, ("link", "fifo")), (False, ("fifo", "link")), (False, ("folder", "hard link")),
                               (False, ("folder", "locked file"))):
            with self.subTest(opens=opens, planted=planted):
                program, listener = Program(BUILT, self.program.prefix), Port("blackholed")
                secret = os.path.join(tempfile.mkdtemp(), "secret")
                pathlib.Path(secret).write_text("secret\n")
                paths = [os.path.join(program.folder, name) for name in ("success.log", "error.log")]
                for path in paths:  # links of an earlier attempt are removed at the start, never their target
                    os.symlink(secret, path)
                run = program.start(f"127.0.0.1,{listener.port},{2 if opens else 1}")
                self.assertTrue(until(lambda: not any(os.path.lexists(path) for path in paths), 5),
                                "the start-of-run delete did not happen")
                readers = []
                for path, what in zip(paths, planted):
                    if what in ("link", "hard link"):
                        (os.symlink if what == "link" else os.link)(secret, path)
                    elif what == "folder":
                        os.mkdir(path)
                    elif what == "locked file":  # held for good by someone who may only read it
                        held = os.open(path, os.O_RDONLY | os.O_CREAT, 0o644)
                        self.addCleanup(os.close, held)
                        fcntl.flock(held, fcntl.LOCK_EX)
                    else:
                        os.mkfifo(path)
                        readers.append(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
                        self.addCleanup(os.close, readers[-1])
                if opens:
                    listener.socket.listen(64)  # answers now
                err = run.communicate(timeout=10)[1]
                listener.close()
                self.assertEqual(pathlib.Path(secret).read_text(), "secret\n")
                self.assertEqual([os.read(reader, 1) for reader in readers], [b""] * len(readers))
                if opens or planted[1] == "locked file":  # success.log is replaced, never followed; a lock only delays
                    self.assertEqual(program.log("success.log" if opens else "error.log"),
                                     [(UP if opens else DOWN).format(port=listener.port, device="127.0.0.1")])
                else:  # nothing went into the link, FIFO or hard link in error.log's place
                    self.assertEqual(err, f"ostrel: cannot write {paths[1]}: "
                                     + ("it is not a plain file of its own\n" if planted[1] != "link"
                                        else "a link stands in its place\n"))

    def test_log_folders(self):
        """A log folder ("../x") others than root and the runner could change is refused with one line, nothing its
        link leads to changed; root's link is followed. Folders 0755, logs 0644 whatever the umask; none half made."""
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
                                               ("link", 0, 0, 0, "")):
            if mode:  # with a link to the target planted by another user
                os.mkdir(f"{base}/{name}", mode)
                os.chown(f"{base}/{name}", owner, group)
                os.symlink(target, f"{base}/{name}/logs")
                os.lchown(f"{base}/{name}/logs", 65534, 65534)
            run = self.program.run("127.0.0.1,1,5", headless(OSTREL_LOG_DIR="../" + name + "/logs"), cwd=target)
            self.assertEqual(run.err, said and f"ostrel: log folder ../{name}/logs refused: {base}/{name}{said}\n")
        for folder in (base + "/deep" + "/a" * 10000, os.path.join(base, "half", "n" * 300)):  # within a memory bound
            run = self.program.start("127.0.0.1,1,5", headless(OSTREL_LOG_DIR=folder))
            self.assertEqual(run.stderr.read(), f"ostrel: cannot write {folder}/error.log: File name too long\n")
            self.assertLess(os.wait4(run.pid, 0)[2].ru_maxrss, 40000)
        self.assertEqual(open(os.path.join(target, "error.log")).read(), "kept\n")
        self.assertFalse(os.path.lexists(base + "/deep") or os.path.lexists(base + "/half"))
        self.assertEqual([oct(os.stat(made + path).st_mode & 0o777) for path in ("", "/logs", "/logs/error.log")],
                         ["0o755", "0o755", "0o644"])

    def test_full_disk(self):
        """With one page left, a line is written whole or not at all, and the run says so."""
        folder = tempfile.mkdtemp()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder], check=True)
        with open(os.path.join(folder, "filler"), "wb") as filler:
            os.posix_fallocate(filler.fileno(), 0, 65536 - 4096)
        long = "d" * 3000
        runs = [self.program.start(f"{long},1,5,FAIL,/nonexistent/{long}", headless(OSTREL_LOG_DIR=folder))
                for _ in range(2)]
        errors = "".join(run.communicate(timeout=10)[1] for run in runs)
        written = self.program.log("error.log", folder)
        self.assertTrue(all(not m.startswith("<malformed") for m in written), written)
        self.assertIn("(the line was lost)", errors)

    def test_run_killed_at_the_rename(self):
        """A run killed before renaming its temporary success log: the next run removes it, first listed or not."""
        listener, logs = Port(), self.enterContext(tempfile.TemporaryDirectory(dir="/dev/shm"))
        run = self.program.start(f"127.0.0.1,{listener.port},5", headless(OSTREL_TEST_STOP_BEFORE_RENAME="1",
                                                                          OSTREL_LOG_DIR=logs))
        threading.Timer(10, run.kill).start()  # a run that never stops there is ended
        os.waitpid(run.pid, os.WUNTRACED)  # until it stops itself there
        run.send_signal(signal.SIGKILL)
        run.wait()
        self.assertEqual(len([name for name in os.listdir(logs) if name.startswith(".success.log.")]), 1)
        self.program.run(f"127.0.0.1,{listener.port},5", headless(OSTREL_LOG_DIR=logs))
        self.assertEqual(os.listdir(logs), ["success.log"])
        listener.close()


if __name__ == "__main__":
    # This host's own name too, which a mail's sender asks for.
    resolver = confine_resolver(f"::1 v6only.test\n{FILESERVER} fileserver1\n{MAIL} mail.example.com\n127.0.0.1 "
                                f"refusing.test {os.uname().nodename}\n127.0.0.2 refusing.test\n")
    main_concurrently(Unattended, Logs)
