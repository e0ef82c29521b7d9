"""`setlist live --serve --artwork` end to end against a mock of MusicBrainz and the Cover Art
Archive on 127.0.0.1: the track goes out at once and its art follows in a second event,
also when the archive holds its answer back; a replayed album's art comes with the text.

    ZV_SETLIST   the setlist executable; ZV_TRACKER and ZV_STANDIN as for harness.py
    ZV_ARTWORK_FIGURES   optional: a file to which the measured delays are appended
    ZV_THEME_SHOTS       optional: a folder that gets PNGs of the card theme with its art
"""

import http.server
import json
import os
import signal
import struct
import sys
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
TIMEOUT = 15.0
JPEG = b"\xff\xd8\xff\xe0" + b"cover" * 100
SHOTS = os.environ.get("ZV_THEME_SHOTS", "")


def png(width, height):
    """A real PNG image (a gradient), which a browser draws."""
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    rows = b"".join(b"\0" + bytes(v for x in range(width) for v in (x, y, 200))
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


PNG = png(250, 250)
RELEASES = {"Discovery": "0a1b2c3d-0000-4000-8000-00000000000a",
            "Homework": "0a1b2c3d-0000-4000-8000-00000000000b"}


class Services(http.server.ThreadingHTTPServer):
    """MusicBrainz's release search and the archive's front images, which redirect to the
    image itself; the first release's image is held until `release` is set."""

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.root = "http://127.0.0.1:%d" % self.server_address[1]
        self.searches, self.held, self.release = [], threading.Event(), threading.Event()
        threading.Thread(target=self.serve_forever, daemon=True).start()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        services = self.server
        if self.path.startswith("/ws/2/release/"):
            services.searches.append(self.path)
            ids = [i for album, i in RELEASES.items() if album in self.path]
            body = {"releases": [{"id": i, "score": 100} for i in ids]}
            return self.answer(200, json.dumps(body).encode(), [("Content-Type", "application/json")])
        if self.path == "/release/%s/front-250" % RELEASES["Discovery"]:
            services.held.set()
            services.release.wait(TIMEOUT)
        if self.path.startswith("/release/"):
            return self.answer(307, headers=[("Location", "/image" + self.path)])
        if self.path.startswith("/image/"):
            # Homework's image is a real one; the other's first bytes alone are a JPEG's.
            image = PNG if RELEASES["Homework"] in self.path else JPEG
            return self.answer(200, image, [("Content-Type", "image/jpeg")])
        self.answer(404)


class Artwork(harness.EndToEndTest):
    def test_text_first_then_the_art_and_a_replayed_album_at_once(self):
        services = Services()
        self.addCleanup(services.shutdown)
        self.addCleanup(services.release.set)
        port = harness.free_port()
        live = harness.Process([SETLIST, "live", "--serve", str(port), "--artwork",
                                "--artwork-cache", os.path.join(self.folder, "art"),
                                "--musicbrainz-url", services.root, "--coverart-url",
                                services.root + "/"], self.folder)
        self.addCleanup(live.kill)
        live.wait_for(b"overlay page for a browser source", TIMEOUT)
        events = harness.EventStream(port)
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        tracks = [("Daft Punk", "One More Time", "Discovery"), ("Daft Punk", "Da Funk", "Homework"),
                  ("Daft Punk", "Aerodynamic", "Discovery"), ("Unknown", "Promo", "")]
        loaded = []

        def load(deck, track):
            standin.load(deck, harness.Track(*track, shown=tuple(t.encode() for t in track)))
            loaded.append(time.monotonic())

        def state(index):
            received = events.wait_events(index + 1, TIMEOUT)
            self.assertGreater(len(received), index, "event %d" % index)
            return json.loads(received[index])

        # In automode a load decides the track on the other deck.
        load("L", tracks[0])
        time.sleep(1.5)  # a load must come after a poll to count as the next
        load("R", tracks[1])
        first = state(1)  # the blank state first
        self.assertEqual((first["song"], first["artwork"]), ("One More Time", None))
        self.assertTrue(services.held.wait(TIMEOUT), "the archive was not asked")
        text_delay = events.times[1] - loaded[1]
        services.release.set()
        self.assertEqual(state(2)["artwork"], "/art/1.jpg")
        status, headers, body = harness.http_request(port, "/art/1.jpg")
        self.assertEqual((status, headers["content-type"], body), (200, "image/jpeg", JPEG))
        self.assertEqual(json.loads(harness.http_request(port, "/now-playing.json")[2])["artwork"],
                         "/art/1.jpg")
        # Another album: its text, then its art; then the first album again: both at once.
        time.sleep(1.5)
        load("L", tracks[2])
        self.assertEqual((state(3)["song"], state(3)["artwork"]), ("Da Funk", None))
        self.assertEqual((state(4)["song"], state(4)["artwork"]), ("Da Funk", "/art/2.png"))
        miss_delay = events.times[4] - events.times[3]
        time.sleep(1.5)
        load("R", tracks[3])
        replayed = state(5)
        self.assertEqual((replayed["song"], replayed["artwork"]), ("Aerodynamic", "/art/1.jpg"))
        self.assertEqual(replayed["previous"]["artwork"], "/art/2.png")
        hit_delay = events.times[5] - loaded[3]
        self.assertEqual(len(services.searches), 2)  # the replayed album asked nothing
        self.assertIn("release%3A%22Discovery%22", services.searches[0])
        self.assertLess(text_delay, 1.5)
        figures = os.environ.get("ZV_ARTWORK_FIGURES")
        if figures:
            with open(figures, "a") as f:
                f.write("%.3f %.3f %.3f\n" % (text_delay, miss_delay, hit_delay))
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        self.assertEqual(live.stderr, b"")
        standin.quit(self)

    def test_refusals(self):
        # (arguments, what the one line of the refusal names); each is status 2
        cases = [(["--artwork"], b"--artwork are for --serve"),
                 (["--serve", "8040", "--musicbrainz-url", "http://mb"], b"go with --artwork"),
                 (["--serve", "8040", "--artwork-cache", "art"], b"--artwork-cache go with --artwork"),
                 (["--serve", "8040", "--artwork", "--public-url", "https://o.example"],
                  b"--public-url goes with --artwork and --discord"),
                 (["--serve", "8040", "--artwork", "--coverart-url", "ftp://caa"], b"'ftp://caa'")]
        for args, named in cases:
            with self.subTest(args=args):
                live = harness.Process([SETLIST, "live", *args], self.folder)
                self.assertEqual(live.finish(TIMEOUT), 2, live.stderr)
                self.assertIn(named, live.stderr.split(b"\n")[0])

    # Under Wine too: setlist.exe serves the theme and the art to this system's Chromium.
    @unittest.skipUnless(harness.CHROMIUM, "Chromium on this system")
    def test_the_card_shows_the_art_or_its_placeholder(self):
        services = Services()
        self.addCleanup(services.shutdown)
        services.release.set()
        port = harness.free_port()
        live = harness.Process([SETLIST, "live", "--serve", str(port), "--theme", "card", "--artwork",
                                "--artwork-cache", os.path.join(self.folder, "art"),
                                "--musicbrainz-url", services.root, "--coverart-url",
                                services.root], self.folder)
        self.addCleanup(live.kill)
        live.wait_for(b"overlay page for a browser source", TIMEOUT)
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        page = harness.HeadlessPage(f"http://127.0.0.1:{port}/", os.path.join(self.folder, "p"))
        self.addCleanup(page.close)
        looks = ("[document.querySelector('.song').textContent, "
                 "getComputedStyle(document.querySelector('.placeholder')).display, "
                 "document.querySelector('.art img').hidden, "
                 "document.querySelector('.art img').naturalWidth].join('|')")
        # (the track, what the card shows once it is decided: the song, the placeholder's
        # display, whether the image is hidden, its width); a real image, one that cannot be
        # decoded, and none. In automode each load decides the other deck's track.
        steps = [(("Daft Punk", "Da Funk", "Homework"), "Da Funk|none|false|250"),
                 (("Daft Punk", "One More Time", "Discovery"), "One More Time|flex|true|0"),
                 (("Nobody", "Promo", ""), "Promo|flex|true|0"),
                 (("Last", "Track", ""), None)]
        for number, (track, shown) in enumerate(steps):
            standin.load("LR"[number % 2], harness.Track(*track, shown=tuple(t.encode() for t in track)))
            if number > 0:
                expected = steps[number - 1][1]
                self.assertTrue(page.wait_until(f"{looks} === {json.dumps(expected)}", TIMEOUT),
                                page.evaluate(looks + " + ' ' + document.documentElement.className"
                                              " + ' ' + document.querySelector('.art img').src"))
                if SHOTS:
                    time.sleep(0.4)  # the fade in
                    page.evaluate('document.documentElement.style.background = "#2b3040"')
                    page.screenshot(os.path.join(SHOTS, f"card-artwork-{number}.png"), 1280, 200)
            time.sleep(1.5)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
