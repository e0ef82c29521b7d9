"""The tracker killed (SIGKILL) at random moments of a busy set: no line of a playlist
file is ever partial, and every record that was complete before the kill is still
there.

Half of the kills come at a random time. The other half come at a random system call
of the tracker (the n-th write, fsync, open, close or seek), delivered by strace as
the call begins, so that the moments inside the writing of a record, which a timer
hits only by chance, are all reached."""

import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

KILLS = 50

# The moments at which a kill is delivered by strace: as the n-th call of a kind begins.
# A run's first two polls make the console output and the header, then two reports and
# two records a poll, each record one open, seek, write, fsync and close; before them the
# loader opens and closes the libraries. Every write, seek and fsync of the header and of
# the first records is a moment; opens and closes are drawn at random.
def call_moments(rng, count):
    moments = [("write", n) for n in range(1, 9)]
    moments += [("fsync", n) for n in range(1, 6)] + [("lseek", n) for n in range(1, 6)]
    while len(moments) < count:
        moments.append((rng.choice(("openat", "close")), rng.randint(1, 14)))
    rng.shuffle(moments)
    return moments[:count]


def strace_works():
    """strace can trace here (ptrace may be forbidden in a container)."""
    if shutil.which("strace") is None:
        return False
    probe = subprocess.run(
        ["strace", "-o", "/dev/null", "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
    )
    return probe.returncode == 0


def busy_script(path, tracks):
    """A set in which both decks get a new track twice a second, with texts that hold
    separators, quotes and Latin-1 letters."""
    lines = []
    for n in range(tracks):
        lines.append(f"load L Artist {n} ; \"left\"|Song {n} Caf\\xE9|Album {n}")
        lines.append(f"load R Right {n}|Piste {n} \\u00FC|Disc;{n}")
        lines.append("wait 0.5")
    with open(path, "w", encoding="utf-8") as file:
        file.write("\n".join(lines) + "\n")


class KillTest(harness.FaultTest):
    def assertSetLogWhole(self, folder, playlist, records):
        """The set log holds whole lines, one per record in order (its line follows the
        record, so the last may be missing), and at most an unfinished piece after them."""
        path = os.path.join(folder, harness.set_log_name(playlist))
        if not os.path.exists(path):
            self.assertEqual(records, [], "records but no set log")
            return
        pieces = self.read(path).split(b"\n")
        decks = [json.loads(piece)["deck"].encode() for piece in pieces[:-1]]
        self.assertIn(len(decks), (len(records), len(records) - 1), pieces)
        self.assertEqual(decks, [deck for deck, _ in records[: len(decks)]])

    def test_kill_at_random_moments(self):
        seed = int(os.environ.get("ZV_FAULT_SEED", time.time_ns() % 1_000_000))
        rng = random.Random(seed)
        script = os.path.join(self.folder, "set.txt")
        busy_script(script, tracks=600)  # five minutes: longer than the test
        self.standin(script=script)

        traced = strace_works()
        if not traced:
            print("\nstrace cannot trace here: every kill comes at a random time", file=sys.stderr)
        moments = call_moments(rng, (KILLS + 1) // 2)
        during_record = 0  # kills that came after a report and before its record was complete
        records_seen = 0
        at_calls = 0
        for kill in range(KILLS):
            with self.subTest(kill=kill, seed=seed):
                # A folder of its own, so that no run waits for a free file name.
                folder = os.path.join(self.folder, f"run{kill}")
                os.mkdir(folder)
                before = set()
                if traced and kill % 2 == 0:
                    call, when = moments.pop()
                    tracker = harness.Tracker(
                        folder,
                        "-o",
                        "/dev/null",
                        "-e",
                        f"inject={call}:signal=KILL:when={when}",
                        harness.TRACKER,
                        program="strace",
                    )
                    self.addCleanup(tracker.process.kill)
                    # The kill comes by itself; a call number that a run reaches only
                    # later is cut short by a kill at a random time.
                    try:
                        tracker.process.popen.wait(rng.uniform(1.0, 2.0))
                        at_calls += 1
                    except subprocess.TimeoutExpired:
                        pass
                    snapshot = b""
                else:
                    tracker = self.tracker(cwd=folder)
                    tracker.wait_started()
                    time.sleep(rng.uniform(0, 1.5))
                    new = set(self.playlists(folder)) - before
                    snapshot = self.read(next(iter(new)), folder) if new else b""
                if tracker.process.running():
                    os.killpg(tracker.process.pid, signal.SIGKILL)
                self.assertIn(tracker.process.finish(), (-signal.SIGKILL, 128 + signal.SIGKILL))

                reports = tracker.reports()
                new = set(self.playlists(folder)) - before
                self.assertLessEqual(len(new), 1, new)
                if reports:
                    self.assertEqual(len(new), 1, "reports but no playlist file")
                if not new:
                    continue
                data = self.read(next(iter(new)), folder)
                self.assertTrue(data.startswith(snapshot), "the kill took back written bytes")
                if not data:
                    continue  # killed between creating the file and writing its header
                records = self.assertRecords(data)
                # A report is printed before its record is written: only the last one may
                # be missing from the file.
                self.assertIn(len(records), (len(reports), len(reports) - 1), data)
                self.assertRecordsMatch(records, reports[: len(records)])
                during_record += len(records) < len(reports)
                records_seen += len(records)
                self.assertSetLogWhole(folder, next(iter(new)), records)
        print(
            f"\n{KILLS} kills (seed {seed}), {at_calls} of them at a system call: no partial "
            f"line; {records_seen} records kept; {during_record} kills between a report and "
            "its complete record",
            file=sys.stderr,
        )


if __name__ == "__main__":
    unittest.main(verbosity=2)
