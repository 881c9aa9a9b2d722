#!/usr/bin/python3
"""The result mail sent to SMTP peers on loopback: the reason on standard error, the commands each peer read, each
message; this host "vm", no domain. As root, under `unshare --mount --uts`: test_mail.py path/to/ostrel"""
import json
import os
import pathlib
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, Program, confine_resolver, headless  # noqa: E402

BUILT = sys.argv.pop(1)
PEER = ["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "smtp_server.py")]
# The device and port as typed, and as a reader sees them in the subject and the text: control characters as blanks.
# Neither can be checked (a name too long, a port no number), and the mail is sent on FAIL.
DEVICE = "D\1E\r\nBcc: evil@test\nGerät-東京-😀\t" + "y" * 2100
SEEN = "D E  Bcc: evil@test Gerät-東京-😀 " + "y" * 2100
PORT, PORT_SEEN = "23\r\nX: y", "23  X: y"
SCALED = {"OSTREL_TEST_MAIL_TIME_SCALE": "100"}  # ready 0.1 s, a reply 0.3 s, all 1.2 s
NOT_READY = "{field} was not ready within 0.1 s (waiting at "
SENT = "EHLO MAIL RCPT DATA QUIT"
LOGIN = "--tls|implicit|--login|alerts:s3cret"
ENTRY = "machine 127.0.0.1 login alerts password s3cret"
NO_LOGIN = "MAIL FROM:<ostrel@vm> refused: 530 5.7.0 Authentication required (set OSTREL_MAIL_FROM)"
NETRC = ('machine 127.0.0.2 login x password y\nmachine 127.0.0.1\n  login alerts\n  password "s e\\"cret"\n'
         "machine 127.0.0.1 login ops password two\n")

# Each row: smtp_server.py's options (split at "|"), the reason ({field}: the server field), the commands read, and
# what differs from the defaults: MAILNAME, NETRC ("fifo" a FIFO) with its MODE and OWNER, TO, RCPTS (the envelope's
# as read), FIELD ({port}: the server's, {blackholed}: one never answering), HOST (this host's name), variables.
ROWS = {
    "STARTTLS, a certificate not trusted": ("--tls|starttls", "TLS with 127.0.0.1 failed: SSL certificate problem: "
                                           "self-signed certificate", "EHLO STARTTLS", {"SSL_CERT_FILE": ""}),
    "STARTTLS, AUTH LOGIN alone, .netrc with comments, the login an address": (
        "--tls|starttls|--login-only|--login|alerts@corp.example:s3cret", "",
        "EHLO STARTTLS EHLO AUTH MAIL FROM:<alerts@corp.example> RCPT DATA QUIT",
        {"NETRC": "# relay\nmachine 127.0.0.1 login alerts@corp.example password s3cret"}),
    ".netrc: the host's first entry, quoted": ("--tls|implicit|--login|alerts:s e\"cret", "", "EHLO AUTH " + SENT[5:],
                                               {"NETRC": NETRC}),
    ".netrc: the entry of the user in the field": ("--tls|implicit|--login|ops:two", "", "EHLO AUTH " + SENT[5:],
                                                   {"NETRC": NETRC, "FIELD": "smtps://ops@127.0.0.1:{port}"}),
    ".netrc: default, its last byte read alone": (LOGIN.replace("alerts:s3cret", "d:e"), "", "EHLO AUTH " + SENT[5:],
                                                  {"NETRC": f"{'#' * 4041}\nmachine a login b password c default "
                                                   "login d password e"}),
    ".netrc: a macro's text is no entry": (LOGIN.replace("alerts:s3cret", "ok:k"), "", "EHLO AUTH " + SENT[5:],
                                           {"NETRC": "macdef m\n" + ENTRY.replace("alerts", "evil") + "\n\n"
                                            + ENTRY.replace("alerts password s3cret", "ok password k")}),
    ".netrc: no entry for the user in the field": (LOGIN, "no password for ops at 127.0.0.1 in ~/.netrc", "",
                                                    {"NETRC": ENTRY, "FIELD": "smtps://ops@127.0.0.1:{port}"}),
    ".netrc: the first default decides": (LOGIN, NO_LOGIN, "EHLO MAIL QUIT",
                                          {"NETRC": "default login alerts\ndefault login alerts password s3cret\n"}),
    ".netrc: a password without its value": (LOGIN, NO_LOGIN, "EHLO MAIL QUIT",
                                             {"NETRC": "machine 127.0.0.1 password\n" + ENTRY}),
    ".netrc: a quote left open": (LOGIN, NO_LOGIN, "EHLO MAIL QUIT", {"NETRC": ENTRY + ' "'}),
    ".netrc: nothing past 64 KiB is read": (LOGIN, NO_LOGIN, "EHLO MAIL QUIT", {"NETRC": "#" * 65535 + "\n" + ENTRY}),
    ".netrc: the login of another entry is never lent": (LOGIN, NO_LOGIN, "EHLO MAIL QUIT", {
        "NETRC": "machine 127.0.0.1 #office\nmachine relay.example.org # SMTP relay\n  login alerts password s3cret"}),
    ".netrc of another user": (LOGIN, "~/.netrc is not owned by you\nmail: " + NO_LOGIN, "EHLO MAIL QUIT",
                               {"NETRC": ENTRY, "OWNER": 65534}),
    ".netrc, a FIFO nobody writes": (LOGIN, NO_LOGIN, "EHLO MAIL QUIT", {"NETRC": "fifo"}),
    ".netrc readable by others": (LOGIN, "~/.netrc is readable by others (chmod 600)\nmail: " + NO_LOGIN,
                                  "EHLO MAIL QUIT", {"NETRC": ENTRY, "MODE": 0o644}),
    "a recipient that would split a command": ("", "RCPT TO:<x@[  ::1]> not sent: not an address", SENT,
                                               {"TO": "ok@example.org,x@[\r\n::1]"}),
    "a local part beyond ASCII where the server offers no SMTPUTF8; a domain beyond ASCII": (
        "", "RCPT TO:<jörg@test> not sent: the server does not offer SMTPUTF8", SENT,
        {"TO": "jörg@test,ops@bücher.example", "RCPTS": ["ops@xn--bcher-kva.example"]}),
    "a local part beyond ASCII where the server offers SMTPUTF8; a domain's dots are ASCII": (
        "EHLO=250-raw\r\n250 SMTPUTF8", "RCPT TO:<x@bücher。example> not sent: not an address",
        "EHLO MAIL SMTPUTF8 RCPT RCPT DATA QUIT", {"TO": "jörg@test,ops@[IPv6:::ffff:127.0.0.1],x@bücher。example"}),
    "a refused recipient, the other still served": (
        "RCPT TO:<x@y>=550 5.1.1 unknown\u009buser", "RCPT TO:<x@y> refused: 550 5.1.1 unknown user",
        "EHLO MAIL RCPT RCPT DATA QUIT", {"TO": "x@y,ops@test"}),
    "a refusal, then a line that is no reply": (
        "MAIL=550 5.7.1 sender\u009bblacklisted\u2028\r\nno reply", "MAIL FROM:<a@b.example> refused: 550 5.7.1 sender "
        "blacklisted (set OSTREL_MAIL_FROM)", "EHLO MAIL FROM:<a@b.example> QUIT", {"OSTREL_MAIL_FROM": "a@b.example"}),
    "no connection": ("", NOT_READY + "connect)", "", {**SCALED, "FIELD": "127.0.0.1:{blackholed}"}),
    "no greeting": ("GREETING=", NOT_READY + "greeting)", "", SCALED),
    "no answer to EHLO": ("EHLO=", NOT_READY + "EHLO)", "EHLO", SCALED),
    "no answer to STARTTLS": ("EHLO=250-raw\r\n250 STARTTLS|STARTTLS=", NOT_READY + "TLS)", "EHLO STARTTLS",
                              {**SCALED, "FIELD": "smtp://127.0.0.1:{port}"}),
    "no answer to AUTH": (LOGIN + "|--delay|1.5", "{field} was not ready within 1 s (waiting at AUTH)", "EHLO AUTH",
                          {"OSTREL_TEST_MAIL_TIME_SCALE": "10", "NETRC": ENTRY}),
    "no answer to RCPT": ("RCPT=", "RCPT TO:<ops@test>: no answer within 0.3 s", "EHLO MAIL RCPT", SCALED),
    "QUIT refused, the mail sent": ("QUIT=554 5.0.0 no", "", SENT, {}),
    # curl waits for the verdict itself, counting whole seconds.
    "no verdict on the message": (".=", "the end of the message: no answer within 1 s", "EHLO MAIL RCPT DATA QUIT",
                                  {"OSTREL_TEST_MAIL_TIME_SCALE": "60"}),
    "stock exim, /etc/mailname": ("--exim", "", "EHLO MAIL FROM:<ostrel@mail.ostrel-test.example> RCPT DATA QUIT",
                                  {"MAILNAME": "mail.ostrel-test.example\n"}),
    "this host's own name never answered": ("", NOT_READY + "this host's name)", "", {**SCALED, "HOST": "nameless"}),
    "a mail server the resolver never answers": ("", NOT_READY + "the look-up of mail.example)", "",
                                                 {**SCALED, "FIELD": "mail.example"}),
}


def read(folder, name):
    path = pathlib.Path(folder, name)
    return path.read_text(encoding="utf-8").split("\n")[:-1] if path.exists() else []


class Mail(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resolver = confine_resolver("127.0.0.1 vm\n::1 vm\n")
        cls.mailname = tempfile.NamedTemporaryFile(prefix="ostrel-mailname-")
        subprocess.run(["mount", "--bind", cls.mailname.name, "/etc/mailname"], check=True)
        cls.program, cls.hole = Program(BUILT), Port("blackholed")

    def test_mails(self):
        for name, (options, failure, commands, settings) in ROWS.items():
            with self.subTest(name):
                folder = tempfile.mkdtemp(prefix="ostrel-smtp-")
                peer = subprocess.Popen([*PEER, "--record", folder, *filter(None, options.split("|"))],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                self.addCleanup(lambda peer=peer: (peer.stdin.close(), peer.stdout.close(), peer.wait(10)))
                ready = peer.stdout.readline().split()
                self.assertEqual(ready[:1], ["ready"], f"smtp_server.py {options} did not come up")
                scheme = ("smtp://" if "starttls" in options else "smtps://") if "--tls" in options else ""
                port = int(ready[1])
                field = settings.get("FIELD", scheme + "127.0.0.1:{port}").format(port=port, blackholed=self.hole.port)
                env = headless(HOME=folder, OSTREL_LOG_DIR=folder, SSL_CERT_FILE=folder + "/server.pem", TZ="UTC")
                env.update({k: v for k, v in settings.items() if k.startswith(("OSTREL", "SSL"))})
                pathlib.Path(self.mailname.name).write_text(settings.get("MAILNAME", ""))
                netrc, text = os.path.join(folder, ".netrc"), settings.get("NETRC")
                if text == "fifo":
                    os.mkfifo(netrc, 0o600)
                elif text is not None:
                    pathlib.Path(netrc).write_text(text)
                    os.chmod(netrc, settings.get("MODE", 0o600))
                    os.chown(netrc, settings.get("OWNER", 0), settings.get("OWNER", 0))
                socket.sethostname(settings.get("HOST", "vm"))
                run = self.program.run([f"{DEVICE},{PORT},5,FAIL,,,{field},{settings.get('TO', 'ops@test')}"], env)
                self.assertEqual(run.err, f'ostrel: the port "{PORT_SEEN}" is not a number.\n'
                                 + (failure and "mail: " + failure.replace("{field}", field) + "\n"))
                logged = ["Error sending SMTP email."] if failure else []
                self.assertEqual(self.program.log("error.log", folder)[1:], logged)
                self.assertEqual(" ".join(read(folder, "lines")).replace("MAIL FROM:<ostrel@vm>", "MAIL"),
                                 commands)
                for message in map(json.loads, read(folder, "messages")):
                    self.assertEqual((message["headers"]["Subject"], message["body"], message["rcpt_tos"],
                                      message["headers"]["Date"][0][-6:]),
                                     ([f"Port Check Failed on device {SEEN}"], f"Port {PORT_SEEN} on device {SEEN} is "
                                      "un-available.\r\n", settings.get("RCPTS", message["rcpt_tos"]), " +0000"))

if __name__ == "__main__":
    unittest.main()
