"""The shared block misbehaving under a running tracker: the DJ application ends, the
block shrinks below its 4096 bytes, or it fills with random bytes many times a second."""

import mmap
import os
import random
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

NOISE_SECONDS = 30
NOISE_PER_SECOND = 100


class NoiseMaker:
    """Writes random contents into the block: whole random blocks, and deck fields of
    random length made of the characters that narrowing must handle (Latin-1, control
    characters, characters beyond Latin-1 with and without a zero low byte, surrogate
    pairs and lone surrogates), with and without a terminating zero unit."""

    UNITS = (
        list(range(0x01, 0x20))
        + [0x7F, 0x80, 0x85, 0x9F, 0xA0, 0xFF, 0x100, 0x4E00, 0x20AC, 0xFEFF, 0xFFFF]
        + [0xD800, 0xDBFF, 0xDC00, 0xDFFF, ord(";"), ord('"'), ord("\\")]
    )

    def __init__(self, rng, view):
        self.rng = rng
        self.view = view

    def field(self, offset):
        rng = self.rng
        units = []
        for _ in range(rng.choice((0, 1, 5, 50, 99, 100, 101, 104))):
            kind = rng.random()
            if kind < 0.4:
                units.append(rng.randrange(0x20, 0x7F))
            elif kind < 0.6:
                units.append(rng.choice(self.UNITS))
            elif kind < 0.7:
                units += [rng.randrange(0xD800, 0xDC00), rng.randrange(0xDC00, 0xE000)]
            else:
                units.append(rng.randrange(1, 0x10000))
        units = units[:104]
        if len(units) < 104 and rng.random() < 0.8:
            units.append(0)
        self.view[offset : offset + 2 * len(units)] = struct.pack(f"<{len(units)}H", *units)

    def once(self):
        rng = self.rng
        kind = rng.random()
        if kind < 0.2:
            self.view[:] = rng.randbytes(harness.BLOCK_SIZE)
        elif kind < 0.9:
            for name, offset in harness.FIELDS.items():
                if rng.random() < 0.7:
                    self.field(offset)
        else:
            # Part of a field rewritten, as a writer caught in the middle would leave it.
            offset = rng.choice(list(harness.FIELDS.values())) + 2 * rng.randrange(100)
            self.view[offset : offset + 8] = rng.randbytes(8)


class BlockTest(harness.FaultTest):
    def start(self, *args):
        standin = self.standin()
        standin.load_texts("L", "Mira Vell", "Glass Tide", "Night Ferries")
        standin.load_texts("R", "Marlow Tide", "Paper Harbour", "Caf\\xE9")
        tracker = self.tracker(*args)
        tracker.wait_started()
        tracker.wait_reports(2)
        return standin, tracker

    def test_dj_application_ends(self):
        """The block's name goes away; the tracker keeps its view and runs on."""
        standin, tracker = self.start()
        standin.quit(self)
        self.assertFalse(os.path.exists(harness.BLOCK_PATH))
        time.sleep(3)  # three polls on the orphaned view
        self.assertTrue(tracker.process.running())
        self.assertEqual(len(tracker.reports()), 2)
        self.assertEqual(tracker.stop(), 0)
        (name,) = self.playlists()
        self.assertRecordsMatch(self.assertRecords(self.read(name)), tracker.reports())

    def test_block_shrinks(self):
        """Cut to 1000 bytes, the right deck's fields lie past the end and read as empty;
        cut to nothing, every read lies past the end and the decks read as empty. The
        tracker must read on without a bus error."""
        standin, tracker = self.start()
        os.truncate(harness.BLOCK_PATH, 1000)
        time.sleep(2.5)
        self.assertTrue(tracker.process.running())
        self.assertEqual(len(tracker.reports()), 2)  # the right deck emptied, the left stayed

        os.truncate(harness.BLOCK_PATH, 0)
        # The left deck empties too: that change reports the emptied right deck.
        tracker.wait_reports(3)
        time.sleep(2)
        self.assertTrue(tracker.process.running())
        reports = tracker.reports()
        self.assertEqual(reports[2], (b"R", b"", b"", b""))
        self.assertEqual(len(reports), 3)
        self.assertEqual(tracker.stop(), 0)
        (name,) = self.playlists()
        self.assertRecordsMatch(self.assertRecords(self.read(name)), reports)
        standin.quit(self)  # it writes nothing more, so its own view does not fault

    def test_random_bytes(self):
        """Random contents many times a second for half a minute, read by a tracker in
        automode and one in simple mode: no crash, and every record a complete line."""
        seed = int(os.environ.get("ZV_FAULT_SEED", time.time_ns() % 1_000_000))
        rng = random.Random(seed)
        standin = self.standin()
        folders = [os.path.join(self.folder, mode) for mode in ("auto", "simple")]
        for folder in folders:
            os.mkdir(folder)
        trackers = [self.tracker(cwd=folders[0]), self.tracker("-s", "1", cwd=folders[1])]
        for tracker in trackers:
            tracker.wait_started()

        fd = os.open(harness.BLOCK_PATH, os.O_RDWR)
        self.addCleanup(os.close, fd)
        view = mmap.mmap(fd, harness.BLOCK_SIZE)
        self.addCleanup(view.close)
        noise = NoiseMaker(rng, view)
        blocks = 0
        start = time.monotonic()
        while time.monotonic() - start < NOISE_SECONDS:
            # A storm of one to three seconds, then a still moment of more than one poll,
            # in which a deck stays unchanged long enough for simple mode to report it.
            storm_end = time.monotonic() + rng.uniform(1.0, 3.0)
            while time.monotonic() < storm_end:
                noise.once()
                blocks += 1
                time.sleep(1 / NOISE_PER_SECOND)
            time.sleep(rng.uniform(1.2, 2.2))
            for tracker in trackers:
                self.assertTrue(tracker.process.running(), tracker.process.stdout[-2000:])

        counts = []
        for tracker, folder in zip(trackers, folders):
            self.assertEqual(tracker.stop(), 0, tracker.process.stderr)
            reports = tracker.reports()
            for report in reports:
                for text in report[1:]:
                    self.assertLessEqual(len(text), 100, report)
                    self.assertIsNone(harness.CONTROL.search(text), report)
            (name,) = self.playlists(folder)
            records = self.assertRecords(self.read(name, folder))
            self.assertRecordsMatch(records, reports)
            counts.append(len(records))
        self.assertGreater(min(counts), 0)
        standin.quit(self)
        print(
            f"\n{blocks} random blocks (seed {seed}) in {NOISE_SECONDS} s survived; "
            f"records: {counts[0]} in automode, {counts[1]} in simple mode",
            file=sys.stderr,
        )


if __name__ == "__main__":
    unittest.main(verbosity=2)
