"""Tracking sessions end to end: the stand-in plays tracks, the tracker reports them on
the console and in the playlist file, and an interrupt ends the run cleanly.

The stand-in changes a deck half-way between two polls of the tracker (at n.5 seconds
after the start of tracking), so that each poll sees a definite state; the comments give
the poll that first sees each change.
"""

import os
import signal
import unittest

from harness import (
    AUTOMODE_START,
    EMPTY,
    HEADER,
    NATIVE,
    EndToEndTest,
    Track,
    report,
    simple_start,
    stopped,
)

A = Track("Marlow Tide", "Paper Harbour", "Night Ferries")
B = Track("Osk Varren", "Lanterns Under Ice", "Coldwater")
C = Track("Juniper Aulde", "Copper Mornings", "Slow Weather")
D = Track("Tessaline", "Five Bridges", "Atlas of Nights")
E = Track("The Quiet Meridian", "Halfway to Ostra", "Signal & Static")
F = Track("Bruno Calve", "Cafe Lumiere", "Left Bank, Vol. 2")
G = Track("Ilse Marrow", "Winter Index", "Ledger")
H = Track("Pale Orchard", "Northbound", "Orchard Tapes")
J = Track("Veda Strand", "Low Tide Radio", "Harbour Lights")
X = Track("Corin Ash", "Never Logged", "Skipped Sides")


class SessionTest(EndToEndTest):
    def expect_report(self, tracker, deck, track, seconds):
        text = report(deck, *track.shown)
        tracker.wait_for(text, seconds, f"the report of {deck}: {track.texts}")

    def finish_session(self, tracker, standin, start, records):
        """Stops the run and checks console and playlist against the records."""
        standin.quit(self)
        self.assertEqual(tracker.stop(signal.SIGINT), 0, tracker.process.stderr)
        names = self.playlists()
        self.assertEqual(len(names), 1, names)
        expected = start + b"".join(report(deck, *track.shown) for deck, track in records)
        self.assertBytes(tracker.process.stdout, expected + stopped(names[0]), "console")
        self.assertSetLog(names[0], records)


class AutomodeSessionTest(SessionTest):
    def test_tracks_are_logged_when_the_other_deck_changes(self):
        standin = self.standin()
        standin.load("L", A)
        standin.load("R", B)
        tracker = self.tracker()
        tracker.wait_started()
        # Poll 1 sees both decks loaded: the right deck is reported first, by the left
        # deck's change, then the left deck.
        self.expect_report(tracker, "R", B, 1)
        self.expect_report(tracker, "L", A, 1)
        tracker.sleep_until(2.5)
        standin.load("L", C)  # poll 4: the right deck's B is logged already, nothing
        # The left deck's tenth unchanged poll from the start (poll 12) logs C, though
        # the right deck has not changed.
        self.expect_report(tracker, "L", C, 11)
        tracker.sleep_until(13.5)
        standin.load("R", D)  # poll 15: the left deck's C is logged already, nothing
        tracker.sleep_until(15.5)
        standin.load("L", E)  # poll 17: logs D
        tracker.sleep_until(17.5)
        standin.load("R", F)  # poll 19: logs E
        tracker.sleep_until(19.5)
        # Both decks change in one poll (21): the right deck's new H is logged first,
        # then the left deck's new G; F was never logged, and never will be.
        standin.load("L", G)
        standin.load("R", H)
        tracker.sleep_until(21.5)
        standin.load("L", X)  # poll 23: H is logged already, nothing
        tracker.sleep_until(23.5)
        standin.load("L", G)  # poll 25: back to the logged G, nothing
        tracker.sleep_until(25.5)
        standin.load("R", G)  # poll 27: the left deck's G is logged already, nothing
        tracker.sleep_until(27.5)
        standin.load("L", J)  # poll 29: logs G for the right deck too
        tracker.sleep_until(29.5)
        standin.clear("R")  # poll 31: logs J
        tracker.sleep_until(31.5)
        standin.load("L", A)  # poll 33: logs the emptied right deck
        self.expect_report(tracker, "R", EMPTY, 32)
        self.finish_session(
            tracker,
            standin,
            AUTOMODE_START,
            [
                ("R", B),
                ("L", A),
                ("L", C),
                ("R", D),
                ("L", E),
                ("R", H),
                ("L", G),
                ("R", G),
                ("L", J),
                ("R", EMPTY),
            ],
        )


class SimpleModeSessionTest(SessionTest):
    def test_tracks_are_logged_after_the_threshold(self):
        standin = self.standin()
        standin.load("L", A)
        tracker = self.tracker("--simple", "3")
        tracker.wait_started()
        # Poll 1 sees A; the empty right deck is never logged. A stays on, unchanged at
        # polls 2, 3 and 4, and is logged once, at poll 4.
        tracker.sleep_until(1.5)
        standin.load("R", B)  # poll 3
        tracker.sleep_until(4.5)
        standin.load("R", C)  # poll 6: B stayed for two unchanged polls only, not logged
        tracker.sleep_until(5.5)
        standin.load("L", D)  # poll 7
        # C: unchanged at polls 7, 8, 9, logged at 9; D: at polls 8, 9, 10, logged at 10.
        tracker.sleep_until(9.5)
        standin.load("L", E)  # poll 11: replaces D, which was logged
        tracker.sleep_until(10.5)
        standin.load("L", D)  # poll 12: back to the logged D: not logged again
        tracker.sleep_until(11.5)
        standin.clear("R")  # poll 13: the emptied right deck is logged at poll 16
        self.expect_report(tracker, "R", EMPTY, 15)
        tracker.sleep_until(17.5)
        standin.load("R", D)  # poll 19: D once more, but for the right deck: poll 22
        self.expect_report(tracker, "R", D, 21)
        self.finish_session(
            tracker,
            standin,
            simple_start(b"3"),
            [("L", A), ("R", C), ("L", D), ("R", EMPTY), ("R", D)],
        )


class NarrowingTest(SessionTest):
    def test_deck_texts_come_out_as_8_bit_text(self):
        tracks = {
            "L": Track(
                # Latin-1 stays as it is, U+00A0 and U+00FF included.
                "Caf\u00e9 \u00dcber \u00ff\u00a1\u00bf\u00a0\u00e6\u00f1",
                # Above U+00FF: one "?" per character, a surrogate pair included.
                "T\u014dky\u014d \u6771\u4eac \u20ac5 \U0001f3b5 \u0100end",
                # Controls: one blank each.
                "Line\nbreak\ttab\r\x1b[31mred\x7fdel\x85nel\x9f\x01!",
                shown=(
                    b"Caf\xe9 \xdcber \xff\xa1\xbf\xa0\xe6\xf1",
                    b"T?ky? ?? ?5 ? ?end",
                    b"Line break tab  [31mred del nel  !",
                ),
                # The set log keeps every character; controls are blanks there too.
                logged=(
                    "Caf\u00e9 \u00dcber \u00ff\u00a1\u00bf\u00a0\u00e6\u00f1",
                    "T\u014dky\u014d \u6771\u4eac \u20ac5 \U0001f3b5 \u0100end",
                    "Line break tab  [31mred del nel  !",
                ),
            ),
            "R": Track(
                # Lone surrogates, and a low one before a high one: one "?" each.
                "Lone \ud800 high, \udc00 low, \udc00\ud800 swapped",
                # Quotes and semicolons are written as they are.
                'Say "yes"; or no;',
                # 111 code units: the field keeps 104 of them and 100 are read.
                "A" * 60 + "\u4e00" + "B" * 50,
                shown=(
                    b"Lone ? high, ? low, ?? swapped",
                    b'Say "yes"; or no;',
                    b"A" * 60 + b"?" + b"B" * 39,
                ),
                logged=(
                    "Lone \ufffd high, \ufffd low, \ufffd\ufffd swapped",
                    'Say "yes"; or no;',
                    "A" * 60 + "\u4e00" + "B" * 39,
                ),
            ),
        }
        # What ordinary metadata is full of: curly quotes, dashes, Polish letters; then
        # Korean and an emoji.
        ordinary = Track(
            "Beyonc\u00e9",
            "Don\u2019t Hurt Yourself \u2013 Live",
            "\u0141ona / \u015anieg / P\u0142yta \u2014 \ud55c\uad6d\uc5b4 \U0001f600",
            shown=(b"Beyonc\xe9", b"Don?t Hurt Yourself ? Live", b"?ona / ?nieg / P?yta ? ??? ?"),
        )
        standin = self.standin()
        for deck, track in tracks.items():
            standin.load(deck, track)
        tracker = self.tracker("-s", "2")
        tracker.wait_started()
        # Both decks change at poll 1 and are logged at poll 3, left first.
        self.expect_report(tracker, "R", tracks["R"], 2)
        # Seen at poll 5, logged at poll 7.
        tracker.sleep_until(3.5)
        standin.load("L", ordinary)
        self.expect_report(tracker, "L", ordinary, 6)
        self.finish_session(
            tracker,
            standin,
            simple_start(b"2"),
            [("L", tracks["L"]), ("R", tracks["R"]), ("L", ordinary)],
        )


# A Windows program under a launcher gets SIGINT as Ctrl-C; it has no SIGTERM.
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM) if NATIVE else (signal.SIGINT,)


class InterruptTest(SessionTest):
    def test_interrupt_before_any_track(self):
        for number in STOP_SIGNALS:
            with self.subTest(signal=number.name):
                standin = self.standin()
                tracker = self.tracker("-s", "5")
                tracker.wait_started()
                tracker.sleep_until(1.5)
                self.assertEqual(tracker.stop(number), 0, tracker.process.stderr)
                names = self.playlists()
                self.assertEqual(len(names), 1, names)
                self.assertBytes(tracker.process.stdout, simple_start(b"5") + stopped(names[0]))
                self.assertEqual(self.assertPlaylist(names[0], []), HEADER)
                standin.quit(self)
                self.forget_playlist(names[0])

    def test_interrupt_at_the_moment_of_a_report(self):
        # The signal comes as a poll writes a record: the run ends with that record
        # either complete, on the console and in the file, or not begun at all.
        for number in STOP_SIGNALS:
            with self.subTest(signal=number.name):
                standin = self.standin()
                standin.load("L", A)
                standin.load("R", B)
                tracker = self.tracker()
                tracker.wait_started()
                self.expect_report(tracker, "L", A, 1)
                tracker.sleep_until(1.5)
                standin.load("L", C)  # poll 3: logs nothing
                tracker.sleep_until(2.5)
                standin.load("R", D)  # poll 4: logs C
                tracker.sleep_until(3.0)
                status = tracker.stop(number)
                self.assertEqual(status, 0, tracker.process.stderr)
                names = self.playlists()
                self.assertEqual(len(names), 1, names)
                records = [("R", B), ("L", A)]
                if report("L", *C.shown) in tracker.process.stdout:
                    records.append(("L", C))
                expected = AUTOMODE_START + b"".join(
                    report(deck, *track.shown) for deck, track in records
                )
                self.assertBytes(tracker.process.stdout, expected + stopped(names[0]))
                self.assertPlaylist(names[0], records)
                standin.quit(self)
                self.forget_playlist(names[0])

    def forget_playlist(self, name):
        """Removes one run's playlist, so that the next run of the test starts clean."""
        os.remove(os.path.join(self.folder, name.decode()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
