#!/usr/bin/env python3
"""Prints each benchmark beside its baseline from Google Benchmark JSON files.

    bench/ratios.py RESULTS.json [MORE.json ...]

Takes the median of the repetitions when there are several. A benchmark's baseline is the
one of the same name with "_Baseline" added to its first part (BM_Poll ->
BM_Poll_Baseline), or, for FileIO, the same name with "_Posix" in place of "_FileIO".
A few reference rows compare with something that does less than the benchmark (marked
"ref"). "x time" is the benchmark's time over the baseline's (below 1: faster); "x rate"
is its throughput over the baseline's (the inverse).
"""
import json
import sys

# Comparisons with a reference that does less than the benchmark, for the explanations.
REFERENCES = [
    ("BM_ReadFile_FileIO/real_time", "BM_ReadFile_PosixReusedArray/real_time"),
    ("BM_ReadBlock_FileIO/4096/real_time", "BM_ReadBlock_PosixSequential/4096/real_time"),
    ("BM_ReadBlock_FileIO/1048576/real_time", "BM_ReadBlock_PosixSequential/1048576/real_time"),
]


def load(paths):
    """name -> (time in ns, bytes per second or None) of the median, or of the only run."""
    runs, medians = {}, {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            name = b.get("run_name", b["name"])
            if b.get("error_occurred"):
                continue
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            # Benchmarks that wait for the system are timed by the clock, the others by CPU.
            key = "real_time" if "/real_time" in name else "cpu_time"
            value = (b[key] * scale, b.get("bytes_per_second"))
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    medians[name] = value
            else:
                runs.setdefault(name, value)
    runs.update(medians)
    return runs


def baseline_of(name):
    if "_FileIO" in name:
        return name.replace("_FileIO", "_Posix", 1)
    first, sep, rest = name.partition("/")
    if first.endswith("_Baseline"):
        return None
    return first + "_Baseline" + sep + rest


def show(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return "%.3g %s" % (ns / scale, unit)
    return "%.3g ns" % ns


def main():
    results = load(sys.argv[1:])
    rows = []
    for name in sorted(results):
        base = baseline_of(name)
        if base in results:
            rows.append((name, base, ""))
    for name, base in REFERENCES:
        if name in results and base in results:
            rows.append((name, base, "ref"))
    width = max([len(r[0]) for r in rows] + [9])
    bwidth = max([len(r[1]) for r in rows] + [8])
    print("%-*s %10s  %-*s %10s %8s %8s" % (width, "benchmark", "time", bwidth, "baseline",
                                             "time", "x time", "x rate"))
    for name, base, mark in rows:
        t, b = results[name][0], results[base][0]
        print("%-*s %10s  %-*s %10s %8.2f %8.2f %s" % (width, name, show(t), bwidth, base,
                                                      show(b), t / b, b / t, mark))


if __name__ == "__main__":
    main()
