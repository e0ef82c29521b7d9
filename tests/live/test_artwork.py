"""`setlist live --serve --artwork` end to end against a mock of MusicBrainz and the Cover Art
Archive on 127.0.0.1: the track goes out at once and its art follows in a second event,
also when the archive holds its answer back; a replayed album's art comes with the text.

    ZV_SETLIST   the setlist executable; ZV_TRACKER and ZV_STANDIN as for harness.py
    ZV_ARTWORK_FIGURES   optional: a file to which the measured delays are appended
"""

import http.server
import json
import os
import signal
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
TIMEOUT = 15.0
JPEG = b"\xff\xd8\xff\xe0" + b"cover" * 100
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
            return self.answer(200, JPEG, [("Content-Type", "image/jpeg")])
        self.answer(404)


class Artwork(harness.EndToEndTest):
    def test_text_first_then_the_art_and_a_replayed_album_at_once(self):
        services = Services()
        self.addCleanup(services.shutdown)
        self.addCleanup(services.release.set)
        port = harness.free_port()
        live = harness.Process([SETLIST, "live", "--serve", str(port), "--artwork",
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
        self.assertEqual((state(4)["song"], state(4)["artwork"]), ("Da Funk", "/art/2.jpg"))
        miss_delay = events.times[4] - events.times[3]
        time.sleep(1.5)
        load("R", tracks[3])
        replayed = state(5)
        self.assertEqual((replayed["song"], replayed["artwork"]), ("Aerodynamic", "/art/1.jpg"))
        self.assertEqual(replayed["previous"]["artwork"], "/art/2.jpg")
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


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
