"""`setlist login discord`, `setlist accounts` and `setlist discord` end to end, against a
Discord webhook mock on 127.0.0.1 (discord_mock.py): a 300-track tracklist arrives whole, in
order, in messages of at most 2,000 characters within Discord's rate limits; titles show
as written and ping no one; the webhook's token never shows.

    ZV_SETLIST   the setlist executable
    ZV_LAUNCHER  optional command prefix (a runner for programs of another system)
"""

import datetime
import json
import os
import shlex
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import discord_mock  # noqa: E402
import test_web_client  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))
TOKEN = "whTok-3f9a_Zz.k"
TITLE = "@everyone **Friday** _set_ ~~x~~ `y` ||z|| > #1 <@123> [site](https://e.x) 🎉 宇多田"


def set_log(count, start):
    """A set log of `count` tracks a minute apart, with markdown and mentions in some titles."""
    lines = []
    for i in range(count):
        loaded = start + datetime.timedelta(minutes=i)
        stamp = lambda t: t.isoformat(timespec="seconds")  # noqa: E731
        artist = ["Beyoncé", "@here DJ *Star*", "東京 🎵 Band", "under_score"][i % 4]
        lines.append(json.dumps({"time": stamp(loaded + datetime.timedelta(seconds=40)),
                                 "deck": "LR"[i % 2], "artist": f"{artist} {i}",
                                 "song": f"Song {i} ~ a longer title to fill lines",
                                 "album": "", "loaded": stamp(loaded)}, ensure_ascii=False))
    return "\n".join(lines) + "\n"


class Discord(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.server = discord_mock.Server()
        self.addCleanup(self.server.close)
        self.url = self.server.add("1180", TOKEN, "Captain Hook")
        self.outputs = []
        start = datetime.datetime(2026, 12, 4, 22, 0, tzinfo=datetime.timezone.utc)
        with open(os.path.join(self.dir, "Playlist_set.jsonl"), "w", encoding="utf-8") as f:
            f.write(set_log(300, start))

    def tearDown(self):
        for output in self.outputs:
            self.assertNotIn(TOKEN, output)
        self.assertEqual(self.server.breaches, [])

    def setlist(self, *args, stdin=""):
        accounts = [] if args[0] == "tracklist" else ["--accounts", "accounts.json"]
        process = subprocess.run(LAUNCHER + [SETLIST, *args, *accounts],
                                 cwd=self.dir, input=stdin, capture_output=True, text=True,
                                 encoding="utf-8", timeout=120)
        self.outputs += [process.stdout, process.stderr]
        return process

    def login(self, name="chan", url=None):
        return self.setlist("login", "discord", "--name", name, "--url", self.server.root,
                            stdin=(self.url if url is None else url) + "\n")

    def test_login_shows_the_webhook_by_its_id_only(self):
        login = self.login()
        self.assertEqual((login.returncode, login.stdout),
                         (0, "logged in to chan as Captain Hook\n"), login.stderr)
        accounts = self.setlist("accounts")
        self.assertEqual(accounts.stdout, "chan\tdiscord\twebhook …/1180\tCaptain Hook\n")
        with open(os.path.join(self.dir, "accounts.json"), encoding="utf-8") as f:
            self.assertIn(TOKEN, f.read())
        # (the URL pasted, what the refusal names); nothing is stored then.
        self.server.add("1181", "gone", "Old")
        self.server.webhooks["1181"]["deleted"] = True
        cases = [
            ("https://discord.com/api/webhooks/1181/gone", "…/1181: the webhook was not taken"),
            ("https://discord.com/api/webhooks/1180/wrong", "Invalid Webhook Token"),
            ("https://discord.com/api/channels/1180", "is not one of a Discord webhook"),
            ("", "no webhook URL was given"),
        ]
        for url, named in cases:
            with self.subTest(url=url):
                refused = self.login("other", url)
                self.assertEqual(refused.returncode, 1, refused.stderr)
                self.assertIn(named, refused.stderr)
                self.assertNotIn("wrong", refused.stderr)
        # A server that cannot be reached: the message names the webhook by its id only
        # (tearDown finds no token in any output).
        unreachable = self.setlist("login", "discord", "--name", "other", "--url",
                                   "http://127.0.0.1:1/api", stdin=self.url + "\n")
        self.assertEqual(unreachable.returncode, 1, unreachable.stderr)
        self.assertIn("Discord webhook …/1180", unreachable.stderr)
        self.assertEqual(self.setlist("accounts").stdout.count("\n"), 1)

    def test_a_300_track_tracklist_arrives_whole_in_order_within_the_limits(self):
        self.assertEqual(self.login().returncode, 0)
        tracklist = self.setlist("tracklist", "Playlist_set.jsonl").stdout
        begun = time.monotonic()
        posted = self.setlist("discord", "Playlist_set.jsonl", "--title", TITLE)
        seconds = time.monotonic() - begun
        self.assertEqual(posted.returncode, 0, posted.stderr)
        contents = self.server.contents()
        self.assertIn(f"in {len(contents)} messages", posted.stdout)
        self.assertTrue(all(len(c) <= 2000 for c in contents))
        shown = [discord_mock.rendered(c) for c in contents]
        self.assertEqual("\n".join(shown), TITLE + "\n" + tracklist.rstrip("\n"))
        for content in contents:
            self.assertEqual(discord_mock.unescaped_markup(content), [])
        # Never more than 5 requests within 2 s: the mock's own window was never passed.
        times = [t for t, method, _ in self.server.requests if method == "POST"]
        self.assertTrue(all(b - a >= 1.95 for a, b in zip(times, times[5:])), times)
        print(f"\n300 tracks: {len(contents)} requests in {seconds:.1f} s", file=sys.stderr)
        # Posted once: again only with --again.
        again = self.setlist("discord", "Playlist_set.jsonl")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("--again", again.stderr)
        self.assertEqual(len(self.server.posts), len(contents))
        again = self.setlist("discord", "Playlist_set.jsonl", "--again")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertTrue(self.server.contents()[len(contents)].startswith("Tracklist of 2026"))

    @unittest.skipUnless(shutil.which("openssl") and not LAUNCHER,
                         "a certificate authority of the test's own: the OpenSSL client")
    def test_a_tracklist_over_https_verified_at_every_message(self):
        test_web_client.make_certificates(self.dir)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(*(os.path.join(self.dir, f"localhost.{x}") for x in ("pem", "key")))
        self.server.close()
        self.server = discord_mock.Server(tls)
        self.addCleanup(self.server.close)
        self.server.add("1180", TOKEN, "Captain Hook")
        os.environ["SSL_CERT_FILE"] = os.path.join(self.dir, "ca.pem")
        self.addCleanup(os.environ.pop, "SSL_CERT_FILE")
        self.assertEqual(self.login().returncode, 0)
        posted = self.setlist("discord", "Playlist_set.jsonl")
        self.assertEqual(posted.returncode, 0, posted.stderr)
        tracklist = self.setlist("tracklist", "Playlist_set.jsonl").stdout
        shown = [discord_mock.rendered(c) for c in self.server.contents()]
        self.assertGreater(len(shown), 5)  # connections one after another from one process
        self.assertEqual("\n".join(shown).split("\n", 1)[1], tracklist.rstrip("\n"))

    def test_rate_limits_and_faults_are_waited_out_in_order(self):
        self.assertEqual(self.login().returncode, 0)
        limited = (429, {"message": "You are being rate limited.", "retry_after": 0.6,
                         "global": False}, [("Retry-After", "1")])
        self.server.faults = [limited, (502, b"<html>Bad Gateway</html>"), limited]
        posted = self.setlist("discord", "Playlist_set.jsonl", "--discord-username", "DJ Bot")
        self.assertEqual(posted.returncode, 0, posted.stderr)
        tracklist = self.setlist("tracklist", "Playlist_set.jsonl").stdout
        shown = "\n".join(discord_mock.rendered(c) for c in self.server.contents())
        self.assertEqual(shown.split("\n", 1)[1], tracklist.rstrip("\n"))
        self.assertEqual({body.get("username") for _, _, body in self.server.posts}, {"DJ Bot"})
        # After each 429 the next request waited its retry_after.
        times = [t for t, method, _ in self.server.requests if method == "POST"]
        self.assertGreaterEqual(times[1] - times[0], 0.6)
        self.assertGreaterEqual(times[3] - times[2], 0.6)

    def test_a_deleted_webhook_is_told_once_by_name(self):
        self.assertEqual(self.login().returncode, 0)
        self.server.webhooks["1180"]["deleted"] = True
        posted = self.setlist("discord", "Playlist_set.jsonl")
        self.assertEqual(posted.returncode, 1, posted.stderr)
        self.assertEqual(posted.stderr.count("the Discord webhook chan no longer exists: make a "
                                             "new one and run setlist login discord again"), 1)
        self.assertIn("0 of ", posted.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "Playlist_set.discord")))


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
