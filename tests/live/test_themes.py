"""The built-in themes of `setlist live --serve PORT --theme NAME` in headless Chromium: at
1280x200 and 1920x1080, with 100-character titles in Japanese, Arabic and emoji, no page
scrolls and no text is cut but by a designed ellipsis.

    ZV_SETLIST, ZV_TRACKER, ZV_STANDIN  as for test_live.py
    ZV_THEME_SHOTS  optional: a folder that gets a PNG of each theme, size and track
"""

import json
import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

SETLIST = os.environ.get("ZV_SETLIST", "")
SHOTS = os.environ.get("ZV_THEME_SHOTS", "")
TIMEOUT = 15.0
THEMES = ("lower-third", "card", "ticker", "history")
SIZES = ((1280, 200), (1920, 1080))


# (artist, song, album), loaded in turn; in simple mode each is on air a second after its
# load. A deck's field holds 208 bytes, so the song is 60 characters or fewer, and FORMAT's
# line 100 or more.
TRACKS = [
    ("宇多田ヒカル feat. 椎名林檎と東京事変", "ファースト・ラヴ、夜明けの街で君を待つ。" * 3,
     "初恋 — 東京の空の下でいつまでも歌い続ける"),
    ("عمرو دياب وفرقة القاهرة", "حبيبي يا نور العين يا ساكن خيالي عايش سنين " "بستناك",
     "نور العين — الإصدار الكامل"),
    ("DJ 🎧 Ñandú & the 🌴 Palms", "🎵🔥 Fiesta en la playa 💃🕺 toda la noche 🌙✨ hasta el sol 🌅",
     "🌈 Summer Hits 2026 🌴 Vol. 3"),
]
FORMAT = "{artist} – {song} ({album})"

# What is wrong with the page's layout: a page that scrolls, a box outside the window, or
# a box whose text is cut other than by an ellipsis (wider or taller than its box).
MEASURE = """(() => {
  const faults = [], root = document.documentElement, W = innerWidth, H = innerHeight;
  if (root.scrollWidth > W || root.scrollHeight > H)
    faults.push(`page ${root.scrollWidth}x${root.scrollHeight}`);
  for (const e of document.body.querySelectorAll("*")) {
    const style = getComputedStyle(e), r = e.getBoundingClientRect();
    if (e.closest("template,script,style") || style.display === "inline" || !r.width || !r.height)
      continue;
    const name = e.tagName + "." + e.className;
    if (r.left < -0.5 || r.top < -0.5 || r.right > W + 0.5 || r.bottom > H + 0.5)
      faults.push(`${name} outside: ${r.left},${r.top},${r.right},${r.bottom}`);
    if (e.scrollWidth > e.clientWidth + 1 && style.textOverflow !== "ellipsis")
      faults.push(`${name} cut: ${e.scrollWidth} > ${e.clientWidth}`);
    if (e.scrollHeight > e.clientHeight + 1)
      faults.push(`${name} cut: ${e.scrollHeight} high > ${e.clientHeight}`);
  }
  return faults;
})()"""


@unittest.skipUnless(harness.NATIVE and harness.CHROMIUM, "Chromium on this system")
class Themes(harness.EndToEndTest):
    def serve(self, theme):
        port = harness.free_port()
        live = harness.Process([SETLIST, "live", "-s", "1", "--format", FORMAT, "--serve", str(port), "--theme", theme],
                               self.folder)
        self.addCleanup(live.kill)
        live.wait_for(b"overlay page for a browser source: http://127.0.0.1:%d/" % port, TIMEOUT)
        return live, port

    def test_each_theme_fits_both_sizes_in_every_script(self):
        # A user's folder whose page draws the tracks itself.
        mine = os.path.join(self.folder, "mine")
        os.mkdir(mine)
        with open(os.path.join(mine, "index.html"), "w", encoding="utf-8") as f:
            f.write("<script>function onTrack(now, previous, history) {\n"
                    "  document.title = [now.song, previous.song, history.length, now.artwork]"
                    ".join('|');\n}</script><script src='/overlay.js'></script>")
        servers = {theme: self.serve(theme) for theme in (*THEMES, mine)}
        standin = self.standin()
        for live, _ in servers.values():
            live.wait_for(b"connected to", TIMEOUT)
        page = harness.HeadlessPage("about:blank", os.path.join(self.folder, "profile"))
        self.addCleanup(page.close)
        for number, track in enumerate(TRACKS):
            standin.load("LR"[number % 2],
                         harness.Track(*track, shown=tuple(t.encode() for t in track)))
            artist, song, album = track
            self.assertGreaterEqual(len(FORMAT.format(artist=artist, song=song, album=album)), 100)
            self.assertLessEqual(len(song.encode()), 208)
            for theme in THEMES:
                for width, height in SIZES:
                    with self.subTest(theme=theme, size=width, script=artist):
                        self.check(page, theme, servers[theme][1], (width, height), song, number)
        # ?hide=1: the overlay fades out a second after a change, and back on the next.
        hidden = 'document.documentElement.classList.contains("hidden")'
        page.call("Page.navigate", url=f"http://127.0.0.1:{servers['card'][1]}/?hide=1")
        self.assertTrue(page.wait_until(f"document.body && !{hidden} && "
                                        "document.body.innerText.includes('DJ')", TIMEOUT))
        self.assertTrue(page.wait_until(hidden, 3))
        standin.load("R", harness.Track("Back", "Again", "Album"))
        self.assertTrue(page.wait_until(f"!{hidden} && document.body.innerText.includes('Again')",
                                        TIMEOUT))
        # onTrack(now, previous, history) with ?n=2 tracks of history, and no cover art.
        page.call("Page.navigate", url=f"http://127.0.0.1:{servers[mine][1]}/?n=2")
        title = f"Again|{TRACKS[2][1]}|2|"
        self.assertTrue(page.wait_until(f"document.title === {json.dumps(title)}", TIMEOUT),
                        page.evaluate("document.title"))
        for live, _ in servers.values():
            live.send_signal(signal.SIGINT)
            self.assertEqual(live.finish(), 0, live.stderr)
        standin.quit(self)

    def test_theme_export_and_its_refusals(self):
        taken = os.path.join(self.folder, "taken")
        os.mkdir(taken)
        # (arguments, status, what stderr names)
        cases = [
            (["card", os.path.join(self.folder, "new", "card")], 0, ""),
            (["ticker", taken], 1, taken),
            (["nope", os.path.join(self.folder, "x")], 2, "'nope'"),
            (["card"], 2, "DIR"),
            ([], 2, "NAME"),
        ]
        for arguments, status, named in cases:
            with self.subTest(arguments=arguments):
                run = harness.Process([SETLIST, "theme", "export", *arguments], self.folder)
                self.assertEqual(run.finish(), status, run.stderr)
                self.assertIn(named.encode(), run.stderr)
        self.assertEqual(sorted(os.listdir(os.path.join(self.folder, "new", "card"))),
                         ["index.html", "style.css"])
        self.assertEqual(os.listdir(taken), [])

    def check(self, page, theme, port, size, song, number):
        page.call("Emulation.setDeviceMetricsOverride", width=size[0], height=size[1],
                  deviceScaleFactor=1, mobile=False)
        page.call("Page.navigate", url=f"http://127.0.0.1:{port}/?n=10")
        shown = (f"document.body && document.body.innerText.includes({json.dumps(song[:12])}) && "
                 '!document.documentElement.className.match(/empty|changing/)')
        self.assertTrue(page.wait_until(shown, TIMEOUT), page.evaluate("document.body.innerText"))
        time.sleep(0.4)  # the fade in
        self.assertEqual(page.evaluate(MEASURE), [])
        if SHOTS:
            page.evaluate('document.documentElement.style.background = "#2b3040"')
            page.screenshot(os.path.join(SHOTS, f"{theme}-{size[0]}x{size[1]}-{number}.png"),
                            *size)


if __name__ == "__main__":
    unittest.main()
