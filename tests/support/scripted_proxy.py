#!/usr/bin/python3
"""A scripted HTTP proxy for the download client's proxy-authentication tests.

    scripted_proxy.py --log FILE [--fail N|always] [--negotiate]
                      [--realm TEXT] [--body TEXT]

Listens on 127.0.0.1 at a port of the system's choice and prints that port
as its first line on standard output; runs until its standard input ends.
It never forwards anything: it answers every request itself.

Each client *send* is answered "407 Proxy Authentication Required" while
fewer than N+1 sends have arrived ("always": every send), offering
"Proxy-Authenticate: Negotiate" (with --negotiate), "NTLM" and
"Basic realm=..." in that order; after that it is answered 200 with the body.
A send is one request, except that an NTLM handshake is one send spread over
two requests on one connection: the type-1 message is always answered 407
with a type-2 challenge (whatever the count), and the type-3 message that
follows is the request the send is judged by.

Every request is logged as one JSON line to FILE, in arrival order:

    {"seq": 1, "connection": 1, "method": "GET", "url": "http://host/path",
     "accept": "*/*" or null, "scheme": "none" | "Negotiate" | "NTLM-type1" |
     "NTLM-type3" | "Basic" | "other", "user": "name" or null,
     "domain": "name" or null (NTLM type-3), "password": "text" or null
     (Basic only), "send": true | false, "status": 407 | 200}

"send" is false only for an NTLM type-3 message (the end of the send its
type-1 began), so the client's sends are the lines with "send": true; the
send number of a line is its count among those. A type-3 message arriving
without a type-1 before it on its connection is still a continuation.
"""

import argparse
import base64
import http.server
import json
import os
import socketserver
import struct
import sys
import threading

NTLM_SIGNATURE = b"NTLMSSP\x00"
# NEGOTIATE_UNICODE | NEGOTIATE_NTLM | NEGOTIATE_ALWAYS_SIGN
NTLM_CHALLENGE_FLAGS = 0x00000001 | 0x00000200 | 0x00008000
NTLM_CHALLENGE = b"\x01\x23\x45\x67\x89\xab\xcd\xef"


def ntlm_type2():
    """A minimal type-2 (challenge) message: no target name, no target info."""
    end = 48
    return (NTLM_SIGNATURE + struct.pack("<I", 2)
            + struct.pack("<HHI", 0, 0, end)        # target name
            + struct.pack("<I", NTLM_CHALLENGE_FLAGS)
            + NTLM_CHALLENGE
            + b"\x00" * 8                           # context
            + struct.pack("<HHI", 0, 0, end))       # target info


def ntlm_type(message):
    if len(message) < 12 or not message.startswith(NTLM_SIGNATURE):
        return None
    return struct.unpack_from("<I", message, 8)[0]


def ntlm_type3_names(message):
    """(user, domain) of a type-3 message, or (None, None) if it is cut short."""
    if len(message) < 52:
        return None, None
    unicode = len(message) >= 64 and struct.unpack_from("<I", message, 60)[0] & 1

    def field(at):
        length, _, offset = struct.unpack_from("<HHI", message, at)
        raw = message[offset:offset + length]
        return raw.decode("utf-16-le" if unicode else "latin-1", "replace")

    return field(36), field(28)


class Script:
    """The count of sends and the log; shared by the handler threads."""

    def __init__(self, log_path, fail, negotiate, realm, body):
        self.lock = threading.Lock()
        self.log = open(log_path, "a", encoding="utf-8")
        self.fail = fail  # None: always
        self.negotiate = negotiate
        self.realm = realm
        self.body = body
        self.sends = 0
        self.seq = 0
        self.connections = 0

    def new_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def judge(self, counts_as_send):
        """Status for a request that ends a send (or 407 for one that does not)."""
        with self.lock:
            if not counts_as_send:
                return 407
            self.sends += 1
            if self.fail is None or self.sends <= self.fail:
                return 407
            return 200

    def record(self, entry):
        with self.lock:
            self.seq += 1
            entry = dict(seq=self.seq, **entry)
            self.log.write(json.dumps(entry) + "\n")
            self.log.flush()


def classify(header):
    """(scheme, user, domain, password, ntlm_type) of a Proxy-Authorization value."""
    if header is None:
        return "none", None, None, None, None
    scheme, _, token = header.strip().partition(" ")
    token = token.strip()
    if scheme.lower() == "basic":
        try:
            user, _, password = base64.b64decode(token).decode("utf-8", "replace").partition(":")
        except ValueError:
            return "Basic", None, None, None, None
        return "Basic", user, None, password, None
    if scheme.lower() == "ntlm":
        try:
            message = base64.b64decode(token)
        except ValueError:
            return "other", None, None, None, None
        kind = ntlm_type(message)
        if kind == 1:
            return "NTLM-type1", None, None, None, 1
        if kind == 3:
            user, domain = ntlm_type3_names(message)
            return "NTLM-type3", user, domain, None, 3
        return "other", None, None, None, None
    if scheme.lower() == "negotiate":
        return "Negotiate", None, None, None, None
    return "other", None, None, None, None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive: an NTLM handshake needs one connection

    def setup(self):
        super().setup()
        self.connection_id = self.server.script.new_connection()

    def log_message(self, *args):  # no chatter on standard error
        pass

    def answer(self):
        script = self.server.script
        scheme, user, domain, password, kind = classify(self.headers.get("Proxy-Authorization"))
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        if kind == 1:
            status = 407
        else:
            status = script.judge(counts_as_send=True)
        script.record(dict(connection=self.connection_id, method=self.command, url=self.path,
                           accept=self.headers.get("Accept"), scheme=scheme, user=user,
                           domain=domain, password=password, send=kind != 3, status=status))
        if status == 200:
            body = script.body
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
        else:
            body = b"proxy authentication required\n"
            self.send_response(407, "Proxy Authentication Required")
            if kind == 1:
                challenge = base64.b64encode(ntlm_type2()).decode("ascii")
                self.send_header("Proxy-Authenticate", "NTLM " + challenge)
            else:
                if script.negotiate:
                    self.send_header("Proxy-Authenticate", "Negotiate")
                self.send_header("Proxy-Authenticate", "NTLM")
                self.send_header("Proxy-Authenticate", 'Basic realm="%s"' % script.realm)
            self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = answer


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--log", required=True, help="file that receives one JSON line per request")
    parser.add_argument("--fail", default="0", help="sends answered 407 before the 200, or 'always'")
    parser.add_argument("--negotiate", action="store_true", help="offer Negotiate as well")
    parser.add_argument("--realm", default="Vorneth test proxy", help="realm of the Basic offer")
    parser.add_argument("--body", default="proxied body\n", help="body of the 200 answer")
    options = parser.parse_args()
    fail = None if options.fail == "always" else int(options.fail)

    server = Server(("127.0.0.1", 0), Handler)
    server.script = Script(options.log, fail, options.negotiate, options.realm, options.body.encode("utf-8"))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    # Runs until the test closes our input (or ends).
    while sys.stdin.buffer.read(4096):
        pass
    server.shutdown()
    server.server_close()
    os._exit(0)  # handler threads may still hold kept-alive connections


if __name__ == "__main__":
    main()
