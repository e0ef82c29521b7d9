#!/usr/bin/env bash
# Footprint check: runs the tracker against the stand-in DJ application for 60 seconds
# (or the number of seconds given) and reports its peak resident memory, the CPU time it
# used, and the delay from each deck change written by the stand-in to its record in the
# playlist file.
#
#   tools/footprint.sh [SECONDS] [--report FILE]
#
# Four programs run side by side, each in its own empty folder, for the same time:
#   - the tracker as built by the default preset (dynamically linked),
#   - the same tracker linked statically (built in build/static by this script),
#   - and, as baselines, the least C++ program that prints a line and then wakes once a
#     second, linked dynamically and statically.
# Each runs under /usr/bin/time -v; its peak resident memory (VmHWM) and CPU time (from
# /proc/PID/schedstat, in nanoseconds) are also read just before it is stopped.
#
# The run: both decks hold a track before the trackers start, so the first poll logs
# both; the twelve seconds that follow let the automode's tenth-poll rule pass, and give
# the idle figures. Then a new track is loaded every 1.37 seconds, on the left and right
# deck in turn, through a pipe into the stand-in. In automode each load logs the track on
# the other deck at the next poll. For each load the driver notes the moment it wrote the
# command, the moment the tracker printed the report (its console is a pipe, flushed
# per report) and the moment the record appeared in the file (looked at every 5 ms, and
# every millisecond while a printed report waits for its record).
#
# When this runs as root and may, it gives itself a private /dev/shm, so its shared block
# neither meets a running DJ application's nor the end-to-end tests'.
set -euo pipefail

say() { printf '==> %s\n' "$*" >&2; }

seconds=60
report=""
while [ $# -gt 0 ]; do
  case "$1" in
    --report)
      report="$2"
      shift 2
      ;;
    [0-9]*)
      seconds="$1"
      shift
      ;;
    *)
      echo "usage: tools/footprint.sh [SECONDS] [--report FILE]" >&2
      exit 2
      ;;
  esac
done
if [ "$seconds" -lt 25 ]; then
  echo "tools/footprint.sh: at least 25 seconds (12 of them idle)" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# --- A private /dev/shm ------------------------------------------------------------------
if [ -z "${ZV_FOOTPRINT_PRIVATE_SHM:-}" ] && [ "$(id -u)" -eq 0 ] &&
  command -v unshare >/dev/null 2>&1 &&
  unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /dev/shm' 2>/dev/null; then
  say "running in a private /dev/shm"
  export ZV_FOOTPRINT_PRIVATE_SHM=1
  exec unshare --mount --propagation private \
    sh -c 'mount -t tmpfs -o size=16m,mode=1777 tmpfs /dev/shm && exec "$@"' sh \
    "$0" "$seconds" ${report:+--report "$report"}
fi
if [ -z "${ZV_FOOTPRINT_PRIVATE_SHM:-}" ]; then
  say "no private /dev/shm (not root, or no unshare): using the system's"
  if [ -e "/dev/shm/Global\\ssl_sharing" ]; then
    echo "tools/footprint.sh: a block Global\\ssl_sharing exists already; stop its owner first" >&2
    exit 1
  fi
fi

# --- Tools and builds ----------------------------------------------------------------------
packages=(cmake ninja-build g++ time libboost-dev)
command -v python3 >/dev/null 2>&1 || packages+=(python3)
tools/ensure-packages.sh "${packages[@]}"

if [ ! -f build/default/CMakeCache.txt ]; then
  say "cmake --preset default"
  cmake --preset default >/dev/null
fi
say "cmake --build --preset default --target Zorvanthelix dj-standin"
cmake --build --preset default --target Zorvanthelix dj-standin >/dev/null

# The statically linked tracker, in a build folder of its own.
if [ ! -f build/static/CMakeCache.txt ]; then
  say "configuring build/static (the tracker linked with -static)"
  cmake -S . -B build/static -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_EXE_LINKER_FLAGS=-static -DZV_BUILD_TESTS=OFF -DZV_BUILD_BENCH=OFF >/dev/null
fi
say "cmake --build build/static --target Zorvanthelix"
cmake --build build/static --target Zorvanthelix >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/zv-footprint.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The baseline: the least C++ program doing what the tracker's loop does apart from its
# work: print a line, then wake once a second until asked to stop.
cat >"$work/floor.cpp" <<'EOF'
#include <csignal>
#include <iostream>
#include <unistd.h>
namespace { volatile std::sig_atomic_t stop = 0; void onStop(int) { stop = 1; } }
int main() {
  std::signal(SIGINT, onStop);
  std::cout << "waiting\n" << std::flush;
  while (!stop) sleep(1);
  std::cout << "stopped\n" << std::flush;
}
EOF
say "building the baseline programs (g++ -O2, dynamic and -static)"
mkdir "$work/bin"
g++ -std=c++20 -O2 -o "$work/bin/floor-dynamic" "$work/floor.cpp"
g++ -std=c++20 -O2 -static -o "$work/bin/floor-static" "$work/floor.cpp"

say "running for $seconds seconds in $work"
python3 - "$seconds" "$work" "$root/build/default/tools/dj-standin" \
  "$root/build/default/tracker/Zorvanthelix" "$root/build/static/tracker/Zorvanthelix" \
  "${report:-}" <<'PY'
import atexit, glob, os, selectors, signal, statistics, subprocess, sys, time

seconds, work, standin, dynamic, static, report_path = (
    int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6])
IDLE_FROM, IDLE_TO = 2.0, 12.0   # the idle window, in seconds after the start
CHANGE_EVERY = 1.37              # seconds between loads: not a multiple of the poll period
POLL_FILE = 0.005                # how often the playlist files are looked at (seconds)
now = time.monotonic

# Whatever this driver started is ended when it ends, also on a failure: (process, the
# pid of the program that /usr/bin/time runs, once known).
started = []
def end_started():
    for proc, pid in started:
        if proc.poll() is None:
            for target in ([pid[0]] if pid else []) + [proc.pid]:
                try:
                    os.kill(target, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            proc.wait()
atexit.register(end_started)

def find_child(parent):
    """The process whose parent is `parent` (the program that /usr/bin/time started)."""
    for _ in range(400):
        for stat in glob.glob("/proc/[0-9]*/stat"):
            try:
                with open(stat) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == parent:
                return int(stat.split("/")[2])
        time.sleep(0.005)
    raise RuntimeError("no child of %d" % parent)

def cpu_ns(pid):
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0])

def hwm_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0

class Program:
    def __init__(self, name, exe, tracker):
        self.name, self.tracker = name, tracker
        self.folder = os.path.join(work, name)
        os.mkdir(self.folder)
        self.time_file = os.path.join(self.folder, "time.txt")
        self.proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", self.time_file, exe],
                                     cwd=self.folder, stdout=subprocess.PIPE,
                                     stdin=subprocess.DEVNULL)
        child = []
        started.append((self.proc, child))
        self.pid = find_child(self.proc.pid)
        child.append(self.pid)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.console = b""
        self.playlist = None
        self.seen_lines = 0
        self.file_text = b""

    def read_console(self):
        try:
            data = self.proc.stdout.read()
        except BlockingIOError:
            data = None
        if data:
            self.console += data
        return data

    def new_records(self):
        """Lines that appeared in the playlist file since the last look."""
        if self.playlist is None:
            found = glob.glob(os.path.join(self.folder, "Playlist_*.txt"))
            if not found:
                return []
            self.playlist = found[0]
        size = os.stat(self.playlist).st_size
        if size == len(self.file_text):
            return []
        with open(self.playlist, "rb") as f:
            self.file_text = f.read()
        lines = self.file_text.split(b"\r\n")[:-1]  # only complete lines
        fresh = lines[self.seen_lines:]
        self.seen_lines = len(lines)
        return fresh

    def stop(self):
        self.cpu_ns = cpu_ns(self.pid)
        self.hwm_kib = hwm_kib(self.pid)
        os.kill(self.pid, signal.SIGINT)
        self.proc.wait(timeout=10)
        self.read_console()
        self.time = {}
        with open(self.time_file) as f:
            for line in f:
                key, _, value = line.strip().rpartition(": ")
                self.time[key] = value

# The stand-in, driven line by line through a pipe; it echoes each change once it is done.
standin_proc = subprocess.Popen([standin, "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                text=True, bufsize=1)
started.append((standin_proc, []))
def send(line):
    at = now()
    standin_proc.stdin.write(line + "\n")
    standin_proc.stdin.flush()
    standin_proc.stdout.readline()  # the echo: the block holds the change
    return at

def track(deck, n):
    return ("Artist %s%d" % (deck, n), "Song %s%d" % (deck, n), "Album %s%d" % (deck, n))

current = {"L": track("L", 1), "R": track("R", 1)}
send("load L %s|%s|%s" % current["L"])
send("load R %s|%s|%s" % current["R"])

programs = [Program("tracker-dynamic", dynamic, True), Program("tracker-static", static, True),
            Program("floor-dynamic", os.path.join(work, "bin", "floor-dynamic"), False),
            Program("floor-static", os.path.join(work, "bin", "floor-static"), False)]
trackers = [p for p in programs if p.tracker]
start = now()

def record_key(deck, texts):
    return (";%s;\"%s\";\"%s\";\"%s\";" % ((deck,) + texts)).encode()

# Expected records: key -> change number; per tracker the moments seen.
expected = {}
changes = []  # (number, deck loaded, written at, key of the record it should bring)
console_at = {p.name: {} for p in trackers}
file_at = {p.name: {} for p in trackers}
last_logged = {"L": current["L"], "R": current["R"]}  # the first poll logs both
idle_cpu = {}

selector = selectors.DefaultSelector()
for p in trackers:
    selector.register(p.proc.stdout, selectors.EVENT_READ, p)

def watch(timeout):
    """Waits up to timeout for console output, then looks at the playlist files. Console
    lines are timed as they arrive; the files are looked at every `timeout` seconds."""
    for event, _ in selector.select(timeout):
        p, t = event.data, now()
        if p.read_console():
            # A report names the track's artist on its first line; each artist is new.
            for key, number in expected.items():
                artist = key.split(b";")[2].strip(b"\"")
                if number not in console_at[p.name] and \
                        b"Deck.Artist :" + artist + b"\n" in p.console:
                    console_at[p.name][number] = t
    t = now()
    for p in trackers:
        for line in p.new_records():
            for key, number in expected.items():
                if key in line and number not in file_at[p.name]:
                    file_at[p.name][number] = t

def pending():
    """Whether a report is on a console whose record is not yet in the file."""
    return any(len(console_at[p.name]) > len(file_at[p.name]) for p in trackers)

next_change = start + IDLE_TO + 0.5
number = 0
deck = "L"
end = start + seconds - 2.0
while now() < end:
    t = now()
    if "from" not in idle_cpu and t >= start + IDLE_FROM:
        idle_cpu["from"] = ({p.name: cpu_ns(p.pid) for p in programs}, t)
    if "to" not in idle_cpu and t >= start + IDLE_TO:
        idle_cpu["to"] = ({p.name: cpu_ns(p.pid) for p in programs}, t)
    if t >= next_change:
        number += 1
        other = "R" if deck == "L" else "L"
        current[deck] = track(deck, number + 1)
        key = None
        if current[other] != last_logged[other]:
            key = record_key(other, current[other])
            last_logged[other] = current[other]
        written = send("load %s %s|%s|%s" % ((deck,) + current[deck]))
        if key is not None:
            expected[key] = number
        changes.append((number, deck, written, key))
        deck = other
        next_change += CHANGE_EVERY
    # Between a report and its record the file is looked at every millisecond.
    watch(0.001 if pending() else POLL_FILE)
deadline = now() + 2.0
while now() < deadline:  # the last records
    watch(0.001 if pending() else POLL_FILE)
for p in programs:
    p.stop()
standin_proc.stdin.write("quit\n")
standin_proc.stdin.close()
standin_proc.wait(timeout=10)

# --- Report --------------------------------------------------------------------------------
out = []
def say(line=""):
    out.append(line)

def mib(kib):
    return kib / 1024.0

say("Footprint of the tracker: %d s run, %d deck changes" % (seconds, len(changes)))
say()
say("%-16s %12s %12s %14s %14s %16s" % ("program", "VmHWM MiB", "time -v MiB", "CPU ms (run)",
                                          "CPU ms idle/min", "time -v user+sys"))
base = {}
for p in programs:
    (cpu_from, t_from), (cpu_to, t_to) = idle_cpu["from"], idle_cpu["to"]
    idle_per_min = (cpu_to[p.name] - cpu_from[p.name]) / 1e6 * 60.0 / (t_to - t_from)
    rss_time = int(p.time.get("Maximum resident set size (kbytes)", "0"))
    user_sys = float(p.time.get("User time (seconds)", "0")) + \
        float(p.time.get("System time (seconds)", "0"))
    p.idle_per_min = idle_per_min
    p.rss_time = rss_time
    say("%-16s %12.2f %12.2f %14.2f %14.3f %16.2f" % (
        p.name, mib(p.hwm_kib), mib(rss_time), p.cpu_ns / 1e6, idle_per_min, user_sys))
by = {p.name: p for p in programs}
say()
for kind in ("dynamic", "static"):
    t, f = by["tracker-" + kind], by["floor-" + kind]
    say("tracker-%s / floor-%s: peak RSS %.2fx (%.2f / %.2f MiB), CPU over the run %.1fx "
        "(%.1f / %.1f ms)" % (kind, kind, t.rss_time / f.rss_time, mib(t.rss_time),
                              mib(f.rss_time), t.cpu_ns / max(f.cpu_ns, 1), t.cpu_ns / 1e6,
                              f.cpu_ns / 1e6))
say()

# A plain append of one record-sized line with fsync, in the same folder, as the floor of
# the file part of the delay.
sync_ms = []
probe = os.path.join(work, "fsync-probe.txt")
for _ in range(20):
    t0 = now()
    fd = os.open(probe, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    os.write(fd, b"x" * 100 + b"\r\n")
    os.fsync(fd)
    os.close(fd)
    sync_ms.append((now() - t0) * 1e3)
say("plain open+write+fsync+close of a 102-byte line in the same folder: median %.2f ms, "
    "max %.2f ms" % (statistics.median(sync_ms), max(sync_ms)))
say()
for p in trackers:
    say("Delays of %s (ms): change written -> report on the console (waiting for the poll) "
        "-> record in the file" % p.name)
    say("%6s %4s %10s %10s %10s" % ("change", "deck", "to console", "to file", "total"))
    totals, waits, writes, missing = [], [], [], 0
    for number, deck, written, key in changes:
        if key is None:
            continue
        c, f = console_at[p.name].get(number), file_at[p.name].get(number)
        if f is None:
            missing += 1
            say("%6d %4s %10s %10s %10s" % (number, deck, "-", "-", "missing"))
            continue
        total = (f - written) * 1e3
        totals.append(total)
        if c is not None:
            waits.append((c - written) * 1e3)
            writes.append((f - c) * 1e3)
        say("%6d %4s %10s %10.1f %10.1f" % (
            number, deck, "%.1f" % ((c - written) * 1e3) if c is not None else "-",
            (f - c) * 1e3 if c is not None else float("nan"), total))
    if totals:
        say("%s: %d records, %d missing; total delay max %.1f ms, median %.1f ms; "
            "wait for the poll max %.1f ms; report to record max %.1f ms" % (
                p.name, len(totals), missing, max(totals), statistics.median(totals),
                max(waits) if waits else float("nan"), max(writes) if writes else float("nan")))
        say("%s: max delay / (poll period 1000 ms + 50 ms) = %.2f" % (
            p.name, max(totals) / 1050.0))
    say()
text = "\n".join(out) + "\n"
sys.stdout.write(text)
if report_path:
    with open(report_path, "w") as f:
        f.write(text)
PY
