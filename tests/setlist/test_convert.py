"""setlist's conversions end to end: each output form read back by a real reader, the
tracklist times, -o that never leaves a partial file, and the exit statuses.

    ZV_SETLIST   the setlist executable
    ZV_LAUNCHER  optional command prefix (a runner for programs of another system)
"""

import csv
import datetime
import html.parser
import io
import json
import os
import re
import shlex
import subprocess
import tempfile
import unittest

SETLIST = os.environ.get("ZV_SETLIST", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))
HEADER = b'Date Time;Deck;"Artist";"Song";"Album";Year;Month;Day;Hour;Minute;Second\r\n'

# A set as the tracker logged it: time, deck, artist, song, album. Texts are Latin-1.
SET = [
    ("2026-12-07 23:08:31", "L", "Marlow Tide", "Paper Harbour", "Night Ferries"),
    ("2026-12-07 23:12:02", "R", "Beyoncé", 'Déjà vu, "Live"', "Müller; Schön"),
    ("2026-12-07 23:17:45", "L", "<script>alert(1)</script>", "Tom & Jerry", "&lt;b&gt; &copy"),
    ("2026-12-07 23:23:10", "R", "Tab\there", "C\x01\x1f\x7f\x85", "back\\slash ?"),
    ("2026-12-07 23:59:59", "L", "é" * 100, '"' * 100, ";" * 100),
    ("2026-12-08 00:04:12", "R", "", "", ""),
    ("2026-12-08 00:10:00", "L", "A", 'B";"C', "D"),  # one '";"' too many: ambiguous
]


def line(when, deck, artist, song, album, end=b"\r\n"):
    t = datetime.datetime.fromisoformat(when)
    texts = '";"'.join((artist, song, album)).encode("latin-1")
    return (t.strftime("%Y.%m.%d %H:%M:%S;").encode() + deck.encode() + b';"' + texts
            + t.strftime('";%Y;%m;%d;%H;%M;%S').encode() + end)


# Header, three records, garbage, a record with LF only, the rest, a partial last line.
PLAYLIST = (HEADER + b"".join(line(*r) for r in SET[:3]) + b"garbage\r\n" + line(*SET[3], end=b"\n")
            + b"".join(line(*r) for r in SET[4:]) + line(*SET[0])[:30])
SKIPPED_LINES = (5, len(SET) + 3)


def visible(text):
    """A text as the tracklist and the page show it: control characters as blanks."""
    return re.sub("[\x00-\x1f\x7f-\x9f]", " ", text)


class PageParser(html.parser.HTMLParser):
    """The texts of the heading and of each table row, and every tag the page holds."""

    def __init__(self):
        super().__init__()
        self.tags, self.rows, self.heading, self.cell, self.in_heading = [], [], "", None, False

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))
        self.in_heading = tag in ("h1", "p")
        if tag == "tr":
            self.rows.append([])
        elif tag == "td":
            self.cell = ""

    def handle_endtag(self, tag):
        if self.in_heading:
            self.heading += "\n"
        self.in_heading = False
        if tag == "td":
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data
        elif self.in_heading:
            self.heading += data


class ConvertTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="zv-setlist-")
        self.dir = self.folder.name
        self.addCleanup(self.folder.cleanup)
        self.write("p.txt", PLAYLIST)

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def run_setlist(self, *args):
        done = subprocess.run(LAUNCHER + [SETLIST, *args], cwd=self.dir, capture_output=True,
                              timeout=120)
        return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")

    def convert(self, *args):
        status, out, err = self.run_setlist(*args)
        self.assertEqual(status, 0, err)
        for number in SKIPPED_LINES:
            self.assertIn(f"p.txt:{number}: not a record", err)
        self.assertIn("1 record holds more", err)
        return out

    def test_csv_and_json_read_back_field_for_field(self):
        expected = [[t.replace(" ", "T"), d, a, s, al] for t, d, a, s, al in SET]
        data = self.convert("csv", "p.txt")
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
        rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline="")))
        self.assertEqual(rows, [["time", "deck", "artist", "song", "album"]] + expected)
        objects = json.loads(self.convert("json", "p.txt").decode("utf-8"))
        keys = ["time", "deck", "artist", "song", "album"]
        self.assertEqual([[o[k] for k in keys] for o in objects], expected)
        self.assertEqual([sorted(o) for o in objects], [sorted(keys)] * len(SET))

    def test_tracklist_times(self):
        times = [datetime.datetime.fromisoformat(r[0]) for r in SET]
        for start in (None, "23:10:00", "22:00:00"):
            with self.subTest(start=start):
                origin = times[0] if start is None else datetime.datetime.combine(
                    times[0].date(), datetime.time.fromisoformat(start))
                lines = []
                for t, (_, _, artist, song, _) in zip(times, SET):
                    s = max(0, int((t - origin).total_seconds()))
                    lines.append(f"{s // 3600:02}:{s // 60 % 60:02}:{s % 60:02} "
                                 f"{visible(artist)} - {visible(song)}\n")
                args = ["tracklist"] + (["--start", start] if start else []) + ["p.txt"]
                self.assertEqual(self.convert(*args).decode("utf-8"), "".join(lines))

    def test_html_page_shows_every_text_as_text(self):
        page = PageParser()
        page.feed(self.convert("html", "p.txt").decode("utf-8"))
        page.close()
        self.assertEqual([r[1:] for r in page.rows[1:]],
                         [[t[11:], d] + [visible(x) for x in texts] for t, d, *texts in SET])
        self.assertEqual([r[0] for r in page.rows[1:]], [str(n) for n in range(1, len(SET) + 1)])
        self.assertEqual(sorted({tag for tag, _ in page.tags}), sorted(
            {"html", "head", "meta", "title", "style", "body", "h1", "p", "table", "thead", "tbody",
             "tr", "th", "td"}))
        self.assertFalse([a for _, a in page.tags if "src" in a or "href" in a])
        self.assertEqual(page.heading, "Monday 7 December 2026\n"
                         "23:08:31 to 00:10:00 on Tuesday 8 December 2026 · 7 tracks\n")

    def test_output_file_is_whole_or_untouched(self):
        self.write("out.csv", b"old")
        os.mkdir(os.path.join(self.dir, "folder.csv"))
        self.write("header.txt", HEADER)
        stdout = self.convert("csv", "p.txt")
        for args in (["-o", "missing/out.csv", "p.txt"], ["-o", "out.csv", "header.txt"],
                     ["-o", "folder.csv", "p.txt"]):
            with self.subTest(args=args):
                status, out, err = self.run_setlist("csv", *args)
                self.assertEqual((status, out), (1, b""), err)
                self.assertIn("setlist: ", err)
                self.assertEqual(self.read("out.csv"), b"old")
        self.assertEqual(self.convert("csv", "-o", "out.csv", "p.txt"), b"")
        self.assertEqual(self.read("out.csv"), stdout)
        self.assertEqual(sorted(os.listdir(self.dir)), ["folder.csv", "header.txt", "out.csv", "p.txt"])
        self.assertEqual(os.listdir(os.path.join(self.dir, "folder.csv")), [])

    def test_exit_statuses(self):
        self.write("empty.txt", b"")
        self.write("header.txt", HEADER)
        self.write("junk.txt", b"\x00\xff junk\r\n" * 50)
        cases = [
            ([], 2, "which subcommand"),
            (["csv"], 2, "needs a PLAYLIST"),
            (["json", "p.txt", "p.txt"], 2, "one PLAYLIST only"),
            (["pdf", "p.txt"], 2, "unknown subcommand 'pdf'"),
            (["csv", "--start", "10:00:00", "p.txt"], 2, "unknown option '--start'"),
            (["tracklist", "--start", "24:00:00", "p.txt"], 2, "HH:MM:SS"),
            (["html", "-o"], 2, "-o needs a value"),
            (["csv", "missing.txt"], 1, "missing.txt"),
            (["csv", "empty.txt"], 1, "empty.txt is empty"),
            (["html", "header.txt"], 1, "header.txt holds no records"),
            (["tracklist", "junk.txt"], 1, "junk.txt holds no records"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                got, out, err = self.run_setlist(*args)
                self.assertEqual((got, out), (status, b""), err)
                self.assertIn(message, err)
                self.assertEqual("usage:" in err, status == 2, err)
        self.assertIn("40 more lines that are not records", self.run_setlist("csv", "junk.txt")[2])
        status, out, err = self.run_setlist("--help")
        self.assertEqual((status, err), (0, ""))
        self.assertIn(b"setlist live [-s N | --simple N] [--now-playing FILE] [--previous FILE] "
                      b"[--format TEXT] [--html FILE]\n", out.replace(b"\r\n", b"\n"))
        self.assertRegex(self.run_setlist("--version")[1], rb"^setlist \d+\.\d+\.\d+\r?\n$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
