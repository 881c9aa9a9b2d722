#!/usr/bin/python3
"""SMTP peers on loopback for Ostrel's tests. Prints "ready <port>", serves until its input closes and appends one
JSON line per event to --record.

By default a real SMTP server (aiosmtpd) recording "connect", "data", "quit" and "message"; a message with any defect
Python's email package (policy.default) finds, a sender without a domain or no Message-ID is refused with 554.
With --raw, a listener that records every line it receives ("line") and answers by command from a script; with
--exim, the same recording in front of Debian's stock exim (its own configuration, in host-testing mode, which checks
and answers as the daemon would but delivers nothing).
"""
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
parser.add_argument("--host", default="127.0.0.1")
parser.add_argument("--reject-recipient", action="append", default=[])
for flag in ("--drop-in-data", "--smtputf8", "--wrong-ca", "--login-only", "--raw", "--exim"):
    parser.add_argument(flag, action="store_true")
parser.add_argument("--delay", type=float, default=0)  # seconds before each reply after EHLO
parser.add_argument("--verdict-delay", type=float, default=0)  # seconds before the reply to the message
parser.add_argument("--tls", choices=["starttls", "implicit"])
parser.add_argument("--login")  # user:password the server demands
parser.add_argument("--reply", action="append", default=[])  # raw: VERB=TEXT, "" for silence; GREETING, "." too
options = parser.parse_args()
folder = os.path.dirname(os.path.abspath(options.record))


def record(entry):
    with open(options.record, "a", encoding="utf-8") as file:
        file.write(json.dumps(entry) + "\n")


def describe(data, mail_from, utf8):
    message = (email.message_from_string(data.decode("utf-8"), policy=email.policy.default) if utf8
               else email.message_from_bytes(data, policy=email.policy.default))
    problems = [type(d).__name__ for d in message.defects]
    for name, value in message.items():
        # RFC 6532 allows a local part beyond ASCII in a message sent with SMTPUTF8.
        problems += [f"{name}: {type(d).__name__}" for d in getattr(value, "defects", [])
                     if not (utf8 and type(d).__name__ == "NonASCIILocalPartDefect")]
    senders = message["From"].addresses if message["From"] is not None else ()
    if "@" not in mail_from or not senders or not all(sender.domain for sender in senders):
        problems.append(f"sender without a domain: {mail_from!r}, {message['From']!r}")
    if message["Message-ID"] is None:
        problems.append("no Message-ID")
    body = message.get_body(preferencelist=("plain",))
    return {"headers": [[name, str(value)] for name, value in message.items()], "problems": problems,
            "to": [a.addr_spec for a in message["To"].addresses] if message["To"] is not None else [],
            "body": body.get_content() if body is not None else None}


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in options.reject_recipient:
            return "550 5.1.1 unknown user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        entry = {"event": "message", "mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}
        try:
            entry.update(describe(envelope.original_content, envelope.mail_from, "SMTPUTF8" in envelope.mail_options))
        except Exception as error:  # a message Python cannot parse is recorded as such
            entry["problems"] = [repr(error)]
        record(entry)
        await asyncio.sleep(options.verdict_delay)
        return "554 5.6.0 " + "; ".join(entry["problems"])[:400] if entry["problems"] else "250 OK"


def authenticate(server, session, envelope, mechanism, auth_data):
    user, password = options.login.split(":", 1)
    # Not "handled": aiosmtpd then answers a failure with 535 itself.
    return AuthResult(success=(auth_data.login, auth_data.password) == (user.encode(), password.encode()),
                      handled=False)


class ShapedSMTP(SMTP):
    def connection_made(self, transport):
        record({"event": "connect"})
        super().connection_made(transport)

    async def push(self, status):
        if options.delay and getattr(self, "greeted", False):
            await asyncio.sleep(options.delay)
        await super().push(status)

    async def smtp_EHLO(self, hostname):
        await super().smtp_EHLO(hostname)
        self.greeted = True

    async def smtp_QUIT(self, arg):
        record({"event": "quit"})
        await super().smtp_QUIT(arg)

    async def smtp_DATA(self, arg):
        record({"event": "data"})
        if not (options.drop_in_data and self.envelope.rcpt_tos):
            return await super().smtp_DATA(arg)
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await self._reader.readline()
        self.transport.close()


def certificates():
    """ca.pem for the client; a server context whose certificate that CA signed (or another one)."""
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], check=True, capture_output=True, cwd=folder)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    for ca in ("ca", "other"):
        openssl("req", "-x509", *key, "-days", "1", "-subj", "/CN=Ostrel test " + ca, "-keyout", ca + ".key",
                "-out", ca + ".pem")
    openssl("req", *key, "-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.csr")
    with open(os.path.join(folder, "names.ext"), "w") as file:
        file.write(f"subjectAltName=IP:{options.host},DNS:localhost\n")
    ca = "other" if options.wrong_ca else "ca"
    openssl("x509", "-req", "-in", "server.csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial",
            "-days", "1", "-extfile", "names.ext", "-out", "server.pem")
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(folder, "server.pem"), os.path.join(folder, "server.key"))
    return context


def serve_aiosmtpd():
    context = certificates() if options.tls else None
    arguments = {"hostname": "ostrel-test.localhost", "timeout": 60, "enable_SMTPUTF8": options.smtputf8}
    if options.tls == "starttls":
        arguments.update(tls_context=context, require_starttls=True)
    if options.login:
        # aiosmtpd does not count TLS from the start as TLS; the session is encrypted all the same.
        arguments.update(authenticator=authenticate, auth_required=True, auth_require_tls=options.tls != "implicit",
                         auth_exclude_mechanism=["PLAIN"] if options.login_only else [])
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: ShapedSMTP(Handler(), loop=loop, **arguments), host=options.host, port=0,
        ssl=context if options.tls == "implicit" else None))
    print("ready", server.sockets[0].getsockname()[1], flush=True)
    # The test ends the server by closing our input (also when the test dies).
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), loop.call_soon_threadsafe(loop.stop)),
                     daemon=True).start()
    loop.run_forever()


def scripted(connection):
    """Answers each command line by its verb; silent within a message until its "."."""
    replies = {"GREETING": "220 raw", "EHLO": "250 raw", "HELO": "250 raw", "MAIL": "250 ok", "RCPT": "250 ok",
               "DATA": "354 go", ".": "250 queued", "QUIT": "221 bye", "STARTTLS": "220 go"}
    replies.update(reply.split("=", 1) for reply in options.reply)
    say = lambda text: text and connection.sendall(text.encode("utf-8", "surrogateescape") + b"\r\n")
    in_data = False
    say(replies["GREETING"])
    while True:
        line = yield
        verb = "." if in_data else line.split(b" ")[0].split(b":")[0].decode(errors="replace").upper()
        if not in_data or line == b".":
            say(replies.get(verb, "500 5.5.1 unknown"))
            in_data = verb == "DATA" and replies["DATA"].startswith("354")


def stock_exim(connection):
    """Debian's exim with its own configuration, answering on the connection as if from 127.0.0.1 ("localhost": no
    reverse look-up, which would wait on the tests' silent name server)."""
    exim = subprocess.Popen(["/usr/sbin/exim4", "-bh", "127.0.0.1", "-oMs", "localhost", "-DMAIN_HOST_LOOKUP="],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def relay():  # its answers, without the notes of the testing mode
        with contextlib.suppress(OSError):
            for line in exim.stdout:
                if line.strip() and not line.startswith(b"**** "):
                    connection.sendall(line)
    threading.Thread(target=relay, daemon=True).start()
    try:
        while True:
            exim.stdin.write((yield) + b"\r\n")
            exim.stdin.flush()
    finally:
        exim.stdin.close()
        exim.wait()


def serve_recorded(peer):
    listener = socket.create_server((options.host, 0))
    print("ready", listener.getsockname()[1], flush=True)
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
    while True:
        connection = listener.accept()[0]

        def session(connection=connection, answer=peer(connection)):
            next(answer)
            with connection, connection.makefile("rb") as lines:
                for line in lines:
                    line = line.rstrip(b"\r\n")
                    record({"event": "line", "text": line.decode(errors="replace")})
                    try:
                        answer.send(line)
                    except (StopIteration, OSError):
                        break
            answer.close()
        threading.Thread(target=session, daemon=True).start()


serve_recorded(stock_exim if options.exim else scripted) if options.raw or options.exim else serve_aiosmtpd()
