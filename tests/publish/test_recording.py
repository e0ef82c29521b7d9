"""setlist cue and chapters read back by real readers: cuetools (cuebreakpoints, cueprint)
and ffmpeg, which embeds the chapters in a silent recording for ffprobe to read.
Environment as for test_convert.py."""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_convert import HEADER, LAUNCHER, SETLIST, line, playlist, set_log  # noqa: E402

# Recorded from 23:55:00; the set crosses midnight and passes 99 minutes.
START = "23:55:00"
SET = [
    ("2026-12-07 23:56:30", "L", "Marlow Tide", "Paper Harbour", "Night Ferries"),
    ("2026-12-08 00:10:00", "R", "Beyoncé", 'Déjà vu, "Live"', "x"),
    ("2026-12-08 00:20:00", "L", "", "", ""),  # a cleared deck: left out
    ("2026-12-08 00:30:00", "R", "東京" * 50, "é" * 79 + "yz", ""),
    ("2026-12-08 01:40:05", "L", "Tab\there", "back\\slash\\\\", ""),
    ("2026-12-08 01:45:07", "R", "A=B;C#D\\E", "Over 99 minutes", ""),
]


class RecordingTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="zv-recording-")
        self.addCleanup(folder.cleanup)
        self.dir = folder.name
        self.write("p.txt", playlist(SET[:2]) + b"garbage\r\n" + playlist(SET[2:])[len(HEADER):])

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def run_in_dir(self, *args, status=0, launcher=()):
        done = subprocess.run([*launcher, *args], cwd=self.dir, capture_output=True, timeout=120)
        self.assertEqual(done.returncode, status, done.stderr)
        return done.stdout, done.stderr.decode("utf-8", "replace")

    def setlist(self, *args, status=0):
        return self.run_in_dir(SETLIST, *args, status=status, launcher=LAUNCHER)

    def reader(self, *args):
        out, err = self.run_in_dir(*args)
        self.assertEqual(err, "")
        return out.decode("utf-8")

    def test_cue_sheet_read_by_cuetools(self):
        self.write("p.jsonl", set_log(SET))  # every character, and loaded 95 s before
        for audio, args, breakpoints in (
                ('mix.flac" WAVE', ["0"], "15:00.00 35:00.00 105:05.00 110:07.00"),
                ('M.MP3" MP3', ["+2.5"], "15:02.37 35:02.37 105:07.37 110:09.37"),
                ('a b.aiff" WAVE', ["-200"], "11:40.00 31:40.00 101:45.00 106:47.00"),
                ('m.ogg" WAVE', ["0", "--at", "loaded"], "13:25.00 33:25.00 103:30.00 108:32.00")):
            out, err = self.setlist("cue", "--audio", audio.split('"')[0], "--start", START,
                                    "--shift", *args, "-o", "mix.cue", "p.txt")
            self.assertEqual((out, err.count("not a record")), (b"", 1), err)
            with open(os.path.join(self.dir, "mix.cue"), "rb") as f:
                self.assertTrue(f.read().startswith(b'REM DATE 2026\r\nREM COMMENT "2026-12-07"'
                                                    b'\r\nFILE "' + audio.encode() + b"\r\n"))
            self.assertEqual(self.reader("cuebreakpoints", "mix.cue").split(), breakpoints.split(),
                             args)
            self.assertEqual(self.reader("cueprint", "-d", "", "-t", "%n|%p|%t\n", "mix.cue"),
                             "1|Marlow Tide|Paper Harbour\n2|Beyoncé|Déjà vu, 'Live'\n"
                             f"3|{'東京' * 40}|{'é' * 79}y\n4|Tab here|back\\slash//\n"
                             "5|A=B;C#D\\E|Over 99 minutes\n")

    def test_cue_byte_order_mark_and_length(self):
        out, _ = self.setlist("cue", "--audio", "m.wav", "--start", START, "--bom", "p.txt")
        self.assertTrue(out.startswith(b"\xef\xbb\xbfREM DATE 2026\r\n"))
        for count, status in ((100, 1), (99, 0)):  # track numbers have two digits
            self.write("long.txt", b"".join(line(f"2026-12-08 {n // 60:02}:{n % 60:02}:00", "L",
                                                 f"A{n}", "S", "") for n in range(count)))
            _, err = self.setlist("cue", "--audio", "m.wav", "--start", "00:00:00", "-o",
                                  "long.cue", "long.txt", status=status)
            if status:
                self.assertIn("long.txt holds 100 tracks, and a CUE sheet holds at most 99", err)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "long.cue")))
        self.assertEqual(len(self.reader("cuebreakpoints", "long.cue").split()), 98)

    def test_chapters_embedded_by_ffmpeg(self):
        records = [
            ("2026-12-07 23:59:59", "L", "Tab\there", "A=B;C#D\\E\n東京", ""),
            ("2026-12-08 00:00:01", "R", "Beyoncé", "Déjà vu", ""),
            # Before its predecessor; a trailing '\' that must not join the next chapter.
            ("2026-12-08 00:00:00", "L", "", "Only a song\\", ""),
            ("2026-12-08 00:00:02", "L", "", "", ""),
            ("2026-12-08 00:00:04", "R", "Only an artist", "", ""),
        ]
        self.write("short.jsonl", set_log(records))
        self.write("short.txt", playlist([(t, d, *(x.replace("\n", " ") for x in texts))
                                          for t, d, *texts in records]))
        self.reader("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono",
                    "-t", "8", "-c:a", "libmp3lame", "mix.mp3")
        starts = [1125, 3125, 3125, 6125]  # the third moved up to the second
        for end, last_end in (([], starts[-1] + 600000), (["--end", "00:00:09"], 11000)):
            _, err = self.setlist("chapters", "--start", "23:59:58", "--shift", "0.125", *end,
                                  "-o", "chapters.txt", "short.txt")
            self.assertIn("1 track falls before the track before it", err)
            self.reader("ffmpeg", "-v", "error", "-y", "-i", "mix.mp3", "-i", "chapters.txt",
                        "-map_metadata", "1", "-map_chapters", "1", "-codec", "copy", "out.mp3")
            chapters = json.loads(self.reader("ffprobe", "-v", "error", "-show_chapters", "-of",
                                              "json", "out.mp3"))["chapters"]
            self.assertEqual([(c["time_base"], c["start"], c["end"], c["tags"]["title"])
                              for c in chapters],
                             list(zip(["1/1000"] * 4, starts, starts[1:] + [last_end],
                                      ["Tab here - A=B;C#D\\E\n東京", "Beyoncé - Déjà vu",
                                       "Only a song/", "Only an artist"])))

    def test_set_across_midnight(self):
        # Recorded from 9 s after the first track: its points are 00:00:00, and said so.
        self.write("m.txt", playlist([("2026-12-07 23:59:56", "L", "Early", "Bird", ""),
                                      ("2026-12-08 00:00:08", "R", "", "Untitled", ""),
                                      ("2026-12-08 00:01:00", "L", "Late", "Night", "")]))
        for args, times in (
                (["tracklist"], "00:00:00 Early - Bird|00:00:03 Untitled|00:00:55 Late - Night"),
                (["cue", "--audio", "m.wav"], "00:00:00|00:03:00|00:55:00"),
                (["chapters", "--end", "00:02:00"], "0-3000|3000-55000|55000-115000")):
            out, err = self.setlist(*args, "--start", "00:00:05", "m.txt")
            self.assertIn("--start is after the first track of m.txt", err)
            text = out.decode()
            found = (text.splitlines() if args[0] == "tracklist" else
                     re.findall(r"INDEX 01 (\S+)", text) if args[0] == "cue" else
                     ["-".join(m) for m in re.findall(r"START=(\d+)\nEND=(\d+)", text)])
            self.assertEqual("|".join(found), times)
        # An end before the last track, even one before the start's clock time, is refused.
        out, err = self.setlist("chapters", "--start", "23:59:50", "--end", "23:59:59", "m.txt",
                                status=2)
        self.assertEqual(out, b"")
        self.assertIn("--end is before the last track of m.txt, logged at 2026-12-08T00:01:00",
                      err)

    def test_wrong_command_lines(self):
        for args, message in [
            (["cue", "--audio", "m.wav"], "cue needs --start HH:MM:SS"),
            (["cue", "--start", START], "cue needs --audio FILE"),
            (["cue", "--audio", 'a"b.wav', "--start", START], "cannot name a file with '\"'"),
            (["chapters", "--start", START, "--shift", "1.2345"], "--shift takes seconds"),
            (["chapters", "--start", START, "--at", "played"], "--at takes logged or loaded"),
            (["chapters", "--start", START, "--end", "25:00:00"], "--end takes a clock time"),
            (["cue", "--audio", "m.wav", "--start", START, "--end", START], "option '--end'"),
            (["chapters", "--start", START, "--at", "loaded"], "--at loaded needs the set log"),
        ]:
            out, err = self.setlist(*args, "p.txt", status=2)
            self.assertEqual(out, b"")
            self.assertIn(message, err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
