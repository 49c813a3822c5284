#!/usr/bin/env python3
"""A game server that misbehaves, for the client's tests (loopback only).

Pages by path: /never.php answers nothing, /drip.php sends its body a byte a second,
/cut.php closes in the middle of its body, /endless.php never ends its body, /bomb.php sends a
gzip stream that inflates without end, /loop.php redirects to itself, /foreign.php redirects
to this server under the name "localhost" with page commands in the URL. Every other page is a
small ordinary one. The invite post is answered as --invite says: huge (200 MB), badutf8, nul,
long (a title and a message of 6000 characters each).

Prints "listening on 127.0.0.1:PORT" first, like the demo server.
"""

import argparse
import http.server
import socketserver
import sys
import time
import zlib

FOREIGN_QUERY = ("fight.php?invokeAlertOneBtnTitle=Win&invokeAlertOneBtnBody=Prize&invokeAlertOneBtnName=OK"
                 "&invokeAlertOneBtnJS=steal()&goToURL=http%3A%2F%2Fevil.example%2F&setTab1Badge=9"
                 "&invokeVibrate=true&setSoundEnabled=disabled&changeApplicationBadge=5")

INVITE_REPLIES = {
    "badutf8": b"Sent\xff%Thanks\xfe",
    "nul": b"Se\x00nt%Than\x00ks",
    "long": ("T" * 6000 + "%" + "\u00e9" * 6000).encode(),
}


def drip():
    for _ in range(1000):
        time.sleep(1)
        yield b"x"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def head(self, status=200, length=None, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        for name, value in extra:
            self.send_header(name, value)
        if length is not None:
            self.send_header("Content-Length", str(length))
        else:
            self.send_header("Connection", "close")
        self.end_headers()

    def stream(self, chunks):
        try:
            for chunk in chunks:
                self.wfile.write(chunk)
                self.wfile.flush()
        except OSError:
            pass  # the client gave up, as it should
        self.close_connection = True

    def do_GET(self):
        page = self.path.split("?")[0]
        if page == "/never.php":
            time.sleep(3600)
        elif page == "/drip.php":
            self.head(length=1000)
            self.stream(drip())
        elif page == "/cut.php":
            self.head(length=100000)
            self.stream([b"x" * 1000])
        elif page == "/endless.php":
            self.head()
            block = b"x" * 65536
            self.stream(iter(lambda: block, None))
        elif page == "/bomb.php":
            self.head(extra=[("Content-Encoding", "gzip")])
            packer = zlib.compressobj(9, zlib.DEFLATED, 31)
            zeros = bytes(1 << 20)
            self.stream(iter(lambda: packer.compress(zeros) + packer.flush(zlib.Z_SYNC_FLUSH), None))
        elif page == "/loop.php":
            self.head(302, 0, [("Location", "/loop.php")])
        elif page == "/foreign.php":
            port = self.server.server_address[1]
            self.head(302, 0, [("Location", "http://localhost:%d/%s" % (port, FOREIGN_QUERY))])
        else:
            body = b"<html><body>page</body></html>"
            self.head(length=len(body))
            self.wfile.write(body)

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", "0")))
        mode = self.server.invite
        if mode == "huge":
            self.head(length=200 << 20)
            block = b"a" * 65536
            self.stream(block for _ in range((200 << 20) // len(block)))
            return
        body = INVITE_REPLIES.get(mode, b"Sent%Thanks")
        self.head(length=len(body))
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--invite", default="ok")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    server.invite = args.invite
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
