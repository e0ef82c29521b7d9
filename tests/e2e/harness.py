"""Shared machinery of the end-to-end tests: starting the tracker and the stand-in DJ
application, following their output as it comes, and the texts the tracker must print
and write.

The programs are named by environment variables, which the CTest registration sets:

    ZV_TRACKER   the tracker executable (Zorvanthelix)
    ZV_STANDIN   the stand-in DJ application (dj-standin)
    ZV_LAUNCHER  optional command prefix for both, split like a shell would (for
                 instance a runner for programs of another system)

Both programs share one fixed block name, so each test runs in a /dev/shm of its own
(tools/private-shm.sh) or, where it cannot, one at a time; the tests remove what an
earlier, killed run may have left in /dev/shm before they start.
"""

import base64
import datetime
import fcntl
import http.client
import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

TRACKER = os.environ.get("ZV_TRACKER", "")
STANDIN = os.environ.get("ZV_STANDIN", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))

# The programs run directly on this system: its shared-memory folder and process
# limits can be used to look at and shape what they do.
NATIVE = not LAUNCHER

BLOCK_NAMES = ("Global\\ssl_sharing", "Local\\ssl_sharing")
SHM_FOLDER = "/dev/shm"

# How long to wait for something the programs are expected to do. The tracker polls
# once a second; these are generous so that a busy machine does not fail a test.
START_TIMEOUT = 15.0
EXIT_TIMEOUT = 10.0

# ---------------------------------------------------------------------------------------
# What the tracker prints and writes.

FRAME = b"+---------------------------------------+\n"

BANNER = (
    b"\n"
    b"+---------------------------------------+\n"
    b"|          Zorvanthelix V0.1.1          |\n"
    b"|  made by the Zorvanthelix developers  |\n"
    b"+---------------------------------------+\n"
    b"| !!!!!!!    Use AT OWN RISK    !!!!!!! |\n"
    b"+---------------------------------------+\n"
    b"|   Also by us: setlist, which turns    |\n"
    b"|   these playlists into tracklists,    |\n"
    b"|  CSV, JSON and printable pages, and   |\n"
    b"|  shows the track on air. Find it at:  |\n"
    b"+---->   setlist in this folder   <-----+\n"
    b"+---------------------------------------+\n"
    b"\n"
)

USAGE = (
    b"wrong parameters used!\n"
    b"Automode (no, not what you think quorbin ;)) :\n"
    b"Zorvanthelix.exe\n"
    b"\n"
    b"Simple mode:\n"
    b"Zorvanthelix.exe -s <threshold in seconds>\n"
    b"Zorvanthelix.exe --simple <threshold in seconds>\n"
)

STARTING = b"Starting tracking...\n"

AUTOMODE_START = BANNER + FRAME + b"\n" + STARTING

HEADER = b'Date Time;Deck;"Artist";"Song";"Album";Year;Month;Day;Hour;Minute;Second\r\n'

NO_BLOCK = b"Could not connect to ScratchLIVE! (Probably not started?) (2).\n"
OPEN_FAIL = b"open file fail!\n"

STATUS_WRONG = 255  # -1 as a process status

PLAYLIST_NAME = re.compile(rb"Playlist_(\d{4})\.(\d\d)\.(\d\d)_(\d\d)_(\d\d)_(\d\d)\.txt")
STAMP = re.compile(rb"(\d{4})\.(\d\d)\.(\d\d) (\d\d):(\d\d):(\d\d)")
STAMP_COLUMNS = re.compile(rb";(\d{4});(\d\d);(\d\d);(\d\d);(\d\d);(\d\d)")


def simple_start(threshold):
    """The start of a simple-mode run; `threshold` as the tracker echoes it (bytes)."""
    return (
        BANNER
        + b"parsing\n"
        + FRAME
        + b"\n"
        + b"using simple mode with a threshold of\n"
        + threshold
        + b" seconds\n\n"
        + STARTING
    )


def report(deck, artist, song, album):
    """The console report of one played track; the texts as the tracker narrows them."""
    return (
        deck.encode() + b" Deck.Artist :" + artist + b"\n"
        b"      .Song   :" + song + b"\n"
        b"      .Album  :" + album + b"\n\n"
    )


def stopped(name):
    return b"Tracking stopped, playlist saved in " + name + b"\n"


class Track:
    """A track as loaded on a deck (text), as the tracker must show it (bytes) and as its
    set log must hold it (text)."""

    def __init__(self, artist, song, album, shown=None, logged=None):
        self.texts = (artist, song, album)
        self.shown = shown or tuple(t.encode("latin-1") for t in self.texts)
        self.logged = logged or self.texts


EMPTY = Track("", "", "")

# ---------------------------------------------------------------------------------------
# Running the programs.


def remove_leftover_blocks():
    """Removes blocks that a killed stand-in may have left behind. Programs run through a
    launcher keep their blocks elsewhere."""
    if not NATIVE or not os.path.isdir(SHM_FOLDER):
        return
    for name in BLOCK_NAMES:
        try:
            os.unlink(os.path.join(SHM_FOLDER, name))
        except FileNotFoundError:
            pass


def block_exists(name):
    return os.path.exists(os.path.join(SHM_FOLDER, name))


class Process:
    """A started program whose standard output and error are collected as they come."""

    def __init__(self, argv, cwd, stdin=False, preexec_fn=None):
        self.argv = LAUNCHER + list(argv)
        self._changed = threading.Condition()
        self._out = bytearray()
        self._err = bytearray()
        self._open_pipes = 2
        self._popen = subprocess.Popen(
            self.argv,
            cwd=cwd,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            preexec_fn=preexec_fn,
            # A group of its own, so that a kill also reaches a program started under
            # a launcher or a tracer (killing only that would leave the program running).
            start_new_session=True,
        )
        self._pumps = [
            threading.Thread(target=self._pump, args=(self._popen.stdout, self._out), daemon=True),
            threading.Thread(target=self._pump, args=(self._popen.stderr, self._err), daemon=True),
        ]
        for pump in self._pumps:
            pump.start()

    def _pump(self, pipe, sink):
        while True:
            chunk = os.read(pipe.fileno(), 65536)
            with self._changed:
                if not chunk:
                    self._open_pipes -= 1
                    self._changed.notify_all()
                    return
                # Windows programs end console lines with CR LF; the texts expected
                # here use LF alone, and the tracker never prints a CR of its own.
                sink += chunk if NATIVE else chunk.replace(b"\r", b"")
                self._changed.notify_all()

    @property
    def pid(self):
        return self._popen.pid

    @property
    def popen(self):
        return self._popen

    @property
    def stdout(self):
        with self._changed:
            return bytes(self._out)

    @property
    def stderr(self):
        with self._changed:
            return bytes(self._err)

    def running(self):
        return self._popen.poll() is None

    def wait_until(self, condition, timeout, what, stream="stdout"):
        """Waits until condition(stdout) holds (or of stderr, when stream says so); returns
        the monotonic time it was seen."""
        deadline = time.monotonic() + timeout
        sink = self._err if stream == "stderr" else self._out
        with self._changed:
            while not condition(bytes(sink)):
                remaining = deadline - time.monotonic()
                if self._open_pipes == 0 or remaining <= 0:
                    how = f"{timeout} s passed"
                    if self._open_pipes == 0:
                        how = f"the program ended (status {self._status_when_ended()})"
                    raise AssertionError(
                        f"{what}: not seen before {how}\n"
                        f"command: {self.argv}\nstdout: {bytes(self._out)!r}\n"
                        f"stderr: {bytes(self._err)!r}"
                    )
                self._changed.wait(remaining)
        return time.monotonic()

    def _status_when_ended(self):
        """The status of a program whose output has closed: it ends a moment later."""
        try:
            return self._popen.wait(5)
        except subprocess.TimeoutExpired:
            return "unknown: still running"

    def wait_for(self, text, timeout, what=None, stream="stdout"):
        return self.wait_until(lambda out: text in out, timeout, what or repr(text), stream)

    def write(self, data):
        self._popen.stdin.write(data)
        self._popen.stdin.flush()

    def close_input(self):
        self._popen.stdin.close()

    def send_signal(self, number):
        self._popen.send_signal(number)

    def finish(self, timeout=EXIT_TIMEOUT):
        """Waits for the program to end; its status (negative: the signal that ended it)."""
        try:
            status = self._popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(
                f"{self.argv} did not end within {timeout} s\nstdout: {self.stdout!r}"
            ) from None
        for pump in self._pumps:
            pump.join(timeout)
        self._close_pipes()
        return status

    def _close_pipes(self):
        for stream in (self._popen.stdin, self._popen.stdout, self._popen.stderr):
            if stream is not None:
                try:
                    stream.close()
                except OSError:
                    pass

    def kill(self):
        """Kills the program and everything it started, then waits for it."""
        if self.running():
            try:
                os.killpg(self._popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self._popen.wait()
        self._close_pipes()


def script_text(text):
    """A deck text in the stand-in's script form: bars and backslashes escaped, control
    characters and surrogates as \\uHHHH code units, everything else as UTF-8."""
    out = []
    for char in text:
        code = ord(char)
        if char in "\\|":
            out.append("\\" + char)
        elif code < 0x20 or 0x7F <= code <= 0x9F or 0xD800 <= code <= 0xDFFF:
            out.append(f"\\u{code:04X}")
        else:
            out.append(char)
    return "".join(out)


class StandIn:
    """The stand-in DJ application, driven line by line through its standard input, or
    running a script file quietly when one is given (natively: it is ready once its block
    is there). launcher is a command prefix that runs it (such as a checker)."""

    def __init__(self, cwd, local=False, size=None, script=None, launcher=()):
        argv = [*launcher, STANDIN]
        if local:
            argv.append("--local")
        if size is not None:
            argv += ["--size", str(size)]
        if script is not None:
            argv += ["--quiet", script]
        self.process = Process(argv, cwd, stdin=script is None)
        self._lines = 1
        if script is None:
            self.process.wait_for(b" ready (", START_TIMEOUT, "the stand-in's block")
            return
        path = os.path.join(SHM_FOLDER, BLOCK_NAMES[1 if local else 0])
        deadline = time.monotonic() + START_TIMEOUT
        while not os.path.exists(path):
            if time.monotonic() > deadline or not self.process.running():
                raise AssertionError(f"the stand-in made no block: {self.process.stderr!r}")
            time.sleep(0.01)

    def _command(self, line):
        """Sends a command that changes the block and waits until it is done."""
        self.process.write(line.encode("utf-8") + b"\n")
        self._lines += 1
        lines = self._lines
        self.process.wait_until(
            lambda out: out.count(b"\n") >= lines, START_TIMEOUT, f"the stand-in doing {line!r}"
        )

    def load(self, deck, track):
        self._command(f"load {deck} " + "|".join(script_text(t) for t in track.texts))

    def load_texts(self, deck, artist, song, album):
        """Loads texts given in the script form as they are (escapes such as \\xE9 too)."""
        self._command(f"load {deck} {artist}|{song}|{album}")

    def clear(self, deck):
        self._command(f"clear {deck}")

    def quit(self, test):
        self.process.write(b"quit\n")
        status = self.process.finish()
        test.assertEqual(status, 0, self.process.stderr)
        test.assertTrue(self.process.stdout.endswith(b" removed\n"), self.process.stdout)


class Tracker:
    """A run of the tracker; times are counted from the moment it began tracking."""

    def __init__(self, cwd, *args, preexec_fn=None, program=None):
        """program, when given, runs the tracker (a tracer, say): args then name it."""
        self._start = lambda: Process([program or TRACKER, *args], cwd, preexec_fn=preexec_fn)
        self.process = self._start()
        self.t0 = None

    def wait_started(self):
        try:
            self.t0 = self.process.wait_for(STARTING, START_TIMEOUT, "the start of tracking")
        except AssertionError:
            # Under Wine, a process now and then ends before the program runs at all: no
            # output, not even Wine's own crash report. The tracker always prints its first
            # line at once, so such an end is Wine's; it is started once more, and said so.
            process = self.process
            if NATIVE or process.running() or process.stdout or process.stderr:
                raise
            print(f"Wine ended {process.argv} with status {process.finish()} before it "
                  "printed anything: started once more", file=sys.stderr)
            self.process = self._start()
            self.t0 = self.process.wait_for(STARTING, START_TIMEOUT, "the start of tracking")

    def sleep_until(self, seconds):
        """Sleeps until `seconds` after the start of tracking. The first poll follows the
        start at once and the next ones come a second apart, so a change made at n.5
        seconds is first seen by poll n + 2."""
        delay = self.t0 + seconds - time.monotonic()
        if delay > 0:
            time.sleep(delay)

    def wait_for(self, text, seconds, what=None):
        """Waits for output until `seconds` after the start of tracking (plus slack)."""
        timeout = max(self.t0 + seconds - time.monotonic(), 0) + 2.0
        return self.process.wait_for(text, timeout, what)

    def stop(self, number=signal.SIGINT):
        self.process.send_signal(number)
        return self.process.finish()

    def reports(self):
        """The tracks the console showed so far (see reports_in)."""
        return reports_in(self.process.stdout)

    def wait_reports(self, count, timeout=START_TIMEOUT):
        self.process.wait_until(
            lambda out: len(reports_in(out)) >= count, timeout, f"{count} reports"
        )


# ---------------------------------------------------------------------------------------
# The test case base.


def local_epoch(fields):
    """Seconds since the epoch of a local date and time given as six decimal byte strings."""
    year, month, day, hour, minute, second = (int(f) for f in fields)
    return time.mktime((year, month, day, hour, minute, second, 0, 0, -1))


class EndToEndTest(unittest.TestCase):
    """Gives each test a temporary folder and no stale blocks, and ends what it started."""

    maxDiff = None

    def setUp(self):
        if not TRACKER or not STANDIN:
            self.fail("ZV_TRACKER and ZV_STANDIN must name the tracker and the stand-in")
        remove_leftover_blocks()
        self.folder = tempfile.mkdtemp(prefix="zv-e2e-")
        self.addCleanup(self._remove_folder)
        self.addCleanup(remove_leftover_blocks)
        self.started = time.time()

    def _remove_folder(self):
        if os.path.isdir(self.folder):
            os.chmod(self.folder, 0o755)
            shutil.rmtree(self.folder)

    def standin(self, **options):
        standin = StandIn(self.folder, **options)
        self.addCleanup(standin.process.kill)
        return standin

    def tracker(self, *args, cwd=None, preexec_fn=None):
        tracker = Tracker(cwd or self.folder, *args, preexec_fn=preexec_fn)
        self.addCleanup(tracker.process.kill)
        return tracker

    def run_tracker(self, *args, cwd=None, preexec_fn=None):
        """Runs the tracker to its end; its status and standard output."""
        tracker = self.tracker(*args, cwd=cwd, preexec_fn=preexec_fn)
        status = tracker.process.finish(START_TIMEOUT)
        return status, tracker.process.stdout

    def playlists(self, folder=None):
        """The playlist files (and files of waiting records), not their set logs."""
        return sorted(
            name.encode()
            for name in os.listdir(folder or self.folder)
            if name.startswith("Playlist_") and not name.endswith(SET_LOG_EXTENSION)
        )

    def assertBytes(self, actual, expected, what="output"):
        """Byte equality, shown as a line diff when it fails."""
        if actual != expected:
            self.assertEqual(
                actual.decode("latin-1"), expected.decode("latin-1"), f"{what} differs"
            )

    def assertPlaylistName(self, name):
        """The name has the fixed form and names a moment of this test."""
        match = PLAYLIST_NAME.fullmatch(name)
        self.assertIsNotNone(match, name)
        moment = local_epoch(match.groups())
        self.assertGreaterEqual(moment, int(self.started) - 1, name)
        self.assertLessEqual(moment, time.time() + 1, name)
        return moment

    def assertPlaylist(self, name, records, folder=None):
        """The playlist file holds the header and exactly these records, (deck, track),
        with line ends CR LF and date-times that agree with each other and the run."""
        moment = self.assertPlaylistName(name)
        with open(os.path.join(folder or self.folder, name.decode()), "rb") as file:
            data = file.read()
        self.assertTrue(data.startswith(HEADER), data[:100])
        self.assertTrue(data.endswith(b"\r\n"), data[-100:])
        lines = data[len(HEADER) : -2].split(b"\r\n") if len(data) > len(HEADER) else []
        self.assertEqual(len(lines), len(records), data)
        previous = moment
        for line, (deck, track) in zip(lines, records):
            artist, song, album = track.shown
            middle = b";" + deck.encode() + b';"' + artist + b'";"' + song + b'";"' + album + b'"'
            stamp = STAMP.fullmatch(line[:19])
            columns = STAMP_COLUMNS.fullmatch(line[-20:])
            self.assertIsNotNone(stamp, line)
            self.assertIsNotNone(columns, line)
            self.assertBytes(line[19:-20], middle, "record")
            self.assertEqual(stamp.groups(), columns.groups(), line)
            written = local_epoch(stamp.groups())
            self.assertGreaterEqual(written, previous, line)
            self.assertLessEqual(written, time.time() + 1, line)
            previous = written
        return data


    def assertSetLog(self, playlist, records, folder=None):
        """The set log beside the playlist holds one UTF-8 JSON line per record, LF ended,
        with the texts of `records` (deck, track) exactly, the record's clock reading and
        local offset, and a load time no later than it and within the run."""
        path = os.path.join(folder or self.folder, set_log_name(playlist))
        with open(path, "rb") as file:
            data = file.read()
        self.assertTrue(data == b"" or data.endswith(b"\n"), data[-100:])
        lines = data.split(b"\n")[:-1]
        playlist_data = self.assertPlaylist(playlist, records, folder)
        stamps = playlist_data.split(b"\r\n")[1:-1]
        self.assertEqual(len(lines), len(records), data)
        for line, stamp, (deck, track) in zip(lines, stamps, records):
            entry = json.loads(line.decode("utf-8"))
            self.assertEqual(
                (entry["deck"], entry["artist"], entry["song"], entry["album"]),
                (deck, *track.logged),
            )
            logged = parse_iso(entry["time"])
            self.assertEqual(logged.strftime("%Y.%m.%d %H:%M:%S").encode(), stamp[:19], line)
            self.assertEqual(logged.utcoffset(), local_offset(logged.timestamp()), line)
            loaded = parse_iso(entry["loaded"]).timestamp()
            self.assertLessEqual(loaded, logged.timestamp(), line)
            self.assertGreaterEqual(loaded, int(self.started) - 1, line)
        return lines


SET_LOG_EXTENSION = ".jsonl"


def set_log_name(playlist):
    """Playlist_X.jsonl for Playlist_X.txt (bytes or text)."""
    name = playlist.decode() if isinstance(playlist, bytes) else playlist
    return name[: -len(".txt")] + SET_LOG_EXTENSION


def parse_iso(text):
    """An aware datetime of a set log's "2026-12-07T23:08:31+01:00"."""
    return datetime.datetime.fromisoformat(text)


def local_offset(moment):
    """The local clock's offset from UTC at a calendar time, as a timedelta."""
    return datetime.timedelta(seconds=time.localtime(moment).tm_gmtoff)


# ---------------------------------------------------------------------------------------
# Talking to `setlist live --serve`: plain HTTP, its event stream, and a headless browser.


def free_port():
    """A TCP port on the loopback address that nothing listens on just now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def http_request(port, path, method="GET", timeout=10.0):
    """(status, headers as a dict with lower-case names, body bytes) of one request."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request(method, path)
        response = connection.getresponse()
        return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
    finally:
        connection.close()


class EventStream(threading.Thread):
    """A client of a text/event-stream that keeps the data of every event, and the
    monotonic time it came."""

    def __init__(self, port, path="/events"):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.sock.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
        self.head, self.events, self.times, self.comments = b"", [], [], 0
        self._changed = threading.Condition()
        self.start()

    def run(self):
        data = b""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    break
                data += chunk
                if not self.head and b"\r\n\r\n" in data:
                    self.head, data = data.split(b"\r\n\r\n", 1)
                while self.head and b"\n\n" in data:
                    block, data = data.split(b"\n\n", 1)
                    with self._changed:
                        for line in block.split(b"\n"):
                            if line.startswith(b"data: "):
                                self.events.append(line[6:].decode("utf-8"))
                                self.times.append(time.monotonic())
                            elif line.startswith(b":"):
                                self.comments += 1
                        self._changed.notify_all()
        except OSError:
            pass
        with self._changed:
            self.head = self.head or b"closed"
            self._changed.notify_all()

    def wait_events(self, count, timeout):
        """The data of the first `count` events, once they are there."""
        with self._changed:
            self._changed.wait_for(lambda: len(self.events) >= count, timeout)
            return list(self.events)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def _descriptor_above(fd, lowest):
    """A copy of the descriptor numbered at least `lowest`; the original is closed."""
    copy = fcntl.fcntl(fd, fcntl.F_DUPFD, lowest)
    os.close(fd)
    return copy


CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class HeadlessPage:
    """A page in headless Chromium, driven through the DevTools protocol on a pipe
    (JSON messages, each ended by a zero byte, on the browser's descriptors 3 and 4)."""

    def __init__(self, url, profile):
        to_browser, self._commands = os.pipe()
        self._replies, from_browser = os.pipe()
        # Above 4, so that placing them on 3 and 4 cannot overwrite one with the other.
        to_browser, from_browser = (_descriptor_above(fd, 10) for fd in (to_browser, from_browser))
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--hide-scrollbars", f"--user-data-dir={profile}", "--remote-debugging-pipe",
                 "about:blank"]
        self.process = subprocess.Popen(
            ["bash", "-c", f'exec "$0" "$@" 3<&{to_browser} 4>&{from_browser}', CHROMIUM, *flags],
            pass_fds=(to_browser, from_browser), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(to_browser)
        os.close(from_browser)
        self._next, self._pending, self.session = 0, b"", None
        target = self.call("Target.createTarget", url=url)["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def call(self, method, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if self.session and method != "Target.attachToTarget":
            message["sessionId"] = self.session
        os.write(self._commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self._pending:
                chunk = os.read(self._replies, 1 << 20)
                if not chunk:
                    raise AssertionError(f"Chromium ended during {method}")
                self._pending += chunk
            reply, self._pending = self._pending.split(b"\0", 1)
            reply = json.loads(reply)
            if reply.get("id") == self._next:
                if "error" in reply:
                    raise AssertionError(f"{method}: {reply['error']}")
                return reply["result"]

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result["result"].get("value")

    def wait_until(self, expression, timeout):
        """Waits until the expression is true in the page; whether it became so."""
        deadline = time.monotonic() + timeout
        while not self.evaluate(expression):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)
        return True

    def screenshot(self, path, width, height):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False)
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        for fd in (self._commands, self._replies):
            try:
                os.close(fd)
            except OSError:
                pass
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()


# ---------------------------------------------------------------------------------------
# Fault tests: the tracker killed, its disk full, its folder or file taken away, the
# shared block garbled. These run the native programs only (signals, mounts, file size
# limits, /dev/shm).

BLOCK_PATH = os.path.join(SHM_FOLDER, BLOCK_NAMES[0])
BLOCK_SIZE = 4096

# Offsets of the six deck fields in the block, in bytes.
FIELDS = {"LS": 0x0CC, "LA": 0x19C, "LR": 0x26C, "RS": 0x748, "RA": 0x818, "RR": 0x8E8}

STATUS_FAILED = STATUS_WRONG  # -1 as a process status, for every failure that ends a run

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


class FaultTest(EndToEndTest):
    """An end-to-end test whose folder others may enter (a tracker run as another user),
    with what the fault tests check in playlist files."""

    def setUp(self):
        super().setUp()
        os.chmod(self.folder, 0o755)

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
