"""The tracker on a terminal (Linux): the decks' Latin-1 texts show as their characters
in UTF-8, while the playlist file keeps them in Latin-1 as always."""

import os
import pty
import signal
import subprocess
import threading
import tty
import unittest

import harness


class Terminal:
    """The tracker with a pseudo-terminal as its standard output and error."""

    def __init__(self, test, *args):
        master, slave = pty.openpty()
        tty.setraw(slave)  # line ends as written, no CR added
        self.popen = subprocess.Popen(
            [harness.TRACKER, *args],
            cwd=test.folder,
            stdin=subprocess.DEVNULL,
            stdout=slave,
            stderr=slave,
            start_new_session=True,
        )
        os.close(slave)
        test.addCleanup(self.kill)
        self.output = bytearray()
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, args=(master,), daemon=True)
        self.reader.start()

    def _read(self, master):
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO once the tracker has ended
                chunk = b""
            with self.changed:
                self.output += chunk
                self.changed.notify_all()
            if not chunk:
                os.close(master)
                return

    def wait_for(self, text):
        with self.changed:
            if not self.changed.wait_for(lambda: text in self.output, harness.START_TIMEOUT):
                raise AssertionError(f"{text!r} not shown: {bytes(self.output)!r}")

    def stop(self):
        self.popen.send_signal(signal.SIGINT)
        status = self.popen.wait(harness.EXIT_TIMEOUT)
        self.reader.join(harness.EXIT_TIMEOUT)
        return status, bytes(self.output)

    def kill(self):
        if self.popen.poll() is None:
            os.killpg(self.popen.pid, signal.SIGKILL)
            self.popen.wait()


@unittest.skipUnless(harness.NATIVE, "a pseudo-terminal of this system")
class TerminalTest(harness.EndToEndTest):
    def test_latin1_texts_show_as_utf8(self):
        track = harness.Track("Bruno Calv\u00e9", "\u00dcber Stra\u00dfe", "Caf\u00e9 \u00bd")
        standin = self.standin()
        standin.load("L", track)
        terminal = Terminal(self, "-s", "1")
        shown = harness.report("L", *(text.encode("utf-8") for text in track.texts))
        terminal.wait_for(shown)
        status, output = terminal.stop()
        self.assertEqual(status, 0, output)
        (name,) = self.playlists()
        self.assertBytes(
            output, harness.simple_start(b"1") + shown + harness.stopped(name), "terminal"
        )
        self.assertPlaylist(name, [("L", track)])  # Latin-1 bytes in the file


if __name__ == "__main__":
    unittest.main(verbosity=2)
