#!/usr/bin/python3
"""check_ostrel as a monitoring engine starts it, option by option, in a network and mount namespace of its own (no
name server answers there). As root: unshare --mount --net test_check_ostrel.py path/to/check_ostrel"""
import os
import re
import shlex
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, Program, confine_resolver, hosts_only  # noqa: E402

BUILT = sys.argv.pop(1)
USAGE, VERSION = "Usage: check_ostrel -H host -p port ", "check_ostrel 1.0.0 (Ostrel)"
TIMES = {"{t}": r"\d\.\d{3}", "{T}": r"\d\.\d{6}", "{1s}": r"1\.\d{6}"}  # shown, in the figures, about 1 s
AT, OK = " on 127.0.0.1 port {port}", "{t} second response time on 127.0.0.1 port {port}|time={T}s;;;0.000000;10.000000"
GREETED = 'Unexpected answer "SSH-2.0-OpenSSH_9.2p1  " after ' + OK


class CheckOstrel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        cls.resolver = confine_resolver("127.0.0.1 both.test v4only.test\n::1 both.test\n")

    def rows(self, rows, prefix=()):
        """Each row: arguments ({port} the peer's), the peer's kind, the exit status, the output's lines and, for a
        "banner" peer, the bytes it received until the connection closed."""
        for arguments, kind, status, lines, *received in rows:
            with self.subTest(arguments, kind=kind):
                peer = Port(*kind.split())
                run = Program(BUILT, prefix).run(shlex.split(arguments.replace("{port}", str(peer.port))), timeout=15)
                for _ in range(100):
                    if not received or peer.received:
                        break
                    time.sleep(0.02)
                peer.close()
                pattern = re.escape(lines.replace("{port}", str(peer.port)))
                for placeholder, times in TIMES.items():
                    pattern = pattern.replace(re.escape(placeholder), times)
                self.assertEqual((run.returncode, run.err, peer.received), (status, "", received), run.out)
                self.assertRegex(run.out, "^" + pattern + "\n$")

    def test_states_and_performance_data(self):
        self.rows((("-H 127.0.0.1 -p {port}", "open", 0, "TCP OK - " + OK),
                   ("--hostname 127.0.0.1 --port={port} -w 0.5 -c 1.25 -t 3", "open", 0,
                    "TCP OK - " + OK.replace(";;;0.000000;10.", ";0.500000;1.250000;0.000000;3.")),
                   ("-H 127.0.0.1 -p {port}", "refused", 2, "TCP CRITICAL - Connection refused" + AT),
                   ("-H 127.0.0.1 -p 1 -r ok", "open", 0, "TCP OK - Connection refused on 127.0.0.1 port 1"),
                   ("-H 127.0.0.1 -p {port} --refuse=warn", "refused", 1, "TCP WARNING - Connection refused" + AT),
                   ("-H 127.0.0.1 -p {port} -t 1", "blackholed", 2, "TCP CRITICAL - No answer within 1 s" + AT),
                   # The family filter: both.test has 127.0.0.1, where nothing listens, and ::1.
                   ("-H both.test -p {port} -4 -v", "open ::1", 2, "TCP CRITICAL - Connection refused on both.test "
                    "port {port}\naddresses: 127.0.0.1"),
                   ("-H both.test -p {port} -6 -v", "open ::1", 0,
                    "TCP OK - " + OK.replace("127.0.0.1", "both.test") + "\naddresses: ::1"),
                   ("-H v4only.test -p {port} -6", "open", 2, "TCP CRITICAL - No IPv6 address on v4only.test port {port}"),
                   # A name server that never answers: the name could not be looked up, within the timeout.
                   ("-H silent.test -p {port} -t 1", "open", 3,
                    "TCP UNKNOWN - The name could not be looked up on silent.test port {port}")))
        # Asking the hosts file alone: the name does not exist.
        self.rows([("-H nohost.test -p {port}", "open", 2, "TCP CRITICAL - No such host on nohost.test port {port}")],
                  hosts_only())

    def test_send_and_expect(self):
        """Against a peer that greets with an SSH banner and keeps what it is sent."""
        at = "-H 127.0.0.1 -p {port} "
        self.rows(((at + "-e SSH-2.0-Open", "banner", 0, "TCP OK - " + OK, b""),
                   (at + "-e HTTP", "banner", 1, "TCP WARNING - " + GREETED, b""),
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
        slow = OK.replace("{T}", "{1s}")
        try:
            self.rows((("-H 127.0.0.1 -p {port} -w 0.5 -c 3", "open", 1,
                        "TCP WARNING - " + slow.replace(";;;", ";0.500000;3.000000;")),
                       ("-H 127.0.0.1 -p {port} -w 0.5 -c 0.75 -t 5", "open", 2,
                        "TCP CRITICAL - " + slow.replace(";;;0.000000;10.", ";0.500000;0.750000;0.000000;5.")),
                       ("-H 127.0.0.1 -p {port} -w 2", "open", 0, "TCP OK - " + slow.replace(";;;", ";2.000000;;"))))
        finally:
            subprocess.run(["nft", "delete", "table", "inet", "slow"], check=True)

    def test_options_it_cannot_use(self):
        """UNKNOWN, with why and the usage; help and version are no state either."""
        rows = (("", "the host is missing (-H)"), ("-H x", "the port is missing (-p)"),
                ("-H x -p 0", 'the port "0" is not a number from 1 to 65535'),
                ("-H x -p 65536", 'the port "65536" is not a number from 1 to 65535'),
                ("-H x -p 22 -t 0", 'the timeout "0" is not a number of seconds from 1 to 32767'),
                ("-H x -p 22 -w soon", 'the warning time "soon" is not a number of seconds'),
                ("-H x -p 22 -c -1", 'the critical time "-1" is not a number of seconds'),
                ("-H x -p 22 -r maybe", '-r takes ok, warn or crit, not "maybe"'),
                ("-H x -p 22 -x", "unknown option -x"), ("-H x -p 22 --bogus", "unknown option --bogus"),
                ("-H x -p", "-p needs a value"), ("-H x -p 22 extra", 'unexpected argument "extra"'),
                ("-H x -p 22 -V", VERSION), ("--help", VERSION))
        for arguments, first in rows:
            with self.subTest(arguments):
                run = Program(BUILT).run(shlex.split(arguments))
                lines = run.out.split("\n")
                self.assertEqual((run.returncode, lines[0], run.err),
                                 (3, first if first == VERSION else "TCP UNKNOWN - " + first, ""))
                self.assertEqual(lines[1].startswith(USAGE), "-V" not in arguments)


if __name__ == "__main__":
    unittest.main(warnings="ignore")
