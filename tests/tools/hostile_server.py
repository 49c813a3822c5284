#!/usr/bin/env python3
"""A misbehaving game server for the client's tests (loopback only). Pages by name: never
(no answer), drip (a byte a second), cut (closes mid-body), endless (a body without end), bomb
(gzip that inflates without end), loop (redirects to itself), foreign (redirects to this server
as "localhost", with page commands), and pages whose scripts misbehave: spin (a script that never
ends), popups (thousands of window.open), reload (reloads itself without end), size (its title is
its innerWidth x innerHeight, kept up to date), sound (plays tone.wav, a short WAV, on its own
and counts its quarter seconds in its title); any other page
is ordinary. Pages that aim the command bridge from elsewhere, for a client whose game server is
127.0.0.1 (the same server reached as "localhost" is another host): foreign-frame (a page with a
hidden command iframe to the game server), game-frames (a game page with a command iframe of its
own and three foreign iframes: ad-src holds a command iframe, ad-script navigates itself to a
command URL, bounce redirects to one), via (redirects to bounce on 127.0.0.1), tofile (redirects to
file:///etc/passwd), toscheme?to=URL (redirects there), file-frame (a game page with a hidden
iframe to tofile), own-frames (a game page with blank, srcdoc and data: iframes beside one to
bounce). The invite reply follows
--invite: huge (200 MB), badutf8, nul, long, slow (Sent%Thanks after 4 s; /posting.php says
"yes" from the post's arrival on). Prints "listening on 127.0.0.1:PORT" first.

Pages that try to leave the game's window (CONTAINED below): files to save (attachment, named
secret.txt; octet, of a type no browser shows; to-attachment by a 302; download-link by
<a download>; download-in-post, the same link clicked once /posting.php says "yes"), print,
choosers (file, colour: the whole page is the chooser's input, for a click) and fullscreen (asked for by a click anywhere), permissions (the answers are reported
by loading /answer.php?NAME=ANSWER), dialogs (16 one-button-alert command iframes, then the
page's own alert, confirm and prompt, whose answers are reported the same way) and storm (a game
page that loads a one-button-alert command URL in 3000 iframes, a few at a time)."""

import argparse
import io
import math
import struct
import wave
import http.server
import itertools
import socketserver
import time
import urllib.parse
import zlib

FOREIGN = ("fight.php?invokeAlertOneBtnTitle=Win&invokeAlertOneBtnBody=Prize&invokeAlertOneBtnName=OK"
           "&goToURL=http%3A%2F%2Fevil.example%2F&setTab1Badge=9&invokeVibrate=true"
           "&setSoundEnabled=disabled&changeApplicationBadge=5")
SCRIPTS = {
    "spin": "setTimeout(function () { for (;;) {} }, 200);",
    "popups": "for (var i = 0; i < 5000; i++) window.open('/popup' + i + '.php', '_blank');"
              "setInterval(function () { window.open('/again.php'); }, 10);",
    "reload": "location.reload();",
    "size": "function show() { document.title = innerWidth + ' x ' + innerHeight; }"
            "show(); addEventListener('resize', show);",
    # Plays tone.wav on its own; its title counts the page's seconds for as long as it lives.
    "sound": "var a = new Audio('/tone.wav'); a.loop = true; a.autoplay = true; document.body.appendChild(a);"
             "var n = 0; setInterval(function () { document.title = 'alive ' + (++n); }, 250);",
}
FRAME_PAGE = "<html><head><title>%s</title></head><body>%s%s</body></html>"


def command_url(port, tag):
    return ("http://127.0.0.1:%d/cmd.php?stopLoad=true&setTab%sBadge=%s&invokeVibrate=true"
            % (port, {"own": 3, "frame": 1, "src": 2, "script": 4, "redirect": 0}[tag], tag))


def frame(url):
    return '<iframe style="display:none" src="%s"></iframe>' % url


def framed_page(page, port):
    foreign = "http://localhost:%d" % port
    if page == "foreign-frame":
        return frame(command_url(port, "frame"))
    if page == "game-frames":
        return (frame(command_url(port, "own")) + frame(foreign + "/ad-src.php") + frame(foreign + "/ad-script.php")
                + frame(foreign + "/bounce.php"))
    if page == "ad-src":
        return frame(command_url(port, "src"))
    if page == "ad-script":
        return "<script>location.href = %r;</script>" % command_url(port, "script")
    if page == "own-frames":
        return (frame("about:blank") + '<iframe style="display:none" srcdoc="<p>ad</p>"></iframe>'
                + frame("data:text/html,ad") + frame("/bounce.php"))
    if page == "file-frame":
        return frame("/tofile.php")
    return None

SAVED = b"what the server wants written into the player's files\n"
PAGE = "<html><head><title>%s</title></head><body>%s</body></html>"
ANSWER = "function answer(name, value) { location.href = '/answer.php?' + name + '=' + value; }"
STORM_ALERT = ("/storm-alert.php?invokeAlertOneBtnTitle=Storm&invokeAlertOneBtnBody=Again"
               "&invokeAlertOneBtnName=OK&stopLoad=true&invokeAlertOneBtnJS=n")
CONTAINED = {
    "download-link": '<a id="a" download="secret.txt" href="/attachment.php">save</a><script>'
                     'onload = function () { setTimeout(function () { document.getElementById("a").click(); }, 300); };'
                     '</script>',
    "download-in-post": '<a id="a" download="secret.txt" href="/attachment.php">save</a><script>'
                        'var poll = setInterval(function () { fetch("/posting.php").then(function (r) { return r.text(); })'
                        '.then(function (said) { if (said == "yes") { clearInterval(poll);'
                        ' document.getElementById("a").click(); } }); }, 100);</script>',
    "print": "<script>window.print(); location.href = '/printed.php';</script>",
    # The choosers and fullscreen need a person's click: the page is one big target for it.
    "file": '<input type="file" style="position:fixed;left:0;top:0;width:100%;height:100%">'
            "<script>setTimeout(function () { location.href = '/chosen.php'; }, 3000);</script>",
    "colour": '<input type="color" style="position:fixed;left:0;top:0;width:100%;height:100%">'
              "<script>setTimeout(function () { location.href = '/chosen.php'; }, 3000);</script>",
    "fullscreen": '<div style="position:fixed;left:0;top:0;width:100%;height:100%"></div><script>' + ANSWER +
                  "onclick = function () { var e = document.documentElement;"
                  " if (!e.requestFullscreen) answer('fullscreen', 'unavailable');"
                  " else e.requestFullscreen().then(function () { answer('fullscreen', 'granted'); },"
                  "  function () { answer('fullscreen', 'refused'); }); };</script>",
    "permissions": "<script>" + ANSWER + "var left = 3, answers = [];"
                   "function got(name, value) { answers.push(name + '=' + value);"
                   " if (--left == 0) location.href = '/answer.php?' + answers.join('&'); }"
                   "navigator.geolocation.getCurrentPosition(function () { got('geolocation', 'granted'); },"
                   " function () { got('geolocation', 'refused'); });"
                   "Notification.requestPermission().then(function (p) { got('notification', p); });"
                   "navigator.mediaDevices.getUserMedia({audio: true}).then(function () { got('microphone', 'granted'); },"
                   " function () { got('microphone', 'refused'); });</script>",
    "dialogs": "<script>for (var i = 0; i < 16; i++) {"
               " var f = document.createElement('iframe'); f.style.display = 'none';"
               " f.src = '" + STORM_ALERT + "' + i; document.body.appendChild(f); }"
               "setTimeout(function () { alert('one more'); var c = confirm('sure?'), p = prompt('name?', 'Jo');"
               " location.href = '/answer.php?confirm=' + c + '&prompt=' + p; }, 1500);</script>",
    "storm": "<script>var n = 0, timer = setInterval(function () {"
             " for (var i = 0; i < 25 && n < 3000; i++) {"
             "  var f = document.createElement('iframe'); f.style.display = 'none';"
             "  f.src = '" + STORM_ALERT + "' + (n++); document.body.appendChild(f);"
             "  if (document.body.children.length > 50) document.body.removeChild(document.body.firstChild); }"
             " if (n >= 3000) { clearInterval(timer); document.title = 'calm'; } }, 10);</script>",
}

REPLIES = {"badutf8": b"Sent\xff%Thanks\xfe", "nul": b"Se\x00nt%Than\x00ks",
           "long": ("T" * 6000 + "%" + "\u00e9" * 6000).encode(), "huge": None}


def tone():
    """Half a second of 440 Hz, 8 kHz mono 16-bit."""
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * i / 8000))) for i in range(4000)))
    return out.getvalue()


TONE = tone()


def drip():
    for _ in range(1000):
        time.sleep(1)
        yield b"x"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, length, chunks, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if length is None:
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        try:
            for chunk in chunks:
                self.wfile.write(chunk)
                self.wfile.flush()
        except OSError:
            pass  # the client gave up, as it should
        self.close_connection = True

    def do_GET(self):
        if self.server.log:
            print("GET " + self.path, flush=True)
        page = self.path.split("?")[0][1:-4]
        if self.contained(page):
            return
        if self.path == "/tone.wav":
            self.reply(200, len(TONE), [TONE], [("Content-Type", "audio/wav")])
        elif page == "never":
            time.sleep(3600)
        elif page == "posting":
            said = b"yes" if self.server.posting else b"no"
            self.reply(200, len(said), [said], [("Content-Type", "text/plain")])
        elif page == "drip":
            self.reply(200, 1000, drip())
        elif page == "cut":
            self.reply(200, 100000, [b"x" * 1000])
        elif page == "endless":
            self.reply(200, None, itertools.repeat(b"x" * 65536))
        elif page == "bomb":
            packer, zeros = zlib.compressobj(9, zlib.DEFLATED, 31), bytes(1 << 20)
            chunks = (packer.compress(zeros) + packer.flush(zlib.Z_SYNC_FLUSH) for _ in itertools.count())
            self.reply(200, None, chunks, [("Content-Encoding", "gzip")])
        elif page in ("loop", "foreign"):
            target = "/loop.php" if page == "loop" else "http://localhost:%d/%s" % (self.server.server_address[1], FOREIGN)
            self.reply(302, 0, [], [("Location", target)])
        elif page in ("bounce", "via", "tofile", "toscheme"):
            port = self.server.server_address[1]
            target = {"bounce": command_url(port, "redirect"), "via": "http://127.0.0.1:%d/bounce.php" % port,
                      "tofile": "file:///etc/passwd",
                      "toscheme": urllib.parse.unquote(self.path.partition("?to=")[2])}[page]
            self.reply(302, 0, [], [("Location", target)])
        elif framed_page(page, self.server.server_address[1]) is not None:
            body = (FRAME_PAGE % (page, page, framed_page(page, self.server.server_address[1]))).encode()
            self.reply(200, len(body), [body], [("Content-Type", "text/html")])
        elif page in SCRIPTS:
            body = ("<html><head><title>%s</title></head><body>%s<script>%s</script></body></html>"
                    % (page, page, SCRIPTS[page])).encode()
            self.reply(200, len(body), [body], [("Content-Type", "text/html")])
        else:
            self.reply(200, 4, [b"page"])

    def contained(self, page):
        if page == "attachment":
            self.reply(200, len(SAVED), [SAVED], [("Content-Type", "text/plain"),
                                                  ("Content-Disposition", 'attachment; filename="secret.txt"')])
        elif page == "octet":
            self.reply(200, len(SAVED), [SAVED], [("Content-Type", "application/octet-stream")])
        elif page == "to-attachment":
            self.reply(302, 0, [], [("Location", "/attachment.php")])
        elif page in CONTAINED:
            body = (PAGE % (page, CONTAINED[page])).encode()
            self.reply(200, len(body), [body], [("Content-Type", "text/html")])
        else:
            return False
        return True

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if self.server.invite == "slow":
            self.server.posting = True
            time.sleep(4)
        body = REPLIES.get(self.server.invite, b"Sent%Thanks")
        if body is None:
            self.reply(200, 200 << 20, itertools.repeat(b"a" * 65536, 3200))
        else:
            self.reply(200, len(body), [body])


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--invite", default="ok")
    parser.add_argument("--log", action="store_true", help="print GET PATH for each page asked for")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    server.invite = args.invite
    server.posting = False
    server.log = args.log
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()
