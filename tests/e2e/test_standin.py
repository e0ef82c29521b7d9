"""The stand-in DJ application on its own: what it puts into the block, which script
lines it refuses, and that the block goes away whenever it ends. The block is read
from the system's shared-memory folder, so these run only where that folder is."""

import os
import re
import signal
import unittest

from harness import (
    NATIVE,
    SHM_FOLDER,
    STANDIN,
    EndToEndTest,
    Process,
    StandIn,
    Track,
    block_exists,
)

GLOBAL = "Global\\ssl_sharing"
LOCAL = "Local\\ssl_sharing"

FIELDS = {
    "L": {"song": 0x0CC, "album": 0x19C, "artist": 0x26C},
    "R": {"song": 0x748, "album": 0x818, "artist": 0x8E8},
}
FIELD_BYTES = 208
SAMPLE_SET = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "sample-set.txt")


def read_block(name=GLOBAL):
    with open(os.path.join(SHM_FOLDER, name), "rb") as file:
        return file.read()


def field(block, deck, which):
    offset = FIELDS[deck][which]
    return block[offset : offset + FIELD_BYTES]


def units(text):
    """A text as the field holds it: UTF-16LE code units, zeros after them."""
    data = text.encode("utf-16-le", "surrogatepass")[:FIELD_BYTES]
    return data + bytes(FIELD_BYTES - len(data))


@unittest.skipUnless(NATIVE and os.path.isdir(SHM_FOLDER), "reads the block from " + SHM_FOLDER)
class StandInTest(EndToEndTest):
    def send(self, standin, line):
        """Sends a raw script line that changes the block, and waits until it is done."""
        standin._command(line)

    def test_deck_texts_land_at_their_fields(self):
        standin = self.standin()
        standin.load("L", Track("Left Artist", "Left Song", "Left Album"))
        standin.load("R", Track("Right Artist", "Right Song", "Right Album"))
        block = read_block()
        self.assertEqual(len(block), 4096)
        for deck, side in (("L", "Left"), ("R", "Right")):
            for which in ("artist", "song", "album"):
                self.assertEqual(
                    field(block, deck, which), units(f"{side} {which.title()}"), (deck, which)
                )
        # Nothing outside the six fields is written.
        rest = bytearray(block)
        for deck in FIELDS.values():
            for offset in deck.values():
                rest[offset : offset + FIELD_BYTES] = bytes(FIELD_BYTES)
        self.assertEqual(bytes(rest), bytes(4096))
        standin.quit(self)
        self.assertFalse(block_exists(GLOBAL))

    def test_escapes_and_utf8(self):
        standin = self.standin()
        self.send(standin, "load L a\\\\b\\|c\\nd\\re\\tf|\\xE9\\x00x|\\u4E00\\uD800\\udc00")
        block = read_block()
        self.assertEqual(field(block, "L", "artist"), units("a\\b|c\nd\re\tf"))
        self.assertEqual(field(block, "L", "song"), units("\u00e9\u0000x"))
        self.assertEqual(field(block, "L", "album"), units("\u4e00\ud800\udc00"))
        # UTF-8 of every length; a character past U+FFFF becomes a surrogate pair.
        self.send(standin, "load R Zo\u00eb|\u20ac \u6771|\U0001f3b5!")
        block = read_block()
        self.assertEqual(field(block, "R", "artist"), units("Zo\u00eb"))
        self.assertEqual(field(block, "R", "song"), units("\u20ac \u6771"))
        self.assertEqual(field(block, "R", "album"), units("\ud83c\udfb5!"))
        # Blanks around the texts belong to them; the deck letter may be lower case.
        self.send(standin, "load l   \\x20lead| mid |trail  ")
        block = read_block()
        self.assertEqual(field(block, "L", "artist"), units(" lead"))
        self.assertEqual(field(block, "L", "song"), units(" mid "))
        self.assertEqual(field(block, "L", "album"), units("trail  "))
        standin.quit(self)

    def test_long_texts_and_clearing(self):
        standin = self.standin()
        standin.load("L", Track("x" * 104, "y" * 103, "z" * 150))
        block = read_block()
        # 104 units fill the field with no zero after them; longer texts are cut.
        self.assertEqual(field(block, "L", "artist"), "x".encode("utf-16-le") * 104)
        self.assertEqual(field(block, "L", "song"), units("y" * 103))
        self.assertEqual(field(block, "L", "album"), "z".encode("utf-16-le") * 104)
        self.assertEqual(block[0x26C + FIELD_BYTES : 0x26C + FIELD_BYTES + 8], bytes(8))
        # A shorter text leaves nothing of the longer one behind.
        standin.load("L", Track("short", "", "z"))
        block = read_block()
        self.assertEqual(field(block, "L", "artist"), units("short"))
        self.assertEqual(field(block, "L", "song"), bytes(FIELD_BYTES))
        self.assertEqual(field(block, "L", "album"), units("z"))
        standin.load("R", Track("r", "s", "t"))
        standin.clear("L")
        block = read_block()
        for which in ("artist", "song", "album"):
            self.assertEqual(field(block, "L", which), bytes(FIELD_BYTES))
        self.assertEqual(field(block, "R", "artist"), units("r"))
        standin.quit(self)

    def test_name_and_size(self):
        standin = self.standin(local=True, size=700)
        self.assertFalse(block_exists(GLOBAL))
        # Fields past the end of a small block are cut there.
        standin.load("L", Track("artist", "song", "album"))
        standin.load("R", Track("artist", "song", "album"))
        block = read_block(LOCAL)
        self.assertEqual(len(block), 700)
        self.assertEqual(field(block, "L", "song"), units("song"))
        self.assertEqual(block[0x26C:], units("artist")[: 700 - 0x26C])
        standin.quit(self)
        self.assertFalse(block_exists(LOCAL))

    def test_a_leftover_block_is_replaced(self):
        with open(os.path.join(SHM_FOLDER, GLOBAL), "wb") as file:
            file.write(b"\xff" * 8192)
        standin = self.standin()
        self.assertEqual(read_block(), bytes(4096))
        standin.quit(self)

    def test_block_goes_away_at_the_end(self):
        # The end of the script, the end of its input, and a signal all remove it.
        standin = self.standin()
        standin.process.close_input()
        self.assertEqual(standin.process.finish(), 0)
        self.assertFalse(block_exists(GLOBAL))
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=number.name):
                standin = self.standin()
                self.send(standin, "load L a|b|c")
                standin.process.send_signal(number)
                self.assertEqual(standin.process.finish(), -number)
                self.assertFalse(block_exists(GLOBAL))

    def test_script_file(self):
        path = os.path.join(self.folder, "set.txt")
        with open(path, "w", encoding="utf-8", newline="") as file:
            # Windows line ends too; nothing after quit is done.
            file.write("# a set\r\nload L a|b|c\r\n\r\n  wait 0.05\nload R d|e|f\n")
            file.write("wait .1\nquit\nload L x|y|z\n")
        process = Process([STANDIN, path], self.folder)
        self.assertEqual(process.finish(), 0, process.stderr)
        self.assertEqual(
            process.stdout,
            b"block Global\\ssl_sharing ready (4096 bytes)\n"
            b"L loaded: a|b|c\n"
            b"R loaded: d|e|f\n"
            b"block Global\\ssl_sharing removed\n",
        )
        self.assertEqual(process.stderr, b"")
        self.assertFalse(block_exists(GLOBAL))

    def test_sample_set_is_a_valid_set(self):
        # The bundled set, without its pauses: six tracks on alternating decks.
        with open(SAMPLE_SET, encoding="utf-8") as file:
            lines = file.read().splitlines()
        quick = [re.sub(r"^wait .*", "wait 0", line) for line in lines]
        path = os.path.join(self.folder, "quick.txt")
        with open(path, "w", encoding="utf-8") as file:
            file.write("\n".join(quick) + "\n")
        process = Process([STANDIN, "-q", path], self.folder)
        self.assertEqual(process.finish(), 0, process.stderr)
        self.assertEqual(process.stdout, b"")
        loads = [line.split()[1] for line in lines if line.startswith("load ")]
        self.assertEqual(loads, ["L", "R", "L", "R", "L", "R"])
        self.assertEqual(lines[-1], "quit")
        seconds = sum(float(line.split()[1]) for line in lines if line.startswith("wait "))
        self.assertTrue(25 <= seconds <= 45, seconds)

    def test_bad_script_lines(self):
        bad = [
            "play L a|b|c",
            "load a|b|c",
            "load X a|b|c",
            "load L a|b",
            "load L a|b|c|d",
            "load L a\\q|b|c",
            "load L a\\x4|b|c",
            "load L a\\u12G4|b|c",
            "load L a|b|c\\",
            "clear",
            "clear L R",
            "wait",
            "wait -1",
            "wait 1s",
            "quit now",
        ]
        # A script file is refused as a whole, before any block exists.
        path = os.path.join(self.folder, "bad.txt")
        with open(path, "wb") as file:
            file.write(("load L ok|ok|ok\n" + "\n".join(bad) + "\n").encode())
            file.write(b"load L \xff|b|c\n")
        process = Process([STANDIN, path], self.folder)
        self.assertEqual(process.finish(), 2)
        self.assertEqual(process.stdout, b"")
        errors = process.stderr.decode().splitlines()
        self.assertEqual(
            [int(line.split(":")[2]) for line in errors], list(range(2, len(bad) + 3)), errors
        )
        self.assertFalse(block_exists(GLOBAL))
        # On standard input, a bad line ends the run and removes the block.
        for line in bad[:3]:
            with self.subTest(line=line):
                standin = StandIn(self.folder)
                self.addCleanup(standin.process.kill)
                standin.process.write(line.encode() + b"\n")
                self.assertEqual(standin.process.finish(), 2)
                self.assertIn(b"line 1:", standin.process.stderr)
                self.assertFalse(block_exists(GLOBAL))

    def test_bad_options(self):
        for args in (["--size"], ["--size", "-1"], ["--size", "12k"], ["--bogus"], ["a", "b"]):
            with self.subTest(args=args):
                process = Process([STANDIN, *args], self.folder)
                self.assertEqual(process.finish(), 2)
                self.assertNotEqual(process.stderr, b"")
                self.assertFalse(block_exists(GLOBAL))
        process = Process([STANDIN, "--help"], self.folder)
        self.assertEqual(process.finish(), 0)
        self.assertIn(b"\\uHHHH", process.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
