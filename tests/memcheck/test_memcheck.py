"""Valgrind's memcheck over a short end-to-end run of the tracker and the stand-in DJ
application, over the tracker's early endings, and over the unit tests of the utility
classes: no memory error and no definite, indirect or possible leak.

Besides ZV_TRACKER and ZV_STANDIN (see ../e2e/harness.py), ZV_UTIL_TESTS names the unit
test program of the utility classes and ZV_SETLIST the setlist program.
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

UTIL_TESTS = os.environ.get("ZV_UTIL_TESTS", "")
SETLIST = os.environ.get("ZV_SETLIST", "")

# The status of a program in which memcheck found an error or a leak. No program here
# ends with it by itself (the tracker's own statuses are 0, 1, 2 and 255).
FOUND = 99


def memcheck(log):
    return [
        "valgrind",
        "--tool=memcheck",
        f"--error-exitcode={FOUND}",
        "--leak-check=full",
        "--show-leak-kinds=definite,indirect,possible",
        "--errors-for-leak-kinds=definite,indirect,possible",
        f"--log-file={log}",
    ]


class MemcheckTest(harness.FaultTest):
    def log(self, name):
        return os.path.join(self.folder, name + ".memcheck")

    def assertClean(self, status, expected, log):
        with open(log, "rb") as file:
            text = file.read().decode("utf-8", "replace")
        self.assertIn("ERROR SUMMARY: 0 errors", text, text)
        self.assertEqual(status, expected, text)

    def checked_tracker(self, name, *args, cwd=None):
        log = self.log(name)
        command = memcheck(log)
        tracker = harness.Tracker(
            cwd or self.folder, *command[1:], harness.TRACKER, *args, program=command[0]
        )
        self.addCleanup(tracker.process.kill)
        return tracker, log

    def test_session(self):
        """Both programs under memcheck: tracks on both decks, a change of both, an
        interrupt."""
        standin_log = self.log("standin")
        standin = self.standin(launcher=memcheck(standin_log))
        standin.load_texts("L", "Mira Vell", "Glass Tide", "Caf\\xE9 Nights")
        standin.load_texts("R", "Marlow Tide", "Paper Harbour \\u4E00", "Night Ferries")
        folder = os.path.join(self.folder, "run")
        os.mkdir(folder)
        tracker, log = self.checked_tracker("tracker", cwd=folder)
        tracker.wait_started()
        tracker.wait_reports(2)
        standin.load_texts("L", "Second Left", "Song;2", 'Album "2"')
        standin.load_texts("R", "Second Right", "Song 3", "")
        tracker.wait_reports(4)
        (name,) = self.playlists(folder)
        records = self.assertRecords(self.wait_lines(name, 5, folder))
        self.assertRecordsMatch(records, tracker.reports())
        self.assertClean(tracker.stop(), 0, log)

        standin.process.write(b"quit\n")
        self.assertClean(standin.process.finish(), 0, standin_log)

    def test_early_endings(self):
        """A wrong command line, and no block to read."""
        tracker, log = self.checked_tracker("usage", "-s", "0")
        self.assertClean(tracker.process.finish(harness.START_TIMEOUT), harness.STATUS_FAILED, log)
        tracker, log = self.checked_tracker("no-block", "--simple", "3")
        self.assertClean(tracker.process.finish(harness.START_TIMEOUT), 1, log)
        self.assertEqual(self.playlists(), [])

    def test_utility_unit_tests(self):
        if not UTIL_TESTS:
            self.fail("ZV_UTIL_TESTS must name the unit test program of the utility classes")
        for zone in ("UTC", "America/New_York"):
            with self.subTest(zone=zone):
                log = self.log("util-" + zone.replace("/", "-"))
                result = subprocess.run(
                    [*memcheck(log), UTIL_TESTS, "--gtest_brief=1"],
                    cwd=self.folder,
                    env=dict(os.environ, TZ=zone),
                    stdout=subprocess.PIPE,
                    stderr=subprocess.STDOUT,
                )
                self.assertClean(result.returncode, 0, log)

    def test_setlist_conversions(self):
        """Every conversion of a playlist with a header, Latin-1 texts, an ambiguous record
        and a garbage line, and the set log beside it, each to a file written whole."""
        if not SETLIST:
            self.fail("ZV_SETLIST must name the setlist program")
        playlist = os.path.join(self.folder, "Playlist.txt")
        with open(playlist, "wb") as file:
            file.write(
                b'Date Time;Deck;"Artist";"Song";"Album";Year;Month;Day;Hour;Minute;Second\r\n'
                b'2026.12.07 23:58:31;L;"Caf\xe9 <b>";"A";"B";2026;12;07;23;58;31\r\n'
                b"garbage\r\n"
                b'2026.12.08 00:01:02;R;"X";"a";"b";"c";"d";2026;12;08;00;01;02\r\n'
            )
        # Its set log, which pairs with it.
        with open(os.path.join(self.folder, "Playlist.jsonl"), "wb") as file:
            file.write(
                '{"time":"2026-12-07T23:58:31+01:00","deck":"L","artist":"Caf\u00e9 <b>’",'
                '"song":"A","album":"B","loaded":"2026-12-07T23:55:00+01:00"}\n'
                '{"time":"2026-12-08T00:01:02+01:00","deck":"R","artist":"X","song":"a\\";\\"b",'
                '"album":"d 🎵","loaded":"2026-12-07T23:59:00+01:00"}\n'.encode("utf-8")
            )
        recording = ["--start", "23:50:00", "--shift", "-1.5"]
        for form, extra in (("tracklist", []), ("csv", []), ("json", []), ("html", []),
                            ("cue", ["--audio", "mix.flac", *recording]), ("chapters", recording)):
            with self.subTest(form=form):
                log = self.log("setlist-" + form)
                out = os.path.join(self.folder, "out." + form)
                result = subprocess.run(
                    [*memcheck(log), SETLIST, form, *extra, "-o", out, playlist],
                    cwd=self.folder,
                    stdout=subprocess.PIPE,
                    stderr=subprocess.STDOUT,
                )
                self.assertClean(result.returncode, 0, log)
                self.assertGreater(os.path.getsize(out), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
