#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) on loopback for Ostrel's tests; with --exim a real exim daemon delivering into a file.

Prints "ready <port>", serves until its input closes and appends one JSON line per event ("connect", "data", "quit",
"message") to --record. A message with any defect Python's email package (policy.default) finds, a sender without a
domain or no Message-ID is recorded with its problems and refused with 554.
"""
import argparse
import asyncio
import email
import email.policy
import json
import mailbox
import os
import socket
import ssl
import subprocess
import sys
import threading
import time

from aiosmtpd.smtp import SMTP, AuthResult

parser = argparse.ArgumentParser()
parser.add_argument("--record", required=True)
parser.add_argument("--host", default="127.0.0.1")
parser.add_argument("--reject-sender", action="store_true")
parser.add_argument("--reject-recipient", action="append", default=[])
for flag in ("--drop-in-data", "--no-ehlo", "--smtputf8", "--exim", "--wrong-ca"):
    parser.add_argument(flag, action="store_true")
parser.add_argument("--delay", type=float, default=0)  # seconds before each reply after EHLO
parser.add_argument("--tls", choices=["starttls", "implicit"])
parser.add_argument("--login")  # user:password the server demands
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
    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if options.reject_sender:
            return "550 5.7.1 Sender rejected"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

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
        if options.no_ehlo:
            return await self.push("502 5.5.1 EHLO not implemented")
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
        arguments.update(authenticator=authenticate, auth_required=True, auth_require_tls=options.tls != "implicit")
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


def serve_exim():
    with socket.socket() as probe:
        probe.bind((options.host, 0))
        port = probe.getsockname()[1]
    for sub in ("spool", "mail"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        subprocess.run(["chown", "Debian-exim:Debian-exim", os.path.join(folder, sub)], check=True)
    os.chmod(folder, 0o755)
    config = os.path.join(folder, "exim.conf")
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "exim.conf")) as template, \
            open(config, "w") as file:
        file.write(template.read().format(folder=folder, port=port))
    daemon = subprocess.Popen(["/usr/sbin/exim4", "-C", config, "-bdf", "-oX", str(port)],
                              stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, "exim.err"), "w"))
    for _ in range(100):
        try:
            socket.create_connection((options.host, port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    print("ready", port, flush=True)
    inbox, seen, stop = os.path.join(folder, "mail", "inbox"), set(), threading.Event()
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), stop.set()), daemon=True).start()
    while not stop.wait(0.05):
        box = mailbox.mbox(inbox, create=False) if os.path.exists(inbox) else {}
        for key in set(box.keys()) - seen:
            seen.add(key)
            data = box.get_bytes(key)
            message = email.message_from_bytes(data, policy=email.policy.default)
            entry = {"event": "message", "mail_from": str(message["Return-path"]).strip("<>"),
                     "rcpt_tos": [address.strip() for address in str(message["Envelope-to"]).split(",")]}
            entry.update(describe(data, entry["mail_from"], False))
            record(entry)
    daemon.terminate()
    daemon.wait()


serve_exim() if options.exim else serve_aiosmtpd()
