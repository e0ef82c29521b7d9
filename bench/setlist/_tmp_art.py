"""The figures of `setlist live --artwork` in docs/performance.md: the time from a deck change
to its text on the overlay's event stream, without --artwork and with it while the mock art
server holds every image back 3 s; and the resident memory with 100 /events clients, without
art and with the art of the tracks cached. Every service is the mock of
tests/live/test_artwork.py on 127.0.0.1. Run it in a private /dev/shm:

    unshare -m sh -c 'mount -t tmpfs tmpfs /dev/shm && \
        ZV_SETLIST=... ZV_TRACKER=... ZV_STANDIN=... python3 bench/setlist/live_artwork.py'
"""

import json
import os
import signal
import statistics
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "tests", "e2e"), os.path.join(HERE, "..", "..", "tests", "live")]
import harness  # noqa: E402
import test_artwork  # noqa: E402

CHANGES = 12
test_artwork.RELEASES.update({"Album%02d" % i: "0a1b2c3d-0000-4000-8000-%012d" % i
                              for i in range(CHANGES)})
answer = test_artwork.Handler.do_GET


def images(handler):
    """Every image a real 250 px PNG of 132 KB; held back 3 s on a slow server."""
    if handler.path.startswith("/release/") and handler.server.slow:
        time.sleep(3)
    if handler.path.startswith("/image/"):
        return handler.answer(200, test_artwork.PNG)
    return answer(handler)


test_artwork.Handler.do_GET = images


class Figures(harness.EndToEndTest):
    def start(self, artwork, slow):
        services = test_artwork.Services()
        services.slow = slow
        services.release.set()
        self.addCleanup(services.shutdown)
        port = harness.free_port()
        args = [os.environ["ZV_SETLIST"], "live", "--serve", str(port)]
        if artwork:
            args += ["--artwork", "--artwork-cache", os.path.join(self.folder, "art"),
                     "--musicbrainz-url", services.root, "--coverart-url", services.root]
        live = harness.Process(args, self.folder)
        self.addCleanup(live.kill)
        live.wait_for(b"overlay page", 15)
        return live, port

    def changes(self, live, events):
        """Loads a track on each deck in turn, each at another moment of the poll; the
        delays from each change to the event with the track it decided."""
        standin = self.standin()
        live.wait_for(b"connected to", 15)
        delays = []
        for i in range(CHANGES + 1):
            track = ("Artist%02d" % i, "Song%02d" % i, "Album%02d" % i)
            loaded = time.monotonic()
            standin.load("LR"[i % 2], harness.Track(*track, shown=tuple(t.encode() for t in track)))
            decided = "Song%02d" % (i - 1)
            deadline = time.monotonic() + 15
            while i and time.monotonic() < deadline:
                seen = [k for k, e in enumerate(events.wait_events(0, 0))
                        if json.loads(e)["song"] == decided]
                if seen:
                    # A track that the automode's tenth-poll rule decided before the load
                    # tells nothing of the load.
                    if events.times[seen[0]] >= loaded:
                        delays.append(events.times[seen[0]] - loaded)
                    break
                time.sleep(0.002)
            time.sleep(1.3 + 0.13 * i)
        standin.quit(self)
        return delays

    def test_text_delay(self):
        for artwork in (False, True):
            live, port = self.start(artwork, slow=True)
            delays = self.changes(live, harness.EventStream(port))
            print("text after a deck change, %s: n=%d median %.3f s, max %.3f s" % (
                "--artwork, images held 3 s" if artwork else "no --artwork", len(delays),
                statistics.median(delays), max(delays)), file=sys.stderr)
            live.send_signal(signal.SIGINT)
            live.finish()

    def test_memory(self):
        for artwork in (False, True):
            live, port = self.start(artwork, slow=False)
            clients = [harness.EventStream(port) for _ in range(100)]
            self.changes(live, clients[0])
            time.sleep(1.5)
            with open("/proc/%d/status" % live._popen.pid) as f:
                rss = [line.split()[1] for line in f if line.startswith("VmRSS")][0]
            os.system("/tmp/maps.sh %d | head -8 >&2; grep Threads /proc/%d/status >&2" % (live._popen.pid, live._popen.pid)); print("resident with 100 clients, %s: %s kB" % (
                "the art of %d albums cached" % CHANGES if artwork else "no --artwork", rss),
                file=sys.stderr)
            for client in clients:
                client.close()
            live.send_signal(signal.SIGINT)
            live.finish()


if __name__ == "__main__":
    unittest.main()
