#!/usr/bin/env python3
"""Times `setlist scrobble` of a 2,500-track set against the mock servers of the online
tests on 127.0.0.1: requests, seconds and peak resident memory (GNU time), to
ListenBrainz alone, Last.fm alone and both. The baseline is `setlist json` of the same set:
the reading of the set without any sending.

    scrobble_import.py [--setlist PATH] [--tracks 2500]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "online"))
import mock_lastfm  # noqa: E402
import mock_listenbrainz  # noqa: E402
import test_scrobble  # noqa: E402


def timed(command, cwd):
    start = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-v", *command], cwd=cwd, capture_output=True, text=True)
    seconds = time.monotonic() - start
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))
    return done.returncode, seconds, rss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--setlist", default=os.path.join(HERE, "..", "..", "build", "default",
                                                          "setlist", "setlist"))
    parser.add_argument("--tracks", type=int, default=2500)
    args = parser.parse_args()
    print("| to | status | ListenBrainz requests | Last.fm requests | seconds | peak RSS |")
    print("|---|---:|---:|---:|---:|---:|")
    for accounts in ("json (baseline)", "lb", "fm", "lb,fm"):
        folder = tempfile.mkdtemp()
        lb = mock_listenbrainz.Server(tokens=(test_scrobble.LB_TOKEN,)).start()
        fm = mock_lastfm.Server().start()

        def run(*more, secret):
            subprocess.run([args.setlist, *more, "--accounts", "accounts.json"], cwd=folder,
                           input=secret + "\n", capture_output=True, text=True, check=True)
        run("login", "listenbrainz", "--name", "lb", "--url", lb.url, secret=test_scrobble.LB_TOKEN)
        run("login", "lastfm", "--name", "fm", "--api-key", mock_lastfm.API_KEY, "--url", fm.url,
            secret=mock_lastfm.SECRET)
        with open(os.path.join(folder, "set.jsonl"), "w", encoding="utf-8") as f:
            f.write("".join(test_scrobble.set_line(*t) for t in test_scrobble.make_set(args.tracks)))
        logins = len(fm.requests)
        if accounts.startswith("json"):
            command = [args.setlist, "json", "-o", "set.json", "set.jsonl"]
        else:
            command = [args.setlist, "scrobble", "--to", accounts, "--accounts", "accounts.json",
                       "set.jsonl"]
        status, seconds, rss = timed(command, folder)
        print("| %s | %d | %d | %d | %.2f | %.1f MiB |" % (accounts, status, len(lb.requests),
                                                         len(fm.requests) - logins, seconds,
                                                         rss / 1024))
        lb.stop()
        fm.stop()


if __name__ == "__main__":
    main()
