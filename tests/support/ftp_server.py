#!/usr/bin/python3
"""ftp_server.py HOST PORT {anonymous|named-only}: prints "ready <port>", serves until its standard input closes."""
import logging, os, sys, tempfile, threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

logging.basicConfig(level=logging.ERROR)
host, port, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
home = tempfile.mkdtemp(prefix="ostrel-ftp-")
FTPHandler.authorizer = DummyAuthorizer()  # which takes any password from "anonymous"
FTPHandler.authorizer.add_user(*(("anonymous", "") if mode == "anonymous" else ("operator", "secret")), home)
# Longer than one line allows, so the greeting comes as a multi-line reply.
FTPHandler.banner = "Ostrel test server. " + "This greeting is long enough to be sent as a multi-line reply. " * 2
FTPHandler.auth_failed_timeout = 0.1   # pyftpdlib waits 3 s before refusing a logon
server = FTPServer((host, port), FTPHandler)
print("ready", server.socket.getsockname()[1], flush=True)
threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
server.serve_forever(timeout=0.2)
