"""What the fault tests share: starting the tracker and the stand-in DJ application,
following their output as it comes, writing into the shared block directly, and
checking a playlist file line by line against the tracks the console showed.

The programs are named by environment variables, which the CTest registration sets:

    ZV_TRACKER   the tracker executable (Zorvanthelix)
    ZV_STANDIN   the stand-in DJ application (dj-standin)

Both use one fixed block name, so the tests run one at a time and clear what an
earlier, killed run may have left in /dev/shm before they start.
"""

import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest

# The programs are started and followed as in the end-to-end tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import Process  # noqa: E402

TRACKER = os.environ.get("ZV_TRACKER", "")
STANDIN = os.environ.get("ZV_STANDIN", "")

BLOCK_NAMES = ("Global\\ssl_sharing", "Local\\ssl_sharing")
BLOCK_PATH = "/dev/shm/Global\\ssl_sharing"
BLOCK_SIZE = 4096

# Offsets of the six deck fields in the block, in bytes.
FIELDS = {"LS": 0x0CC, "LA": 0x19C, "LR": 0x26C, "RS": 0x748, "RA": 0x818, "RR": 0x8E8}

# Generous waits for what the programs are expected to do; the tracker polls once a
# second, and a loaded machine must not fail a test.
START_TIMEOUT = 15.0

STARTING = b"Starting tracking...\n"
HEADER = b'Date Time;Deck;"Artist";"Song";"Album";Year;Month;Day;Hour;Minute;Second\r\n'
OPEN_FAIL = b"open file fail!\n"
WRITE_FAIL = b"write file fail!\n"
STATUS_FAILED = 255  # -1 as a process status

REPORT = re.compile(
    rb"([LR]) Deck\.Artist :([^\n]*)\n      \.Song   :([^\n]*)\n      \.Album  :([^\n]*)\n\n"
)
RECORD = re.compile(
    rb"(\d{4})\.(\d\d)\.(\d\d) (\d\d):(\d\d):(\d\d);([LR]);\"(.*)\";"
    rb"(\d{4});(\d\d);(\d\d);(\d\d);(\d\d);(\d\d)",
    re.DOTALL,
)
CONTROL = re.compile(rb"[\x00-\x1f\x7f-\x9f]")


def playlist_name(moment):
    """The playlist file name for a calendar time, in local time, as bytes."""
    return time.strftime("Playlist_%Y.%m.%d_%H_%M_%S.txt", time.localtime(moment)).encode()


def remove_leftover_blocks():
    for name in BLOCK_NAMES:
        try:
            os.unlink(os.path.join("/dev/shm", name))
        except FileNotFoundError:
            pass


class StandIn:
    """The stand-in DJ application, driven through its standard input, or running a
    script file when one is given; launcher is a command prefix (such as a checker)."""

    def __init__(self, cwd, script=None, launcher=()):
        argv = [*launcher, STANDIN] + (["--quiet", script] if script else [])
        self.process = Process(argv, cwd, stdin=script is None)
        self._lines = 1
        if script is None:
            self.process.wait_for(b" ready (", START_TIMEOUT, "the stand-in's block")
        else:
            deadline = time.monotonic() + START_TIMEOUT
            while not os.path.exists(BLOCK_PATH):
                if time.monotonic() > deadline or not self.process.running():
                    raise AssertionError(f"the stand-in made no block: {self.process.stderr!r}")
                time.sleep(0.01)

    def command(self, line):
        """Sends one command that changes the block and waits until it is done."""
        self.process.write(line.encode("utf-8") + b"\n")
        self._lines += 1
        lines = self._lines
        self.process.wait_until(
            lambda out: out.count(b"\n") >= lines, START_TIMEOUT, f"the stand-in doing {line!r}"
        )

    def load(self, deck, artist, song, album):
        self.command(f"load {deck} {artist}|{song}|{album}")

    def quit(self, test):
        self.process.write(b"quit\n")
        test.assertEqual(self.process.finish(), 0, self.process.stderr)


class Tracker:
    """A run of the tracker, or of another program (such as a tracer) that runs it."""

    def __init__(self, cwd, *args, preexec_fn=None, program=None):
        self.process = Process([program or TRACKER, *args], cwd, preexec_fn=preexec_fn)

    def wait_started(self):
        self.process.wait_for(STARTING, START_TIMEOUT, "the start of tracking")

    def reports(self):
        return reports_in(self.process.stdout)

    def wait_reports(self, count, timeout=START_TIMEOUT):
        self.process.wait_until(
            lambda out: len(reports_in(out)) >= count, timeout, f"{count} reports"
        )

    def stop(self):
        self.process.popen.send_signal(signal.SIGINT)
        return self.process.finish()


def reports_in(stdout):
    """The tracks the console showed: (deck letter, artist, song, album) as bytes."""
    return [match.groups() for match in REPORT.finditer(stdout)]


def stamp_ok(fields):
    year, month, day, hour, minute, second = (int(f) for f in fields)
    return (
        1970 <= year <= 9999
        and 1 <= month <= 12
        and 1 <= day <= 31
        and hour <= 23
        and minute <= 59
        and second <= 60
    )


class FaultTest(unittest.TestCase):
    """Gives each test a temporary folder and no stale blocks, and ends what it started."""

    maxDiff = None

    def setUp(self):
        if not TRACKER or not STANDIN:
            self.fail("ZV_TRACKER and ZV_STANDIN must name the tracker and the stand-in")
        remove_leftover_blocks()
        self.folder = tempfile.mkdtemp(prefix="zv-fault-")
        os.chmod(self.folder, 0o755)
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.addCleanup(remove_leftover_blocks)

    def standin(self, script=None, launcher=()):
        standin = StandIn(self.folder, script, launcher)
        self.addCleanup(standin.process.kill)
        return standin

    def tracker(self, *args, cwd=None, preexec_fn=None):
        tracker = Tracker(cwd or self.folder, *args, preexec_fn=preexec_fn)
        self.addCleanup(tracker.process.kill)
        return tracker

    def playlists(self, folder=None):
        return sorted(
            name.encode() for name in os.listdir(folder or self.folder) if name.startswith("Playlist_")
        )

    def read(self, name, folder=None):
        with open(os.path.join(folder or self.folder, os.fsdecode(name)), "rb") as file:
            return file.read()

    def wait_lines(self, name, count, folder=None):
        """Waits until the playlist file holds count complete lines (a report comes just
        before its record)."""
        path = os.path.join(folder or self.folder, os.fsdecode(name))
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            try:
                data = self.read(path)
            except FileNotFoundError:
                data = b""
            if data.count(b"\r\n") >= count:
                return data
            self.assertLess(time.monotonic(), deadline, f"{count} lines never came: {data!r}")
            time.sleep(0.02)

    def assertRecords(self, data, header=True):
        """Every line of the playlist data is complete: the header first (when expected),
        then records, each ended by CR LF, with a valid date-time whose columns agree, a
        deck letter and no control character. Returns the records as (deck, middle),
        middle being the quoted texts as written."""
        if header:
            self.assertTrue(data.startswith(HEADER), f"no header: {data[:200]!r}")
            data = data[len(HEADER) :]
        else:
            self.assertFalse(data.startswith(HEADER), "a header where none belongs")
        if not data:
            return []
        self.assertTrue(data.endswith(b"\r\n"), f"a partial last line: {data[-400:]!r}")
        records = []
        for line in data[:-2].split(b"\r\n"):
            self.assertIsNone(CONTROL.search(line), f"a control character in {line!r}")
            match = RECORD.fullmatch(line)
            self.assertIsNotNone(match, f"not a complete record: {line!r}")
            groups = match.groups()
            self.assertEqual(groups[0:6], groups[8:14], f"date-time columns disagree: {line!r}")
            self.assertTrue(stamp_ok(groups[0:6]), f"not a date-time: {line!r}")
            records.append((groups[6], groups[7]))
        return records

    def assertRecordsMatch(self, records, reports):
        """The records hold the reported tracks, one for one and in order."""
        expected = [
            (deck, artist + b'";"' + song + b'";"' + album) for deck, artist, song, album in reports
        ]
        self.assertEqual(records, expected)
