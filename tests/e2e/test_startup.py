"""The tracker's start end to end: command lines, finding the DJ application's block,
and the playlist file that every run creates (or fails to create)."""

import os
import re
import resource
import signal
import time
import unittest

from harness import (
    AUTOMODE_START,
    BANNER,
    HEADER,
    NATIVE,
    NO_BLOCK,
    OPEN_FAIL,
    START_TIMEOUT,
    STATUS_WRONG,
    USAGE,
    EndToEndTest,
    Track,
    report,
    simple_start,
    stopped,
)

A = Track("Marlow Tide", "Paper Harbour", "Night Ferries")
B = Track("Osk Varren", "Lanterns Under Ice", "Coldwater")

MAP_FAIL = re.compile(rb"Could not map view of file \((-?\d+)\)\.\n")


class CommandLineTest(EndToEndTest):
    """A wrong command line ends the run before any connection or file."""

    def check_rejected(self, args, expected):
        status, out = self.run_tracker(*args)
        self.assertEqual(status, STATUS_WRONG, args)
        self.assertBytes(out, expected, f"output for {args}")
        self.assertEqual(self.playlists(), [], args)

    def test_wrong_argument_count(self):
        for args in (["-s"], ["--simple"], ["15"], ["-s", "15", "x"], ["-s", "1", "2", "3"]):
            with self.subTest(args=args):
                self.check_rejected(args, BANNER + USAGE)

    def test_wrong_option_or_threshold(self):
        for args in (
            ["-S", "15"],
            ["--Simple", "15"],
            ["-simple", "15"],
            ["--simple", "abc"],
            ["--simple", ""],
            ["--simple", "0"],
            ["-s", "+0"],
            ["--simple", "-3"],
            ["--simple", "2147483648"],
            ["--simple", "99999999999"],
            ["-s", "x15"],
        ):
            with self.subTest(args=args):
                self.check_rejected(args, BANNER + b"parsing\n" + USAGE)

    def test_threshold_is_the_number_at_the_start(self):
        # Accepted thresholds are announced; with no block the run then ends there.
        for argument, shown in (
            ("15abc", b"15"),
            ("  7", b"7"),
            ("+4", b"4"),
            ("010", b"10"),
            ("12 34", b"12"),
            ("2147483647", b"2147483647"),
        ):
            with self.subTest(argument=argument):
                status, out = self.run_tracker("--simple", argument)
                self.assertEqual(status, 1)
                self.assertBytes(out, simple_start(shown) + NO_BLOCK)
                self.assertEqual(self.playlists(), [])


class ConnectionTest(EndToEndTest):
    def test_no_block(self):
        for args in ([], ["-s", "15"]):
            with self.subTest(args=args):
                status, out = self.run_tracker(*args)
                self.assertEqual(status, 1)
                start = simple_start(b"15") if args else AUTOMODE_START
                self.assertBytes(out, start + NO_BLOCK)
                self.assertEqual(self.playlists(), [])

    # Windows maps whole pages, so a section smaller than the view still maps and reads
    # as zeros past its end; only a POSIX block that is too small must be refused.
    SHORT_BLOCKS_MAP = "a section smaller than the view maps whole pages on Windows"

    @unittest.skipUnless(NATIVE, SHORT_BLOCKS_MAP)
    def test_block_too_small(self):
        for size in (4095, 100, 0):
            with self.subTest(size=size):
                standin = self.standin(size=size)
                if size >= 0x26C + 208:
                    standin.load("L", A)
                status, out = self.run_tracker("-s", "1")
                self.assertEqual(status, 2)
                self.assertTrue(out.startswith(simple_start(b"1")), out)
                self.assertRegex(out[len(simple_start(b"1")) :], MAP_FAIL)
                self.assertEqual(self.playlists(), [])
                standin.quit(self)

    @unittest.skipUnless(NATIVE, SHORT_BLOCKS_MAP)
    def test_small_global_block_is_not_passed_over_for_the_local_one(self):
        small = self.standin(size=2048)
        local = self.standin(local=True)
        local.load("L", A)
        status, out = self.run_tracker("-s", "1")
        self.assertEqual(status, 2)
        self.assertRegex(out[len(simple_start(b"1")) :], MAP_FAIL)
        self.assertEqual(self.playlists(), [])
        small.quit(self)
        local.quit(self)

    def run_one_track(self, expected, *standins):
        """Runs the tracker in simple mode until it has shown the expected report."""
        tracker = self.tracker("-s", "1")
        tracker.wait_started()
        tracker.wait_for(expected, 2, "the report")
        self.assertEqual(tracker.stop(), 0)
        for standin in standins:
            standin.quit(self)
        names = self.playlists()
        self.assertEqual(len(names), 1, names)
        return tracker.process.stdout, names[0]

    def test_only_the_local_block(self):
        standin = self.standin(local=True)
        standin.load("R", B)
        out, name = self.run_one_track(report("R", *B.shown), standin)
        self.assertBytes(out, simple_start(b"1") + report("R", *B.shown) + stopped(name))
        self.assertPlaylist(name, [("R", B)])

    def test_the_global_block_comes_first(self):
        first = self.standin(size=8192)
        first.load("L", A)
        second = self.standin(local=True)
        second.load("L", B)
        out, name = self.run_one_track(report("L", *A.shown), first, second)
        self.assertBytes(out, simple_start(b"1") + report("L", *A.shown) + stopped(name))
        self.assertPlaylist(name, [("L", A)])


class PlaylistFileTest(EndToEndTest):
    @unittest.skipUnless(NATIVE, "needs a folder that this system refuses to write")
    def test_unwritable_folder(self):
        standin = self.standin()
        standin.load("L", A)
        folder = os.path.join(self.folder, "locked")
        os.mkdir(folder)
        if os.geteuid() != 0:
            os.chmod(folder, 0o555)
            preexec_fn = None
        else:
            # Permission bits do not stop root; a folder that is gone does: the tracker
            # starts in it, but nothing can be created there any more.
            def preexec_fn():
                os.rmdir(folder)

        status, out = self.run_tracker("-s", "1", cwd=folder, preexec_fn=preexec_fn)
        self.assertEqual(status, STATUS_WRONG)
        self.assertBytes(out, simple_start(b"1") + OPEN_FAIL)
        if os.path.isdir(folder):
            self.assertEqual(self.playlists(folder), [])
        standin.quit(self)

    @unittest.skipUnless(NATIVE, "shapes the tracker's process with a file size limit")
    def test_record_that_cannot_be_written(self):
        # A file size limit lets the header through but no record, as a full disk would:
        # the run goes on, and at the stop, with no room for a file beside either, the
        # record is printed on standard error as it would stand in the playlist.
        standin = self.standin()
        standin.load("L", A)

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (len(HEADER) + 20, len(HEADER) + 20))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        tracker = self.tracker("-s", "1", preexec_fn=limit_file_size)
        tracker.wait_started()
        tracker.process.wait_for(b"; records will wait", START_TIMEOUT, "the failure", "stderr")
        self.assertEqual(tracker.stop(), 0)
        (name,) = self.playlists()
        self.assertEqual(self.assertPlaylist(name, []), HEADER)
        self.assertBytes(tracker.process.stdout, simple_start(b"1") + report("L", *A.shown) + stopped(name))
        artist, song, album = A.shown
        printed = re.search(
            rb"1 record could not be written to " + re.escape(name)
            + rb"; here as they would stand in it:\n(.*)\n", tracker.process.stderr)
        self.assertIsNotNone(printed, tracker.process.stderr)
        self.assertBytes(printed.group(1)[19:-20], b';L;"' + artist + b'";"' + song + b'";"' + album + b'"')
        standin.quit(self)

    def test_existing_files_are_never_emptied(self):
        # Files named after this second and the next three are there already: the run
        # waits for a second whose name is free and leaves the others alone.
        standin = self.standin()
        standin.load("L", A)
        now = int(time.time())
        taken = {}
        for second in range(now, now + 4):
            name = time.strftime("Playlist_%Y.%m.%d_%H_%M_%S.txt", time.localtime(second))
            content = b"an earlier run's records\r\n" + name.encode()
            with open(os.path.join(self.folder, name), "wb") as file:
                file.write(content)
            taken[name.encode()] = content
        tracker = self.tracker("-s", "1")
        tracker.wait_started()
        tracker.wait_for(report("L", *A.shown), 8, "the report")
        self.assertEqual(tracker.stop(), 0)
        standin.quit(self)
        names = [name for name in self.playlists() if name not in taken]
        self.assertEqual(len(names), 1, self.playlists())
        self.assertGreaterEqual(self.assertPlaylistName(names[0]), now + 4, names[0])
        self.assertPlaylist(names[0], [("L", A)])
        self.assertBytes(
            tracker.process.stdout, simple_start(b"1") + report("L", *A.shown) + stopped(names[0])
        )
        for name, content in taken.items():
            with open(os.path.join(self.folder, name.decode()), "rb") as file:
                self.assertEqual(file.read(), content, name)

    def test_two_runs_started_in_the_same_second(self):
        standin = self.standin()
        standin.load("L", A)
        # Start both early in a second, so that they meet in it.
        time.sleep(1.05 - time.time() % 1)
        trackers = [self.tracker("-s", "1"), self.tracker("-s", "1")]
        for tracker in trackers:
            tracker.wait_started()
            tracker.wait_for(report("L", *A.shown), 5, "the report")
        for tracker in trackers:
            self.assertEqual(tracker.stop(), 0)
        standin.quit(self)
        names = self.playlists()
        self.assertEqual(len(names), 2, names)
        self.assertNotEqual(names[0], names[1])
        for name in names:
            self.assertPlaylist(name, [("L", A)])
        finals = sorted(t.process.stdout.splitlines(keepends=True)[-1] for t in trackers)
        self.assertEqual(finals, [stopped(name) for name in names])


if __name__ == "__main__":
    unittest.main(verbosity=2)
