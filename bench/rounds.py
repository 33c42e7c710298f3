#!/usr/bin/env python3
"""Times runs against a baseline in rounds. Each round runs the baseline and
every other run once, each first in turn, so that none always goes first or
last. For each run it prints the median wall and CPU seconds and the median
of its per-round ratios to the baseline, with the lowest and highest.

Usage: rounds.py [--drop] [--warm-up] [--rss FILE] ROUNDS
                 -- NAME [VAR=VALUE ...] PROGRAM [ARG ...] [-- NAME ...]

The first run named is the baseline. VAR=VALUE words before a program set
its environment, as env(1) takes them; CARTOLOG_LOOKAHEAD is unset unless
a run sets it. Output goes to /dev/null.
  --drop      drop the page, name and attribute caches before every run (root)
  --warm-up   one untimed round first
  --rss FILE  also the peak resident memory of each run, highest of 3 warm
              runs, as /usr/bin/time writes it to FILE
"""
import os
import statistics
import sys
import tempfile
import time


def parse(args):
    options = {"drop": False, "warm-up": False, "rss": None}
    while args and args[0].startswith("--") and args[0] != "--":
        name = args.pop(0)[2:]
        if name not in options:
            sys.exit("rounds.py: unknown option --" + name)
        options[name] = args.pop(0) if name == "rss" else True
    if len(args) < 2 or args[1] != "--":
        sys.exit(__doc__.split("\n\n")[1])
    rounds = int(args[0])
    runs, current = [], None
    for word in args[1:]:
        if word == "--":
            current = None
        elif current is None:
            current = {"name": word, "env": {}, "argv": []}
            runs.append(current)
        elif not current["argv"] and "=" in word:
            key, value = word.split("=", 1)
            current["env"][key] = value
        else:
            current["argv"].append(word)
    if len(runs) < 2 or not all(run["argv"] for run in runs):
        sys.exit("rounds.py: a baseline and at least one other run, each with a program")
    return options, rounds, runs


def spawn(run, drop, prefix=()):
    """Wall and CPU seconds of one run; the whole benchmark stops if it fails."""
    env = dict(os.environ)
    env.pop("CARTOLOG_LOOKAHEAD", None)
    env.update(run["env"])
    if drop:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
    argv = list(prefix) + run["argv"]
    with tempfile.TemporaryFile() as errors:
        actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                   (os.POSIX_SPAWN_DUP2, errors.fileno(), 2)]
        start = time.perf_counter_ns()
        pid = os.posix_spawnp(argv[0], argv, env, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = (time.perf_counter_ns() - start) / 1e9
        if os.waitstatus_to_exitcode(status) != 0:
            errors.seek(0)
            sys.exit("bench/run: %s failed:\n%s" % (" ".join(argv),
                                                    errors.read()[-2000:].decode("latin-1")))
    return wall, usage.ru_utime + usage.ru_stime


def main():
    options, rounds, runs = parse(sys.argv[1:])
    if options["warm-up"]:
        for run in runs:
            spawn(run, options["drop"])
    times = [[] for _ in runs]
    for i in range(rounds):
        order = list(range(len(runs)))
        for k in order[i % len(runs):] + order[:i % len(runs)]:
            times[k].append(spawn(runs[k], options["drop"]))
    rss = []
    if options["rss"]:
        # /usr/bin/time stands between, as this interpreter's high-water mark
        # would pass to a child of its own.
        for run in runs:
            peak = 0
            for _ in range(3):
                spawn(run, False, ["/usr/bin/time", "-f", "%M", "-o", options["rss"]])
                with open(options["rss"]) as f:
                    peak = max(peak, int(f.read().split()[-1]))
            rss.append(peak)

    width = max(len(run["name"]) for run in runs)
    print("%-*s %8s %8s %23s %9s%s" % (width, "run", "wall s", "CPU s", "wall ratio (range)",
                                       "CPU ratio", "  peak RSS KiB (max of 3)" if rss else ""))
    base = times[0]
    for k, run in enumerate(runs):
        wall = statistics.median(t[0] for t in times[k])
        cpu = statistics.median(t[1] for t in times[k])
        ratios = ""
        if k:
            walls = [t[0] / b[0] for t, b in zip(times[k], base)]
            cpus = [t[1] / b[1] for t, b in zip(times[k], base)]
            ratios = "%7.3f (%.3f-%.3f) %9.3f" % (statistics.median(walls), min(walls),
                                                  max(walls), statistics.median(cpus))
        print("%-*s %8.3f %8.3f %33s%s" % (width, run["name"], wall, cpu, ratios,
                                          "  %22d" % rss[k] if rss else ""))


if __name__ == "__main__":
    main()
