"""`setlist login mixcloud` and `setlist mixcloud` against a mock of Mixcloud's OAuth and
upload API on 127.0.0.1: every multipart field checked, the limits refused before sending,
a refusal told with Mixcloud's message, and a 300 MB recording streamed in little memory.

    ZV_SETLIST   the setlist executable
    ZV_LAUNCHER  optional command prefix (a runner for programs of another system); then
                 only the upload of a small file runs
"""

import datetime
import email.message
import hashlib
import http.server
import json
import os
import re
import shlex
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

SETLIST = os.environ.get("ZV_SETLIST", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))
TOKEN = "tok-3f9a/+="  # characters that need encoding in a query
SECRET = "client-secret-77"


def read_parts(stream, length, boundary):
    """The parts of a multipart/form-data body read from a stream as it comes: (name,
    filename, size, sha256, content of a small part). A large part is never kept whole."""
    delimiter = b"\r\n--" + boundary
    buffer, remaining, parts, part = b"\r\n", length, [], None

    def fill():
        nonlocal buffer, remaining
        chunk = stream.read(min(remaining, 1 << 20))
        remaining -= len(chunk)
        buffer += chunk
        return bool(chunk)

    def feed(data):
        part["size"] += len(data)
        part["sha"].update(data)
        if part["size"] <= 1 << 16:
            part["content"] += data

    while True:
        at = buffer.find(delimiter)
        if at < 0:
            if part and len(buffer) > len(delimiter):
                feed(buffer[:-len(delimiter)])
                buffer = buffer[-len(delimiter):]
            if not fill():
                raise AssertionError("the body ends before its last boundary")
            continue
        if part:
            feed(buffer[:at])
            parts.append(part)
        buffer = buffer[at + len(delimiter):]
        while len(buffer) < 2 and fill():
            pass
        if buffer.startswith(b"--"):
            return parts
        while b"\r\n\r\n" not in buffer:
            if not fill():
                raise AssertionError("a part without the end of its headers")
        head, buffer = buffer[2:].split(b"\r\n\r\n", 1)
        message = email.message.Message()
        for line in head.decode("utf-8").split("\r\n"):
            key, value = line.split(":", 1)
            message[key] = value.strip()
        part = {"name": message.get_param("name", header="content-disposition"),
                "filename": message.get_filename(), "type": message.get_content_type(),
                "size": 0, "sha": hashlib.sha256(), "content": b""}


class Mock(http.server.ThreadingHTTPServer):
    """Mixcloud's authorize page, token exchange, /me/ and /upload/, as its API describes
    them; `answer` is what the next upload gets."""

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.root = f"http://127.0.0.1:{self.server_address[1]}"
        self.uploads, self.exchanges, self.early = [], [], None
        self.answer = (200, {"result": {"success": True, "message": "Uploaded",
                                        "key": "/djtest/friday-set/"}})
        threading.Thread(target=self.serve_forever, daemon=True).start()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        if url.path == "/oauth/authorize":
            answer = "code=c0de%2B1" if query["client_id"] == "cid" else "error=access_denied"
            answer += "&state=" + urllib.parse.quote(query.get("state", ""))
            self.reply(302, None, [("Location", query["redirect_uri"] + "?" + answer)])
        elif url.path == "/oauth/access_token":
            self.server.exchanges.append(query)
            self.reply(200, {"access_token": TOKEN})
        elif url.path == "/me/" and query.get("access_token") == TOKEN:
            self.reply(200, {"username": "djtest"})
        else:
            self.reply(404, {"error": {"message": "no such page"}})

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        if self.server.early:  # refused before the body is read, then the socket closed
            self.reply(*self.server.early)
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
            time.sleep(0.5)
            self.close_connection = True
            return
        kind, params = self.headers["Content-Type"].split(";", 1)
        boundary = params.strip().removeprefix("boundary=").encode()
        parts = read_parts(self.rfile, int(self.headers["Content-Length"]), boundary)
        self.server.uploads.append((url.path, dict(urllib.parse.parse_qsl(url.query)), kind, parts))
        self.reply(*self.server.answer)


def set_log(tracks):
    """(logged "HH:MM:SS" on 7 December 2026, artist, song) as a set log, loaded 60 s before."""
    lines = []
    for logged, artist, song in tracks:
        t = datetime.datetime.fromisoformat("2026-12-07T" + logged + "+01:00")
        lines.append(json.dumps({"time": t.isoformat(), "deck": "L", "artist": artist,
                                 "song": song, "album": "",
                                 "loaded": (t - datetime.timedelta(seconds=60)).isoformat()},
                                ensure_ascii=False))
    return "".join(x + "\n" for x in lines).encode()


SET = [("22:00:10", "Moderat", "A New Error"), ("22:05:00", "Łona", "Śnieg \"live\""),
       ("22:09:30", "Moderat", "Bad Kingdom"), ("22:12:00", "Moderat feat. X", "Rusty Nails"),
       ("22:20:00", "Moderat", "Reminder"), ("22:31:15", "moderat", "Kerala")]


class MixcloudTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory(prefix="zv-mixcloud-"))
        self.mock = Mock()
        self.addCleanup(self.mock.server_close)
        self.addCleanup(self.mock.shutdown)
        self.write("set.jsonl", set_log(SET))
        self.write("show.mp3", b"ID3" + bytes(range(256)) * 40)
        self.write("cover.jpg", b"\xff\xd8" + b"jpeg" * 1000)
        account = {"name": "mixcloud", "service": "mixcloud", "url": self.mock.root,
                   "user": "djtest", "values": {"access_token": TOKEN, "client_id": "cid",
                                                "auth_url": self.mock.root}}
        self.write("accounts.json", json.dumps({"accounts": [account]}).encode())

    def write(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as f:
            f.write(data)

    def setlist(self, *args, stdin=b""):
        return subprocess.run(LAUNCHER + [SETLIST, *args], cwd=self.folder, input=stdin,
                              capture_output=True, timeout=300)

    def upload(self, *args):
        return self.setlist("mixcloud", "--accounts", "accounts.json", "--audio", "show.mp3",
                            *args, "set.jsonl")

    def test_upload_sends_every_field(self):
        description = "é" * 1000  # the longest Mixcloud takes, in characters
        run = self.upload("--name", "Friday \"set\"", "--description", description, "--tags",
                          "house, techno,,live", "--picture", "cover.jpg", "--start", "22:00:00",
                          "--at", "loaded", "--shift", "-2.5")
        out, err = run.stdout.replace(b"\r\n", b"\n"), run.stderr.replace(b"\r\n", b"\n")
        self.assertEqual((run.returncode, out), (0, f"{self.mock.root}/djtest/friday-set/\n"
                                                 .encode()), err)
        # The rules are warnings; the upload went on.
        self.assertIn(b"warning: #6 22:31:15 moderat - Kerala: 5th track by moderat within 3 "
                      b"hours (at most 4)\n", err)
        self.assertNotIn(TOKEN.encode(), out + err)
        ((path, query, kind, parts),) = self.mock.uploads
        self.assertEqual((path, query, kind), ("/upload/", {"access_token": TOKEN},
                                               "multipart/form-data"))
        expected = [("name", None, "Friday \"set\""), ("description", None, description),
                    ("tags-0-tag", None, "house"), ("tags-1-tag", None, "techno"),
                    ("tags-2-tag", None, "live")]
        # Loaded 60 s before each logged time, shifted by -2.5 s, in whole seconds.
        for i, (logged, artist, song) in enumerate(SET):
            h, m, s = map(int, logged.split(":"))
            start = max(0, (h - 22) * 3600 + m * 60 + s - 60 - 3)
            expected += [(f"sections-{i}-artist", None, artist), (f"sections-{i}-song", None, song),
                         (f"sections-{i}-start_time", None, str(start))]
        with open(os.path.join(self.folder, "cover.jpg"), "rb") as f:
            expected.append(("picture", "cover.jpg", f.read()))
        with open(os.path.join(self.folder, "show.mp3"), "rb") as f:
            expected.append(("mp3", "show.mp3", f.read()))
        got = [(p["name"], p["filename"], p["content"] if p["filename"] else
                p["content"].decode("utf-8")) for p in parts]
        self.assertEqual(got, expected)

    def test_refusals(self):
        # (arguments, a file to write, Mixcloud's answer or None when nothing may be sent,
        #  what stderr says)
        big = os.path.join(self.folder, "big.jpg")
        cases = [
            (["--name", " "], None, None, b"a show needs a name"),
            (["--name", "N", "--tags", "a,b,c,d,e,f"], None, None, b"6 tags"),
            (["--name", "N", "--description", "x" * 1001], None, None, b"1001 characters"),
            (["--name", "N", "--picture", "big.jpg"], (big, 10 * 1024 * 1024 + 1), None,
             b"10485761 bytes"),
            (["--name", "N", "--picture", "none.jpg"], None, None, b"none.jpg"),
            (["--name", "N", "--audio", "empty.mp3"], (os.path.join(self.folder, "empty.mp3"), 0),
             None, b"empty.mp3: the audio file is empty"),
            (["--name", "N", "--audio", "gone.mp3"], None, None, b"gone.mp3"),
            (["--name", "N"], None, (400, {"error": {"type": "UploadLimitExceeded",
                                                     "message": "You can upload 5 shows a day"}}),
             b"Mixcloud refused the upload: You can upload 5 shows a day"),
            (["--name", "N"], None, (400, {"error": {"type": "ValidationError", "message": "Bad"},
                                           "details": {"name": ["Taken."]}}),
             b"Bad; name: Taken."),
            (["--name", "N"], None, (502, None), b"HTTP 502"),
        ]
        for args, file, answer, message in cases:
            with self.subTest(args=args[:4], answer=answer):
                if file:
                    with open(file[0], "wb") as f:
                        f.truncate(file[1])
                before = len(self.mock.uploads)
                if answer:
                    self.mock.answer = answer
                run = self.upload(*args)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertIn(message, run.stderr)
                self.assertEqual(run.stdout, b"")
                self.assertEqual(len(self.mock.uploads) - before, 1 if answer else 0)

    def test_tracks_without_artist_or_song_are_left_out(self):
        self.write("set.jsonl", set_log([("22:00:10", "Moderat", "A New Error"),
                                         ("22:05:00", "", "Intro"), ("22:07:00", "Łona", ""),
                                         ("22:09:30", "Moderat", "Bad Kingdom")]))
        run = self.upload("--name", "N", "--start", "22:00:00")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn('set.jsonl: 2 tracks have no artist or no song and are left out of the '
                      'sections: 22:05:00 L " - Intro", 22:07:00 L "Łona - "\n'.encode(),
                      run.stderr.replace(b"\r\n", b"\n"))
        sections = [(p["name"], p["content"].decode()) for p in self.mock.uploads[0][3]
                    if p["name"].startswith("sections-")]
        self.assertEqual(sections, [("sections-0-artist", "Moderat"),
                                    ("sections-0-song", "A New Error"),
                                    ("sections-0-start_time", "10"),
                                    ("sections-1-artist", "Moderat"),
                                    ("sections-1-song", "Bad Kingdom"),
                                    ("sections-1-start_time", "570")])

    def test_a_refusal_before_the_audio_is_read(self):
        """The answer of a server that refuses before it has read the audio, and closes, is
        read after the failed write and told."""
        with open(os.path.join(self.folder, "big.mp3"), "wb") as f:
            f.write(b"ID3" + bytes(range(256)) * 64 * 1024)  # 16 MB, more than sockets hold
        self.mock.early = (401, {"error": {"type": "OAuthException",
                                           "message": "Invalid access token"}})
        run = self.setlist("mixcloud", "--accounts", "accounts.json", "--audio", "big.mp3",
                           "--name", "N", "set.jsonl")
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn(b"Invalid access token: log in again: setlist login mixcloud", run.stderr)
        self.assertNotIn(b"Broken pipe", run.stderr)

    def test_dry_run_shows_the_fields_and_sends_nothing(self):
        run = self.upload("--name", "N", "--tags", "a", "--dry-run")
        self.assertEqual(run.returncode, 0, run.stderr)
        size = os.path.getsize(os.path.join(self.folder, "show.mp3"))
        self.assertEqual(run.stdout.decode(), (
            f"would upload to {self.mock.root}/upload/\nname: N\ntags-0-tag: a\n"
            f"mp3: show.mp3 ({size} bytes)\n"
            "sections-0-artist: Moderat\nsections-0-song: A New Error\n"
            "sections-0-start_time: 0 (0:00:00)\n... 4 more sections ...\n"
            "sections-5-artist: moderat\nsections-5-song: Kerala\n"
            "sections-5-start_time: 1865 (0:31:05)\n"))
        self.assertEqual(self.mock.uploads, [])

    def test_large_recording_is_streamed(self):
        size = 300 * 1024 * 1024
        with open(os.path.join(self.folder, "big.mp3"), "wb") as f:
            f.truncate(size)  # sparse: no disk space taken
        # GNU time reports the peak resident set of the program alone (a fork of this
        # test's own process would count the test's memory too).
        run = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", "peak.txt", SETLIST, "mixcloud",
                              "--accounts", "accounts.json", "--audio", "big.mp3", "--name", "N",
                              "set.jsonl"], cwd=self.folder, capture_output=True, timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        out = run.stdout
        with open(os.path.join(self.folder, "peak.txt")) as f:
            peak_kib = int(f.read().split()[-1])
        self.assertEqual(out, f"{self.mock.root}/djtest/friday-set/\n".encode())
        (mp3,) = [p for p in self.mock.uploads[0][3] if p["name"] == "mp3"]
        self.assertEqual((mp3["size"], mp3["sha"].hexdigest()),
                         (size, hashlib.sha256(bytes(size)).hexdigest()))
        if not os.environ.get("ZV_SANITIZED"):  # a sanitizer's shadow memory is not ours
            self.assertLess(peak_kib, 16 * 1024, "peak resident memory in KiB")

    def test_login(self):
        # (client id, what the authorize page sends back, status, stdout or stderr says)
        cases = [("cid", 0, b"logged in to mixcloud as djtest"),
                 ("other", 1, b"the authorization was refused: access_denied")]
        for client, status, message in cases:
            with self.subTest(client=client):
                accounts = os.path.join(self.folder, "new-accounts.json")
                process = subprocess.Popen(
                    [SETLIST, "login", "mixcloud", "--client-id", client, "--url",
                     self.mock.root + "/", "--accounts", accounts], cwd=self.folder,
                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                process.stdin.write(SECRET.encode() + b"\n")
                process.stdin.close()
                page = b"".join(process.stdout.readline() for _ in range(3))
                url = re.search(rb"http://\S+/oauth/authorize\?\S+", page)
                self.assertTrue(url, page)
                listener = int(re.search(rb"back to http://127.0.0.1:(\d+)/", page).group(1))
                # An idle connection (a browser's preconnect) holds nothing up, and a code
                # without the state this login sent is not taken.
                idle = socket.create_connection(("127.0.0.1", listener))
                for query in ("code=stolen", "code=stolen&state=guess"):
                    with self.assertRaises(urllib.error.HTTPError) as refused:
                        urllib.request.urlopen(f"http://127.0.0.1:{listener}/?{query}", timeout=3)
                    self.assertEqual(refused.exception.code, 400)
                    self.assertIn(b"does not carry the state", refused.exception.read())
                # The test plays the browser: the mock sends it back to the loopback listener.
                with urllib.request.urlopen(url.group().decode(), timeout=30) as reply:
                    self.assertEqual(reply.status, 200)
                out, err = process.stdout.read(), process.stderr.read()
                process.stdout.close()
                process.stderr.close()
                process.wait(60)
                idle.close()
                self.assertEqual(process.returncode, status, err)
                self.assertEqual(err.count(b"without the state this login sent"), 2, err)
                self.assertIn(message, page + out + err)
                self.assertNotIn(SECRET.encode(), page + out + err)
                if status == 0:
                    exchange = self.mock.exchanges[-1]
                    self.assertEqual((exchange["client_id"], exchange["client_secret"],
                                      exchange["code"]), ("cid", SECRET, "c0de+1"))
                    with open(accounts, "rb") as f:
                        saved = f.read()
                    self.assertNotIn(SECRET.encode(), saved)
                    (account,) = json.loads(saved)["accounts"]
                    self.assertEqual((account["name"], account["url"], account["user"],
                                      account["values"]["access_token"]),
                                     ("mixcloud", self.mock.root, "djtest", TOKEN))
                    self.assertEqual(os.stat(accounts).st_mode & 0o777, 0o600)


if __name__ == "__main__":
    if LAUNCHER:  # a Windows program under Wine: the upload over http, and WinHTTP's
        # reading of a refusal that came before the audio was read
        suite = unittest.TestSuite([MixcloudTest("test_upload_sends_every_field"),
                                    MixcloudTest("test_a_refusal_before_the_audio_is_read")])
        raise SystemExit(not unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful())
    unittest.main(verbosity=2)
