"""The release archive end to end: the package target makes it, it is unpacked into a
new folder, its programs carry the project's version and run from there against the
stand-in DJ application.

    ZV_CMAKE      cmake, to build the package target
    ZV_BUILD_DIR  the build folder, where the archive lands
    ZV_VERSION    the project's version
    ZV_STANDIN, ZV_LAUNCHER (and ZV_TRACKER) as for the other end-to-end tests

Needs pefile (Debian's python3-pefile) to read the executables' version resources.
"""

import json
import os
import signal
import subprocess
import unittest
import zipfile

import pefile

import harness
from harness import AUTOMODE_START, EndToEndTest, Process, Track, report, stopped

VERSION = os.environ.get("ZV_VERSION", "")
TOP = f"Zorvanthelix-{VERSION}-win64"
FILES = ["README.txt", "Zorvanthelix.exe", "setlist.exe"]

A = Track("Beyoncé", "Déjà vu", "B'Day")
B = Track("Marlow Tide", "Paper Harbour", "Night Ferries")


def version_strings(pe):
    return {
        key.decode(): value.decode()
        for group in getattr(pe, "FileInfo", [])
        for info in group
        if info.Key == b"StringFileInfo"
        for table in info.StringTable
        for key, value in table.entries.items()
    }


class PackageTest(EndToEndTest):
    def test_the_unpacked_archive_is_versioned_and_runs(self):
        build_dir = os.environ["ZV_BUILD_DIR"]
        built = subprocess.run(
            [os.environ["ZV_CMAKE"], "--build", build_dir, "--target", "package"],
            capture_output=True, text=True,
        )
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        with zipfile.ZipFile(os.path.join(build_dir, TOP + ".zip")) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            self.assertEqual(names, [f"{TOP}/{name}" for name in FILES])
            archive.extractall(self.folder)
        folder = os.path.join(self.folder, TOP)

        major, minor, patch = (int(n) for n in VERSION.split("."))
        for name in ("Zorvanthelix.exe", "setlist.exe"):
            with self.subTest(name):
                pe = pefile.PE(os.path.join(folder, name))
                strings = version_strings(pe)
                self.assertTrue(strings.pop("FileDescription", ""), strings)
                strings.pop("InternalName", None)
                self.assertEqual(strings, {"ProductName": "Zorvanthelix", "ProductVersion": VERSION,
                                           "FileVersion": VERSION, "OriginalFilename": name})
                fixed = pe.VS_FIXEDFILEINFO[0]
                numbers = ((major << 16) | minor, patch << 16)
                self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), numbers)
                self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), numbers)
                # The MinGW runtime is linked in: no lib*.dll needs to travel along.
                dlls = [entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT]
                self.assertEqual([dll for dll in dlls if dll.lower().startswith("lib")], [])

        with open(os.path.join(folder, "README.txt"), "rb") as file:
            readme = file.read()
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"), "README.txt: LF without CR")
        self.assertTrue(readme.endswith(b"\r\n"))
        self.assertIn(VERSION.encode(), readme.split(b"\r\n")[0])
        self.assertNotIn(b"@", readme, "a placeholder was left in README.txt")

        # The unpacked programs, run from their folder, where the playlist appears.
        standin = self.standin()
        standin.load("L", A)
        standin.load("R", B)
        harness.TRACKER = os.path.join(folder, "Zorvanthelix.exe")
        tracker = self.tracker(cwd=folder)
        tracker.wait_started()
        tracker.wait_for(report("L", *A.shown), 2)
        standin.quit(self)
        self.assertEqual(tracker.stop(signal.SIGINT), 0, tracker.process.stderr)
        playlists = [n for n in self.playlists(folder) if n.endswith(b".txt")]
        self.assertEqual(len(playlists), 1, playlists)
        records = [("R", B), ("L", A)]
        expected = AUTOMODE_START + b"".join(report(deck, *t.shown) for deck, t in records)
        self.assertBytes(tracker.process.stdout, expected + stopped(playlists[0]), "console")
        self.assertPlaylist(playlists[0], records, folder)

        setlist = os.path.join(folder, "setlist.exe")
        for args, check in (
            (["--version"], lambda out: self.assertEqual(out, f"setlist {VERSION}\n".encode())),
            (["json", playlists[0].decode()], lambda out: self.assertEqual(
                [(r["deck"], r["artist"], r["song"], r["album"]) for r in json.loads(out)],
                [(deck, *t.texts) for deck, t in records])),
        ):
            with self.subTest(args[0]):
                run = Process([setlist, *args], folder)
                self.addCleanup(run.kill)
                self.assertEqual(run.finish(), 0, run.stderr)
                check(run.stdout)


if __name__ == "__main__":
    unittest.main()
