"""The playlist file when the disk fills up or the file goes away mid-run."""

import os
import resource
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402


def long_text(prefix, n):
    """A 100-character deck text, so that records are long and a disk fills fast."""
    return (f"{prefix} {n} " + "x" * 100)[:100]


class DiskTest(harness.FaultTest):
    def feed(self, standin, tracker, until):
        """Loads new long tracks on both decks, a second apart, until until() holds or
        the tracker ends; gives up after a minute."""
        deadline = time.monotonic() + 60
        n = 0
        while not until() and tracker.process.running():
            self.assertLess(time.monotonic(), deadline, "the set went on for a minute")
            for deck in "LR":
                standin.load_texts(deck, long_text(deck + "a", n), long_text("song", n), long_text("al", n))
            n += 1
            time.sleep(1.0)

    def expect_write_failure(self, folder, preexec_fn=None):
        """Runs a set until the tracker gives up on a record; checks what it leaves."""
        standin = self.standin()
        standin.load_texts("L", long_text("La", "start"), long_text("song", "L"), long_text("al", "L"))
        standin.load_texts("R", long_text("Ra", "start"), long_text("song", "R"), long_text("al", "R"))
        tracker = self.tracker(cwd=folder, preexec_fn=preexec_fn)
        tracker.wait_started()
        self.feed(standin, tracker, lambda: not tracker.process.running())
        status = tracker.process.finish()
        out = tracker.process.stdout
        self.assertEqual(status, harness.STATUS_FAILED, out[-2000:])
        self.assertTrue(out.endswith(harness.WRITE_FAIL), out[-2000:])

        names = self.playlists(folder)
        self.assertEqual(len(names), 1, names)
        records = self.assertRecords(self.read(names[0], folder))
        reports = tracker.reports()
        # The track of the last report is the one that did not fit: every other one is there.
        self.assertGreater(len(records), 0)
        self.assertRecordsMatch(records, reports[:-1])
        self.assertEqual(len(records), len(reports) - 1)
        return len(records)

    def test_full_disk(self):
        """A tmpfs of one page: the file fills it, and the record that does not fit is
        refused whole."""
        mount = os.path.join(self.folder, "disk")
        os.mkdir(mount)
        result = subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "size=4k,mode=0755", "tmpfs", mount],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
        )
        if result.returncode != 0:
            self.skipTest(f"no tmpfs can be mounted here: {result.stdout.decode().strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", mount])
        kept = self.expect_write_failure(mount)
        print(f"\nfull disk: {kept} records kept, then write file fail!", file=sys.stderr)

    def test_file_size_limit(self):
        """The same with a file size limit (SIGXFSZ ignored), which needs no mount."""
        # Four records of this set and the fifth but for its last byte: a line end
        # written on its own would be cut there.
        line = len('2000.01.01 00:00:00;L;"";"";"";2000;01;01;00;00;00\r\n') + 3 * 100
        limit = len(harness.HEADER) + 5 * line - 1

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        kept = self.expect_write_failure(self.folder, limit_file_size)
        self.assertEqual(kept, 4)

    def test_header_does_not_fit(self):
        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (40, 40))

        self.standin()
        tracker = self.tracker(preexec_fn=limit_file_size)
        status = tracker.process.finish(harness.START_TIMEOUT)
        out = tracker.process.stdout
        self.assertEqual(status, harness.STATUS_FAILED, out)
        self.assertTrue(out.endswith(harness.STARTING + harness.WRITE_FAIL), out)
        for name in self.playlists():
            self.assertEqual(self.read(name), b"", "part of a header was left behind")

    def test_playlist_removed_mid_run(self):
        """The next record creates the file again, without a header."""
        standin = self.standin()
        standin.load_texts("L", "Mira Vell", "Glass Tide", "Night Ferries")
        standin.load_texts("R", "Marlow Tide", "Paper Harbour", "Caf\\xE9")
        tracker = self.tracker()
        tracker.wait_started()
        tracker.wait_reports(2)
        (name,) = self.playlists()
        data = self.wait_lines(name, 3)
        self.assertRecordsMatch(self.assertRecords(data), tracker.reports())

        os.unlink(os.path.join(self.folder, name.decode()))
        time.sleep(1.5)  # polls with nothing to report: nothing may appear
        self.assertEqual(self.playlists(), [])
        standin.load_texts("L", "Second Left", "Song;2", 'Album "2"')
        standin.load_texts("R", "Second Right", "Song 3", "")
        tracker.wait_reports(4)
        records = self.assertRecords(self.wait_lines(name, 2), header=False)
        self.assertEqual(self.playlists(), [name])
        self.assertRecordsMatch(records, tracker.reports()[2:])

        self.assertEqual(tracker.stop(), 0)
        self.assertTrue(
            tracker.process.stdout.endswith(b"Tracking stopped, playlist saved in " + name + b"\n")
        )


if __name__ == "__main__":
    unittest.main(verbosity=2)
