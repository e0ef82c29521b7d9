"""The playlist file when the disk fills up or the file goes away mid-run."""

import errno
import json
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


WAITS = b"; records will wait and be written when it can be written again.\n"


class DiskTest(harness.FaultTest):
    def feed(self, standin, tracker, until):
        """Loads a new long track on one deck after the other, half a second apart, until
        until() holds; gives up after a minute."""
        deadline = time.monotonic() + 60
        n = 0
        while not until():
            self.assertTrue(tracker.process.running(), tracker.process.stderr)
            self.assertLess(time.monotonic(), deadline, tracker.process.stderr)
            deck = "LR"[n % 2]
            standin.load_texts(deck, long_text(deck + "a", n), long_text("song", n), long_text("al", n))
            n += 1
            time.sleep(0.5)

    def start_set(self, *args, preexec_fn=None, program=None):
        standin = self.standin()
        standin.load_texts("L", long_text("La", "start"), long_text("song", "L"), long_text("al", "L"))
        standin.load_texts("R", long_text("Ra", "start"), long_text("song", "R"), long_text("al", "R"))
        tracker = harness.Tracker(self.folder, *args, preexec_fn=preexec_fn, program=program)
        self.addCleanup(tracker.process.kill)
        tracker.wait_started()
        tracker.wait_reports(2)
        return standin, tracker

    def reported(self, tracker, count):
        return lambda: len(tracker.reports()) >= count

    def test_full_disk_then_freed(self):
        """A small tmpfs, seen by the tracker alone (a mount namespace of its own), fills up
        mid-set and is freed again: the set goes on, every record lands once and in order,
        standard error tells of the failure and the recovery, and Ctrl-C ends with 0."""
        mount = os.path.join(self.folder, "disk")
        os.mkdir(mount)
        script = 'mount -t tmpfs -o size=64k,mode=0755 tmpfs "$1" && cd "$1" && exec "$2"'
        namespace = ["-m", "--propagation", "private", "sh", "-c", script, "sh", mount]
        probe = subprocess.run(["unshare", *namespace, "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest(f"no tmpfs in a private mount namespace here: {probe.stderr!r}")
        standin, tracker = self.start_set(*namespace, harness.TRACKER, program="unshare")
        # The tmpfs as the tracker sees it; the open folder keeps it after the tracker ends.
        fd = os.open(f"/proc/{tracker.process.pid}/root{mount}", os.O_RDONLY | os.O_DIRECTORY)
        self.addCleanup(os.close, fd)
        disk = f"/proc/self/fd/{fd}"
        filler = os.path.join(disk, "filler")
        with open(filler, "wb", buffering=0) as file:
            with self.assertRaises(OSError) as full:
                while True:
                    file.write(b"x" * 4096)
        self.assertEqual(full.exception.errno, errno.ENOSPC)
        # Both files of the run fail once their last page is full.
        err = lambda: tracker.process.stderr  # noqa: E731
        self.feed(standin, tracker, lambda: err().count(b": No space left on device; ") == 2)
        self.feed(standin, tracker, self.reported(tracker, len(tracker.reports()) + 3))
        os.unlink(filler)
        self.feed(standin, tracker, lambda: err().count(b" can be written again; ") == 2)
        self.feed(standin, tracker, self.reported(tracker, len(tracker.reports()) + 1))
        self.assertEqual(tracker.stop(), 0, err())
        reports = tracker.reports()
        (name,) = self.playlists(disk)
        self.assertTrue(tracker.process.stdout.endswith(harness.stopped(name)))
        self.assertRecordsMatch(self.assertRecords(self.read(name, disk)), reports)
        log = self.read(harness.set_log_name(name), disk)
        decks = [json.loads(line)["deck"].encode() for line in log.splitlines()]
        self.assertEqual(decks, [deck for deck, *_ in reports])
        self.assertEqual(len(os.listdir(disk)), 2, os.listdir(disk))  # no pending file
        self.assertEqual(err().count(b"\n"), 4, err())
        print(f"\nfull disk, then freed: {len(reports)} records\n{err().decode()}", file=sys.stderr)

    def test_file_size_limit_until_the_stop(self):
        """A file size limit (SIGXFSZ ignored) that four records of the playlist fit: the
        records after them wait, and a stop saves them in a file beside."""
        line = len('2000.01.01 00:00:00;L;"";"";"";2000;01;01;00;00;00\r\n') + 3 * 100
        limit = len(harness.HEADER) + 5 * line - 1

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        standin, tracker = self.start_set(preexec_fn=limit_file_size)
        self.feed(standin, tracker, self.reported(tracker, 6))
        tracker.process.wait_for(b".txt: File too large" + WAITS, 10, "the failure", "stderr")
        self.assertEqual(tracker.stop(), 0, tracker.process.stderr)
        reports = tracker.reports()
        pending, name = self.playlists()
        self.assertEqual(pending, name[: -len(b".txt")] + b".pending.txt")
        kept = self.assertRecords(self.read(name))
        self.assertEqual(len(kept), 4)
        self.assertRecordsMatch(kept + self.assertRecords(self.read(pending)), reports)
        self.assertTrue(tracker.process.stdout.endswith(harness.stopped(name)))
        saved = b" still cannot be written; %d waiting records saved in " % (len(reports) - 4)
        self.assertIn(name + saved + pending + b"\n", tracker.process.stderr)

    def test_header_does_not_fit(self):
        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (40, 40))

        self.standin()
        tracker = self.tracker(preexec_fn=limit_file_size)
        status = tracker.process.finish(harness.START_TIMEOUT)
        out = tracker.process.stdout
        self.assertEqual(status, harness.STATUS_FAILED, out)
        self.assertTrue(out.endswith(harness.STARTING + harness.OPEN_FAIL), out)
        self.assertEqual(self.playlists(), [], "a playlist without its header was left behind")

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
