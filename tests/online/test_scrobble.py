"""setlist login, accounts, logout and scrobble end to end, against ListenBrainz and
Last.fm mock servers that the test starts on 127.0.0.1: a big set lands whole and once,
whatever the servers do and wherever the run is killed; no secret ever shows.

    ZV_SETLIST   the setlist executable
    ZV_LAUNCHER  optional command prefix (a runner for programs of another system); then
                 only the case for that system runs
"""

import datetime
import email.utils
import json
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mock_lastfm  # noqa: E402
import mock_listenbrainz  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))
LB_TOKEN = "lb-token-secret"
SECRETS = (LB_TOKEN, mock_lastfm.SECRET, mock_lastfm.SESSION_KEY)
ZONE = datetime.timezone(datetime.timedelta(hours=1))


def set_line(loaded, deck, artist, song, album):
    """One line of a set log; logged 40 s after its deck was loaded."""
    stamp = lambda t: t.isoformat(timespec="seconds")  # noqa: E731
    return json.dumps({"time": stamp(loaded + datetime.timedelta(seconds=40)), "deck": deck,
                       "artist": artist, "song": song, "album": album,
                       "loaded": stamp(loaded)}, ensure_ascii=False) + "\n"


def make_set(count, start=None):
    """Tracks a minute apart from two days ago: (loaded, deck, artist, song, album)."""
    start = start or (datetime.datetime.now(ZONE) - datetime.timedelta(days=2)).replace(microsecond=0)
    return [(start + datetime.timedelta(minutes=i), "LR"[i % 2], "Beyoncé & 東京 \"%d\"" % i,
             "Song %d a=b+c&d" % i, "" if i % 7 == 0 else "Album; %d" % (i // 10))
            for i in range(count)]


def listen(track):
    """What a service must hold of a track: UTC seconds, artist, song, album."""
    return (int(track[0].timestamp()), track[2], track[3], track[4])


class Scrobble(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.lb = mock_listenbrainz.Server(tokens=(LB_TOKEN,)).start()
        self.fm = mock_lastfm.Server().start()
        self.outputs = []

    def tearDown(self):
        self.lb.stop()
        self.fm.stop()
        for output in self.outputs:
            for secret in SECRETS:
                self.assertNotIn(secret, output)
        for name in os.listdir(self.dir):
            if name != "accounts.json":
                with open(os.path.join(self.dir, name), encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for secret in SECRETS:
                    self.assertNotIn(secret, text, name)
        self.tmp.cleanup()

    def start(self, *args, stdin=subprocess.DEVNULL):
        return subprocess.Popen(LAUNCHER + [SETLIST, *args, "--accounts", "accounts.json"],
                                cwd=self.dir, stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, encoding="utf-8")

    def run_setlist(self, *args, input=None, timeout=300):
        process = self.start(*args, stdin=subprocess.PIPE)
        out, err = process.communicate(input, timeout=timeout)
        self.outputs += [out, err, " ".join(args)]
        return process.returncode, out, err

    def login(self, name="lb", fm_name="fm"):
        status, out, err = self.run_setlist("login", "listenbrainz", "--name", name, "--url",
                                            self.lb.url, input=LB_TOKEN + "\n")
        self.assertEqual((status, out), (0, "logged in to %s as dj-user\n" % name), err)
        status, out, err = self.run_setlist("login", "lastfm", "--api-key", mock_lastfm.API_KEY,
                                            "--name", fm_name, "--url", self.fm.url,
                                            input=mock_lastfm.SECRET + "\n")
        self.assertEqual(status, 0, err)
        # The authorize page of a Last.fm-compatible server is at its root.
        root = "/".join(self.fm.url.split("/")[:3])
        self.assertIn("%s/api/auth/?api_key=%s&token=%s"
                      % (root, mock_lastfm.API_KEY, self.fm.token), out)
        self.assertIn("logged in to %s as dj-lastfm" % fm_name, out)

    def write_set(self, tracks, name="Playlist_set.jsonl", mode="w"):
        with open(os.path.join(self.dir, name), mode, encoding="utf-8") as f:
            f.write("".join(set_line(*t) for t in tracks))
        return name

    def received(self):
        lb = [(l["listened_at"], l["track_metadata"]["artist_name"], l["track_metadata"]["track_name"],
               l["track_metadata"].get("release_name", "")) for _, l in self.lb.listens]
        fm = [(s["timestamp"], s["artist"], s["track"], s["album"]) for s in self.fm.scrobbles]
        return lb, fm

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_a_big_set_lands_whole_and_once(self):
        # name, ListenBrainz faults, Last.fm faults, a ListenBrainz request to kill the run at
        cases = [
            ("clean", [], [], 0),
            ("servers down first, then throttled", [503, 503, 429], [11, 16, 29], 0),
            ("killed while a request is in flight", [], [], 2),
        ]
        tracks = make_set(2500)
        expected = sorted(listen(t) for t in tracks)
        for name, lb_faults, fm_faults, kill_at in cases:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                self.login()
                playlist = self.write_set(tracks)
                self.lb.fail, self.fm.fail, self.lb.stall = list(lb_faults), list(fm_faults), kill_at
                in_flight = []
                if kill_at:
                    process = self.start("scrobble", playlist)
                    self.assertTrue(self.lb.stalled.wait(60))
                    process.send_signal(signal.SIGKILL)
                    process.communicate()
                    in_flight = list(expected[1000:2000])  # the second request
                    self.lb.release.set()
                    time.sleep(0.5)  # the server takes the request in
                status, out, err = self.run_setlist("scrobble", playlist)
                self.assertEqual(status, 0, err)
                lb, fm = self.received()
                # Whole, and nothing twice but the request in flight at the kill.
                self.assertEqual(sorted(set(lb)), expected)
                self.assertEqual(sorted(set(fm)), expected)
                self.assertEqual(sorted(lb), sorted(expected + in_flight))
                self.assertEqual(sorted(fm), expected)
                self.assertEqual(len(self.fm.requests) - 3, 50 + len(fm_faults))  # 3: login
                self.assertEqual(len(self.lb.requests), 3 + len(lb_faults) + (1 if kill_at else 0))
                self.assertIn("lb: %d tracks sent" % (1500 if kill_at else 2500), out)
                # A second run sends nothing.
                requests = (len(self.lb.requests), len(self.fm.requests))
                status, out, err = self.run_setlist("scrobble", playlist)
                self.assertEqual(status, 0, err)
                self.assertEqual((len(self.lb.requests), len(self.fm.requests)), requests)
                self.assertIn("lb: 0 tracks sent, 2500 sent before", out)
                self.assertIn("fm: 0 tracks sent, 2500 sent before", out)
                self.assertEqual(self.lb.throttled, 0)  # the rate-limit headers were kept

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_an_edited_set_sends_what_is_new(self):
        self.login()
        tracks = make_set(5)
        playlist = self.write_set(tracks)
        self.assertEqual(self.run_setlist("scrobble", playlist)[0], 0)
        # One text changed, one track too old for Last.fm, one Last.fm ignores, one
        # without a song, and a cleared deck.
        old = datetime.datetime.now(ZONE) - datetime.timedelta(days=20)
        changed = tracks[:2] + [tracks[2][:3] + ("Song 2 (edit)", tracks[2][4])] + tracks[3:]
        extra = [(old.replace(microsecond=0), "L", "Old", "Track", ""),
                 (tracks[4][0] + datetime.timedelta(minutes=5), "R", "Ignored Artist", "Any", ""),
                 (tracks[4][0] + datetime.timedelta(minutes=6), "L", "No Song", "", "Album"),
                 (tracks[4][0] + datetime.timedelta(minutes=7), "R", "", "", "")]
        self.write_set(changed + extra)
        status, out, err = self.run_setlist("scrobble", playlist)
        self.assertEqual(status, 0, err)
        lb, fm = self.received()
        self.assertEqual(sorted(lb[5:]), sorted(listen(t) for t in [changed[2]] + extra[:2]))
        self.assertEqual(fm[5:], [listen(changed[2])])
        self.assertIn("lb: 3 tracks sent, 4 sent before", out)
        self.assertIn("fm: 2 tracks sent, 4 sent before", out)  # the ignored one is done
        self.assertIn("1 tracks are older than 14 days", err)
        self.assertIn('Last.fm ignored Ignored Artist - Any: Artist was ignored', err)
        self.assertIn('1 track has no artist or no song and is not sent: ', err)
        self.assertIn('L "No Song - "', err)
        requests = (len(self.lb.requests), len(self.fm.requests))
        self.assertEqual(self.run_setlist("scrobble", playlist)[0], 0)
        self.assertEqual((len(self.lb.requests), len(self.fm.requests)), requests)

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_refusals_and_failures_mark_nothing(self):
        self.login()
        playlist = self.write_set(make_set(3))
        # --dry-run: the requests shown, nothing sent, nothing marked.
        status, out, err = self.run_setlist("scrobble", "--dry-run", playlist)
        self.assertEqual(status, 0, err)
        self.assertIn('"listen_type":"import"', out)
        self.assertIn("artist[2]=Beyoncé & 東京 \"2\"", out)
        self.assertEqual((self.lb.requests, self.fm.requests[3:]), ([], []))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "Playlist_set.scrobbled")))
        # Tokens no longer valid: log in again, nothing marked.
        self.lb.tokens.clear()
        self.fm.session_key = "another"
        status, out, err = self.run_setlist("scrobble", playlist)
        self.assertEqual(status, 1)
        self.assertIn("Invalid authorization token.: log in again: setlist login listenbrainz --name lb", err)
        self.assertIn("Invalid session key - Please re-authenticate: log in again: setlist login lastfm --name fm", err)
        self.assertIn("lb: 0 tracks sent, 0 sent before; 3 still wait", out)
        # Any other refusal quotes the server.
        self.lb.tokens.add(LB_TOKEN)
        self.fm.fail = [6]
        status, out, err = self.run_setlist("scrobble", "--to", "fm", playlist)
        self.assertEqual(status, 1)
        self.assertIn("fm: the server refused the tracks: error 6: Simulated error 6", err)
        # Ctrl-C while a request waits for its answer ends the run at once.
        self.lb.stall = len(self.lb.requests) + 1
        process = self.start("scrobble", "--to", "lb", playlist)
        self.assertTrue(self.lb.stalled.wait(30))
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=5)
        self.assertEqual(process.returncode, 130, err)
        self.assertIn("lb: 0 tracks sent, 0 sent before; 3 still wait", out)
        self.lb.release.set()
        # A server that never answers: five tries, then the tracks wait for the next run.
        self.lb.stop()
        status, out, err = self.run_setlist("scrobble", "--to", "lb", playlist)
        self.assertEqual(status, 1)
        self.assertIn("(tried 5 times)", err)
        self.assertIn("lb: 0 tracks sent, 0 sent before; 3 still wait", out)
        self.assertEqual(self.received()[1], [])
        self.lb = mock_listenbrainz.Server(tokens=(LB_TOKEN,)).start()  # for tearDown

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_answers_and_verdicts(self):
        """Each answer a service may give, and what the run makes of it: only the service's
        own answer marks tracks sent; faults are tried again, as long as the server asks."""
        self.login()
        page = (200, b"<html>Down for maintenance</html>\n", [])

        def soon():  # a 429 asking for 30 s, as a date
            return [(429, b"{}", [("Retry-After", email.utils.formatdate(time.time() + 30,
                                                                        usegmt=True))])]
        error = lambda code, status=200: (status, {"error": code, "message": "Sim %d" % code}, [])  # noqa
        # name, account, answers before the mock's own (or what makes them when the case
        # runs), status, tracks sent, stderr parts
        cases = [
            ("a page with 200 is no listen", "lb", [page], 0, 3,
             ["submit-listens answered HTTP 200: <html>Down for maintenance</html>; trying again"]),
            ("a page every time", "lb", [page] * 5, 1, 0,
             ["%s/1/submit-listens answered HTTP 200: <html>Down" % self.lb.url, "(tried 5 times)"]),
            ("a cut answer", "lb", [(200, b'{"status": "o', [])], 0, 3, ["HTTP 200"]),
            ("another JSON", "lb", [(200, b'{"status": "error"}', [])], 0, 3, ["HTTP 200"]),
            ("Retry-After in seconds", "lb", [(503, b"", [("Retry-After", "3")])], 0, 3,
             ["trying again in 3 s"]),
            ("Retry-After as a date", "lb", soon, 0, 3,
             [("trying again in 29 s", "trying again in 30 s")]),
            ("Last.fm: operation failed", "fm", [error(8)], 0, 3, ["error 8: Sim 8; trying again"]),
            ("Last.fm: a 5xx with an error", "fm", [error(6, 500)], 0, 3, ["error 6: Sim 6; trying"]),
            ("Last.fm: Retry-After", "fm", [(503, b"busy", [("Retry-After", "4")])], 0, 3,
             ["answered HTTP 503: busy; trying again in 4 s"]),
            ("Last.fm: a page with 200", "fm", [(200, b"<lfm status='ok'/>", [])], 0, 3,
             ["HTTP 200: <lfm"]),
            ("Last.fm: the signature", "fm", [error(13, 403)], 1, 0,
             ["the shared secret may be wrong): log in again: setlist login lastfm --name fm"]),
            ("Last.fm: a permanent error", "fm", [error(6, 400)], 1, 0,
             ["the server refused the tracks: error 6: Sim 6"]),
        ]
        for number, (name, account, answers, status, sent, parts) in enumerate(cases):
            with self.subTest(name):
                server = self.lb if account == "lb" else self.fm
                server.fail = answers() if callable(answers) else list(answers)
                held = len(self.received()[account == "fm"])
                playlist = self.write_set(make_set(3), "Playlist_%d.jsonl" % number)
                code, out, err = self.run_setlist("scrobble", "--to", account, playlist)
                self.assertEqual(code, status, err)
                self.assertIn("%s: %d tracks sent, 0 sent before" % (account, sent), out)
                for part in parts:  # a part, or a tuple of parts one of which is said
                    self.assertTrue(any(p in err for p in (part if isinstance(part, tuple)
                                                           else (part,))), (part, err))
                # The next run sends what still waits: each track lands once.
                again = self.run_setlist("scrobble", "--to", account, playlist)
                self.assertIn("%s: %d tracks sent, %d sent before\n" % (account, 3 - sent, sent),
                              again[1])
                self.assertEqual(len(self.received()[account == "fm"]) - held, 3)

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_sets_without_tracks(self):
        with open(os.path.join(self.dir, "Playlist_bin.txt"), "wb") as f:
            f.write(bytes(range(256)) * 4)
        self.write_set([], "Playlist_empty.jsonl")
        self.login()
        for playlist in ("Playlist_empty.jsonl", "Playlist_bin.txt"):
            with self.subTest(playlist):
                status, out, err = self.run_setlist("scrobble", playlist)
                self.assertEqual(status, 1, err)
                self.assertIn("holds no", err)
        self.assertEqual([n for n in os.listdir(self.dir) if n.endswith(".scrobbled")], [])

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_follow_sends_each_new_line(self):
        self.login()
        tracks = make_set(3)
        playlist = self.write_set(tracks[:1])
        process = self.start("scrobble", "--follow", "--to", "lb", playlist)

        def wait_for(count):
            for _ in range(100):
                if len(self.lb.listens) >= count:
                    return len(self.lb.listens)
                time.sleep(0.1)
            return len(self.lb.listens)
        self.assertEqual(wait_for(1), 1)
        line = set_line(*tracks[1])
        with open(os.path.join(self.dir, playlist), "a", encoding="utf-8") as f:
            f.write(line[:30])  # a partial last line waits
            f.flush()
            time.sleep(2.5)
            self.assertEqual(len(self.lb.listens), 1)
            f.write(line[30:] + set_line(*tracks[2]))
        self.assertEqual(wait_for(3), 3)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=30)
        self.outputs += [out, err]
        self.assertEqual(process.returncode, 0, err)
        self.assertEqual(sorted(self.received()[0]), sorted(listen(t) for t in tracks))

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_follow_each_account_goes_on_by_itself(self):
        """ListenBrainz down for good: Last.fm still gets each track, and the count is right.
        A set log that is not there yet is waited for, said once."""
        self.login()
        self.lb.fail = [503] * 1000
        tracks = make_set(3, datetime.datetime.now(ZONE).replace(microsecond=0)
                          - datetime.timedelta(hours=1))
        process = self.start("scrobble", "--follow", "Playlist_later.jsonl")
        time.sleep(2.5)
        self.write_set(tracks, "Playlist_later.jsonl")
        for _ in range(100):
            if len(self.fm.scrobbles) >= 3:
                break
            time.sleep(0.1)
        self.assertEqual(len(self.fm.scrobbles), 3)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=10)
        self.outputs += [out, err]
        self.assertEqual(process.returncode, 0, err)
        self.assertIn("lb: 0 tracks sent, 0 sent before; 3 still wait", out)
        self.assertIn("fm: 3 tracks sent, 0 sent before\n", out)
        self.assertEqual(err.count("Playlist_later.jsonl: not there yet; waiting for it"), 1, err)

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_login_accounts_logout(self):
        # service, options, secret typed, mock setting, status, output part
        cases = [
            ("listenbrainz", ["--name", "bad"], "wrong-token", None, 1, "the token was refused"),
            ("listenbrainz", ["--name", "maloja"], LB_TOKEN, "missing_validate", 0, "stored unchecked"),
            ("lastfm", ["--name", "badfm", "--api-key", mock_lastfm.API_KEY], "wrong-secret", None, 1,
             "error 13: Invalid method signature supplied"),
            ("listenbrainz", ["--name", "a b"], LB_TOKEN, None, 2, "--name takes letters"),
            ("lastfm", [], mock_lastfm.SECRET, None, 2, "login lastfm needs --api-key"),
            ("lastfm", ["--name", "fm2", "--api-key", mock_lastfm.API_KEY, "--auth-url",
                        "https://libre.example/"], mock_lastfm.SECRET, None, 0,
             "  https://libre.example/api/auth/?api_key=" + mock_lastfm.API_KEY),
        ]
        self.login()  # valid ones, Last.fm answering 14 first
        for service, options, secret, setting, status, part in cases:
            with self.subTest(options):
                self.lb.missing_validate = setting == "missing_validate"
                url = self.lb.url if service == "listenbrainz" else self.fm.url
                got, out, err = self.run_setlist("login", service, *options, "--url", url,
                                                 input=secret + "\n")
                self.assertEqual(got, status, err)
                self.assertIn(part, out + err)
        status, out, err = self.run_setlist("accounts")
        self.assertEqual(out, "lb\tlistenbrainz\t%s\tdj-user\nfm\tlastfm\t%s\tdj-lastfm\n"
                         "maloja\tlistenbrainz\t%s\t-\nfm2\tlastfm\t%s\tdj-lastfm\n"
                         % (self.lb.url, self.fm.url, self.lb.url, self.fm.url))
        self.assertEqual(self.run_setlist("logout", "maloja")[:2], (0, "logged out of maloja\n"))
        self.assertEqual(self.run_setlist("logout", "maloja")[0], 1)
        self.assertEqual(self.run_setlist("accounts")[1].count("\n"), 3)
        with open(os.path.join(self.dir, "accounts.json"), "a") as f:
            f.write("}")
        status, out, err = self.run_setlist("scrobble", self.write_set(make_set(1)))
        self.assertEqual(status, 1)
        self.assertIn("accounts.json", err)

    @unittest.skipIf(LAUNCHER, "the native build's table")
    def test_a_record_deleted_from_the_playlist_sends_nothing_again(self):
        self.login()
        tracks = make_set(8)
        self.write_set(tracks)

        def record(t):  # the playlist's record of a track, Latin-1 as the tracker writes it
            at = t[0] + datetime.timedelta(seconds=40)
            texts = '";"'.join(t[2:]).encode("latin-1", "replace")
            return (at.strftime("%Y.%m.%d %H:%M:%S;").encode() + t[1].encode() + b';"' + texts
                    + at.strftime('";%Y;%m;%d;%H;%M;%S').encode() + b"\r\n")

        with open(os.path.join(self.dir, "Playlist_set.txt"), "wb") as f:
            f.write(b"".join(record(t) for t in tracks))
        os.utime(os.path.join(self.dir, "Playlist_set.txt"), (time.time() - 60,) * 2)
        os.utime(os.path.join(self.dir, "Playlist_set.jsonl"), (time.time() - 60,) * 2)
        self.assertEqual(self.run_setlist("scrobble", "Playlist_set.txt")[0], 0)
        with open(os.path.join(self.dir, "Playlist_set.txt"), "wb") as f:
            f.write(b"".join(record(t) for t in tracks[:3] + tracks[4:]))
        os.utime(os.path.join(self.dir, "Playlist_set.txt"), (time.time() - 60,) * 2)
        status, out, err = self.run_setlist("scrobble", "Playlist_set.txt")
        self.assertEqual(status, 0, err)
        self.assertIn("lb: 0 tracks sent, 7 sent before", out)
        lb, fm = self.received()
        self.assertEqual(sorted(lb), sorted(listen(t) for t in tracks))
        self.assertNotIn("pair", err)

    @unittest.skipUnless(LAUNCHER, "the Windows build under its runner")
    def test_windows_program_logs_in_and_scrobbles(self):
        self.login()
        tracks = make_set(60)
        playlist = self.write_set(tracks)
        status, out, err = self.run_setlist("scrobble", playlist)
        self.assertEqual(status, 0, err)
        lb, fm = self.received()
        self.assertEqual(sorted(lb), sorted(listen(t) for t in tracks))
        self.assertEqual(sorted(fm), sorted(listen(t) for t in tracks))
        self.assertEqual(len(self.fm.requests), 3 + 2)
        status, out, err = self.run_setlist("scrobble", playlist)
        self.assertIn("lb: 0 tracks sent, 60 sent before", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
