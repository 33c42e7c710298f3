#!/usr/bin/env python3
"""The benchmark's cold mode: times the tool against the floor with the page
cache dropped before every run, so that each file comes from the device.
Each round runs the floor, the tool with its look-ahead as it starts by
itself, and the tool with it turned off, each first in turn, on the plain
tree and on the zipped one where the benchmark has made it. Then peak memory
with the look-ahead running from the first file, on a small tree and on the
timed one. Needs root to drop the cache.

Usage: cold.py TOOL FLOOR WORK FILES SMALL PAIRS
"""
import os
import statistics
import subprocess
import sys
import time

tool, floor, work, files, small, pairs = sys.argv[1:7]
files, small, pairs = int(files), int(small), int(pairs)


def run(argv, lookahead=None, drop=True):
    """Wall seconds of argv, its output on /dev/null, after the cache is dropped."""
    env = dict(os.environ)
    env.pop("CARTOLOG_LOOKAHEAD", None)
    if lookahead:
        env["CARTOLOG_LOOKAHEAD"] = lookahead
    if drop:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
    start = time.perf_counter()
    done = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if done.returncode != 0:
        sys.exit("bench/run: %s failed" % " ".join(argv))
    return time.perf_counter() - start


def tree_of(mode, n):
    return os.path.join(work, "tree-%d%s" % (n, "-zip" if mode == "zip" else ""))


def tool_argv(mode, n):
    tree = tree_of(mode, n)
    if mode == "file":
        return [tool, "-recursive", "-input", tree, "-output", os.path.join(work, "out-%d.csv" % n)]
    return [tool, "-recursive", "-nofile", "-input", tree] + (["-zip"] if mode == "zip" else [])


names = {"file": "file (-output)", "stdout": "stdout (-nofile)", "zip": "-zip, one a ROM"}
print("cold cache, %d files: median of %d pairs, each run after the cache was dropped" % (files, pairs))
print("%-18s %8s %8s %8s %13s %8s %8s" % ("output", "floor s", "tool s", "ratio", "ratio range",
                                         "off s", "off ratio"))
# The zipped tree, where the benchmark has made it: the floor reads the
# archives' first 4096 bytes, as it reads the ROMs'.
modes = ["file", "stdout"] + (["zip"] if os.path.exists(tree_of("zip", files) + ".done") else [])
for mode in modes:
    floor_argv = [floor, tree_of(mode, files)]
    argv = tool_argv(mode, files)
    times = {"floor": [], "tool": [], "off": []}
    for i in range(pairs):
        # Each goes first in turn.
        order = ["floor", "tool", "off"]
        for name in order[i % 3:] + order[:i % 3]:
            times[name].append(run(floor_argv) if name == "floor" else
                               run(argv, "off" if name == "off" else None))
    ratios = [t / f for t, f in zip(times["tool"], times["floor"])]
    off = [t / f for t, f in zip(times["off"], times["floor"])]
    print("%-18s %8.3f %8.3f %8.3f %6.3f-%.3f %8.3f %8.3f" % (
        names[mode], statistics.median(times["floor"]), statistics.median(times["tool"]),
        statistics.median(ratios), min(ratios), max(ratios), statistics.median(times["off"]),
        statistics.median(off)))

if os.access("/usr/bin/time", os.X_OK):
    print("peak RSS, KiB, the look-ahead running from the first file (highest of 3 warm runs)")
    print("%-18s %9s %9s" % ("output", small, files))
    report = os.path.join(work, "rss.txt")
    for mode in ("file", "stdout"):
        peaks = []
        for n in (small, files):
            peak = 0
            for _ in range(3):
                # /usr/bin/time stands between, as this interpreter's high-water
                # mark would pass to a child of its own.
                run(["/usr/bin/time", "-f", "%M", "-o", report] + tool_argv(mode, n), "on",
                    drop=False)
                with open(report) as f:
                    peak = max(peak, int(f.read().split()[-1]))
            peaks.append(peak)
        print("%-18s %9d %9d" % (names[mode], peaks[0], peaks[1]))

# What follows in the benchmark expects its trees in memory again.
for entry in sorted(os.listdir(work)):
    if entry.startswith("tree-") and os.path.isdir(os.path.join(work, entry)):
        run([floor, os.path.join(work, entry)], drop=False)
