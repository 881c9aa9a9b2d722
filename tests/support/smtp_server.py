#!/usr/bin/python3
"""SMTP peers on loopback: print "ready <port>", serve until their input closes, record in --record the commands and
each message. aiosmtpd refuses a message with a defect Python finds, no Message-ID, or From or To not the envelope's.
VERB=TEXT or LINE=TEXT: a raw peer answering so ("" silent; "." the message's end). --exim: Debian's stock exim."""
import argparse
import asyncio
import contextlib
import email.policy
import json
import logging
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time

from aiosmtpd.smtp import SMTP, AuthResult

parser = argparse.ArgumentParser()
parser.add_argument("--record", required=True)
for flag in ("--login-only", "--exim"):
    parser.add_argument(flag, action="store_true")
parser.add_argument("--delay", type=float, default=0)  # seconds before AUTH is answered
parser.add_argument("--tls", choices=["starttls", "implicit"])
parser.add_argument("--login")  # user:password the server demands
parser.add_argument("reply", nargs="*")
options = parser.parse_intermixed_args()


def record(name, text):
    with open(os.path.join(options.record, name), "a", encoding="utf-8") as file:
        file.write(text + "\n")


def record_command(line):  # a MAIL whole, any other command by its first word
    text = line.decode(errors="replace")
    record("lines", text if text.upper().startswith("MAIL") else re.split("[ :]", text)[0])


class Handler:
    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        problems = [type(defect).__name__ for value in [message, *message.values()] for defect in value.defects]
        wanted = {"From": f"Ostrel <{envelope.mail_from}>", "To": ", ".join(envelope.rcpt_tos)}
        problems += [f"{name} is not {value}" for name, value in wanted.items() if message[name] != value]
        problems += [] if "@" in envelope.mail_from and "Message-ID" in message else ["no domain or no Message-ID"]
        headers = {name: [str(value) for value in message.get_all(name)] for name in message.keys()}
        record("messages", json.dumps(dict(rcpt_tos=envelope.rcpt_tos, headers=headers,
                                           body=message.get_body().get_content())))
        return "554 5.6.0 " + "; ".join(problems)[:400] if problems else "250 OK"


def authenticate(server, session, envelope, mechanism, data):
    time.sleep(options.delay)  # the whole server stands still, as one that stopped answering
    # Not "handled": aiosmtpd then answers a failure with 535 itself.
    return AuthResult(success=options.login == f"{data.login.decode()}:{data.password.decode()}", handled=False)


def serve_aiosmtpd():
    context = None
    if options.tls:  # a self-signed certificate, which the client may trust as server.pem
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-days", "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                        "-keyout", "server.key", "-out", "server.pem"], check=True, capture_output=True,
                       cwd=options.record)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(options.record, "server.pem"), os.path.join(options.record, "server.key"))
    arguments = {"hostname": "ostrel-test.localhost"}
    if options.tls == "starttls":
        arguments.update(tls_context=context, require_starttls=True)
    if options.login:
        # aiosmtpd does not count TLS from the start as TLS; the session is encrypted all the same.
        arguments.update(authenticator=authenticate, auth_required=True, auth_require_tls=options.tls != "implicit",
                         auth_exclude_mechanism=["PLAIN"] if options.login_only else [])
    # aiosmtpd logs each command line it reads so, an AUTH secret masked: recorded, and the log keeps nothing.
    logging.getLogger("mail.log").setLevel(logging.INFO)
    logging.getLogger("mail.log").addFilter(lambda entry: entry.msg == "%r >> %r" and record_command(entry.args[1]))
    loop = asyncio.new_event_loop()
    implicit = context if options.tls == "implicit" else None
    server = loop.run_until_complete(
        loop.create_server(lambda: SMTP(Handler(), loop=loop, **arguments), "127.0.0.1", 0, ssl=implicit))
    print("ready", server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


def scripted(connection):  # a message line matches no key, and has no answer
    replies = {"GREETING": "220 raw", "EHLO": "250 raw", "HELO": "250 raw", "MAIL": "250 ok", "RCPT": "250 ok",
               "DATA": "354 go", ".": "250 queued", "QUIT": "221 bye"}
    replies.update(reply.split("=", 1) for reply in options.reply)
    say = lambda text: text and connection.sendall(text.encode("utf-8", "surrogateescape") + b"\r\n")
    line = "GREETING"
    while True:
        say(replies.get(line, replies.get(re.split("[ :]", line)[0].upper(), "")))
        line = (yield).decode(errors="replace")


def stock_exim(connection):
    # Its answers go straight to the client, without the notes of the testing mode.
    exim = subprocess.Popen("/usr/sbin/exim4 -bh 127.0.0.1 -oMs localhost -DMAIN_HOST_LOOKUP= 2>/dev/null"
                            " | grep --line-buffered -v -E '^([*]{4} |$)'", shell=True, stdin=subprocess.PIPE,
                            stdout=connection, bufsize=0)
    with exim.stdin:
        while True:
            exim.stdin.write((yield) + b"\r\n")


def serve_recorded(peer):
    listener = socket.create_server(("127.0.0.1", 0))
    print("ready", listener.getsockname()[1], flush=True)
    while True:  # one session after the other, as the program makes them
        connection = listener.accept()[0]
        answer, in_message = peer(connection), False
        next(answer)
        with connection, connection.makefile("rb") as lines, contextlib.suppress(StopIteration, OSError):
            for line in (line.rstrip(b"\r\n") for line in lines):
                if not in_message:
                    record_command(line)
                in_message = line != b"." if in_message else line == b"DATA"
                answer.send(line)
        answer.close()


threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
serve_recorded(stock_exim if options.exim else scripted) if options.reply or options.exim else serve_aiosmtpd()
