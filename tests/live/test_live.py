"""`setlist live` end to end: it follows the stand-in's decks with the tracker's rules and
keeps the overlay files whole, with every character of every script.

    ZV_SETLIST   the setlist executable; ZV_TRACKER and ZV_STANDIN as for harness.py
    ZV_LOCKER    optional, Windows: file-locker, which holds a file against writers
"""

import html.parser
import json
import os
import re
import select
import shlex
import shutil
import subprocess
import signal
import socket
import struct
import sys
import tempfile
import threading
import time
import unittest
import unittest.mock

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
LOCKER = os.environ.get("ZV_LOCKER", "")  # Windows: a program that holds a file
TIMEOUT = 15.0

JAPANESE = ("宇多田ヒカル", "First Love 🎵", "ファースト・ラヴ")
KOREAN = ("소녀시대", "다시 만난 세계", "Into the New World")
CYRILLIC = ("Земфира", "Искала <i>&</i>", "Вендетта")
GREEK = ("Άλκηστις", "Στο \"φως\"", "Ελλάδα")


def deck_track(texts):
    return harness.Track(*texts, shown=tuple(t.encode("utf-8") for t in texts))


class OverlayText(html.parser.HTMLParser):
    """The text of the overlay page's elements, by class."""

    def __init__(self):
        super().__init__()
        self.texts, self._class = {}, None

    def handle_starttag(self, tag, attrs):
        self._class = dict(attrs).get("class")
        if tag == "script":
            self.texts["script"] = "a script element"

    def handle_endtag(self, tag):
        self._class = None

    def handle_data(self, data):
        if self._class:
            self.texts[self._class] = self.texts.get(self._class, "") + data


class Reader(threading.Thread):
    """Reads a file in a tight loop and keeps every distinct content seen after the first."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path, self.seen, self.missing_after_written, self.stop = path, set(), 0, False

    def run(self):
        while not self.stop:
            try:
                with open(self.path, "rb") as f:
                    self.seen.add(f.read())
            except FileNotFoundError:
                self.missing_after_written += bool(self.seen)
            except PermissionError:  # Windows may refuse a file in the middle of a rename
                pass


def raw_answer(port, request):
    """Everything the server sends back to `request` on a connection of its own, until it
    closes the connection."""
    with socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT) as sock:
        sock.sendall(request)
        answer = b""
        while chunk := sock.recv(65536):
            answer += chunk
        return answer


def closed_of(socks, count, seconds):
    """The sockets of `socks` that the server closed, once `count` of them are (or after
    `seconds`), and half a second more to see that no other one closes."""
    closed, deadline = set(), time.monotonic() + seconds
    settle = None
    while time.monotonic() < (settle or deadline):
        readable, _, _ = select.select([s for s in socks if s not in closed], [], [], 0.1)
        for sock in readable:
            try:
                if not sock.recv(65536):
                    closed.add(sock)
            except OSError:
                closed.add(sock)
        if len(closed) >= count and settle is None:
            settle = time.monotonic() + 0.5
    return closed


def trickle(socks, seconds):
    """Sends a byte every half second on each of `socks` until the server has closed them
    all, or for `seconds`; the sockets it closed."""
    closed, deadline = set(), time.monotonic() + seconds
    while len(closed) < len(socks) and time.monotonic() < deadline:
        for sock in socks:
            try:
                if sock not in closed:
                    sock.send(b"x")
            except OSError:
                closed.add(sock)
        time.sleep(0.5)
    return closed


def recv_exactly(sock, size):
    """Exactly `size` bytes, or None at the end of the connection."""
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


class DiscordApp(threading.Thread):
    """The Discord app's local socket as a status setter meets it: READY after the
    handshake, an answer to each command. It keeps each handshake and each SET_ACTIVITY's
    arguments."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(path)
        self.server.listen()
        self.handshakes, self.activities, self.changed = [], [], threading.Condition()
        self.start()

    def run(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            with conn:
                while (header := recv_exactly(conn, 8)) is not None:
                    opcode, length = struct.unpack("<II", header)
                    message = json.loads(recv_exactly(conn, length))
                    with self.changed:
                        if opcode == 0:
                            self.handshakes.append(message)
                            answer = {"cmd": "DISPATCH", "evt": "READY", "nonce": None,
                                      "data": {"v": 1, "user": {"id": "1", "username": "djane"}}}
                        else:
                            self.activities.append(message["args"])
                            answer = {"cmd": message["cmd"], "evt": None, "data": {},
                                      "nonce": message["nonce"]}
                        self.changed.notify_all()
                    body = json.dumps(answer).encode()
                    conn.sendall(struct.pack("<II", 1, len(body)) + body)


class Live(harness.EndToEndTest):
    def live(self, *args):
        process = harness.Process([SETLIST, "live", *args], self.folder)
        self.addCleanup(process.kill)
        return process

    def path(self, name):
        return os.path.join(self.folder, name)

    def content(self, name):
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def wait_content(self, name, expected):
        deadline = time.monotonic() + TIMEOUT
        while self.content(name) != expected and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.content(name), expected, name)

    def wait_overlay(self, now):
        """The overlay page once it shows `now` on air (it is written after the text files)."""
        return self.wait_overlay_in("overlay.html", now)

    def wait_overlay_in(self, name, now):
        deadline = time.monotonic() + TIMEOUT
        while True:
            page = OverlayText()
            page.feed((self.content(name) or b"").decode("utf-8"))
            if page.texts.get("now") == now or time.monotonic() > deadline:
                self.assertEqual(page.texts.get("now"), now)
                return page
            time.sleep(0.05)

    def test_files_follow_the_decks_in_every_script(self):
        # Each session: options, then steps of (deck, track, now-playing, previous)
        # where the files are checked after the step when a track is expected.
        line = "{deck}|{artist}|{song}|{album}"

        def shown(deck, track):
            return "|".join((deck,) + track).encode("utf-8")

        sessions = [
            ("automode", [], [("L", JAPANESE, None), ("R", KOREAN, ("L", JAPANESE)),
                             ("L", CYRILLIC, ("R", KOREAN)), ("R", GREEK, ("L", CYRILLIC))]),
            ("simple mode", ["-s", "2"], [("L", JAPANESE, ("L", JAPANESE)),
                                          ("R", CYRILLIC, ("R", CYRILLIC))]),
        ]
        if not harness.NATIVE:
            sessions = sessions[:1]  # every Windows program start is slow under Wine
        for name, options, steps in sessions:
            with self.subTest(name):
                for f in ("now.txt", "prev.txt", "overlay.html"):
                    if os.path.exists(self.path(f)):
                        os.unlink(self.path(f))
                # live starts first and must wait for the block.
                live = self.live(*options, "--now-playing", "now.txt", "--previous", "prev.txt",
                                 "--format", line, "--html", "overlay.html")
                live.wait_for(b"waiting for the DJ application", TIMEOUT)
                standin = self.standin()
                live.wait_for(b"connected to", TIMEOUT)
                tracker = self.tracker()  # beside live, reading the same block
                tracker.wait_started()
                reader = Reader(self.path("now.txt"))
                reader.start()
                before = b""
                expected_now = {b""}  # written blank at the start
                for deck, track, reported in steps:
                    standin.load(deck, deck_track(track))
                    if reported:
                        now = shown(*reported)
                        expected_now.add(now)
                        self.wait_content("now.txt", now)
                        self.wait_content("prev.txt", before)
                        before = now
                        page = self.wait_overlay(now.decode("utf-8"))
                        self.assertNotIn("script", page.texts)
                    else:
                        time.sleep(2.5)
                        self.assertEqual(self.content("now.txt"), b"")
                reader.stop = True
                reader.join()
                self.assertEqual(reader.seen - expected_now, set(), "a partial or empty read")
                self.assertEqual(reader.missing_after_written, 0)
                live.send_signal(signal.SIGINT)
                self.assertEqual(live.finish(), 0, live.stderr)
                self.assertEqual(tracker.stop(), 0)
                (playlist,) = self.playlists()
                with open(self.path(playlist.decode()), "rb") as f:
                    records = f.read().split(b"\r\n")[1:-1]
                self.assertEqual(len(records), tracker.process.stdout.count(b" Deck.Artist :"))
                os.unlink(self.path(playlist.decode()))
                standin.quit(self)

    def serve(self, *args):
        port = harness.free_port()
        live = self.live("--serve", str(port), *args)
        live.wait_for(b"overlay page for a browser source: http://127.0.0.1:%d/" % port, TIMEOUT)
        return live, port

    def test_refusals_before_waiting(self):
        # (arguments, status or None for a run that goes on, what the message names)
        busy = socket.socket()
        self.addCleanup(busy.close)
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        port = busy.getsockname()[1]
        with open(self.path("prev.txt"), "wb") as f:
            f.write(b"kept")
        cases = [
            (["--serve", str(port)], 1, f"127.0.0.1:{port}"),
            (["--format", "{artist} {foo}"], 2, "{foo}"),
            (["--format", "{artist"], 2, "lone {"),
            (["--format", "song}"], 2, "lone }"),
            (["--format", "{{{deck}}}: {artist}"], None, ""),
            (["--now-playing", "a.txt", "--html", "./x/../a.txt"], 2, "a.txt"),
            (["--delay", "601"], 2, "601"),
            (["--delay", "1.5"], 2, "1.5"),
            (["--serve", "http"], 2, "http"),
            (["--serve", "65536"], 2, "65536"),
            (["--serve", "1.2.3:8040"], 2, "1.2.3:8040"),
            (["--serve", f"192.0.2.1:{port}"], 1, "192.0.2.1"),
            (["--now-playing", "missing/now.txt", "--previous", "prev.txt"], 1, "missing/now.txt"),
            (["-s", "5x"], None, ""),  # read as the tracker reads it
            (["--discord-status", "my-app"], 2, "my-app"),
        ]
        if not harness.NATIVE:
            cases = cases[:1]
        for args, status, named in cases:
            with self.subTest(args=args):
                live = self.live(*args)
                if status is None:
                    live.wait_for(b"waiting for the DJ application", TIMEOUT)
                    live.send_signal(signal.SIGINT)
                    status = 0
                else:
                    self.assertNotIn(b"waiting", live.stdout)
                self.assertEqual(live.finish(TIMEOUT), status, live.stderr)
                self.assertIn(named.encode(), live.stderr)
        self.assertEqual(self.content("prev.txt"), b"kept")
        self.assertEqual(sorted(os.listdir(self.folder)), ["prev.txt"])

    def test_served_documents_and_events(self):
        stale = {"now.txt": b"last night", "prev.txt": b"before that", "overlay.html": b"<div class=\"now\">old</div>"}
        for name, text in stale.items():
            with open(self.path(name), "wb") as f:
                f.write(text)
        live, port = self.serve("--now-playing", "now.txt", "--previous", "prev.txt",
                                "--html", "overlay.html", "--format", "{deck}: {artist} - {song}")
        live.wait_for(b"waiting for the DJ application", TIMEOUT)
        # Blanked at the start, and served while live waits for the DJ application.
        self.assertEqual((self.content("now.txt"), self.content("prev.txt")), (b"", b""))
        self.assertEqual(self.wait_overlay(None).texts, {})
        empty = {"deck": "", "artist": "", "song": "", "album": "", "time": "", "text": "",
                 "previous": None}
        self.assertEqual(json.loads(harness.http_request(port, "/now-playing.json")[2]), empty)
        events = harness.EventStream(port)
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        scripted = ("<script>alert(1)</script>", "Ça & <b>ça</b> 🎵", "</title>")
        # In automode a load reports the other deck's track.
        for count, (deck, texts) in enumerate((("L", JAPANESE), ("R", scripted), ("L", KOREAN))):
            standin.load(deck, deck_track(texts))
            events.wait_events(count + 1, TIMEOUT)
            time.sleep(1.5)  # the next load must come after a poll

        def shown(deck, texts):
            return dict(zip(("deck", "artist", "song", "album", "text"),
                            (deck, *texts, "{}: {} - {}".format(deck, *texts))))

        expected = [{k: v for k, v in empty.items() if k != "time"}, {**shown("L", JAPANESE), "previous": None},
                    {**shown("R", scripted), "previous": shown("L", JAPANESE)}]
        received = [json.loads(e) for e in events.wait_events(3, TIMEOUT)]
        for state in received:
            for track in (state, state["previous"]) if state["previous"] else (state,):
                self.assertRegex(track.pop("time"), r"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)?$")
        self.assertEqual(received, expected)
        self.assertIn(b"text/event-stream", events.head)
        events.close()
        # (method, path, status, type, body or None when checked below)
        _, _, document = harness.http_request(port, "/now-playing.json")
        routes = [
            ("GET", "/now-playing.json?t=17", 200, "application/json", document),
            ("HEAD", "/now-playing.json", 200, "application/json", b""),
            ("GET", "/now-playing.txt", 200, "text/plain",
             "R: {} - {}".format(*scripted).encode()),
            ("GET", "/set.json", 200, "application/json", None),
            ("GET", "/", 200, "text/html", None),
            ("GET", "/overlay.html", 404, "text/plain", None),
            ("POST", "/now-playing.json", 405, "text/plain", None),
        ]
        for method, path, status, kind, body in routes:
            with self.subTest(path=path, method=method):
                got_status, headers, got_body = harness.http_request(port, path, method)
                self.assertEqual((got_status, headers["content-type"], headers["cache-control"]),
                                 (status, kind + "; charset=utf-8", "no-store"))
                if body is not None:
                    self.assertEqual(got_body, body)
        self.assertNotIn(b"<", document)  # markup escaped, so the JSON may stand in a page
        self.assertEqual(json.loads(document)["previous"]["artist"], JAPANESE[0])
        tracks = json.loads(harness.http_request(port, "/set.json")[2])
        self.assertEqual([(t["deck"], t["artist"], t["song"], t["album"]) for t in tracks],
                         [("L", *JAPANESE), ("R", *scripted)])
        page = self.wait_overlay("R: {} - {}".format(*scripted))
        self.assertNotIn("script", page.texts)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)

    def test_every_request_gets_its_status_and_plain_requests_room(self):
        # Half-sent requests end after 1 s here rather than 10.
        with unittest.mock.patch.dict(os.environ, {"ZV_TEST_PACE": "0.1"}):
            live, port = self.serve("--allow-host", "studio.lan")
        host = b"Host: 127.0.0.1:%d\r\n" % port
        # (request, status, whether the server closes the connection after it)
        cases = [
            (b"GET /now-playing.txt HTTP/1.1\r\n" + host + b"\r\n", b"200", False),
            (b"GET /set.json HTTP/1.1\r\nHost: localhost:%d\r\n\r\n" % port, b"200", False),
            (b"GET / HTTP/1.1\r\nHost: studio.lan:%d\r\n\r\n" % port, b"200", False),
            (b"GET http://127.0.0.1:%d/now-playing.txt HTTP/1.1\r\n" % port + host + b"\r\n", b"200", False),
            (b"GET / HTTP/1.1\r\nHost: evil.example:%d\r\n\r\n" % port, b"421", True),
            (b"GET /events HTTP/1.1\r\nHost: evil.example\r\n\r\n", b"421", True),
            (b"HELLO\r\n\r\n", b"400", True),
            (b"GET / HTTP/2.0\r\n" + host + b"\r\n", b"505", True),
            (b"GET / HTTP/1.1\r\n" + host + b"X: " + b"x" * 9000 + b"\r\n\r\n", b"431", True),
            (b"GET /" + b"a" * 100000 + b" HTTP/1.1\r\n" + host + b"\r\n", b"414", True),
            (b"POST /now-playing.json HTTP/1.1\r\n" + host + b"Content-Length: 5\r\n\r\nhello",
             b"405", True),
            (b"GET / HTTP/1.1\r\n" + host + b"Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
             b"413", True),
        ]
        for request, status, closes in cases:
            with self.subTest(request=request[:40]):
                if closes:
                    answer = raw_answer(port, request)
                else:
                    answer = raw_answer(port, request.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
                    self.assertNotIn(b"connection: close", request.lower())
                self.assertEqual(answer[:12], b"HTTP/1.1 " + status)
                self.assertIn(b"\r\n\r\n", answer)
        # 150 event streams and 200 half-sent requests: the streams keep their share (the
        # oldest close, to come back), the half-sent requests make room or time out, and a
        # bot's request is answered: empty, as nothing is on air yet.
        def connect(request):
            sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
            self.addCleanup(sock.close)
            sock.sendall(request)
            return sock

        streams = [connect(b"GET /events HTTP/1.1\r\n" + host + b"\r\n") for _ in range(150)]
        for sock in streams:  # each one answered, before any other request waits
            self.assertEqual(sock.recv(12), b"HTTP/1.1 200")
        slow = [connect(b"GET /now-playing.txt HTTP/1.1\r\n" + host) for _ in range(200)]
        for _ in range(5):
            self.assertEqual(harness.http_request(port, "/now-playing.txt")[::2], (200, b""))
        self.assertEqual(len(closed_of(streams, 30, TIMEOUT)), 30)
        self.assertEqual(len(closed_of(slow, 200, TIMEOUT)), 200)
        # 165 malformed requests and 165 requests with a body, each followed by a byte every
        # half second: their refusals linger 2 s in all, and make room for others at once
        # (the 120 streams leave room for 40 of them).
        trickling = []
        for request, status in [(b"HELLO\r\n\r\n", b"400"),
                                (b"GET / HTTP/1.1\r\n" + host + b"Content-Length: 99999\r\n\r\n",
                                 b"413")] * 165:
            trickling.append(connect(request))
            self.assertEqual(trickling[-1].recv(12), b"HTTP/1.1 " + status)
        for _ in range(5):
            self.assertEqual(harness.http_request(port, "/now-playing.txt")[::2], (200, b""))
        self.assertGreaterEqual(len(trickle(trickling, 1.2)), 330 - 40)
        self.assertEqual(len(trickle(trickling, 8)), 330)
        self.assertTrue(live.running())
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)

    @unittest.skipUnless(harness.NATIVE and harness.CHROMIUM, "Chromium on this system")
    def test_page_changes_in_place(self):
        live, port = self.serve()
        standin = self.standin()
        page = harness.HeadlessPage(f"http://127.0.0.1:{port}/?t=1", self.path("profile"))
        self.addCleanup(page.close)
        now = 'document.getElementById("now").textContent'
        scripted = ("<script>document.title='x'</script>", "<b>Bold</b>", "")
        # (deck, track loaded, text on air after it, or None when nothing is reported yet)
        steps = [("L", JAPANESE, None), ("R", scripted, "{} - {}".format(*JAPANESE)),
                 ("L", KOREAN, "{} - {}".format(*scripted))]
        for number, (deck, track, on_air) in enumerate(steps):
            standin.load(deck, deck_track(track))
            if on_air is None:
                time.sleep(1.5)
                continue
            self.assertTrue(page.wait_until(f"{now} === {json.dumps(on_air)} && "
                                            'getComputedStyle(show).opacity === "1"', TIMEOUT),
                            page.evaluate(now))
            # A reload would lose this mark, and the script among the texts stays text.
            self.assertEqual(page.evaluate("window.zvMark = (window.zvMark || 0) + 1"), number)
            self.assertEqual(page.evaluate('document.querySelectorAll("script").length'), 1)
            self.assertEqual(page.evaluate("document.title"), "On air")
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)

    @unittest.skipUnless(harness.NATIVE, "timed on this system")
    def test_discord_status(self):
        """The track on air as "Listening to" on the DJ's profile, through a mock of the
        Discord app's socket in a runtime folder of the test's own; cleared at the end."""
        if not harness.NATIVE:
            self.skipTest("a Unix socket: the named pipe is not mocked under Wine")
        runtime = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, runtime)
        discord = DiscordApp(os.path.join(runtime, "discord-ipc-0"))
        self.addCleanup(discord.server.close)
        with unittest.mock.patch.dict(os.environ, {"XDG_RUNTIME_DIR": runtime}):
            live = self.live("-s", "1", "--discord-status", "1234567890")
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        standin.load("L", deck_track(JAPANESE))
        with discord.changed:
            self.assertTrue(discord.changed.wait_for(lambda: discord.activities, TIMEOUT))
        self.assertEqual(discord.handshakes, [{"v": 1, "client_id": "1234567890"}])
        (shown,) = discord.activities
        self.assertEqual(shown["pid"], live.pid)
        self.assertEqual(shown["activity"]["type"], 2)
        self.assertEqual(shown["activity"]["details"], JAPANESE[1])
        self.assertEqual(shown["activity"]["state"], JAPANESE[0])
        self.assertLess(abs(shown["activity"]["timestamps"]["start"] - time.time()), 10)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        self.assertEqual(discord.activities[1:], [{"pid": live.pid}])  # cleared
        self.assertIn(b"Discord status: connected to the Discord app of djane", live.stderr)
        standin.quit(self)

    def test_delay_and_a_stop_during_it(self):
        live, port = self.serve("--delay", "3", "--now-playing", "now.txt")
        events = harness.EventStream(port)
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        standin.load("L", deck_track(JAPANESE))
        time.sleep(1.5)
        standin.load("R", deck_track(KOREAN))
        decided = live.wait_for(b"L Deck.Artist", TIMEOUT)
        self.assertEqual(len(events.wait_events(1, TIMEOUT)), 1)
        shown = "{} - {}".format(*JAPANESE).encode()
        while self.content("now.txt") != shown and time.monotonic() < decided + 6:
            time.sleep(0.01)
        written = time.monotonic()
        self.assertEqual(len(events.wait_events(2, 6)), 2)
        # The report is seen a little after the decision, hence the 50 ms.
        self.assertGreaterEqual(written - decided, 2.95)
        self.assertGreaterEqual(events.times[1] - decided, 2.95)
        self.assertLess(written - decided, 4.5)
        # Ctrl-C while a change waits: live ends at once and the change is never shown.
        standin.load("L", deck_track(CYRILLIC))
        live.wait_for(b"R Deck.Artist", TIMEOUT)
        started = time.monotonic()
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0)
        self.assertLess(time.monotonic() - started, 1.0)
        self.assertEqual(self.content("now.txt"), shown)
        standin.quit(self)

    def test_a_night_from_the_settings_file(self):
        # `setlist live` with no options does what the settings file describes: the file in
        # the settings folder natively, named by --settings under Wine (whose folder is the
        # prefix's %APPDATA%).
        port = harness.free_port()
        os.makedirs(self.path("conf/zorvanthelix"))
        with open(self.path("conf/zorvanthelix/setlist.toml"), "w", encoding="utf-8") as f:
            f.write(f'[live]\nserve = "127.0.0.1:{port}"\ndelay = 2\nnow-playing = "now.txt"\n'
                    'format = "♪ {artist} / {song}"\nclean = true\n[clean]\nphrases = ["Label"]\n')
        if harness.NATIVE:
            with unittest.mock.patch.dict(os.environ, {"XDG_CONFIG_HOME": self.path("conf")}):
                live = self.live()
        else:
            live = self.live("--settings", "conf/zorvanthelix/setlist.toml")
        live.wait_for(b"overlay page for a browser source: http://127.0.0.1:%d/" % port, TIMEOUT)
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        # Titles cleaned for the audience (clean = true), never on the console.
        cluttered = (JAPANESE[0], JAPANESE[1] + " [Label] (Original Mix)", JAPANESE[2])
        standin.load("L", deck_track(cluttered))
        time.sleep(1.5)
        standin.load("R", deck_track(KOREAN))
        decided = live.wait_for(b"L Deck.Artist", TIMEOUT)
        live.wait_for(b" [Label] (Original Mix)", TIMEOUT)
        shown = "♪ {} / {}".format(*JAPANESE).encode()
        while self.content("now.txt") != shown and time.monotonic() < decided + 5:
            time.sleep(0.01)
        self.assertEqual(self.content("now.txt"), shown)
        self.assertGreaterEqual(time.monotonic() - decided, 1.95)
        # The server takes the text from live's thread a moment after the file is written.
        ask = b"GET /now-playing.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
        answer = raw_answer(port, ask)
        while shown not in answer and time.monotonic() < decided + 5:
            time.sleep(0.01)
            answer = raw_answer(port, ask)
        self.assertIn(shown, answer)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)

    def test_failed_writes_catch_up(self):
        # Ways a write fails for a while: each returns what ends it. On Windows another
        # program may hold the file (as a spreadsheet or an editor does); POSIX has no
        # such locks, but a folder may be removed and made again.
        def remove_folder():
            # live may be writing a new version into it at this moment: remove until the
            # folder is gone.
            while os.path.exists(self.path("obs")):
                shutil.rmtree(self.path("obs"), ignore_errors=True)
            return lambda: os.mkdir(self.path("obs"))

        def hold_file():
            locker = harness.Process([LOCKER, "obs/now.txt"], self.folder, stdin=True)
            self.addCleanup(locker.kill)
            locker.wait_for(b"holding", TIMEOUT)
            return lambda: (locker.write(b"\n"), locker.wait_for(b"released", TIMEOUT))

        ways = [remove_folder] if harness.NATIVE else [hold_file] if LOCKER else []
        if not ways:
            self.skipTest("ZV_LOCKER names no program that holds a file")
        for way in ways:
            with self.subTest(way.__name__):
                os.mkdir(self.path("obs"))
                live = self.live("--now-playing", "obs/now.txt", "--html", "obs/page.html")
                standin = self.standin()
                live.wait_for(b"connected to", TIMEOUT)
                standin.load("L", deck_track(JAPANESE))
                time.sleep(1.5)
                standin.load("R", deck_track(KOREAN))
                self.wait_content("obs/now.txt", "{} - {}".format(*JAPANESE).encode())
                mend = way()
                standin.load("L", deck_track(GREEK))
                live.wait_for(b"R Deck.Artist", TIMEOUT)
                time.sleep(1.5)  # a poll that fails again, told once
                mend()
                self.wait_content("obs/now.txt", "{} - {}".format(*KOREAN).encode())
                self.wait_overlay_in("obs/page.html", "{} - {}".format(*KOREAN))
                deadline = time.monotonic() + TIMEOUT  # told just after the file is there
                while b"obs/now.txt is written again" not in live.stderr:
                    self.assertLess(time.monotonic(), deadline, live.stderr)
                    time.sleep(0.05)
                self.assertTrue(live.running())
                self.assertEqual(live.stderr.count(b"cannot write obs/now.txt"), 1, live.stderr)
                live.send_signal(signal.SIGINT)
                self.assertEqual(live.finish(), 0)
                standin.quit(self)

    @unittest.skipUnless(harness.NATIVE, "loopback load on this system")
    def test_load(self):
        # 100 event clients, one client that stops reading, and a steady stream of
        # requests for the JSON, for about 10 s: every reading client gets every event in
        # order, and the JSON is always answered.
        live, port = self.serve()
        clients = [harness.EventStream(port) for _ in range(100)]
        stalled = socket.socket()
        self.addCleanup(stalled.close)
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
        stalled.connect(("127.0.0.1", port))
        stalled.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        answers, stop = [], threading.Event()

        def ask():
            while not stop.is_set():
                answers.append(harness.http_request(port, "/now-playing.json")[0])
                time.sleep(0.02)

        asker = threading.Thread(target=ask, daemon=True)
        asker.start()
        # A malformed or oversized request ends its own connection and no other.
        for request, status in ((b"HELLO\r\n\r\n", b"400"),
                                (b"GET / HTTP/1.1\r\nX: " + b"x" * 9000 + b"\r\n\r\n", b"431"),
                                (b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello",
                                 b"413")):
            self.assertEqual(raw_answer(port, request)[9:12], status, request[:20])
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        long_text = "Ω" * 200  # about 1 kB an event, so the stalled client falls behind
        for n in range(8):
            standin.load("LR"[n % 2], deck_track((f"Artist {n}", f"Song {n} {long_text}", "")))
            time.sleep(1.2)
        live.wait_until(lambda out: out.count(b"Deck.Artist") == 7, TIMEOUT, "7 reports")
        stop.set()
        asker.join()
        expected = ["Song 0", "Song 1", "Song 2", "Song 3", "Song 4", "Song 5", "Song 6"]
        for client in clients:
            songs = [json.loads(e)["song"].split(" Ω")[0] for e in client.wait_events(8, TIMEOUT)]
            self.assertEqual(songs, [""] + expected)
            client.close()
        self.assertEqual(set(answers), {200})
        self.assertGreater(len(answers), 100)
        self.assertTrue(live.running())
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0)
        standin.quit(self)

    @unittest.skipUnless(harness.NATIVE, "one Wine case is enough")
    def test_waiting_and_a_new_standin(self):
        # A block shorter than the view is not there yet: live goes on waiting.
        standin = self.standin(size=1000)
        live = self.live("--now-playing", "now.txt")
        live.wait_for(b"waiting for the DJ application", TIMEOUT)
        time.sleep(2.5)
        self.assertTrue(live.running())
        self.assertNotIn(b"connected", live.stdout)
        live.send_signal(signal.SIGTERM)
        self.assertEqual(live.finish(), 0)
        standin.quit(self)
        # A new stand-in after the old one quit: live notices that the block it maps was
        # removed, connects to the new one and goes on with the set.
        standin = self.standin()
        live = self.live("--now-playing", "now.txt")
        live.wait_for(b"connected to", TIMEOUT)
        standin.load("L", deck_track(JAPANESE))
        standin.load("R", deck_track(KOREAN))
        self.wait_content("now.txt", "{} - {}".format(*JAPANESE).encode())
        standin.quit(self)
        live.wait_for(b"removed Global\\ssl_sharing", TIMEOUT)
        standin = self.standin()
        live.wait_until(lambda out: out.count(b"connected to") == 2, TIMEOUT, "a new connection")
        standin.load("L", deck_track(CYRILLIC))
        standin.load("R", deck_track(GREEK))
        self.wait_content("now.txt", "{} - {}".format(*CYRILLIC).encode())
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0)
        standin.quit(self)

    @unittest.skipIf(harness.NATIVE or not shutil.which("script"), "a Windows console, under Wine")
    def test_windows_console_shows_every_character(self):
        # Under a terminal Wine gives the programs a console; what they write to it must
        # reach the terminal as the characters they mean: Latin-1 from the tracker, UTF-8
        # from setlist, also where a write ends inside a character.
        def on_console(*argv, seconds):
            command = shlex.join([*harness.LAUNCHER, *argv])
            result = subprocess.run(
                ["timeout", "-s", "INT", str(seconds), "script", "-qec", command, "/dev/null"],
                cwd=self.folder, env=dict(os.environ, LANG="C.UTF-8"), stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL)
            text = re.sub(rb"\x1b\[[?0-9;]*[A-Za-z]", b"", result.stdout).replace(b"\r", b"")
            return [line for line in text.split(b"\n") if line]

        count = 3000  # about 150 kB: several writes of setlist's output buffer
        with open(self.path("Playlist.txt"), "wb") as f:
            for i in range(count):
                clock = f"{i // 3600:02d}:{i // 60 % 60:02d}:{i % 60:02d}"
                f.write(f'2026.12.07 {clock};L;"Beyonc\xe9 {i}";"\xc7a ira \xe0 la f\xeate";"";'
                        f"2026;12;07;{clock.replace(':', ';')}\r\n".encode("latin-1"))
        lines = on_console(SETLIST, "tracklist", "Playlist.txt", seconds=60)
        expected = [f"{i // 3600:02d}:{i // 60 % 60:02d}:{i % 60:02d} Beyoncé {i} - Ça ira à la fête"
                    for i in range(count)]
        self.assertEqual([line.decode("utf-8", "replace") for line in lines], expected)

        standin = self.standin()
        standin.load("L", deck_track(("Beyoncé", "Halo", "I Am")))
        standin.load("R", deck_track(("Sigur Rós", "Hoppípolla", "Takk")))
        lines = on_console(harness.TRACKER, seconds=8)
        self.assertIn(b"R Deck.Artist :Sigur R\xc3\xb3s", lines)
        self.assertIn(b"      .Song   :Hopp\xc3\xadpolla", lines)
        self.assertIn(b"L Deck.Artist :Beyonc\xc3\xa9", lines)
        standin.quit(self)


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
