#!/usr/bin/python3
"""check_ostrel option by option (CheckOstrel) in namespaces of its own where no name server answers; run by Debian's
Nagios and Icinga 2 from docs/monitoring as copied (Engines). As root, under unshare --mount [--net]:
test_check_ostrel.py path/to/check_ostrel path/to/ostrel CheckOstrel|Engines"""
import json
import os
import pathlib
import re
import shlex
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, Program, confine_resolver, hosts_only, until  # noqa: E402

BUILT, SEQUENCE = sys.argv.pop(1), sys.argv.pop(1)
USAGE, VERSION = "Usage: check_ostrel -H host -p port ", "check_ostrel 1.0.0 (Ostrel)"
# Shown, in the figures, about 1 s; the rest of a line; the rest.
PLACES = {"{t}": r"\d\.\d{3}", "{T}": r"\d\.\d{6}", "{1s}": r"1\.\d{6}", "{..}": "[^\n]*", "{...}": "(?s:.*)"}
AT, OK = " on 127.0.0.1 port {port}", "{t} second response time on 127.0.0.1 port {port}|time={T}s;;;0.000000;10.000000"
GREETED = 'Unexpected answer "SSH-2.0-OpenSSH_9.2p1  " after ' + OK


def matching(lines, port):
    pattern = re.escape(lines.replace("{port}", str(port)))
    for place, shown in PLACES.items():
        pattern = pattern.replace(re.escape(place), shown)
    return "^" + pattern + "$"


def shipped(name, replacements):
    text = pathlib.Path(__file__).resolve().parents[2].joinpath("docs", "monitoring", name).read_text()
    for old, new in replacements.items():
        assert old in text, old
        text = text.replace(old, new)
    return text


class CheckOstrel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        cls.resolver = confine_resolver("127.0.0.1 both.test v4only.test\n::1 both.test\n")

    def rows(self, rows, prefix=()):
        """Rows: arguments ({port} the peer's), peer kind, exit status, output lines, what a "banner" peer received."""
        for arguments, kind, status, lines, *received in rows:
            with self.subTest(arguments, kind=kind):
                peer = Port(*kind.split())
                run = Program(BUILT, prefix).run(shlex.split(arguments.replace("{port}", str(peer.port))), timeout=15)
                until(lambda: not received or peer.received, 2)  # what a banner peer received
                peer.close()
                self.assertEqual((run.returncode, run.err, peer.received), (status, "", received), run.out)
                self.assertRegex(run.out, matching(lines + "\n", peer.port))

    def test_states_and_performance_data(self):
        self.rows((("--hostname 127.0.0.1 --port={port} -w 0 -c 1.25 -t 3", "open", 1,
                    "TCP WARNING - " + OK.replace(";;;0.000000;10.", ";0.000000;1.250000;0.000000;3.")),
                   ("-H 127.0.0.1 -p {port} -t 32767", "refused", 2, "TCP CRITICAL - Connection refused" + AT),
                   ("-H 127.0.0.1 -p 1 -r ok", "open", 0, "TCP OK - Connection refused on 127.0.0.1 port 1"),
                   ("-H 127.0.0.1 -p {port} --refuse=warn", "refused", 1, "TCP WARNING - Connection refused" + AT),
                   ("-H 127.0.0.1 -p {port} -t 1", "blackholed", 2, "TCP CRITICAL - No answer within 1 s" + AT),
                   # The family filter: both.test has 127.0.0.1, where nothing listens, and ::1.
                   ("-H both.test -p {port} -4 -v", "open ::1", 2, "TCP CRITICAL - Connection refused on both.test "
                    "port {port}\naddresses: 127.0.0.1"),
                   ("-H v4only.test -p {port} -6", "open", 2,
                    "TCP CRITICAL - No IPv6 address on v4only.test port {port}"),
                   ("-H silent.test -p {port} -t 1", "open", 3,
                    "TCP UNKNOWN - The name could not be looked up on silent.test port {port}")))
        self.rows([("-H nohost.test -p {port}", "open", 2, "TCP CRITICAL - No such host on nohost.test port {port}")],
                  hosts_only())
        self.rows([("-H 127.0.0.1 -p {port}", "open", 0, "TCP OK - " + OK)], ["sh", "-c", 'exec "$@" <&-', "sh"])

    def test_send_and_expect(self):
        """Against a peer that greets with an SSH banner and keeps what it is sent."""
        at = "-H 127.0.0.1 -p {port} "
        self.rows(((at + "-e HTTP", "banner", 1, "TCP WARNING - " + GREETED, b""),
                   (at + "-e HTTP -M crit", "banner", 2, "TCP CRITICAL - " + GREETED, b""),
                   (at + "-e HTTP --mismatch=ok", "banner", 0, "TCP OK - " + GREETED, b""),
                   (at + "-e HTTP -e SSH-2.0-Open -s hello -q bye -v", "banner", 0,
                    "TCP OK - " + OK + "\naddresses: 127.0.0.1\nanswer: SSH-2.0-OpenSSH_9.2p1  ", b"hellobye\r\n"),
                   (at + r"-E -s 'a\r\n\tb\\n' -q 'c\n'", "banner", 0, "TCP OK - " + OK, b"a\r\n\tb\\nc\n")))

    def test_response_time_thresholds(self):
        """Each connection's first SYN dropped: connects take about a second, the retransmission's delay."""
        subprocess.run(["nft", "-f", "-"], check=True, text=True, input="""table inet slow {
            set seen { type inet_service; flags dynamic; timeout 1m; }
            chain input { type filter hook input priority 0;
                tcp flags & (syn | ack) == syn tcp sport @seen accept
                tcp flags & (syn | ack) == syn add @seen { tcp sport } drop
            }
        }\n""")
        self.addCleanup(subprocess.run, ["nft", "delete", "table", "inet", "slow"], check=True)
        slow = OK.replace("{T}", "{1s}")
        self.rows((("-H 127.0.0.1 -p {port} -w 0.5 -c 3", "open", 1,
                    "TCP WARNING - " + slow.replace(";;;", ";0.500000;3.000000;")),
                   ("-H 127.0.0.1 -p {port} -w 0.5 -c 0.75 -t 5", "open", 2,
                    "TCP CRITICAL - " + slow.replace(";;;0.000000;10.", ";0.500000;0.750000;0.000000;5.")),
                   ("-H 127.0.0.1 -p {port} -w 2", "open", 0, "TCP OK - " + slow.replace(";;;", ";2.000000;;"))))

    def test_options_it_cannot_use(self):
        """UNKNOWN, with why and the usage; help and version are no state either."""
        rows = (("", "the host is missing (-H)"), ("-H x", "the port is missing (-p)"),
                ("-H x -p 0", 'the port "0" is not a number from 1 to 65535'),
                ("-H x -p 65536", 'the port "65536" is not a number from 1 to 65535'),
                ("-H x -p 22 -t 0", 'the timeout "0" is not a number of seconds from 1 to 32767'),
                ("-H x -p 22 -t 32768", 'the timeout "32768" is not a number of seconds from 1 to 32767'),
                ("-H x -p 22 -w soon", 'the warning time "soon" is not a number of seconds'),
                ("-H x -p 22 -c -1", 'the critical time "-1" is not a number of seconds'),
                ("-H x -p 22 -r maybe", '-r takes ok, warn or crit, not "maybe"'),
                ("-H x -p 22 -x", "unknown option -x"), ("-H x -p 22 --bogus", "unknown option --bogus"),
                ("-H x -p", "-p needs a value"), ("-H x -p 22 extra", 'unexpected argument "extra"'))
        self.rows([(arguments, "open", 3, f"TCP UNKNOWN - {why}\n{USAGE}{{...}}") for arguments, why in rows]
                  + [("-H x -p 22 -V", "open", 3, VERSION), ("--help", "open", 3, f"{VERSION}\n{USAGE}{{...}}")])


class Engines(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resolver, cls.folder = confine_resolver(), tempfile.mkdtemp(prefix="ostrel-engines-")
        os.chmod(cls.folder, 0o777)  # Nagios runs as its own user
        cls.banner, cls.refused = Port("banner"), Port("refused")
        # Each service as "state|output|performance data", in Nagios with "|further lines".
        cls.ssh = "0|TCP OK - " + OK.replace(";;;", ";0.500000;2.000000;").replace("{port}", str(cls.banner.port))
        cls.down = "2|TCP CRITICAL - Connection refused" + AT.replace("{port}", str(cls.refused.port)) + "|"

    def recorded(self, results, expected, output):
        shown = "\n".join(f"{name}: " + "|".join(map(str, fields)) for name, fields in sorted(results.items()))
        wanted = "\n".join(f"{name}: {lines}" for name, lines in sorted(expected.items()))
        self.assertRegex(shown, matching(wanted, None), output[-2000:])

    def test_nagios(self):
        """The shipped host, service and both commands, with Debian's stock templates, commands and contacts."""
        objects = shipped("nagios.cfg", {"192.0.2.10": "127.0.0.1", "/usr/bin/ostrel": SEQUENCE,
                                         "check_ostrel!22!": f"check_ostrel!{self.banner.port}!",
                                         "ostrel_sequence!80!": f"ostrel_sequence!{self.refused.port}!"})
        # linux-server's host check, which Debian's monitoring-plugins-basic defines, and a service without a port.
        objects += ("define command {\n command_name check-host-alive\n command_line /bin/true\n}\n"
                    "define service {\n use generic-service\n host_name fileserver1\n service_description no port\n"
                    " check_command check_ostrel!x\n}\n")
        settings = [f"cfg_file=/etc/nagios4/objects/{name}.cfg" for name in ("commands", "contacts", "timeperiods",
                                                                            "templates")]
        settings += [setting.replace("=", "=" + self.folder + "/") for setting in (
            "cfg_file=ostrel.cfg resource_file=resource.cfg log_file=nagios.log status_file=status.dat "
            "check_result_path=. lock_file=nagios.lock temp_file=nagios.tmp temp_path=. query_socket=nagios.qh "
            "object_cache_file=objects.cache precached_object_file=objects.pre").split()]
        settings += ("interval_length=1 status_update_interval=1 retain_state_information=0 use_syslog=0 "
                     "service_inter_check_delay_method=n check_external_commands=0 enable_notifications=0 "
                     "nagios_user=nagios nagios_group=nagios check_result_reaper_frequency=1").split()
        for name, text in (("ostrel.cfg", objects), ("resource.cfg", f"$USER1$={os.path.dirname(BUILT)}\n"),
                           ("nagios.cfg", "\n".join(settings) + "\n")):
            pathlib.Path(self.folder, name).write_text(text)
        engine = subprocess.Popen(["/usr/sbin/nagios4", os.path.join(self.folder, "nagios.cfg")],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            seen, deadline = {}, time.monotonic() + 60
            while len(seen) < 3 and time.monotonic() < deadline and engine.poll() is None:
                time.sleep(0.5)
                status = pathlib.Path(self.folder, "status.dat")
                blocks = re.findall(r"servicestatus \{(.*?)\}", status.read_text() if status.exists() else "", re.S)
                services = [dict(re.findall(r"^\s*(\w+)=(.*)$", block, re.M)) for block in blocks]
                seen = {fields["service_description"]: [fields[name] for name in (
                    "current_state", "plugin_output", "performance_data", "long_plugin_output")]
                    for fields in services if fields["has_been_checked"] == "1"}
        finally:
            engine.terminate()
            output = engine.communicate(timeout=10)[0]
        self.recorded(seen, {"SSH port": self.ssh + "|", "Web port": self.down + "|", "no port": '3|TCP UNKNOWN - the '
                             'port "x" is not a number from 1 to 65535||' + USAGE + "{..}"}, output)

    def test_icinga(self):
        """The shipped CheckCommand and apply rule, validated by `icinga2 daemon -C`, then run in the foreground."""
        pathlib.Path(self.folder, "icinga2.conf").write_text(
            f'include <itl>\ninclude <plugins>\nconst PluginDir = "{os.path.dirname(BUILT)}"\n'
            'object CheckerComponent "checker" { }\nobject Host "fileserver1" {\n  address = "127.0.0.1"\n'
            '  check_command = "dummy"\n  vars.os = "Linux"\n}\n'
            + shipped("icinga2.conf", {"vars.ostrel_port = 22": f"vars.ostrel_port = {self.banner.port}",
                                       "check_interval = 1m": "check_interval = 1s"})
            + f'apply Service "refused" {{\n  check_command = "ostrel"\n  check_interval = 1s\n'
            f'  vars.ostrel_port = {self.refused.port}\n  vars.ostrel_ipv4 = true\n  assign where true\n}}\n')
        paths = [f"-D{key}={self.folder}" for key in ("DataDir", "CacheDir", "LogDir", "InitRunDir", "SpoolDir")]
        command = ["icinga2", "daemon", "-c", os.path.join(self.folder, "icinga2.conf"), "-DRunAsUser=root",
                   "-DRunAsGroup=root", *paths]
        check = subprocess.run(command + ["-C"], capture_output=True, text=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout[-2000:])
        engine = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        time.sleep(5)  # the first checks come within the check interval of 1 s
        engine.terminate()  # which writes the state file
        output, results = engine.communicate(timeout=30)[0], {}
        text = pathlib.Path(self.folder, "icinga2.state").read_text()
        while text:  # netstrings of JSON objects
            size, text = text.split(":", 1)
            entry, text = json.loads(text[:int(size)]), text[int(size) + 1:]
            if entry["type"] == "Service" and (result := entry["update"].get("last_check_result")):
                results[entry["name"]] = (int(result["state"]), result["output"], " ".join(result["performance_data"]))
        self.recorded(results, {"fileserver1!ssh-port": self.ssh, "fileserver1!refused": self.down}, output)


if __name__ == "__main__":
    unittest.main(warnings="ignore")
