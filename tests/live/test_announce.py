"""`setlist live --discord` and `--kick` end to end: each track the stream shows is posted
to a Discord webhook mock and a Kick API mock on 127.0.0.1 (tests/online/discord_mock.py,
kick_mock.py) after --delay, only the newest waiting while Discord is down, a deleted
webhook told once while live goes on, and a refused Kick token refreshed once.

    ZV_SETLIST, ZV_TRACKER, ZV_STANDIN as for test_live.py
"""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "online"))
import discord_mock  # noqa: E402
import kick_mock  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
TIMEOUT = 15.0
TOKEN = "liveTok_9"


def harness_read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def deck_track(artist, song, album=""):
    texts = (artist, song, album)
    return harness.Track(*texts, shown=tuple(t.encode("utf-8") for t in texts))


class Announce(harness.EndToEndTest):
    def setUp(self):
        super().setUp()
        self.discord = discord_mock.Server()
        self.addCleanup(self.discord.close)
        url = self.discord.add("77", TOKEN, "Hook")
        login = subprocess.run(
            harness.LAUNCHER + [SETLIST, "login", "discord", "--name", "chan", "--url",
                                self.discord.root, "--accounts", "accounts.json"],
            cwd=self.folder, input=url + "\n", capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual(login.returncode, 0, login.stderr)

    def live(self, *args):
        live = harness.Process([SETLIST, "live", "-s", "1", "--accounts", "accounts.json",
                                "--discord", "chan", *args], self.folder)
        self.addCleanup(live.kill)
        return live

    def wait_posts(self, count):
        deadline = time.monotonic() + TIMEOUT
        while len(self.discord.posts) < count:
            self.assertLess(time.monotonic(), deadline, self.discord.contents())
            time.sleep(0.05)
        return self.discord.contents()

    def stop(self, live):
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        self.assertNotIn(TOKEN.encode(), live.stdout + live.stderr)
        self.assertEqual(self.discord.breaches, [])

    @unittest.skipUnless(harness.NATIVE, "timed on this system")
    def test_each_track_after_the_delay_as_written(self):
        standin = self.standin()
        live = self.live("--delay", "2", "--discord-format", "**{deck}** {artist} - {song}",
                         "--discord-username", "Now Playing")
        standin.load("L", deck_track("@everyone *DJ*", "Track_1 🎵"))
        live.wait_for(b"Deck.Artist", TIMEOUT)
        reported = time.monotonic()
        contents = self.wait_posts(1)
        self.assertGreater(self.discord.posts[0][0] - reported, 1.5)
        self.assertEqual(contents, ["**L** \\@everyone \\*DJ\\* - Track\\_1 🎵"])
        self.assertEqual(self.discord.posts[0][2]["username"], "Now Playing")
        standin.load("R", deck_track("Second", "Song"))
        self.assertEqual(self.wait_posts(2)[1], "**R** Second - Song")
        self.stop(live)
        standin.quit(self)

    def test_only_the_newest_waits_while_discord_is_down(self):
        standin = self.standin()
        live = self.live("--now-playing", "now.txt")
        self.discord.down = True
        for n in range(3):
            standin.load("LR"[n % 2], deck_track(f"Artist {n}", f"Song {n}"))
            live.wait_until(lambda out: out.count(b"Deck.Artist") == n + 1, TIMEOUT, "reports")
        live.wait_until(lambda _: b"HTTP 503" in live.stderr, TIMEOUT, "the failure told",
                        stream="stderr")
        self.discord.down = False
        self.assertEqual(self.wait_posts(1), ["Now playing: Artist 2 - Song 2"])
        time.sleep(2)
        self.assertEqual(len(self.discord.posts), 1)
        self.assertIn(b"Discord: announced again", live.stderr)
        self.stop(live)
        standin.quit(self)

    def test_a_deleted_webhook_is_told_once_and_live_goes_on(self):
        standin = self.standin()
        live = self.live("--now-playing", "now.txt")
        self.discord.webhooks["77"]["deleted"] = True
        standin.load("L", deck_track("Gone", "One"))
        live.wait_until(lambda _: b"no longer exists" in live.stderr, TIMEOUT, "told",
                        stream="stderr")
        standin.load("R", deck_track("Still", "Here"))
        deadline = time.monotonic() + TIMEOUT
        path = os.path.join(self.folder, "now.txt")
        while not (os.path.exists(path) and harness_read(path) == "Still - Here"):
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        time.sleep(1)
        self.assertEqual(live.stderr.count(b"setlist: Discord: the Discord webhook chan no longer "
                                           b"exists: make a new one and run setlist login "
                                           b"discord again"), 1, live.stderr)
        self.assertEqual(self.discord.posts, [])
        self.assertTrue(live.running())
        self.stop(live)
        standin.quit(self)


class KickAnnounce(harness.EndToEndTest):
    def setUp(self):
        super().setUp()
        self.kick = kick_mock.Server()
        self.addCleanup(self.kick.close)
        status, _, err = kick_mock.log_in(self.kick, SETLIST, self.folder, harness.LAUNCHER)
        self.assertEqual(status, 0, err)

    def wait_chat(self, count):
        deadline = time.monotonic() + TIMEOUT
        while len(self.kick.chat) < count:
            self.assertLess(time.monotonic(), deadline, (self.kick.chat, self.kick.breaches))
            time.sleep(0.05)
        return [content for _, content in self.kick.chat]

    def accounts(self):
        with open(os.path.join(self.folder, "accounts.json"), encoding="utf-8") as f:
            return f.read()

    def test_a_refused_token_is_refreshed_once_then_log_in_again(self):
        standin = self.standin()
        live = harness.Process([SETLIST, "live", "-s", "1", "--accounts", "accounts.json",
                                "--kick", "kick", "--kick-format", "{song} by {artist}"],
                               self.folder)
        self.addCleanup(live.kill)
        standin.load("L", deck_track("Artist\tOne", "Song 1"))
        self.assertEqual(self.wait_chat(1), ["Song 1 by Artist One"])
        # The token expires: it is refreshed, the rotated pair stored, the message sent.
        self.kick.revoke()
        standin.load("R", deck_track("Artist\tTwo", "Song 2"))
        self.assertEqual(self.wait_chat(2)[1], "Song 2 by Artist Two")
        self.assertEqual(self.kick.refreshes, 1)
        self.assertIn("kref-3-W", self.accounts())
        self.assertNotIn("kref-2-W", self.accounts())
        # Refused again and the refresh refused: told once, live goes on without Kick.
        self.kick.revoke()
        self.kick.refresh_works = False
        standin.load("L", deck_track("Artist", "Three"))
        live.wait_until(lambda _: b"log in again" in live.stderr, TIMEOUT, "told", stream="stderr")
        standin.load("R", deck_track("Artist", "Four"))
        live.wait_until(lambda out: out.count(b"Deck.Artist") == 4, TIMEOUT, "reports")
        time.sleep(1)
        self.assertEqual(live.stderr.count(b"setlist: Kick: log in again with `setlist login "
                                           b"kick`"), 1, live.stderr)
        self.assertEqual((len(self.kick.chat), self.kick.refreshes), (2, 2))
        self.assertTrue(live.running())
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        for secret in (b"kacc-", b"kref-", kick_mock.SECRET.encode()):
            self.assertNotIn(secret, live.stdout + live.stderr)
        self.assertEqual(self.kick.breaches, [])
        standin.quit(self)


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
