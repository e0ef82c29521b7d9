#!/usr/bin/env python3
"""Throughput and peak memory of `setlist csv`, beside Python's csv module doing the same
conversion in the same run.

    bench/setlist/csv_throughput.py [--setlist PATH] [--records N,...] [--repeat N]

For each size it generates a playlist as the tracker writes it (about 100 bytes a record,
some Latin-1 letters, commas and quotes), converts it with `setlist csv` and with the
Python baseline, each in a process of its own writing to a file, checks that both outputs
are the same bytes, and reports the median wall time, the throughput ratio and each
process's peak resident memory (from GNU time, /usr/bin/time). Files go to TMPDIR, else /tmp.
"""

import argparse
import csv
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HEADER = b'Date Time;Deck;"Artist";"Song";"Album";Year;Month;Day;Hour;Minute;Second\r\n'
SEPARATOR = '";"'
WORDS = ("Marlow", "Tide", "Paper", "Harbour", "Night", "Ferries", "Osk", "Varren", "Lanterns",
         "Under", "Ice", "Coldwater", "Beyoncé", "Müller", "Café", "Lumière", "Signal", "&",
         "Static", "Left", "Bank,", "Vol.", "2", '12"', "Mix", "Señor", "Zoë", "(Remix)")


def generate(path, records):
    rng = random.Random(records)
    t = 1796684911  # 2026-12-07 23:08:31 UTC, taken as clock time
    with open(path, "wb") as f:
        f.write(HEADER)
        chunk = []
        for i in range(records):
            t += rng.randint(120, 420)
            s = time.gmtime(t)
            texts = SEPARATOR.join(" ".join(rng.choice(WORDS) for _ in range(n)) for n in (2, 3, 2))
            chunk.append(time.strftime("%Y.%m.%d %H:%M:%S;", s).encode() + (b"L" if i % 2 else b"R")
                         + b';"' + texts.encode("latin-1")
                         + time.strftime('";%Y;%m;%d;%H;%M;%S\r\n', s).encode())
            if len(chunk) == 10000:
                f.writelines(chunk)
                chunk = []
        f.writelines(chunk)


def python_convert(source, target):
    """The baseline: the same reading rules, Python's csv module for the writing."""
    with open(source, "rb") as f, open(target, "w", encoding="utf-8", newline="") as out:
        out.write("\ufeff")
        writer = csv.writer(out, lineterminator="\r\n")
        writer.writerow(("time", "deck", "artist", "song", "album"))
        for raw in f:
            line = raw.decode("latin-1").rstrip("\n").removesuffix("\r")
            if len(line) < 50 or line[19:21] not in (";L", ";R") or line[-21:-19] != '";':
                continue
            texts = line[23:-21]
            first, last = texts.find(SEPARATOR), texts.rfind(SEPARATOR)
            if first < 0 or last < first + 3:
                continue
            d, c = line[:10].replace(".", "-"), line[11:19]
            writer.writerow((d + "T" + c, line[20], texts[:first], texts[first + 3:last],
                             texts[last + 3:]))


def measure(command, stdout_path):
    """Wall seconds and peak RSS (KiB) of one process writing its standard output to a file."""
    # GNU time forks the program from its own small process and reports its peak. A child
    # forked or spawned from this interpreter would report the interpreter's pages instead.
    with open(stdout_path, "wb") as out, tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *command],
                              stdout=out)
        elapsed = time.perf_counter() - start
        if done.returncode != 0:
            sys.exit(f"{command[0]} failed with status {done.returncode}")
        return elapsed, int(report.read().split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--setlist", default=os.path.join(ROOT, "build/default/setlist/setlist"))
    parser.add_argument("--records", default="100000,1000000")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--python-convert", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.python_convert:
        python_convert(*args.python_convert)
        return
    if not os.access(args.setlist, os.X_OK):
        sys.exit(f"no {args.setlist}: build it first (cmake --preset default && "
                 "cmake --build --preset default)")

    with tempfile.TemporaryDirectory(prefix="zv-setlist-bench-") as folder:
        playlist, ours, theirs = (os.path.join(folder, n) for n in ("p.txt", "a.csv", "b.csv"))
        print(f"{'records':>9} {'MB':>7} {'setlist s':>10} {'MB/s':>7} {'RSS MiB':>8} "
              f"{'python s':>9} {'MB/s':>6} {'RSS MiB':>8} {'ratio':>6}")
        for records in (int(n) for n in args.records.split(",")):
            generate(playlist, records)
            size = os.path.getsize(playlist) / 1e6
            runs = {"setlist": [], "python": []}
            for _ in range(args.repeat):
                runs["setlist"].append(measure([args.setlist, "csv", playlist], ours))
                runs["python"].append(measure([sys.executable, __file__, "--python-convert",
                                               playlist, theirs], os.devnull))
            with open(ours, "rb") as a, open(theirs, "rb") as b:
                if a.read() != b.read():
                    sys.exit("setlist and the Python baseline wrote different CSV")
            ts = statistics.median(t for t, _ in runs["setlist"])
            tp = statistics.median(t for t, _ in runs["python"])
            rs = max(r for _, r in runs["setlist"]) / 1024
            rp = max(r for _, r in runs["python"]) / 1024
            print(f"{records:>9} {size:>7.1f} {ts:>10.3f} {size / ts:>7.0f} {rs:>8.2f} "
                  f"{tp:>9.3f} {size / tp:>6.0f} {rp:>8.2f} {tp / ts:>6.1f}")


if __name__ == "__main__":
    main()
