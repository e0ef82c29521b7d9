#!/usr/bin/env python3
"""The delay from a track's decision to its event at 100 clients of `setlist live --serve`,
and live's resident memory while they are connected.

Runs the stand-in and `setlist live --serve PORT` (default build), connects CLIENTS clients
to /events (one thread reads them all through a selector), loads a new track every 1.37 s
and times each event from the moment live's report of the track is read from its output
(the decision, as seen from outside) to the moment each client has the event. In the same
run a client asks for /now-playing.json every 50 ms. Target: 99th percentile at most 50 ms
with 100 clients; resident memory under 8 MiB.

    bench/setlist/live_events.py [--clients 100] [--changes 30] [--setlist PATH]

Baselines in the same run: the same delays with a single client (before the others
connect), and live's resident memory without --serve.

As root it runs in a private /dev/shm, so it meets no other block of the same name.
"""
import argparse
import http.client
import os
import selectors
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
STANDIN = os.path.join(ROOT, "build/default/tools/dj-standin")


def memory(pid):
    """VmRSS and VmHWM of a process, in KiB."""
    with open(f"/proc/{pid}/status") as f:
        fields = dict(line.split(":", 1) for line in f)
    return tuple(int(fields[name].split()[0]) for name in ("VmRSS", "VmHWM"))


class Clients(threading.Thread):
    """Event-stream clients read by one thread; the arrival times of each client's events."""

    def __init__(self, port, count):
        super().__init__(daemon=True)
        self.selector = selectors.DefaultSelector()
        self.arrivals = []
        for _ in range(count):
            sock = socket.create_connection(("127.0.0.1", port))
            sock.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            sock.setblocking(False)
            self.selector.register(sock, selectors.EVENT_READ, len(self.arrivals))
            self.arrivals.append([])
        self.buffers = [b""] * count
        self.stop = False
        self.start()

    def run(self):
        while not self.stop:
            for key, _ in self.selector.select(0.1):
                now = time.monotonic()
                chunk = key.fileobj.recv(65536)
                index = key.data
                self.buffers[index] += chunk
                while b"\n\n" in self.buffers[index]:
                    block, self.buffers[index] = self.buffers[index].split(b"\n\n", 1)
                    if b"data: " in block:
                        self.arrivals[index].append(now)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def run(setlist, clients, changes, extra=()):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    standin = subprocess.Popen([STANDIN], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    standin.stdout.readline()  # block ready
    plain = subprocess.Popen([setlist, "live"], stdout=subprocess.DEVNULL)
    time.sleep(2)
    plain_memory = memory(plain.pid)
    plain.terminate()
    plain.wait()
    live = subprocess.Popen([setlist, "live", "--serve", str(port), *extra], stdout=subprocess.PIPE)
    decisions = []

    def read_reports():
        for line in live.stdout:
            if b"Deck.Artist" in line:
                decisions.append(time.monotonic())

    threading.Thread(target=read_reports, daemon=True).start()
    time.sleep(1.0)
    asked = []

    def ask():
        while live.poll() is None and not stop_asking.is_set():
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            connection.request("GET", "/now-playing.json")
            asked.append(connection.getresponse().status)
            connection.close()
            time.sleep(0.05)

    stop_asking = threading.Event()
    single = Clients(port, 1)
    crowd = None

    def load(n):
        standin.stdin.write(f"load {'LR'[n % 2]} Artist {n}|Song {n}|Album {n}\n".encode())
        standin.stdin.flush()
        standin.stdout.readline()

    # Phase 1: one client; phase 2: `clients` more, and the JSON asker.
    warm = 6
    for n in range(warm):
        load(n)
        time.sleep(1.37)
    crowd = Clients(port, clients)
    asker = threading.Thread(target=ask, daemon=True)
    asker.start()
    time.sleep(1.0)
    first_crowd = len(decisions)
    for n in range(warm, warm + changes):
        load(n)
        time.sleep(1.37)
    time.sleep(1.0)
    rss, hwm = memory(live.pid)
    stop_asking.set()
    asker.join()
    live.terminate()
    live.wait()
    standin.stdin.write(b"quit\n")
    standin.stdin.close()
    standin.wait()
    single.stop = crowd.stop = True

    def delays(arrivals, first_decision):
        # Each client's first event is the state at connect; the rest follow the decisions.
        out = []
        for times in arrivals:
            for decided, arrived in zip(decisions[first_decision:], times[1:]):
                out.append((arrived - decided) * 1000)
        return out

    alone = delays([a[: first_crowd + 1] for a in single.arrivals], 0)
    crowded = delays(crowd.arrivals, first_crowd)
    complete = all(len(a) == 1 + len(decisions) - first_crowd for a in crowd.arrivals)
    return alone, crowded, complete, (rss, hwm), plain_memory, asked


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clients", type=int, default=100)
    parser.add_argument("--changes", type=int, default=30)
    parser.add_argument("--setlist", default=os.path.join(ROOT, "build/default/setlist/setlist"))
    options = parser.parse_args()
    if os.geteuid() == 0 and "ZV_PRIVATE_SHM" not in os.environ:
        os.environ["ZV_PRIVATE_SHM"] = "1"
        script = 'mount -t tmpfs tmpfs /dev/shm && exec "$0" "$@"'
        os.execvp("unshare", ["unshare", "-m", "sh", "-c", script, sys.executable, *sys.argv])
    alone, crowded, complete, (rss, hwm), (plain_rss, plain_hwm), asked = run(
        options.setlist, options.clients, options.changes)
    for name, values in (("1 client", alone), (f"{options.clients} clients", crowded)):
        print(f"{name}: {len(values)} events, delay ms: median {statistics.median(values):.2f}, "
              f"p99 {percentile(values, 0.99):.2f}, max {max(values):.2f}, min {min(values):.2f}")
    print(f"every client got one event per decision: {complete}")
    print(f"/now-playing.json answered: {len(asked)} requests, statuses {sorted(set(asked))}")
    print(f"live --serve with {options.clients} clients: VmRSS {rss / 1024:.2f} MiB, "
          f"VmHWM {hwm / 1024:.2f} MiB")
    print(f"live without --serve: VmRSS {plain_rss / 1024:.2f} MiB, VmHWM {plain_hwm / 1024:.2f} MiB")
    p99 = percentile(crowded, 0.99)
    print(f"p99 / 50 ms = {p99 / 50:.2f}; VmHWM / 8 MiB = {hwm / 8192:.2f}")
    return 0 if p99 <= 50 and hwm < 8192 and complete else 1


if __name__ == "__main__":
    sys.exit(main())
