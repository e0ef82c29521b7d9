"""`setlist login twitch` and `setlist live --twitch` end to end, against mock Twitch
servers on 127.0.0.1 (twitch_mock.py) and the stand-in's decks.

    ZV_SETLIST, ZV_TRACKER, ZV_STANDIN as for test_live.py
"""

import json
import os
import shutil
import signal
import socket
import ssl
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "online"))
from test_web_client import make_certificates  # noqa: E402
import twitch_mock  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
TIMEOUT = 15.0

JAPANESE = ("宇多田ヒカル", "First Love 🎵", "ファースト・ラヴ")
KOREAN = ("소녀시대", "다시 만난 세계", "Into the New World")
CYRILLIC = ("Земфира", "Искала", "Вендетта")


def deck_track(texts):
    return harness.Track(*texts, shown=tuple(t.encode("utf-8") for t in texts))


def line(texts):
    return "{} - {}".format(*texts[:2])


class Chat(harness.EndToEndTest):
    def setUp(self):
        super().setUp()
        # The accounts file lies in the test's folder; under Wine, which sets APPDATA itself,
        # in the Wine prefix, where each login replaces the account.
        os.environ["XDG_CONFIG_HOME"] = self.folder
        self.tokens = set()
        self.chat = twitch_mock.ChatServer(self.tokens)
        self.ids = twitch_mock.IdServer(self.tokens)
        self.addCleanup(self.ids.close)

    def setlist(self, *args):
        process = harness.Process([SETLIST, *args], self.folder)
        self.addCleanup(process.kill)
        return process

    def login(self):
        login = self.setlist("login", "twitch", "--client-id", "client-1", "--auth-url", self.ids.url)
        self.assertEqual(login.finish(TIMEOUT), 0, login.stderr)
        return login

    def live(self, *args):
        live = self.setlist("live", "--twitch", "DJ", "--twitch-url", self.chat.url, *args)
        self.wait_stderr(live, b"chat: joined #dj")
        return live

    def wait_stderr(self, process, text, count=1):
        process.wait_until(lambda _: process.stderr.count(text) >= count, TIMEOUT,
                           f"{text!r} {count} times on stderr; stderr: {process.stderr!r}")

    def replies(self):
        return [l for _, l in self.chat.sent()]

    def wait_replies(self, count):
        self.assertTrue(self.chat.wait_lines(lambda _: len(self.chat.sent()) >= count, TIMEOUT),
                        self.replies())
        return self.replies()

    def assertSecret(self, *processes):
        for process in processes:
            for text in (process.stdout, process.stderr):
                self.assertNotIn(b"access-", text)
                self.assertNotIn(b"refresh-", text)

    def test_login_then_answers_in_step_with_the_decks(self):
        login = self.login()
        self.assertIn(b"https://www.twitch.tv/activate?public=true&device-code=ABCDEFGH", login.stdout)
        self.assertIn(b"ABCDEFGH", login.stdout)
        self.assertIn(b"logged in to twitch as djbot", login.stdout)
        # device, a pending poll, the tokens
        self.assertEqual([path for path, _ in self.ids.requests],
                         ["/oauth2/device", "/oauth2/token", "/oauth2/token"])
        # With its port in use, live ends before the chat logs in.
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen()
            port = str(busy.getsockname()[1])
            refused = self.setlist("live", "--twitch", "dj", "--twitch-url", self.chat.url,
                                   "--serve", port)
            self.assertEqual(refused.finish(TIMEOUT), 1, refused.stderr)
            self.assertIn(port.encode(), refused.stderr)
        self.assertFalse(self.chat.wait_lines(lambda lines: lines, 1), self.chat.lines)
        standin = self.standin()
        live = self.live("--cooldown", "2", "-s", "1")
        self.assertEqual([l for _, l in self.chat.lines][:4],
                         ["CAP REQ :twitch.tv/tags twitch.tv/commands", "PASS oauth:access-1-Zq9",
                          "NICK djbot", "JOIN #dj"])
        # A hostile or broken line is passed over; a PING gets its PONG.
        self.chat.send_raw("@@;=\\\r\n:\r\n@a=b\r\n" + ":x PRIVMSG\r\n" + "\x00\xff" * 100)
        self.chat.send_raw("PING :tmi.twitch.tv")
        self.assertTrue(self.chat.wait_lines(lambda ls: "PONG :tmi.twitch.tv" in [l for _, l in ls]))
        # A server's text reaches the terminal with its control characters escaped.
        self.chat.send_raw(":tmi.twitch.tv NOTICE #dj :\x1b]0;owned\x07\x1b[2J\x9b2J")
        self.wait_stderr(live, b"chat: #dj: \\x1B]0;owned\\x07\\x1B[2J\\u009B2J")
        self.assertNotIn(b"\x1b", live.stderr)
        # (seconds to wait first, what a viewer says, loads before it, tracks reported by
        # then, the reply or None for none). In simple mode a load reports itself a poll or
        # two later, whenever live began.
        steps = [
            (0, "!track", [], 0, "nothing on air yet"),
            (0, "!SONG what is this", [], 0, None),  # within the cooldown of !track
            (0, "!lasttrack", [("L", JAPANESE)], 1, "nothing before this track yet"),
            (2.1, "!track", [], 1, line(JAPANESE)),
            (2.1, "!lasttrack", [("R", KOREAN)], 2, line(JAPANESE)),
            (2.1, "!Track", [("L", CYRILLIC)], 3, line(CYRILLIC)),
            (2.1, "hello !track", [], 3, None),
        ]
        expected = []
        for step, (pause, said, loads, reports, reply) in enumerate(steps):
            time.sleep(pause)
            for deck, texts in loads:
                standin.load(deck, deck_track(texts))
                time.sleep(1.2)  # each load after a poll
            live.wait_until(lambda out: out.count(b"Deck.Artist") == reports, TIMEOUT, "reports")
            time.sleep(0.3)
            # A viewer each: the same answer twice within 30 s would be dropped as a repeat.
            message_id = self.chat.say(f"Viewer{step}", said)
            if reply is not None:
                expected.append(f"@reply-parent-msg-id={message_id} PRIVMSG #dj :@Viewer{step} {reply}")
                self.assertEqual(self.wait_replies(len(expected)), expected)
        time.sleep(1)
        self.assertEqual(self.replies(), expected)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        self.assertSecret(login, live)
        standin.quit(self)

    @unittest.skipUnless(harness.NATIVE, "timed on this system")
    def test_announce_after_the_delay_and_the_rate_limit(self):
        self.login()
        standin = self.standin()
        live = self.live("--announce", "--delay", "2", "--cooldown", "0")
        standin.load("L", deck_track(JAPANESE))
        standin.load("R", deck_track(KOREAN))
        live.wait_for(b"Deck.Artist", TIMEOUT)
        reported = time.monotonic()
        self.wait_replies(1)
        announced = self.chat.sent()[0][0]
        self.assertEqual(self.replies(), [f"PRIVMSG #dj :Now playing: {line(JAPANESE)}"])
        self.assertGreater(announced - reported, 1.5)
        # 30 asks in 10 s: 20 messages in all within the first 30 s, the first among them.
        for n in range(30):
            self.chat.say(f"Viewer{n}", "!track")
            time.sleep(0.33)
        time.sleep(2)
        self.assertEqual(len(self.replies()), 20)
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)

    @unittest.skipUnless(harness.NATIVE, "one Wine case is enough")
    def test_reconnects_and_refreshes_the_token_once(self):
        self.login()
        port = harness.free_port()
        live = self.live("--serve", str(port))
        # RECONNECT, then a dropped socket: each time a new connection joins again.
        self.chat.send_raw(":tmi.twitch.tv RECONNECT")
        self.wait_stderr(live, b"chat: joined #dj", 2)
        self.chat.drop()
        self.wait_stderr(live, b"chat: joined #dj", 3)
        # Connections that end soon after joining: the wait grows.
        self.assertEqual(live.stderr.count(b"reconnecting in 1 s"), 1, live.stderr)
        self.assertEqual(live.stderr.count(b"reconnecting in 2 s"), 1, live.stderr)
        # The token stops working: it is refreshed once, and the new pair is stored. An
        # id server that fails meanwhile (a 503 page) is tried again, no log in again.
        self.tokens.clear()
        self.ids.refresh_faults = [(503, b"<html>Service Unavailable</html>")]
        self.chat.drop()
        # The fourth join within a minute is held back on stderr: the server sees it.
        self.assertTrue(self.chat.wait_lines(
            lambda ls: [l for _, l in ls].count("JOIN #dj") >= 4, TIMEOUT), live.stderr)
        self.assertEqual(live.stderr.count(b"chat: joined #dj"), 3, live.stderr)
        self.assertIn(b"/oauth2/token answered HTTP 503: <html>Service Unavailable</html>",
                      live.stderr)
        self.assertIn(b"token was refreshed", live.stderr)
        with open(os.path.join(self.folder, "zorvanthelix", "accounts.json"), encoding="utf-8") as f:
            self.assertIn("refresh-2-Kx7", f.read())
        self.assertEqual(self.chat.logins, ["djbot"] * 4)
        # Again, and the refresh fails too: the chat gives up, the rest of live goes on.
        self.tokens.clear()
        self.ids.refresh_works = False
        self.chat.drop()
        self.wait_stderr(live, b"Twitch: log in again with `setlist login twitch`")
        standin = self.standin()
        standin.load("L", deck_track(JAPANESE))
        standin.load("R", deck_track(KOREAN))
        deadline = time.monotonic() + TIMEOUT
        while json.loads(harness.http_request(port, "/now-playing.json")[2])["artist"] != JAPANESE[0]:
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.2)
        time.sleep(2)
        self.assertEqual(live.stderr.count(b"log in again"), 1)
        self.assertEqual(len(self.chat.logins), 4)  # no try after giving up
        self.assertTrue(live.running())
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)
        self.assertSecret(live)
        standin.quit(self)

    def test_exit_while_the_handshake_hangs(self):
        # A server that accepts and never answers: the TCP connection stands, the WebSocket
        # upgrade (ws) or the TLS handshake (wss) waits. Ctrl-C ends live well within 1 s.
        self.login()
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen()
            silent.settimeout(TIMEOUT)
            port = silent.getsockname()[1]
            for url in (f"ws://127.0.0.1:{port}", f"wss://localhost:{port}"):
                with self.subTest(url=url):
                    live = self.setlist("live", "--twitch", "dj", "--twitch-url", url)
                    accepted, _ = silent.accept()
                    self.addCleanup(accepted.close)
                    time.sleep(0.5)
                    live.send_signal(signal.SIGINT)
                    asked = time.monotonic()
                    self.assertEqual(live.finish(TIMEOUT), 0, live.stderr)
                    self.assertLess(time.monotonic() - asked, 1.0)
                    self.assertNotIn(b"chat:", live.stderr)

    @unittest.skipUnless(harness.NATIVE and shutil.which("openssl"), "the Linux client's TLS")
    def test_wss_with_a_test_authority(self):
        make_certificates(self.folder)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(*(os.path.join(self.folder, n) for n in ("localhost.pem", "localhost.key")))
        self.chat = twitch_mock.ChatServer(self.tokens, tls)
        os.environ["SSL_CERT_FILE"] = os.path.join(self.folder, "ca.pem")
        self.addCleanup(os.environ.pop, "SSL_CERT_FILE")
        self.login()
        live = self.live()
        message_id = self.chat.say("Viewer", "!track")
        self.assertEqual(self.wait_replies(1),
                         [f"@reply-parent-msg-id={message_id} PRIVMSG #dj :@Viewer nothing on air yet"])
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)

    @unittest.skipUnless(harness.NATIVE, "one Wine case is enough")
    def test_login_to_an_accounts_file_of_its_own(self):
        other = os.path.join(self.folder, "other.json")
        for name in (["--name", "bot"], []):
            login = self.setlist("login", "twitch", "--client-id", "client-1", "--auth-url",
                                 self.ids.url, "--accounts", other, *name)
            self.assertEqual(login.finish(TIMEOUT), 0, login.stderr)
        with open(other, encoding="utf-8") as f:
            accounts = json.load(f)["accounts"]
        self.assertEqual([(a["name"], a["service"]) for a in accounts],
                         [("bot", "twitch"), ("twitch", "twitch")])
        self.assertFalse(os.path.exists(os.path.join(self.folder, "zorvanthelix")))
        live = self.setlist("live", "--twitch", "DJ", "--twitch-url", self.chat.url,
                            "--accounts", other)
        self.wait_stderr(live, b"chat: joined #dj")
        live.send_signal(signal.SIGINT)
        self.assertEqual(live.finish(), 0, live.stderr)

    @unittest.skipUnless(harness.NATIVE, "one Wine case is enough")
    def test_login_checks_the_accounts_file_first_as_every_login(self):
        # A damaged accounts file stops the login before Twitch is asked for anything.
        damaged = os.path.join(self.folder, "damaged.json")
        with open(damaged, "w", encoding="utf-8") as f:
            f.write("{")
        login = self.setlist("login", "twitch", "--client-id", "client-1", "--auth-url",
                             self.ids.url, "--accounts", damaged)
        self.assertEqual(login.finish(TIMEOUT), 1, login.stderr)
        self.assertIn(b"damaged.json", login.stderr)
        self.assertEqual(self.ids.requests, [])

    @unittest.skipUnless(harness.NATIVE, "one Wine case is enough")
    def test_refusals(self):
        # (arguments, status, what the message names); no account yet
        cases = [
            (["live", "--twitch", "dj"], 2, b"setlist login twitch"),
            (["live", "--twitch", "d j"], 2, b"d j"),
            (["live", "--announce"], 2, b"--twitch CHANNEL"),
            (["live", "--twitch", "dj", "--cooldown", "-1"], 2, b"-1"),
            (["live", "--twitch", "dj", "--twitch-url", "http://x"], 2, b"http://x"),
            (["live", "--twitch", "dj", "--accounts", "elsewhere.json"], 2, b"elsewhere.json"),
            (["login", "twitch"], 2, b"--client-id"),
            (["login", "twitch", "--client-id", "nobody", "--auth-url", self.ids.url], 1,
             b"invalid client"),
        ]
        for args, status, named in cases:
            with self.subTest(args=args):
                process = self.setlist(*args)
                self.assertEqual(process.finish(TIMEOUT), status, process.stderr)
                self.assertIn(named, process.stderr)

    @unittest.skipUnless(harness.NATIVE, "one Wine case is enough")
    def test_login_refuses_a_login_or_token_that_could_carry_a_line(self):
        pair = self.ids.new_pair
        injected = "djbot\r\nPRIVMSG #other :spam"
        cases = [  # (the login Twitch names, a token pair, what stderr says)
            (injected, pair, b"not a Twitch login"),
            ("djbot", lambda: {**pair(), "access_token": "acc\r\nPRIVMSG #x :y"},
             b"a token with a space or a control character"),
            ("djbot", lambda: {**pair(), "refresh_token": "ref resh"},
             b"a token with a space or a control character"),
        ]
        for login, new_pair, message in cases:
            with self.subTest(message=message):
                self.ids.login, self.ids.new_pair = login, new_pair
                process = self.setlist("login", "twitch", "--client-id", "client-1", "--auth-url",
                                       self.ids.url)
                self.assertEqual(process.finish(TIMEOUT), 1, process.stderr)
                self.assertIn(message, process.stderr)
                self.assertNotIn(b"PRIVMSG", process.stdout + process.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.folder, "zorvanthelix",
                                                             "accounts.json")))


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
