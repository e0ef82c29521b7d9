"""The folder of the playlist file: one that cannot be written, and names already taken.

The tests run as root, whom permission bits do not stop: a folder that root cannot
write is a read-only mount, and otherwise the tracker runs as the user nobody."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

NOBODY = 65534


def as_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class FolderTest(harness.FaultTest):
    def run_as_other_user(self):
        """A way to run the tracker so that permission bits stop it: as nobody when the
        test runs as root, else as it is."""
        return as_nobody if os.geteuid() == 0 else None

    def start_tracker(self, *args, cwd=None, preexec_fn=None):
        try:
            return self.tracker(*args, cwd=cwd, preexec_fn=preexec_fn)
        except (OSError, subprocess.SubprocessError) as error:
            self.skipTest(f"the tracker cannot be started as another user here: {error}")

    def expect_open_failure(self, folder, preexec_fn):
        tracker = self.start_tracker("-s", "1", cwd=folder, preexec_fn=preexec_fn)
        status = tracker.process.finish(harness.START_TIMEOUT)
        out = tracker.process.stdout
        self.assertEqual(status, harness.STATUS_FAILED, out)
        self.assertTrue(out.endswith(harness.STARTING + harness.OPEN_FAIL), out)
        self.assertEqual(os.listdir(folder), [])

    def test_read_only_mount(self):
        self.standin()
        mount = os.path.join(self.folder, "ro")
        os.mkdir(mount)
        result = subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", mount],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
        )
        if result.returncode != 0:
            self.skipTest(f"no read-only tmpfs can be mounted here: {result.stdout.decode()}")
        self.addCleanup(subprocess.run, ["umount", "-l", mount])
        self.expect_open_failure(mount, None)

    def test_folder_without_write_permission(self):
        self.standin()
        folder = os.path.join(self.folder, "locked")
        os.mkdir(folder)
        os.chmod(folder, 0o555)
        self.expect_open_failure(folder, self.run_as_other_user())

    def test_file_removed_and_folder_locked_mid_run(self):
        """The next record has to create the file again and cannot: it waits, told once on
        standard error, and is written once the folder can be written again."""
        standin = self.standin()
        standin.load_texts("L", "Mira Vell", "Glass Tide", "Night Ferries")
        standin.load_texts("R", "Marlow Tide", "Paper Harbour", "Harbour Lights")
        folder = os.path.join(self.folder, "run")
        os.mkdir(folder)
        if os.geteuid() == 0:
            os.chown(folder, NOBODY, NOBODY)
        tracker = self.start_tracker(cwd=folder, preexec_fn=self.run_as_other_user())
        tracker.wait_started()
        tracker.wait_reports(2)
        (name,) = self.playlists(folder)
        self.wait_lines(name, 3, folder)
        os.unlink(os.path.join(folder, name.decode()))
        os.chmod(folder, 0o555)
        standin.load_texts("L", "Second Left", "Song 2", "Album 2")
        standin.load_texts("R", "Second Right", "Song 3", "Album 3")
        denied = name + b": Permission denied; records will wait"
        tracker.process.wait_for(denied, harness.START_TIMEOUT, "the failure", "stderr")
        os.chmod(folder, 0o755)
        # The waiting records are written one by one once the folder opens again: read the
        # file once the tracker says so.
        tracker.process.wait_for(b"can be written again; ", harness.START_TIMEOUT, "the recovery",
                                 "stderr")
        self.assertEqual(tracker.stop(), 0, tracker.process.stderr)
        records = self.assertRecords(self.wait_lines(name, 1, folder), header=False)
        self.assertRecordsMatch(records, tracker.reports()[2:])
        self.assertTrue(tracker.process.stdout.endswith(harness.stopped(name)))

    def test_set_log_that_cannot_be_written(self):
        """A folder in the set log's place: one line on stderr names it and the reason; the
        run, its console and its playlist go on as if nothing happened."""
        standin = self.standin()
        standin.load_texts("L", "Mira Vell", "Glass Tide", "Night Ferries")
        standin.load_texts("R", "Marlow Tide", "Paper Harbour", "Harbour Lights")
        now = int(time.time())
        for second in range(now, now + 10):
            os.mkdir(os.path.join(self.folder, harness.set_log_name(harness.playlist_name(second))))
        tracker = self.tracker()
        tracker.wait_started()
        tracker.wait_reports(2)
        (name,) = self.playlists()
        standin.load_texts("L", "Second Left", "Song 2", "Album 2")
        tracker.wait_reports(3)
        self.assertRecordsMatch(self.assertRecords(self.wait_lines(name, 4)), tracker.reports())
        self.assertEqual(tracker.stop(), 0)
        self.assertTrue(tracker.process.stdout.endswith(harness.stopped(name)))
        log = harness.set_log_name(name).encode()
        pending = log[: -len(b".jsonl")] + b".pending.jsonl"
        self.assertEqual(
            tracker.process.stderr,
            log + b": Is a directory; lines will wait and be written when it can be written again.\n"
            + log + b" still cannot be written; 3 waiting lines saved in " + pending + b"\n",
        )
        self.assertEqual(len(self.read(pending).splitlines()), 3)

    def test_names_taken_by_a_file_and_a_folder(self):
        """The run takes the next free second's name and empties nothing."""
        standin = self.standin()
        standin.load_texts("L", "Mira Vell", "Glass Tide", "Night Ferries")
        standin.load_texts("R", "Marlow Tide", "Paper Harbour", "Harbour Lights")
        # Just after a second begins, so that the run starts within it.
        time.sleep(1.05 - time.time() % 1)
        now = int(time.time())
        taken_file = harness.playlist_name(now)
        taken_folder = harness.playlist_name(now + 1)
        earlier = b"Date Time;Deck\r\nan earlier run's records\r\n"
        with open(os.path.join(self.folder, taken_file.decode()), "wb") as file:
            file.write(earlier)
        inside = os.path.join(self.folder, taken_folder.decode(), "kept.txt")
        os.mkdir(os.path.dirname(inside))
        with open(inside, "wb") as file:
            file.write(b"kept")

        started = int(time.time())
        tracker = self.tracker()
        tracker.wait_started()
        tracker.wait_reports(2)
        names = [n for n in self.playlists() if n not in (taken_file, taken_folder)]
        self.assertEqual(len(names), 1, self.playlists())
        # The first second at or after the start whose name is free.
        first_free = max(started, now + 2)
        self.assertGreaterEqual(names[0], harness.playlist_name(first_free))
        self.assertLessEqual(names[0], harness.playlist_name(time.time()))
        self.assertRecordsMatch(self.assertRecords(self.wait_lines(names[0], 3)), tracker.reports())
        self.assertEqual(tracker.stop(), 0)

        self.assertEqual(self.read(taken_file), earlier)
        with open(inside, "rb") as file:
            self.assertEqual(file.read(), b"kept")
        self.assertEqual(os.listdir(os.path.dirname(inside)), ["kept.txt"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
