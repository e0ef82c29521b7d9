"""A secret prompt on a terminal (a pseudo-terminal): the echo is off while the secret is
typed and back on however the prompt ends, Ctrl-C and termination requests included; an
accounts file that cannot be written ends the login before the prompt."""

import fcntl
import os
import pty
import signal
import subprocess
import tempfile
import termios
import time
import unittest

SETLIST = os.environ.get("ZV_SETLIST", "")


def echoing(fd):
    return bool(termios.tcgetattr(fd)[3] & termios.ECHO)


def controlling_terminal():
    """Makes standard input the new session's terminal, so that Ctrl-C typed on it
    interrupts the program."""
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class SecretPrompt(unittest.TestCase):
    def test_the_echo_comes_back_however_the_prompt_ends(self):
        # (what ends the prompt: keys typed or a signal sent, the status it ends with)
        cases = [(b"\x03", -signal.SIGINT), (signal.SIGINT, -signal.SIGINT),
                 (signal.SIGTERM, -signal.SIGTERM), (signal.SIGHUP, -signal.SIGHUP),
                 (b"tok-1\n", 1)]
        folder = self.enterContext(tempfile.TemporaryDirectory(prefix="zv-secret-"))
        for end, status in cases:
            with self.subTest(end=end):
                master, slave = pty.openpty()
                self.addCleanup(os.close, master)
                self.addCleanup(os.close, slave)
                # The login reaches no service: port 9 of 127.0.0.1 refuses it at once.
                process = subprocess.Popen(
                    [SETLIST, "login", "listenbrainz", "--url", "http://127.0.0.1:9",
                     "--accounts", os.path.join(folder, "accounts.json")],
                    stdin=slave, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                    start_new_session=True, preexec_fn=controlling_terminal)
                self.addCleanup(process.kill)
                deadline = time.monotonic() + 30
                while echoing(slave) and time.monotonic() < deadline:
                    time.sleep(0.02)
                self.assertFalse(echoing(slave), "the prompt never switched the echo off")
                if isinstance(end, bytes):
                    os.write(master, end)
                else:
                    process.send_signal(end)
                process.wait(30)
                stderr = process.stderr.read()
                process.stderr.close()
                self.assertEqual(process.returncode, status, stderr)
                self.assertTrue(echoing(slave), "the echo stays off")

    def test_an_accounts_file_that_cannot_be_written_ends_it_before_the_prompt(self):
        folder = self.enterContext(tempfile.TemporaryDirectory(prefix="zv-secret-"))
        accounts = os.path.join(folder, "accounts.json")
        with open(accounts, "w") as f:
            f.write('{"accounts": []}')
        os.chmod(accounts, 0o400)  # read-only: refused even to root, as cp refuses it
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        done = subprocess.run([SETLIST, "login", "listenbrainz", "--url", "http://127.0.0.1:9",
                               "--accounts", accounts], stdin=slave, capture_output=True,
                              timeout=30)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn(b"accounts.json: cannot write: the file is read-only", done.stderr)
        self.assertTrue(echoing(slave))


if __name__ == "__main__":
    unittest.main(verbosity=2)
