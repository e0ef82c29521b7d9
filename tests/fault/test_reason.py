"""A playlist that cannot be written: standard output keeps its one failure line, and
standard error names the file and the reason in one line."""

import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

NOBODY = 65534

FAILURE = re.compile(rb"(Playlist_[0-9._]+\.txt): (.*)\n")


def as_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class ReasonTest(harness.FaultTest):
    def mount(self, name, options):
        """A tmpfs of its own; the test is skipped where none can be mounted."""
        folder = os.path.join(self.folder, name)
        os.mkdir(folder)
        result = subprocess.run(
            ["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
        )
        if result.returncode != 0:
            self.skipTest(f"no tmpfs can be mounted here: {result.stdout.decode().strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", folder])
        return folder

    def full_disk(self):
        """A tmpfs of one page, filled: a new file can be made but takes no byte."""
        folder = self.mount("full", "size=4k,mode=0755")
        with open(os.path.join(folder, "filler"), "wb") as filler:
            filler.write(b"x" * 4096)
        return folder

    def locked_folder(self):
        folder = os.path.join(self.folder, "locked")
        os.mkdir(folder, 0o555)
        os.chmod(folder, 0o555)
        return folder

    def reachable_tracker(self):
        """A copy of the tracker in the test's folder, which every user may enter: the
        build folder may lie where only its owner can (a private temporary folder)."""
        copy = os.path.join(self.folder, os.path.basename(harness.TRACKER))
        if not os.path.exists(copy):
            shutil.copy2(harness.TRACKER, copy)
            os.chmod(copy, 0o755)
        return copy

    def test_failure_names_file_and_reason(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs and running as another user need root")
        cases = [
            # what, the folder, how the tracker runs, the reason
            ("read-only folder", lambda: self.mount("ro", "ro,size=64k"), None,
             b"Read-only file system"),
            ("folder without write permission", self.locked_folder, as_nobody,
             b"Permission denied"),
            ("full disk", self.full_disk, None, b"No space left on device"),
        ]
        self.standin()
        for what, make_folder, preexec_fn, reason in cases:
            with self.subTest(what):
                folder = make_folder()
                tracker = harness.Tracker(
                    folder, preexec_fn=preexec_fn, program=self.reachable_tracker()
                )
                self.addCleanup(tracker.process.kill)
                status = tracker.process.finish(harness.START_TIMEOUT)
                out, err = tracker.process.stdout, tracker.process.stderr
                self.assertEqual(status, harness.STATUS_FAILED, out)
                self.assertTrue(out.endswith(harness.STARTING + harness.OPEN_FAIL), out)
                match = FAILURE.fullmatch(err)
                self.assertIsNotNone(match, err)
                self.assertPlaylistName(match.group(1))
                self.assertEqual(match.group(2), reason)


if __name__ == "__main__":
    unittest.main(verbosity=2)
