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
from ostrel_testing import Port, Program, confine_resolver, headless, marker, marker_script, private_address  # noqa

from aiosmtpd.controller import Controller  # noqa: E402

BUILT = sys.argv.pop(1)
NAGIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "monitoring", "nagios.cfg")
FILESERVER, MAIL = private_address(), private_address()  # the help's example device and mail server
REJECTED = ["Port check not performed: Incorrect calling sequence.", "Type OSTREL /? for calling sequence help."]
UP, DOWN = "Port {port} on device {device} is available.", "Port {port} on device {device} is un-available."


class Unattended(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resolver = confine_resolver(f"::1 v6only.test\n{FILESERVER} fileserver1\n{MAIL} mail.example.com\n"
                                        "127.0.0.1 both.test\n::1 both.test\n127.0.0.1 refusing.test\n"
                                        "127.0.0.2 refusing.test\n")

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
        for field, typed in (("port", "127.0.0.1,5s,5"), ("timeout", "127.0.0.1,{port},soon")):
            with self.subTest(field):
                value = typed.split(",")[1 if field == "port" else 2]
                self.check(typed, status="1", code=1, errors=[f"Port {typed.split(',')[1]} on device 127.0.0.1 "
                                                               "is un-available."],
                           err=f'ostrel: the {field} "{value}" is not a number.\n')

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
                (notes, "", "tools only in the current folder", "no application opens this file here", None))
        with open(os.path.join(self.folder, "xdg-mime"), "w") as file:  # answers as $DESKTOP says
            file.write('#!/bin/sh\n[ "$DESKTOP" = hangs ] && exec sleep 60\ncase "$1 $2" in "query filetype") echo '
                       '"text/plain; charset=us-ascii" ;;\n"query default") [ "$DESKTOP" = "no application" ] || '
                       'echo viewer.desktop ;; esac\n')
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

    def test_help_examples_as_written(self):
        """The help's two examples, copied from its text, do what their captions say. Neither maps a Qt library;
        the second loads the mail module, which sends the mail through libcurl."""
        lines = self.program.run("--help").out.split("\n")
        self.assertEqual((lines[4], lines[7]), ("Example 1...(ping a server if port check fails)",
                                                "Example 2...(send an email if port check passes)"))
        received = []

        class Recorder:
            async def handle_DATA(self, server, session, envelope):
                received.append(envelope.rcpt_tos)
                return "250 OK"

        mail = Controller(Recorder(), hostname=MAIL, port=25)
        mail.start()
        shutil.copy(self.script, os.path.join(self.folder, "c:\\winnt\\ping.exe"))
        trace = os.path.join(self.folder, "trace")
        environment = headless(PATH=f"{self.folder}:/usr/bin:/bin", LD_DEBUG="files", LD_DEBUG_OUTPUT=trace)
        for line, kind, loaded in ((lines[5], "refused", []),
                                   (lines[8], "open", ["ostrel-mail.so", "libcurl.so"])):
            with self.subTest(line):
                listener = Port(kind, FILESERVER, 23)
                run = self.program.run(line.removeprefix("OSTREL ").split(" "), environment)
                listener.close()
                self.assertEqual(run.err.replace("marker errors\n", ""), "")
                files = open(f"{trace}.{run.pid}").read()
                self.assertEqual([name for name in loaded if name in files], loaded)
                self.assertNotIn("libQt6", files)
        mail.stop()
        self.assertIsNotNone(marker(os.path.join(self.folder, "c:\\winnt\\ping.exe")))
        self.assertEqual(received, [["admin@example.com"]])

    def test_help_and_version(self):
        usage = "Use the following calling sequence..."
        for arguments, first in (("/?", usage), ("127.0.0.1,23,15,FAIL,tool/?", usage), ("--help", usage),
                                 ("-h", usage), ("--version", "ostrel 1.0.0"), ("-V", "ostrel 1.0.0")):
            with self.subTest(arguments):
                run = self.program.run(arguments, headless(OSTREL_EXIT_STATUS="plugin"))
                self.assertEqual((run.returncode, run.out.split("\n")[0], run.err), (0, first, ""))
                self.assertEqual(self.program.log("error.log"), None)

    def test_terminal(self):
        """On a terminal the result line comes with its cause; in a pipe or from cron nothing is printed."""
        rows = (("127.0.0.1,{port},5", "open", "{UP}"), ("127.0.0.1,{port},5", "refused", "{DOWN} Connection refused."),
                ("127.0.0.1,{port},1", "blackholed", "{DOWN} No answer within 1 s."),
                ("nohost.invalid,{port},1", "open", "{DOWN} No such host."),
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
        """One line on standard output in the Monitoring Plugins' form, terminal or not, and their exit status."""
        listener = Port()
        for terminal in (False, True):
            run = (self.program.run_on_terminal if terminal else self.program.run)(
                f"127.0.0.1,{listener.port},0,PASS,{self.script},x", headless(OSTREL_EXIT_STATUS="plugin"))
            # A timeout of 0 means the 15 s it waits.
            self.assertRegex(run.out, rf"^TCP OK - 0\.\d\d\d second response time on 127\.0\.0\.1 port {listener.port}"
                             r"\|time=0\.\d{6}s;;;0\.000000;15\.000000\n$")
            self.assertEqual(run.returncode, 0)
            # The command's output goes to standard error, never into the engine's line.
            self.assertEqual(marker(self.script)[0], run.err_pipe)
            os.remove(self.script + ".marker")

    def test_logs_that_cannot_be_written(self):
        """A folder that cannot be written costs a standard-error line for each log and nothing else: the hidden
        command still starts."""
        os.chmod(self.program.folder, 0o555)
        run = self.program.run(f"127.0.0.1,1,5,FAIL,{self.script} /s,x", as_nobody=True)
        os.chmod(self.program.folder, 0o755)
        self.assertEqual(run.err, f"ostrel: cannot write {self.program.folder}/error.log: Permission denied\n")
        self.assertEqual(marker(self.script)[::3], ("/dev/null", ["x"]))


class Logs(unittest.TestCase):
    """The logs in a folder that several runs share, in a full file system and across a kill."""

    def setUp(self):
        self.program = Program(BUILT)

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


def define(kind, **fields):
    return f"define {kind} {{\n" + "".join(f"    {key} {value}\n" for key, value in fields.items()) + "}\n"


class Nagios(unittest.TestCase):
    """Plugin mode under Debian's Nagios, with a private configuration and the command of
    docs/monitoring/nagios.cfg: the states, output and performance data the engine records."""

    def test_states_output_and_performance_data(self):
        folder = tempfile.mkdtemp(prefix="ostrel-nagios-")
        os.chmod(folder, 0o777)
        program = Program(BUILT)
        open_port, refused = Port(), Port("refused")
        with open(NAGIOS) as file:  # the command as an administrator copies it
            command = re.search(r"define command \{.*?\}", file.read(), re.S).group(0)
        services = {"open": f"{open_port.port}!5", "refused": f"{refused.port}!5", "rejected": "22!", "port": "5s!5"}
        days = {day: "00:00-24:00" for day in ("sunday", "monday", "tuesday", "wednesday", "thursday", "friday",
                                                "saturday")}
        objects = [command.replace("/usr/bin/ostrel", program.path),
                   define("timeperiod", timeperiod_name="always", alias="always", **days),
                   define("contact", contact_name="nobody", host_notifications_enabled=0,
                          service_notifications_enabled=0, host_notification_period="always",
                          service_notification_period="always", host_notification_options="n",
                          service_notification_options="n", host_notification_commands="ostrel",
                          service_notification_commands="ostrel"),
                   define("host", host_name="loopback", address="127.0.0.1", max_check_attempts=1,
                          check_period="always", notifications_enabled=0)]
        objects += [define("service", host_name="loopback", service_description=name, check_command="ostrel!" + args,
                           check_interval=1, retry_interval=1, max_check_attempts=1, check_period="always",
                           notifications_enabled=0) for name, args in services.items()]
        settings = {"log_file": "nagios.log", "cfg_file": "objects.cfg", "status_file": "status.dat",
                    "check_result_path": "results", "lock_file": "nagios.lock", "temp_file": "nagios.tmp",
                    "temp_path": ".", "object_cache_file": "objects.cache", "precached_object_file": "objects.pre",
                    "state_retention_file": "retention.dat", "query_socket": "nagios.qh"}
        os.mkdir(os.path.join(folder, "results"))
        os.chmod(os.path.join(folder, "results"), 0o777)
        with open(os.path.join(folder, "objects.cfg"), "w") as file:
            file.write("\n".join(objects))
        with open(os.path.join(folder, "nagios.cfg"), "w") as file:
            file.write("".join(f"{key}={os.path.join(folder, value)}\n" for key, value in settings.items()))
            file.write("interval_length=1\nstatus_update_interval=1\nretain_state_information=0\nuse_syslog=0\n"
                       "check_external_commands=0\nenable_notifications=0\nnagios_user=nagios\nnagios_group=nagios\n"
                       "check_result_reaper_frequency=1\nmax_check_result_reaper_time=1\n")
        engine = subprocess.Popen(["/usr/sbin/nagios4", os.path.join(folder, "nagios.cfg")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        try:
            seen = {}
            deadline = time.monotonic() + 60
            while len(seen) < 4 and time.monotonic() < deadline and engine.poll() is None:
                time.sleep(0.5)
                seen = self.services(os.path.join(folder, "status.dat"))
            self.assertEqual(len(seen), 4, f"the engine checked {sorted(seen)}; its log: "
                             + open(os.path.join(folder, "nagios.log")).read()[-2000:])
        finally:
            engine.terminate()
            engine.wait(10)
            open_port.close()
            refused.close()
            shutil.rmtree(folder, ignore_errors=True)
        self.assertEqual(seen["open"][0], "0")
        self.assertRegex(seen["open"][1], rf"^TCP OK - 0\.\d{{3}} second response time on 127\.0\.0\.1 port "
                                          rf"{open_port.port}$")
        self.assertRegex(seen["open"][2], r"^time=0\.\d{6}s;;;0\.000000;5\.000000$")
        self.assertEqual(seen["refused"], ("2", f"TCP CRITICAL - Connection refused on 127.0.0.1 port {refused.port}",
                                           ""))
        self.assertEqual(seen["rejected"], ("3", "TCP UNKNOWN - Incorrect calling sequence: the timeout is empty", ""))
        self.assertEqual(seen["port"], ("3", 'TCP UNKNOWN - The port "5s" is not a number', ""))

    @staticmethod
    def services(status):
        """Each checked service's state, output and performance data, as the engine recorded them."""
        if not os.path.exists(status):
            return {}
        found = {}
        for block in re.findall(r"servicestatus \{(.*?)\}", open(status).read(), re.S):
            fields = dict(re.findall(r"^\s*(\w+)=(.*)$", block, re.M))
            if fields.get("has_been_checked") == "1":
                found[fields["service_description"]] = (fields["current_state"], fields["plugin_output"],
                                                        fields["performance_data"])
        return found


if __name__ == "__main__":
    unittest.main(warnings="ignore")
