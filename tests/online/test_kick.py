"""`setlist login kick` end to end against a Kick OAuth and API mock on 127.0.0.1
(kick_mock.py): the code flow with PKCE and state through the loopback listener, the
tokens kept in the accounts file only.

    ZV_SETLIST   the setlist executable
    ZV_LAUNCHER  optional command prefix (a runner for programs of another system)
"""

import json
import os
import shlex
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kick_mock  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
LAUNCHER = shlex.split(os.environ.get("ZV_LAUNCHER", ""))


class Kick(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.server = kick_mock.Server()
        self.addCleanup(self.server.close)

    def test_login_with_pkce_and_state_keeps_the_tokens_in_the_accounts_file(self):
        status, out, err = kick_mock.log_in(self.server, SETLIST, self.tmp.name, LAUNCHER)
        self.assertEqual(status, 0, err)
        self.assertIn("logged in to kick as djkick", out)
        self.assertIn("code_challenge_method=S256", out)
        self.assertIn("scope=user%3Aread%20chat%3Awrite", out)
        self.assertIn("redirect_uri=http%3A%2F%2Flocalhost%3A", out)
        self.assertEqual(self.server.breaches, [])
        with open(os.path.join(self.tmp.name, "accounts.json"), encoding="utf-8") as f:
            account = json.load(f)["accounts"][0]
        self.assertEqual((account["name"], account["service"], account["user"]),
                         ("kick", "kick", "djkick"))
        self.assertEqual(account["values"]["refresh_token"], "kref-2-W")
        for text in (out, err):
            for secret in (kick_mock.SECRET, "kacc-2", "kref-2"):
                self.assertNotIn(secret, text)

    def test_a_wrong_secret_is_told_and_nothing_stored(self):
        status, _, err = kick_mock.log_in(self.server, SETLIST, self.tmp.name, LAUNCHER,
                                          secret="another")
        self.assertEqual(status, 1, err)
        self.assertIn("the code was not exchanged for a token: invalid_client", err)
        self.assertFalse(os.path.exists(os.path.join(self.tmp.name, "accounts.json")))


if __name__ == "__main__":
    if not SETLIST:
        sys.exit("ZV_SETLIST must name the setlist executable")
    unittest.main(verbosity=2)
