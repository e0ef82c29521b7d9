#!/usr/bin/env python3
"""The memory of `setlist live --serve` with 100 event clients (live_events.py) and the
Discord and Kick announcers on, against the mocks of the online tests on 127.0.0.1, and
what the mocks received: one message per track, in order.

    bench/setlist/live_announce.py [--clients 100] [--changes 30] [--setlist PATH]
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "online"))
import discord_mock  # noqa: E402
import kick_mock  # noqa: E402
import live_events  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clients", type=int, default=100)
    parser.add_argument("--changes", type=int, default=30)
    parser.add_argument("--setlist",
                        default=os.path.join(live_events.ROOT, "build/default/setlist/setlist"))
    options = parser.parse_args()
    if os.geteuid() == 0 and "ZV_PRIVATE_SHM" not in os.environ:
        os.environ["ZV_PRIVATE_SHM"] = "1"
        script = 'mount -t tmpfs tmpfs /dev/shm && exec "$0" "$@"'
        os.execvp("unshare", ["unshare", "-m", "sh", "-c", script, sys.executable, *sys.argv])
    folder = tempfile.mkdtemp()
    accounts = os.path.join(folder, "accounts.json")
    discord, kick = discord_mock.Server(), kick_mock.Server()
    url = discord.add("5", "benchTok", "Bench")
    subprocess.run([options.setlist, "login", "discord", "--url", discord.root, "--accounts",
                    accounts], input=url + "\n", text=True, check=True, capture_output=True)
    status, _, err = kick_mock.log_in(kick, options.setlist, folder)
    assert status == 0, err
    extra = ["--discord", "discord", "--kick", "kick", "--accounts", accounts]
    alone, crowded, complete, (rss, hwm), _, _ = live_events.run(
        options.setlist, options.clients, options.changes, extra)
    posts, chat = discord.contents(), [content for _, content in kick.chat]
    print(f"every client got one event per decision: {complete}")
    print(f"Discord: {len(posts)} posts, Kick: {len(chat)} messages, in order: "
          f"{posts == sorted(posts, key=lambda p: int(p.split()[-1]))}")
    print(f"live --serve, {options.clients} clients, Discord and Kick: VmRSS {rss / 1024:.2f} MiB, "
          f"VmHWM {hwm / 1024:.2f} MiB; VmHWM / 8 MiB = {hwm / 8192:.2f}")
    discord.close()
    kick.close()


if __name__ == "__main__":
    main()
