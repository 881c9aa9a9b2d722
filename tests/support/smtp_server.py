#!/usr/bin/python3
"""A real SMTP server on a free loopback port for Ostrel's tests.

Prints "PORT <n>" on stdout once it listens, then serves until its standard
input closes (so it never outlives the test that started it) or --lifetime
seconds have passed. Every connection and every message is recorded as one
JSON line in the --record file:
  {"event": "connect"}
  {"event": "message", "mail_from": ..., "rcpt_tos": [...], "data": <raw data,
   dot-stuffing removed>, "headers": [[name, decoded value]...], "raw_headers":
   [[name, value as sent, unfolded]...], "body": <decoded text part>,
   "attachments": [{"filename": ..., "content": <base64>}]}

Options shape the server's behaviour: --reject-sender answers MAIL FROM with
550, --reject-recipient ADDR answers RCPT TO for ADDR with 550, --drop-in-data
reads one line of the message and closes the connection, --no-ehlo rejects
EHLO with 502, --multiline-greeting greets over three lines.
"""
import argparse
import asyncio
import base64
import email
import email.policy
import json
import re
import sys
import threading

from aiosmtpd.smtp import SMTP


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--reject-sender", action="store_true")
    parser.add_argument("--reject-recipient", action="append", default=[])
    parser.add_argument("--drop-in-data", action="store_true")
    parser.add_argument("--no-ehlo", action="store_true")
    parser.add_argument("--multiline-greeting", action="store_true")
    parser.add_argument("--lifetime", type=float, default=600)
    return parser.parse_args()


class Recorder:
    def __init__(self, path):
        self.path = path

    def write(self, entry):
        with open(self.path, "a", encoding="utf-8") as record:
            record.write(json.dumps(entry) + "\n")
            record.flush()


def describe(data):
    message = email.message_from_bytes(data, policy=email.policy.default)
    headers = [[name, str(value)] for name, value in message.items()]
    # Unfolding removes the line breaks and keeps the blank that follows each.
    raw_headers = [[name, re.sub(r"\r?\n(?=[ \t])", "", value).rstrip("\r\n")]
                   for name, value in message.raw_items()]
    body_part = message.get_body(preferencelist=("plain",))
    body = body_part.get_content() if body_part is not None else None
    attachments = []
    for part in message.iter_attachments():
        attachments.append({
            "filename": part.get_filename(),
            "content": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
        })
    return {"headers": headers, "raw_headers": raw_headers, "body": body, "attachments": attachments}


class Handler:
    def __init__(self, options, recorder):
        self.options = options
        self.recorder = recorder

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.options.reject_sender:
            return "550 5.7.1 Sender rejected"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.options.reject_recipient:
            return "550 5.1.1 Recipient rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content
        entry = {
            "event": "message",
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "data": data.decode("utf-8", errors="backslashreplace"),
        }
        try:
            entry.update(describe(data))
        except Exception as error:  # a message Python cannot parse is recorded as such
            entry["parse_error"] = repr(error)
        self.recorder.write(entry)
        return "250 OK"


class ShapedSMTP(SMTP):
    def __init__(self, *args, options, recorder, **kwargs):
        super().__init__(*args, **kwargs)
        self.options = options
        self.recorder = recorder
        self.greeted = False

    def connection_made(self, transport):
        self.recorder.write({"event": "connect"})
        super().connection_made(transport)

    async def push(self, status):
        if not self.greeted and self.options.multiline_greeting:
            self.greeted = True
            await super().push("220-Ostrel test server")
            await super().push("220-a greeting over several lines")
        self.greeted = True
        await super().push(status)

    async def smtp_EHLO(self, hostname):
        if self.options.no_ehlo:
            await self.push("502 5.5.1 EHLO not implemented")
            return
        await super().smtp_EHLO(hostname)

    async def smtp_DATA(self, arg):
        if self.options.drop_in_data and self.envelope.rcpt_tos:
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            await self._reader.readline()
            self.transport.close()
            return
        await super().smtp_DATA(arg)


def main():
    options = parse_arguments()
    recorder = Recorder(options.record)
    handler = Handler(options, recorder)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        return ShapedSMTP(handler, options=options, recorder=recorder, loop=loop,
                          hostname="ostrel-test.localhost", timeout=60)

    server = loop.run_until_complete(loop.create_server(factory, host=options.host, port=options.port))
    port = server.sockets[0].getsockname()[1]
    print(f"PORT {port}", flush=True)

    def watch_stdin():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=watch_stdin, daemon=True).start()
    loop.call_later(options.lifetime, loop.stop)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
