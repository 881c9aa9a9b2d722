#!/usr/bin/python3
"""SMTP peers on loopback: print "ready <port>", serve until their input closes, record each command and message.
A real server (aiosmtpd) refuses a message with a defect Python's email package finds, a sender without a domain or no
Message-ID. --raw answers from --reply LINE=TEXT or VERB=TEXT ("" silent, "-" closes; MESSAGE: a message line).
--exim is Debian's stock exim testing as if 127.0.0.1 ("localhost", not looked up) spoke, answering as the daemon would."""
import argparse
import asyncio
import contextlib
import email
import email.policy
import json
import os
import socket
import ssl
import subprocess
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult

parser = argparse.ArgumentParser()
parser.add_argument("--record", required=True)
for flag in ("--untrusted", "--login-only", "--raw", "--exim"):
    parser.add_argument(flag, action="store_true")
parser.add_argument("--delay", type=float, default=0)  # seconds before each reply after EHLO
parser.add_argument("--verdict-delay", type=float, default=0)  # seconds before the reply to the message
parser.add_argument("--tls", choices=["starttls", "implicit"])
parser.add_argument("--login")  # user:password the server demands
parser.add_argument("--reply", action="append", default=[])
options = parser.parse_args()
folder = os.path.dirname(os.path.abspath(options.record))


def record(event, **entry):
    with open(options.record, "a", encoding="utf-8") as file:
        file.write(json.dumps(dict(entry, event=event)) + "\n")


class Handler:
    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        problems = [type(defect).__name__ for value in [message, *message.values()] for defect in value.defects]
        if "@" not in envelope.mail_from or "Message-ID" not in message or not message["From"].addresses[0].domain:
            problems.append("a sender without a domain or no Message-ID")
        headers = {name: [str(value) for value in message.get_all(name)] for name in message.keys()}
        record("message", mail_from=envelope.mail_from, rcpt_tos=envelope.rcpt_tos, headers=headers, problems=problems,
               to=[address.addr_spec for address in message["To"].addresses], body=message.get_body().get_content())
        await asyncio.sleep(options.verdict_delay)
        return "554 5.6.0 " + "; ".join(problems)[:400] if problems else "250 OK"


class RecordingSMTP(SMTP):
    def __init__(self, *arguments, **keywords):
        super().__init__(*arguments, **keywords)
        self.greeted = False

        def recorded(verb, method):
            async def call(argument):
                record("line", text=f"{verb} {argument}" if argument else verb)
                await method(argument)
                self.greeted = self.greeted or verb == "EHLO"
                if verb == "DATA":  # the message has come
                    record("line", text=".")
            return call
        self._smtp_methods = {verb: recorded(verb, method) for verb, method in self._smtp_methods.items()}

    async def push(self, status):
        await asyncio.sleep(options.delay if self.greeted else 0)
        await super().push(status)


def authenticate(server, session, envelope, mechanism, data):
    # Not "handled": aiosmtpd then answers a failure with 535 itself.
    return AuthResult(success=options.login == f"{data.login.decode()}:{data.password.decode()}", handled=False)


def tls_context():
    """A self-signed certificate, which the client trusts as ca.pem unless it is --untrusted."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-days", "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                    "-keyout", "server.key", "-out", "server.pem"], check=True, capture_output=True, cwd=folder)
    if not options.untrusted:
        os.symlink("server.pem", os.path.join(folder, "ca.pem"))
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(folder, "server.pem"), os.path.join(folder, "server.key"))
    return context


def serve_aiosmtpd():
    context = tls_context() if options.tls else None
    arguments = {"hostname": "ostrel-test.localhost"}
    if options.tls == "starttls":
        arguments.update(tls_context=context, require_starttls=True)
    if options.login:
        # aiosmtpd does not count TLS from the start as TLS; the session is encrypted all the same.
        arguments.update(authenticator=authenticate, auth_required=True, auth_require_tls=options.tls != "implicit",
                         auth_exclude_mechanism=["PLAIN"] if options.login_only else [])
    loop = asyncio.new_event_loop()
    implicit = context if options.tls == "implicit" else None
    server = loop.run_until_complete(
        loop.create_server(lambda: RecordingSMTP(Handler(), loop=loop, **arguments), "127.0.0.1", 0, ssl=implicit))
    print("ready", server.sockets[0].getsockname()[1], flush=True)
    # The test ends the server by closing our input (also when the test dies).
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), loop.call_soon_threadsafe(loop.stop)),
                     daemon=True).start()
    loop.run_forever()


def scripted(connection):
    replies = {"GREETING": "220 raw", "EHLO": "250 raw", "HELO": "250 raw", "MAIL": "250 ok", "RCPT": "250 ok",
               "DATA": "354 go", ".": "250 queued", "QUIT": "221 bye", "MESSAGE": ""}
    replies.update(reply.split("=", 1) for reply in options.reply)
    say = lambda text: text and connection.sendall(text.encode("utf-8", "surrogateescape") + b"\r\n")
    in_message = False
    say(replies["GREETING"])
    while True:
        line = (yield).decode(errors="replace")
        verb = ("." if line == "." else "MESSAGE") if in_message else line.split(" ")[0].split(":")[0].upper()
        reply = replies.get(line, replies.get(verb, "500 5.5.1 unknown"))
        if reply == "-":
            return connection.shutdown(socket.SHUT_RDWR)
        say(reply)
        in_message = verb == "DATA" and reply.startswith("354") or in_message and verb == "MESSAGE"


def stock_exim(connection):
    exim = subprocess.Popen(["/usr/sbin/exim4", "-bh", "127.0.0.1", "-oMs", "localhost", "-DMAIN_HOST_LOOKUP="],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def relay():  # its answers, without the notes of the testing mode
        with contextlib.suppress(OSError):
            for line in exim.stdout:
                if line.strip() and not line.startswith(b"**** "):
                    connection.sendall(line)
    threading.Thread(target=relay, daemon=True).start()
    with exim.stdin:
        while True:
            exim.stdin.write((yield) + b"\r\n")
            exim.stdin.flush()


def serve_recorded(peer):
    listener = socket.create_server(("127.0.0.1", 0))
    print("ready", listener.getsockname()[1], flush=True)
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
    while True:
        connection = listener.accept()[0]

        def session(connection=connection, answer=peer(connection)):
            next(answer)
            with connection, connection.makefile("rb") as lines, contextlib.suppress(StopIteration, OSError):
                for line in lines:
                    record("line", text=line.rstrip(b"\r\n").decode(errors="replace"))
                    answer.send(line.rstrip(b"\r\n"))
            answer.close()
        threading.Thread(target=session, daemon=True).start()


serve_recorded(stock_exim if options.exim else scripted) if options.raw or options.exim else serve_aiosmtpd()
