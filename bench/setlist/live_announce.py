#!/usr/bin/env python3
"""The memory of `setlist live --serve` with 100 event clients (live_events.py) and all three
senders on: the Discord and Kick announcers, against the mocks of the online tests on
127.0.0.1, and the Discord status, against a Discord app's socket of the end-to-end tests;
and what the mocks received: one message per track, in order. With --tls the two web
mocks answer over TLS, as the real services do (tls_mocks.py).

    bench/setlist/live_announce.py [--clients 100] [--changes 30] [--setlist PATH] [--tls]
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "online"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "live"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
import discord_mock  # noqa: E402
import kick_mock  # noqa: E402
import live_events  # noqa: E402
import test_live  # noqa: E402
import tls_mocks  # noqa: E402



def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clients", type=int, default=100)
    parser.add_argument("--changes", type=int, default=30)
    parser.add_argument("--tls", action="store_true")
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
    if options.tls:
        secure = tls_mocks.serve_tls(folder, (discord, kick))
        discord.root, kick.url = secure(discord.root), secure(kick.url)
    os.environ["XDG_RUNTIME_DIR"] = folder
    app = test_live.DiscordApp(os.path.join(folder, "discord-ipc-0"))
    url = discord.add("5", "benchTok", "Bench")
    subprocess.run([options.setlist, "login", "discord", "--url", discord.root, "--accounts",
                    accounts], input=url + "\n", text=True, check=True, capture_output=True)
    status, _, err = kick_mock.log_in(kick, options.setlist, folder)
    assert status == 0, err
    extra = ["--discord", "discord", "--kick", "kick", "--discord-status", "1234567890",
             "--accounts", accounts]
    alone, crowded, complete, (rss, hwm), _, _ = live_events.run(
        options.setlist, options.clients, options.changes, extra)
    posts, chat = discord.contents(), [content for _, content in kick.chat]
    print(f"every client got one event per decision: {complete}")
    print(f"Discord: {len(posts)} posts, Kick: {len(chat)} messages, in order: "
          f"{posts == sorted(posts, key=lambda p: int(p.split()[-1]))}")
    print(f"Discord status: {len(app.activities)} activities set, the first after "
          f"{len(app.handshakes)} handshake(s)")
    over = "over TLS" if options.tls else "over http"
    print(f"live --serve, {options.clients} clients, the three senders {over}: VmRSS {rss / 1024:.2f} MiB, "
          f"VmHWM {hwm / 1024:.2f} MiB; VmHWM / 8 MiB = {hwm / 8192:.2f}")
    discord.close()
    kick.close()
    app.server.close()


if __name__ == "__main__":
    main()
