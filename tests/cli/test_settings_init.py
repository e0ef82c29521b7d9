"""`setlist settings --init` and `setlist settings` through the real binary: the starter
file is TOML to Python's own reader, commented and with every line taken out of comment,
and is never written over.

    ZV_SETLIST   the setlist executable
"""

import os
import re
import subprocess
import tempfile
import tomllib
import unittest

SETLIST = os.environ.get("ZV_SETLIST", "")


class SettingsInit(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.folder, "conf"))
        self.starter = os.path.join(self.folder, "conf", "zorvanthelix", "setlist.toml")

    def run_setlist(self, *args):
        return subprocess.run([SETLIST, *args], env=self.env, capture_output=True, timeout=30)

    def test_starter_round_trip(self):
        self.assertEqual(self.run_setlist("settings", "--init").returncode, 0)
        with open(self.starter, "rb") as f:
            starter = f.read()
        tables = tomllib.loads(starter.decode())
        self.assertIn("live", tables)
        self.assertEqual(tables["login"]["lastfm"], {})
        self.assertTrue(all(not v for k, v in tables.items() if k != "login"))
        # Never written over, whatever it holds.
        again = self.run_setlist("settings", "--init")
        self.assertEqual(again.returncode, 1)
        self.assertIn(b"exists", again.stderr)
        with open(self.starter, "rb") as f:
            self.assertEqual(f.read(), starter)
        # Every setting taken out of comment: Python and setlist read the same values.
        uncommented = re.sub(rb"(?m)^# ([a-z-]+ = )", rb"\1", starter)
        path = os.path.join(self.folder, "all.toml")
        with open(path, "wb") as f:
            f.write(uncommented)
        values = tomllib.loads(uncommented.decode())
        self.assertEqual(values["live"]["allow-host"], ["djlaptop.lan"])
        shown = self.run_setlist("settings", "--settings", path)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        live = shown.stdout.split(b"[live]\n")[1].split(b"\n[")[0]
        self.assertRegex(live, rb"(?m)^  delay +5 +.*all\.toml:\d+ \[live\] delay$")
        self.assertNotIn(b"default", live)
        # The default file, as it is: every value a default.
        shown = self.run_setlist("settings")
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn(b"settings file: " + self.starter.encode() + b" (default)", shown.stdout)
        self.assertNotIn(b"setlist.toml:", shown.stdout)

    def test_an_address_is_shown_without_its_query(self):
        path = os.path.join(self.folder, "url.toml")
        with open(path, "w") as f:
            f.write('[login.listenbrainz]\nurl = "https://h.example/p?token=s3cret"\n')
        shown = self.run_setlist("settings", "--settings", path)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn(b"https://h.example", shown.stdout)
        self.assertNotIn(b"s3cret", shown.stdout)

    def test_a_mistake_stops_every_command(self):
        path = os.path.join(self.folder, "bad.toml")
        with open(path, "w") as f:
            f.write("[live]\ndelay = 5\n[scrobble]\ndry_run = true\n")
        for args in (["live"], ["scrobble", "set.txt"], ["settings"]):
            done = self.run_setlist(*args, "--settings", path)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(done.stderr.decode(), f"setlist: {path}:4: unknown key [scrobble] "
                             "dry_run; did you mean `dry-run`?\n")


if __name__ == "__main__":
    unittest.main()
