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
import stat
import tempfile
import threading
import time
import unittest

SETLIST = os.environ.get("ZV_SETLIST", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))
HEADER = b'Date Time;Deck;"Artist";"Song";"Album";Year;Month;Day;Hour;Minute;Second\r\n'

# Under a launcher (the Windows program under Wine) only the cases that reach code of
# their own on Windows run: the output file and its replacement, file identity and NUL,
# file times, binary standard output, the wide command line. The texts, times and forms
# come from code both builds share, checked once by the native run.
native_only = unittest.skipIf(LAUNCHER, "shared code, checked by the native build")

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


def line(when, deck, artist, song, album, end=b"\r\n", encoding="latin-1"):
    t = datetime.datetime.fromisoformat(when)
    texts = '";"'.join((artist, song, album)).encode(encoding)
    return (t.strftime("%Y.%m.%d %H:%M:%S;").encode() + deck.encode() + b';"' + texts
            + t.strftime('";%Y;%m;%d;%H;%M;%S').encode() + end)


# Header, three records, garbage, a record with LF only, the rest, a partial last line.
PLAYLIST = (HEADER + b"".join(line(*r) for r in SET[:3]) + b"garbage\r\n" + line(*SET[3], end=b"\n")
            + b"".join(line(*r) for r in SET[4:]) + line(*SET[0])[:30])
SKIPPED_LINES = ((5, "not a record"), (len(SET) + 3, "incomplete last line"))
# The tracks published: the empty one is left out.
PUBLISHED = [r for r in SET if any(r[2:])]


# A set with characters beyond Latin-1, as the playlist and its set log hold it.
WIDE_SET = [
    ("2026-12-07 23:08:31", "L", "Beyoncé", "Don’t Hurt Yourself – Live", "Lemonade"),
    ("2026-12-07 23:12:02", "R", "Łona", 'Śnieg, "Płyta"', "東京 🎵"),
    ("2026-12-07 23:15:00", "L", "", "", ""),
    ("2026-12-07 23:20:40", "R", "=cmd|' /C calc'!A0", "-M-", "@home\tx"),
]


def playlist(records, end=b"\r\n"):
    """A playlist as the tracker writes it: Latin-1, "?" for every other character."""
    return HEADER + b"".join(line(t, d, *(x.encode("latin-1", "replace").decode("latin-1")
                                          for x in texts), end=end) for t, d, *texts in records)


def set_log(records):
    """The set log of the same records, times with the UTC offset +01:00."""
    lines = []
    for when, deck, artist, song, album in records:
        t = datetime.datetime.fromisoformat(when).replace(
            tzinfo=datetime.timezone(datetime.timedelta(hours=1)))
        lines.append(json.dumps({"time": t.isoformat(), "deck": deck, "artist": artist,
                                 "song": song, "album": album,
                                 "loaded": (t - datetime.timedelta(seconds=95)).isoformat()},
                                ensure_ascii=False, separators=(",", ":")))
    return "".join(x + "\n" for x in lines).encode("utf-8")


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
        self.write("p.txt", PLAYLIST, age=3600)

    def write(self, name, data, age=0):
        """Writes a file; age: seconds since its last change (a partial last line of a file
        changed within the last seconds is one the tracker may still be writing)."""
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        if age:
            os.utime(path, (time.time() - age,) * 2)

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
        for number, reason in SKIPPED_LINES:
            self.assertIn(f"p.txt:{number}: {reason}, skipped", err)
        self.assertIn("1 record holds more", err)
        self.assertIn("setlist: note: 1 empty track", err)
        return out

    def test_csv_and_json_read_back_field_for_field(self):
        expected = [[t.replace(" ", "T"), d, a, s, al] for t, d, a, s, al in PUBLISHED]
        data = self.convert("csv", "p.txt")
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
        rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline="")))
        self.assertEqual(rows, [["time", "deck", "artist", "song", "album"]] + expected)
        objects = json.loads(self.convert("json", "p.txt").decode("utf-8"))
        keys = ["time", "deck", "artist", "song", "album"]
        self.assertEqual([[o[k] for k in keys] for o in objects], expected)
        self.assertEqual([sorted(o) for o in objects], [sorted(keys)] * len(PUBLISHED))

    @native_only
    def test_tracklist_times(self):
        times = [datetime.datetime.fromisoformat(r[0]) for r in PUBLISHED]
        for start in (None, "23:10:00", "22:00:00"):
            with self.subTest(start=start):
                origin = times[0] if start is None else datetime.datetime.combine(
                    times[0].date(), datetime.time.fromisoformat(start))
                lines = []
                for t, (_, _, artist, song, _) in zip(times, PUBLISHED):
                    s = max(0, int((t - origin).total_seconds()))
                    lines.append(f"{s // 3600:02}:{s // 60 % 60:02}:{s % 60:02} "
                                 f"{visible(artist)} - {visible(song)}\n")
                args = ["tracklist"] + (["--start", start] if start else []) + ["p.txt"]
                self.assertEqual(self.convert(*args).decode("utf-8"), "".join(lines))

    @native_only
    def test_html_page_shows_every_text_as_text(self):
        page = PageParser()
        page.feed(self.convert("html", "p.txt").decode("utf-8"))
        page.close()
        self.assertEqual([r[1:] for r in page.rows[1:]],
                         [[t[11:], d] + [visible(x) for x in texts] for t, d, *texts in PUBLISHED])
        self.assertEqual([r[0] for r in page.rows[1:]],
                         [str(n) for n in range(1, len(PUBLISHED) + 1)])
        self.assertEqual(sorted({tag for tag, _ in page.tags}), sorted(
            {"html", "head", "meta", "title", "style", "body", "h1", "p", "table", "thead", "tbody",
             "tr", "th", "td"}))
        self.assertFalse([a for _, a in page.tags if "src" in a or "href" in a])
        self.assertEqual(page.heading, "Monday 7 December 2026\n"
                         "23:08:31 to 00:10:00 on Tuesday 8 December 2026 · 6 tracks\n")

    def test_output_file_is_whole_or_untouched(self):
        self.write("out.csv", b"old")
        self.write("keep.csv", b"keep")
        os.chmod(os.path.join(self.dir, "keep.csv"), 0o444)  # the user's: cp would refuse it
        os.mkdir(os.path.join(self.dir, "folder.csv"))
        self.write("header.txt", HEADER)
        stdout = self.convert("csv", "p.txt")
        for args in (["-o", "missing/out.csv", "p.txt"], ["-o", "out.csv", "header.txt"],
                     ["-o", "folder.csv", "p.txt"], ["-o", "keep.csv", "p.txt"]):
            with self.subTest(args=args):
                status, out, err = self.run_setlist("csv", *args)
                self.assertEqual((status, out), (1, b""), err)
                self.assertIn("setlist: ", err)
                self.assertNotIn(".tmp", err)  # the user's file is named, not a temporary one
                self.assertEqual((self.read("out.csv"), self.read("keep.csv")), (b"old", b"keep"))
        self.assertIn("setlist: cannot write keep.csv: the file is read-only", err)
        self.assertEqual(self.convert("csv", "-o", "out.csv", "p.txt"), b"")
        self.assertEqual(self.read("out.csv"), stdout)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["folder.csv", "header.txt", "keep.csv", "out.csv", "p.txt"])
        self.assertEqual(os.listdir(os.path.join(self.dir, "folder.csv")), [])

    def published_json(self, *args):
        status, out, err = self.run_setlist("json", *args)
        self.assertEqual(status, 0, err)
        return [(o["deck"], o["artist"], o["song"], o["album"]) for o in json.loads(out)], err

    def test_set_log_pairs_with_its_playlist_or_the_playlist_is_published(self):
        wide = [(d, *texts) for _, d, *texts in WIDE_SET if any(texts)]
        narrow = [(d, *(x.encode("latin-1", "replace").decode("latin-1") for x in texts))
                  for d, *texts in wide]
        flipped = list(WIDE_SET)
        flipped[1] = flipped[1][:1] + ("L",) + flipped[1][2:]
        cut = set_log(WIDE_SET)
        cut = cut[:cut.rindex(b"\n", 0, len(cut) - 1) + 20]  # the last line half written
        cases = [  # name, set log, its age, args, published, warning
            ("pairs", set_log(WIDE_SET), 3600, ["p.txt"], wide, None),
            ("playlist only", set_log(WIDE_SET), 3600, ["--playlist-only", "p.txt"], narrow, None),
            ("set log alone", set_log(WIDE_SET), 3600, ["p.jsonl"], wide, None),
            # A record that does not pair is published from the playlist, alone.
            ("a deck differs", set_log(flipped), 3600, ["p.txt"], [wide[0], narrow[1], wide[2]],
             "p.jsonl does not pair with p.txt (record 2 has none of the same deck and time); "
             "the texts of that record are taken from the playlist"),
            ("a record short", set_log(WIDE_SET[:3]), 3600, ["p.txt"], wide[:2] + narrow[2:],
             "p.jsonl does not pair with p.txt (4 records against 3; record 4 has none"),
            ("a record short, being written", cut, 0, ["p.txt"], wide[:2], None),
            ("a record short, left behind", cut, 3600, ["p.txt"], wide[:2] + narrow[2:],
             "p.jsonl:4: incomplete"),
        ]
        self.write("p.txt", playlist(WIDE_SET), age=3600)
        for name, log, age, args, published, warning in cases:
            with self.subTest(name):
                self.write("p.jsonl", log, age=age)
                got, err = self.published_json(*args)
                self.assertEqual(got, published)
                self.assertEqual("pair" in err or "incomplete" in err, warning is not None, err)
                self.assertIn(warning or "note: 1 empty track", err)

        # Every form read back from the paired files by the readers used above.
        self.write("p.jsonl", set_log(WIDE_SET))
        guarded = [[d] + ["'" + x if x[:1] in "=+-@\t\r" and x else x for x in texts]
                   for d, *texts in wide]
        rows = list(csv.reader(io.StringIO(self.run_setlist("csv", "p.txt")[1].decode("utf-8-sig"),
                                           newline="")))
        self.assertEqual([r[1:] for r in rows[1:]], guarded)
        rows = list(csv.reader(io.StringIO(
            self.run_setlist("csv", "--raw", "p.txt")[1].decode("utf-8-sig"), newline="")))
        self.assertEqual([tuple(r[1:]) for r in rows[1:]], wide)
        tracklist = self.run_setlist("tracklist", "p.txt")[1].decode("utf-8")
        self.assertEqual(tracklist.splitlines(), [
            f"{t} {visible(a)} - {visible(s)}"
            for t, (_, a, s, _) in zip(["00:00:00", "00:03:31", "00:12:09"], wide)])
        page = PageParser()
        page.feed(self.run_setlist("html", "p.txt")[1].decode("utf-8"))
        self.assertEqual([tuple(r[2:]) for r in page.rows[1:]],
                         [tuple(visible(x) for x in w) for w in wide])
        self.assertIn("· 3 tracks", page.heading)

    @native_only
    def test_clean_shows_titles_cleaned_and_leaves_the_set_as_it_was(self):
        cluttered = [
            ("2026-12-07 23:08:31", "L", "Marlow Tide", "Harbour (feat. Ami) (Original Mix)",
             "Ferries [Big Records]"),
            ("2026-12-07 23:12:02", "R", "Łona", "Śnieg [Label] - Remastered 2011.mp3", ""),
            ("2026-12-07 23:15:00", "L", "Ghost", "Dub (unreleased)", ""),
        ]
        self.write("p.txt", playlist(cluttered), age=3600)
        self.write("p.jsonl", set_log(cluttered), age=3600)
        self.write("s.toml", "[clean]\nphrases = ['label']\npatterns = ['\\s*\\[[^\\]]*Records\\]']"
                   "\nhide = ['unreleased']\n[json]\nclean = true\n".encode())
        before = (self.read("p.txt"), self.read("p.jsonl"))
        status, out, err = self.run_setlist("tracklist", "--clean", "--settings", "s.toml", "p.txt")
        self.assertEqual(status, 0, err)
        self.assertEqual(out.decode("utf-8").splitlines(), [
            "00:00:00 Marlow Tide - Harbour (feat. Ami)", "00:03:31 Łona - Śnieg",
            "00:06:29 ID - ID"])
        # The settings file makes it json's default; without it, the titles as they are.
        status, out, err = self.run_setlist("json", "--settings", "s.toml", "p.txt")
        self.assertEqual([o["album"] for o in json.loads(out)], ["Ferries", "", ""])
        status, out, err = self.run_setlist("tracklist", "--settings", "s.toml", "p.txt")
        self.assertIn("Harbour (feat. Ami) (Original Mix)", out.decode("utf-8"))
        self.assertEqual((self.read("p.txt"), self.read("p.jsonl")), before)

    def test_an_edited_playlist_unpairs_only_the_records_edited(self):
        """The playlist edited by hand, its set log as the tracker wrote it: every record
        that still pairs keeps the set log's texts; the others are the playlist's."""
        start = datetime.datetime(2026, 12, 7, 22, 0, 0)
        logged = [((start + datetime.timedelta(minutes=3 * i)).isoformat(" "), "LR"[i % 2],
                   f"Łona {i}", f"Śnieg {i}", "東京") for i in range(45)]
        moved = logged[:3] + logged[4:6] + [logged[3]] + logged[6:]
        later = [r if i != 4 else (r[0].replace(":12:", ":13:"),) + r[1:]
                 for i, r in enumerate(logged)]
        other_deck = [r if i != 4 else (r[0], "R") + r[2:] for i, r in enumerate(logged)]
        added = logged[:3] + [(logged[2][0][:-2] + "30", "L", "Hand", "Added", "")] + logged[3:]
        retyped = [r if i != 4 else r[:2] + ("Lona 4", "Snieg 4", "") for i, r in enumerate(logged)]
        shifted = [((datetime.datetime.fromisoformat(r[0]) + datetime.timedelta(minutes=61))
                    .isoformat(" "),) + r[1:] for r in logged]
        cases = [  # what was done to the playlist, its records, the records not paired, warning
            ("nothing", logged, [], None),
            ("one deleted", logged[:7] + logged[8:], [], None),
            ("the first 40 deleted", logged[40:], [], None),
            ("one added", added, [4], "(46 records against 45; record 4 has none of the same "
             "deck and time); the texts of that record are taken from the playlist"),
            ("a time edited", later, [5], "(record 5 has none of the same deck and time)"),
            ("a deck edited", other_deck, [5], "(record 5 has none of the same deck and time)"),
            ("one moved", moved, [6], "(record 6 has none of the same deck and time)"),
            ("texts edited, deck and time kept", retyped, [], None),
            ("every time 61 minutes on", shifted, list(range(1, 46)),
             "(45 records against 45, none of the same deck and time); the texts are taken "
             "from the playlist"),
        ]
        self.write("p.jsonl", set_log(logged), age=3600)
        for name, records, unpaired, warning in cases:
            with self.subTest(name):
                self.write("p.txt", playlist(records), age=3600)
                got, err = self.published_json("p.txt")
                expected = [(d, *(x.encode("latin-1", "replace").decode("latin-1")
                                  for x in texts)) if n + 1 in unpaired
                            else next((d, *t) for c, e, *t in logged if (c, e) == (clock, d))
                            for n, (clock, d, *texts) in enumerate(records)]
                self.assertEqual(got, expected)
                self.assertEqual("does not pair" in err, warning is not None, err)
                self.assertIn(f"p.jsonl does not pair with p.txt {warning}" if warning else "", err)

    @native_only
    def test_what_is_read_and_what_is_warned(self):
        """UTF-8 playlists, days that do not exist, times going back, --start across
        midnight, and a playlist from a pipe."""
        utf8 = b"".join(line(*r, encoding="utf-8") for r in WIDE_SET[:2])  # saved by an editor
        late = [("2026-12-08 00:03:10", "L", "A", "a", "x"), ("2026-12-08 00:10:00", "R", "B", "b", "y")]
        cases = [  # args, file bytes, expected stdout, text in stderr (or not, with "!")
            (["json"], b"\xef\xbb\xbf" + utf8, [("L", "Beyoncé"), ("R", "Łona")], "!warning"),
            (["json"], HEADER + utf8, [("L", "Beyoncé"), ("R", "Łona")], "!warning"),
            (["json"], line(*SET[1]) + b"\xe9\r\n", [("R", "Beyoncé")], "p.txt:2: not a record"),
            (["json"], line(*SET[0]) + line(*SET[0]).replace(b"12.07", b"02.31").replace(
                b"12;07", b"02;31"), [("L", "Marlow Tide")], "p.txt:2: not a record"),
            (["json"], line(*SET[1]) + line(*SET[0]) + line(*SET[0]) + line(*SET[1]),
             [("R", "Beyoncé"), ("L", "Marlow Tide"), ("L", "Marlow Tide"), ("R", "Beyoncé")],
             "p.txt:2: the time goes back from 2026-12-07 23:12:02 to 2026-12-07 23:08:31"),
            (["tracklist", "--start", "23:55:00"], playlist(late), "00:08:10 A - a\n00:15:00 B - b\n",
             "!warning"),
            (["tracklist", "--start", "12:03:11"], playlist(late), "11:59:59 A - a\n12:06:49 B - b\n",
             "!warning"),
            (["tracklist", "--start", "12:03:09"], playlist(late), "00:00:00 A - a\n00:00:00 B - b\n",
             "--start is after the first track"),
        ]
        for args, data, expected, message in cases:
            with self.subTest(args=args, data=data[:60]):
                self.write("p.txt", data)
                status, out, err = self.run_setlist(*args, "p.txt")
                self.assertEqual(status, 0, err)
                if args[0] == "json":
                    out = [(o["deck"], o["artist"]) for o in json.loads(out)]
                else:
                    out = out.decode("utf-8")
                self.assertEqual(out, expected)
                if message.startswith("!"):
                    self.assertNotIn(message[1:], err)
                else:
                    self.assertIn(message, err)
                    self.assertEqual(err.count("goes back"), message.count("goes back"))
        # A pipe is read into memory: html reads it twice.
        for form, text in (("html", b"6 tracks"), ("tracklist", b"01:01:29 A - B\";\"C\n")):
            if not LAUNCHER:
                done = subprocess.run([SETLIST, form, "/dev/stdin"], input=PLAYLIST,
                                      capture_output=True, timeout=60)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn(text, done.stdout)

    def test_output_never_destroys_what_it_reads(self):
        self.write("s.txt", playlist(WIDE_SET))
        self.write("s.jsonl", set_log(WIDE_SET))
        inputs = {name: self.read(name) for name in ("s.txt", "s.jsonl")}
        path = lambda name: os.path.join(self.dir, name)
        os.link(path("s.txt"), path("hard.txt"))
        refused = [["-o", "s.txt"], ["-o", "./s.txt"], ["-o", "hard.txt"], ["-o", "s.jsonl"],
                   ["--playlist-only", "-o", "s.jsonl"]]
        if not LAUNCHER:
            os.symlink("s.txt", path("link.txt"))
            refused.append(["-o", "link.txt"])
        for args in refused:
            with self.subTest(args=args):
                status, out, err = self.run_setlist("csv", *args, "s.txt")
                self.assertEqual((status, out), (1, b""), err)
                self.assertIn(f"-o {args[-1]} is the same file as s", err)
                self.assertEqual({name: self.read(name) for name in inputs}, inputs)
        if LAUNCHER:
            # NUL is written to, not renamed over.
            self.assertEqual(self.run_setlist("csv", "-o", "NUL", "s.txt")[0], 0)
            self.assertEqual([n for n in os.listdir(self.dir) if n.upper().startswith("NUL")], [])
            return  # no links, FIFOs or devices made here for a Windows program under Wine
        csv_bytes = self.run_setlist("csv", "s.txt")[1]

        # A link stays a link, and the file it points to keeps its permission bits.
        self.write("out.csv", b"old")
        os.chmod(path("out.csv"), 0o640)
        os.symlink("out.csv", path("out-link.csv"))
        self.assertEqual(self.run_setlist("csv", "-o", "out-link.csv", "s.txt")[0], 0)
        self.assertEqual((os.readlink(path("out-link.csv")), self.read("out.csv")),
                         ("out.csv", csv_bytes))
        self.assertEqual(os.stat(path("out.csv")).st_mode & 0o7777, 0o640)

        # A FIFO and devices (like /dev/null and /dev/full) are written to, never replaced
        # nor removed, even when the write fails.
        os.mkfifo(path("fifo"))
        targets = [("fifo", stat.S_ISFIFO, 0)]
        try:
            for name, minor, status in (("null", 3, 0), ("full", 7, 1)):
                os.mknod(path(name), 0o666 | stat.S_IFCHR, os.makedev(1, minor))
                with open(path(name), "rb"):
                    targets.append((name, stat.S_ISCHR, status))
        except OSError:
            pass  # not root, or a folder that holds no devices
        for name, kind, expected in targets:
            with self.subTest(target=name):
                received = []
                reader = threading.Thread(target=lambda: received.append(
                    open(path(name), "rb").read() if name == "fifo" else b""))
                reader.start()
                status, _, err = self.run_setlist("csv", "-o", name, "s.txt")
                reader.join(timeout=60)
                self.assertEqual(status, expected, err)
                self.assertTrue(kind(os.lstat(path(name)).st_mode))
                self.assertEqual(received, [csv_bytes if name == "fifo" else b""])
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if ".tmp" in n), [])

    def test_exit_statuses(self):
        self.write("empty.txt", b"")
        self.write("header.txt", HEADER)
        self.write("junk.txt", b"\x00\xff junk\r\n" * 50)
        cases = [
            ([], 2, "which subcommand"),
            (["csv"], 2, "needs a PLAYLIST"),
            (["json", "p.txt", "p.txt"], 2, "one PLAYLIST only"),
            (["pdf", "p.txt"], 2, "unknown subcommand 'pdf'"),
            (["csv", "--start", "10:00:00", "p.txt"], 2, "unknown option '--start' for csv"),
            (["json", "--raw", "p.txt"], 2, "unknown option '--raw' for json"),
            (["live", "--bogus", "x"], 2, "unknown option '--bogus' for live"),
            (["chapters", "--start", "10:00:00", "-x", "p.txt"], 2, "unknown option '-x' for chapters"),
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
                # A wrong command line: one line on what is wrong, then a few of usage.
                if status == 2:
                    self.assertLessEqual(len(err.splitlines()), 6, err)
        # COMMAND --help: that command's usage and options on stdout; a wrong port is 2.
        status, out, err = self.run_setlist("cue", "--help")
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith(b"usage: setlist cue --audio FILE --start HH:MM:SS"), out)
        self.assertIn(b"--shift SECONDS", out)
        status, out, err = self.run_setlist("login", "mixcloud", "--client-id", "c", "--port", "abc")
        self.assertEqual((status, out), (2, b""))
        self.assertEqual(err.splitlines()[0], "setlist: --port takes a port number, not 'abc'")
        self.assertIn("40 more lines that are not records", self.run_setlist("csv", "junk.txt")[2])
        status, out, err = self.run_setlist("--help")
        self.assertEqual((status, err), (0, ""))
        for text in (b"--raw writes texts", b"{artist}, {song}, {album} and {deck}",
                     b"130 stopped by Ctrl-C"):
            self.assertIn(text, out.replace(b"\r\n", b"\n"))
        usage = out.replace(b"\r\n", b"\n").split(b"\n\n")[0]
        for text in (b"\n  setlist live [-s N | --simple N] [--now-playing FILE] [--previous FILE]",
                     b"[--delay SECONDS] [--serve [ADDRESS:]PORT"):
            self.assertIn(text, usage)
        self.assertRegex(self.run_setlist("--version")[1], rb"^setlist \d+\.\d+\.\d+\r?\n$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
