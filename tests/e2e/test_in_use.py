"""A playlist held by another program, as a spreadsheet showing it holds it: records wait
in the tracker and reach the file once it is free, with the time they were decided; a
stop while the file is still held saves them in a file beside it.

ZV_LOCKER names the locker program (file-locker): it holds the file it is given until a
line arrives on its standard input. Windows programs only: POSIX has no such locks.
"""

import math
import os
import sys
import time
import unittest

from harness import (
    AUTOMODE_START,
    HEADER,
    START_TIMEOUT,
    STAMP,
    EndToEndTest,
    Process,
    Track,
    local_epoch,
    report,
    stopped,
)

LOCKER = os.environ.get("ZV_LOCKER", "")

A = Track("Marlow Tide", "Paper Harbour", "Night Ferries")
B = Track("Osk Varren", "Lanterns Under Ice", "Coldwater")
C = Track("Juniper Aulde", "Copper Mornings", "Slow Weather")
D = Track("Tessaline", "Five Bridges", "Atlas of Nights")
E = Track("The Quiet Meridian", "Halfway to Ostra", "Signal & Static")


def in_use(name):
    return name + (
        b" is in use by another program; records will wait and be written when it is free.\n"
    )


def rep(deck, track):
    return report(deck, *track.shown)


class InUseTest(EndToEndTest):
    def setUp(self):
        super().setUp()
        if not LOCKER:
            self.fail("ZV_LOCKER must name the locker program")

    def start(self):
        """A run that has logged B and A, with its playlist now held by the locker."""
        standin = self.standin()
        standin.load("L", A)
        standin.load("R", B)
        tracker = self.tracker()
        tracker.wait_started()
        tracker.wait_for(rep("R", B) + rep("L", A), 1, "the first two reports")
        (name,) = self.playlists()
        locker = Process([LOCKER, name.decode()], self.folder, stdin=True)
        self.addCleanup(locker.kill)
        locker.wait_for(b"holding " + name, START_TIMEOUT, "the locker holding the playlist")
        return standin, tracker, locker, name

    def load_between_polls(self, tracker, standin, deck, track):
        """Loads a track half-way between two polls of the tracker."""
        elapsed = time.monotonic() - tracker.t0
        tracker.sleep_until(math.floor(elapsed) + 1.5)
        standin.load(deck, track)

    def read(self, name):
        with open(os.path.join(self.folder, name.decode()), "rb") as file:
            return file.read()

    def test_records_wait_and_keep_the_time_they_were_decided(self):
        standin, tracker, locker, name = self.start()
        self.load_between_polls(tracker, standin, "L", C)  # B is logged already: nothing
        self.load_between_polls(tracker, standin, "R", D)  # logs C
        tracker.process.wait_for(rep("L", C) + in_use(name), START_TIMEOUT, "C waiting")
        self.load_between_polls(tracker, standin, "L", E)  # logs D
        tracker.process.wait_for(rep("R", D), START_TIMEOUT, "D decided")
        held = self.read(name)
        self.assertEqual(held.count(b"\r\n"), 3, held)  # the header, B and A
        time.sleep(2)
        released = time.time()
        locker.write(b"\n")
        self.assertEqual(locker.finish(), 0)
        tracker.process.wait_for(
            b"2 waiting records written to " + name + b".\n", START_TIMEOUT, "the late writes"
        )
        self.load_between_polls(tracker, standin, "R", A)  # logs E, written at once
        tracker.process.wait_for(rep("L", E), START_TIMEOUT, "E")
        # Stopped before the stand-in quits, whose emptied decks would make a report.
        self.assertEqual(tracker.stop(), 0, tracker.process.stderr)
        standin.quit(self)
        self.assertBytes(
            tracker.process.stdout,
            AUTOMODE_START
            + rep("R", B)
            + rep("L", A)
            + rep("L", C)
            + in_use(name)
            + rep("R", D)
            + b"2 waiting records written to "
            + name
            + b".\n"
            + rep("L", E)
            + stopped(name),
        )
        data = self.assertPlaylist(name, [("R", B), ("L", A), ("L", C), ("R", D), ("L", E)])
        self.assertTrue(data.startswith(held), data)
        stamps = [local_epoch(STAMP.match(line).groups()) for line in data.split(b"\r\n")[1:-1]]
        # C and D were decided at least two seconds before the release and written after
        # it; E was decided after it.
        self.assertLessEqual(stamps[3], released - 1.5, data)
        self.assertGreaterEqual(stamps[4], math.floor(released), data)
        moment = time.strftime("%H:%M:%S", time.localtime(released))
        print(f"\nreleased at {moment}", data.decode("latin-1"), sep="\n", file=sys.stderr)

    def test_records_still_held_at_the_stop_are_saved_beside(self):
        standin, tracker, locker, name = self.start()
        self.load_between_polls(tracker, standin, "L", C)
        self.load_between_polls(tracker, standin, "R", D)  # logs C
        tracker.process.wait_for(rep("L", C) + in_use(name), START_TIMEOUT, "C waiting")
        self.assertEqual(tracker.stop(), 0, tracker.process.stderr)
        standin.quit(self)
        pending = name[: -len(b".txt")] + b".pending.txt"
        self.assertBytes(
            tracker.process.stdout,
            AUTOMODE_START
            + rep("R", B)
            + rep("L", A)
            + rep("L", C)
            + in_use(name)
            + name
            + b" is still in use by another program; 1 waiting record saved in "
            + pending
            + b"\n"
            + stopped(name),
        )
        locker.write(b"\n")
        self.assertEqual(locker.finish(), 0)
        self.assertPlaylist(name, [("R", B), ("L", A)])
        saved = self.read(pending)
        artist, song, album = C.shown
        self.assertTrue(saved.startswith(HEADER), saved)
        record = saved[len(HEADER) :]
        self.assertBytes(record[19:-22], b';L;"' + artist + b'";"' + song + b'";"' + album + b'"')
        self.assertTrue(record.endswith(b"\r\n") and record.count(b"\r\n") == 1, saved)
        print("\n" + saved.decode("latin-1"), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
