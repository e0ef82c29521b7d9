"""The track rules end to end: `setlist check` over set logs, and `setlist live --rules`
warning on stderr as a deck is loaded, never on the stream.

    ZV_SETLIST   the setlist executable; ZV_TRACKER and ZV_STANDIN as for harness.py
    ZV_LAUNCHER  optional command prefix (a runner for programs of another system)
"""

import datetime
import json
import os
import signal
import subprocess
import tempfile
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
TIMEOUT = 15.0


def set_log(tracks):
    """A set log: (logged "HH:MM:SS" on 7 December, seconds loaded before it, artist, album)."""
    lines = []
    for number, (logged, before, artist, album) in enumerate(tracks, 1):
        t = datetime.datetime.fromisoformat("2026-12-07T" + logged + "+01:00")
        lines.append(json.dumps({"time": t.isoformat(), "deck": "LR"[number % 2], "artist": artist,
                                 "song": f"Song {number}", "album": album,
                                 "loaded": (t - datetime.timedelta(seconds=before)).isoformat()}))
    return "".join(x + "\n" for x in lines).encode()


def every_hour(artist, count, start=18):
    return [(f"{start + i:02}:00:00", 60, artist, "") for i in range(count)]


class Check(unittest.TestCase):
    def test_check(self):
        spaced = [("20:00:00", 0, "Moderat", ""), ("20:30:00", 0, "X", ""),
                  ("21:00:00", 0, "Moderat", ""), ("21:30:00", 0, "X", ""),
                  ("22:00:00", 0, "Moderat", ""), ("22:30:00", 0, "X", ""),
                  ("22:45:00", 0, "Moderat", ""), ("22:50:00", 0, "X", ""),
                  ("23:00:30", 90, "Moderat", "")]
        # (name, tracks, status, output)
        cases = [
            ("none broken", every_hour("Moderat", 6), 0, "no rule broken in 6 tracks\n"),
            ("one broken", [("23:00:00", 0, "Moderat", ""), ("23:10:00", 0, "A", ""),
                            ("23:20:00", 0, "moderat ", ""), ("23:30:00", 0, "B", ""),
                            ("23:35:00", 0, "Apparat feat. Moderat", "Kingdom"),
                            ("23:37:00", 0, "C", "kingdom"), ("23:39:00", 0, "MODERAT", ""),
                            ("23:41:02", 10, "Moderat", "Kingdom"),
                            ("23:42:00", 10, "D", "Kingdom")], 1,
             "#8 23:41:02 Moderat - Song 8: 5th track by Moderat within 3 hours (at most 4)\n"
             "#9 23:42:00 D - Song 9: 4th track from Kingdom within 3 hours (at most 3)\n"),
            # Logged 3 h 30 s after the first, loaded 90 s before: within three hours.
            ("the load time decides", spaced, 1,
             "#9 23:00:30 Moderat - Song 9: 5th track by Moderat within 3 hours (at most 4)\n"),
        ]
        folder = self.enterContext(tempfile.TemporaryDirectory())
        for name, tracks, status, output in cases:
            with self.subTest(name):
                path = os.path.join(folder, "set.jsonl")
                with open(path, "wb") as f:
                    f.write(set_log(tracks))
                run = subprocess.run(harness.LAUNCHER + [SETLIST, "check", path],
                                     capture_output=True, timeout=60)
                self.assertEqual((run.returncode, run.stdout.replace(b"\r\n", b"\n").decode()),
                                 (status, output), run.stderr)
        # A file that cannot be read, and one that is not a set, are failures, not "no rule
        # broken in 0 tracks".
        with open(os.path.join(folder, "notes.txt"), "wb") as f:
            f.write(b"buy milk\n")
        for name, said in (("nosuch.txt", b"nosuch.txt"), ("notes.txt", b"holds no records")):
            run = subprocess.run(harness.LAUNCHER + [SETLIST, "check", os.path.join(folder, name)],
                                 capture_output=True, timeout=60)
            self.assertEqual((run.returncode, run.stdout), (1, b""), name)
            self.assertIn(said, run.stderr)


class LiveRules(harness.EndToEndTest):
    def test_warning_on_load_not_on_the_stream(self):
        port = harness.free_port()
        live = harness.Process([SETLIST, "live", "--rules", "--now-playing", "now.txt",
                                "--serve", str(port)], self.folder)
        self.addCleanup(live.kill)
        live.wait_for(b"waiting for the DJ application", TIMEOUT)
        standin = self.standin()
        live.wait_for(b"connected to", TIMEOUT)
        warning = b"R deck: moderat - Four would be the 4th track in a row by moderat (at most 3)"
        # Automode: each load reports the other deck's track, so the fourth Moderat loaded
        # follows three reported ones.
        songs = [("L", "Moderat", "One"), ("R", "Moderat", "Two"), ("L", "Moderat", "Three"),
                 ("R", "moderat", "Four")]
        for number, (deck, artist, song) in enumerate(songs):
            self.assertNotIn(b"would be", live.stderr)
            standin.load(deck, harness.Track(artist, song, "Album " + song))
            live.wait_until(lambda out: out.count(b"Deck.Artist :") == number, TIMEOUT, "reports")
            if number == 0:
                time.sleep(1.5)  # a poll sees the first load alone
        deadline = time.monotonic() + TIMEOUT
        while warning not in live.stderr and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn(warning, live.stderr, live.stdout)
        # Told at the load, before the track was played; once, however long it stays.
        self.assertEqual(live.stdout.count(b"Deck.Artist :"), 3)
        time.sleep(2.5)
        self.assertEqual(live.stderr.count(b"would be"), 1, live.stderr)
        standin.load("L", harness.Track("Other", "Five", "Album Five"))
        live.wait_until(lambda out: out.count(b"Deck.Artist :") == 4, TIMEOUT, "4 reports")
        with open(os.path.join(self.folder, "now.txt"), "rb") as f:
            stream = [f.read(), harness.http_request(port, "/set.json")[2],
                      harness.http_request(port, "/")[2]]
        for shown in stream + [live.stdout]:
            self.assertNotIn(b"would be", shown)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)


if __name__ == "__main__":
    unittest.main()
