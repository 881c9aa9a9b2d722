#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) on a loopback port for Ostrel's tests.

Prints "ready <port>" once it listens and serves until its standard input
closes. Appends one JSON line per connection ({"event": "connect"}) and per
message (event "message", see handle_DATA and describe) to the --record file.
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

parser = argparse.ArgumentParser()
parser.add_argument("--record", required=True)
parser.add_argument("--host", default="127.0.0.1")
parser.add_argument("--port", type=int, default=0)
parser.add_argument("--reject-sender", action="store_true")
parser.add_argument("--reject-recipient", action="append", default=[])
parser.add_argument("--drop-in-data", action="store_true")
parser.add_argument("--no-ehlo", action="store_true")
options = parser.parse_args()


def record(entry):
    with open(options.record, "a", encoding="utf-8") as file:
        file.write(json.dumps(entry) + "\n")


def describe(data):
    message = email.message_from_bytes(data, policy=email.policy.default)
    body_part = message.get_body(preferencelist=("plain",))
    return {
        "headers": [[name, str(value)] for name, value in message.items()],
        # Unfolding removes the line breaks and keeps the blank that follows each.
        "raw_headers": [[name, re.sub(r"\r?\n(?=[ \t])", "", value).rstrip("\r\n")]
                        for name, value in message.raw_items()],
        "body": body_part.get_content() if body_part is not None else None,
        "attachments": [{"filename": part.get_filename(),
                         "content": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii")}
                        for part in message.iter_attachments()],
    }


class Handler:
    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if options.reject_sender:
            return "550 5.7.1 Sender rejected"
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in options.reject_recipient:
            return "550 5.1.1 Recipient rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content
        entry = {"event": "message", "mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                 "data": data.decode("utf-8", errors="backslashreplace")}
        try:
            entry.update(describe(data))
        except Exception as error:  # a message Python cannot parse is recorded as such
            entry["parse_error"] = repr(error)
        record(entry)
        return "250 OK"


class ShapedSMTP(SMTP):
    def connection_made(self, transport):
        record({"event": "connect"})
        super().connection_made(transport)

    async def smtp_EHLO(self, hostname):
        if options.no_ehlo:
            await self.push("502 5.5.1 EHLO not implemented")
        else:
            await super().smtp_EHLO(hostname)

    async def smtp_DATA(self, arg):
        if options.drop_in_data and self.envelope.rcpt_tos:
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            await self._reader.readline()
            self.transport.close()
        else:
            await super().smtp_DATA(arg)


loop = asyncio.new_event_loop()
asyncio.set_event_loop(loop)
server = loop.run_until_complete(loop.create_server(
    lambda: ShapedSMTP(Handler(), loop=loop, hostname="ostrel-test.localhost", timeout=60),
    host=options.host, port=options.port))
print("ready", server.sockets[0].getsockname()[1], flush=True)
# The test ends the server by closing our input (also when the test dies).
threading.Thread(target=lambda: (sys.stdin.buffer.read(), loop.call_soon_threadsafe(loop.stop)), daemon=True).start()
loop.run_forever()
