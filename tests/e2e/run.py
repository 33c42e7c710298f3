#!/usr/bin/env python3
"""Runs the built program on trees that the cases in cases.py describe, and
checks every byte it prints and writes, its status, and that it left every
other file as it was.

Usage: run.py PROGRAM [--wine WINE] [--wrap CMD] [--shim LIB] [--lookahead MODE] [-k TEXT]
  --wine WINE  PROGRAM is the Windows build: run it under WINE
  --lookahead MODE  CARTOLOG_LOOKAHEAD for every case (default: unset, the
               program decides; "on" starts the look-ahead at the first file)
  --wrap CMD   run each case under CMD (valgrind, say), which must show its
               own findings as status 99
  --shim LIB   the fault shim, for the cases that strike between listing and read
  -k TEXT      only the cases whose name holds TEXT
"""
import argparse
import dataclasses
import fcntl
import hashlib
import os
import pty
import resource
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import termios

import cases as table


class System:
    """What differs between the two builds, as the cases see it."""

    def __init__(self, windows, root):
        self.windows = windows
        self.sep = "\\" if windows else "/"
        self.nl = "\r\n" if windows else "\n"
        # The tree's root as the program names it: wine shows / as Z:.
        self.root = "Z:" + root.replace("/", "\\") if windows else root
        # A drive letter that a case may lend to one of its directories: a
        # link in wine's folder of drives, made for that case alone.
        self.drive, self.drive_link = "", ""
        if windows:
            drives = os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")),
                                  "dosdevices")
            letter = next(c for c in "qrstuvwxy" if not os.path.lexists(os.path.join(drives, c + ":")))
            self.drive, self.drive_link = letter.upper() + ":", os.path.join(drives, letter + ":")
        # The tree's root as a share, \\cartolog-e2e\NAME: a link in wine's
        # folder of servers, named for this run, made once for every case.
        self.share, self.share_link = "", ""
        if windows:
            name = os.path.basename(os.path.dirname(root))
            self.share, self.share_link = "\\\\cartolog-e2e\\" + name, os.path.join(drives, "unc", "cartolog-e2e", name)

    def p(self, relative):
        """A path below the working directory, with the system's separator."""
        return relative.replace("/", self.sep)

    def a(self, relative=""):
        """The absolute path of `relative` below the tree's root."""
        return self.root + (self.sep + self.p(relative) if relative else "")

    def listing_text(self, code):
        """What a failed listing appends: the system's own text for `code`."""
        if self.windows:
            return {"ENOENT": "Path not found.\r\n", "ENOTDIR": "Invalid name.\r\n",
                    "EACCES": "Access denied.\r\n"}[code]
        return os.strerror({"ENOENT": 2, "ENOTDIR": 20, "EACCES": 13}[code])


def expand(value, nl):
    """Expected bytes: text has its line ends stored as the system stores
    them, bytes stand as they are, and a list joins both."""
    if isinstance(value, list):
        return b"".join(expand(v, nl) for v in value)
    return value.replace("\n", nl).encode("latin-1") if isinstance(value, str) else value


def rows_sorted(data, header):
    """Rows come in listing order: sorts the lines between header lines. The
    rows of -missing, which name no file, follow in the DAT's order."""
    out, block = [], []
    for line in data.split(b"\n") + [None]:
        if line is None or line + b"\n" == header or line + b"\r\n" == header:
            out += sorted(row for row in block if not row.startswith(b'"",'))
            out += [row for row in block if row.startswith(b'"",')] + ([line] if line is not None else [])
            block = []
        else:
            block.append(line)
    return b"\n".join(out)


def build(root, tree):
    for rel, what in tree.items():
        # Names are bytes: text stands for them in latin-1.
        path = os.path.join(os.fsencode(root), rel.encode("latin-1") if isinstance(rel, str) else rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if what is table.DIR:
            os.makedirs(path, exist_ok=True)
        elif what is table.FIFO:
            os.mkfifo(path)
        elif what is table.SOCKET:
            socket.socket(socket.AF_UNIX).bind(path)
        elif isinstance(what, table.Link):
            os.symlink(what.target, path)
        else:
            with open(path, "wb") as f:
                f.write(what.head if isinstance(what, table.Sparse) else what)
                if isinstance(what, table.Sparse):
                    f.truncate(what.size)


def snapshot(root):
    """Every entry below root: its kind and its bytes or target."""
    seen = {}
    for top, dirs, files in os.walk(os.fsencode(root)):
        for path in (os.path.join(top, name) for name in dirs + files):
            rel = os.path.relpath(path, os.fsencode(root))
            if os.path.islink(path):
                seen[rel] = b"link:" + os.readlink(path)
            elif os.path.isfile(path) and os.path.getsize(path) <= 1 << 24:
                with open(path, "rb") as f:
                    seen[rel] = hashlib.sha1(f.read()).digest()
            else:
                seen[rel] = b"dir" if os.path.isdir(path) else b"other"
    return seen


def run_case(case, options, root):
    """Runs the program as the case says: its status, standard output and
    standard error."""
    program = os.path.abspath(options.program)
    if case.program:  # a copy in tools/, called as the case says
        program = case.program + (".exe" if options.wine else "")
    argv = ([options.wine] if options.wine else shlex.split(options.wrap or "")) + [program] + case.args
    env = {k: v for k, v in os.environ.items() if k != "CARTOLOG_LOOKAHEAD"}
    if options.lookahead:
        env["CARTOLOG_LOOKAHEAD"] = options.lookahead
    env.update(case.env)
    if options.wine:
        env.update(WINEDEBUG="-all", LC_ALL="C.UTF-8")
    if case.fault:
        env.update(LD_PRELOAD=os.path.abspath(options.shim), CARTOLOG_FAULT=case.fault,
                   ASAN_OPTIONS=env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
    target = case.stdout and os.path.join(root, case.stdout)  # an absolute path stays
    closed = case.streams.get("closed", ())
    # A terminal on one stream (the program then sees a person), or a pipe
    # whose reader goes away after a few lines, as `| head` does.
    special, lines = case.streams.get("tty", ""), 0
    if "early" in case.streams:
        special, lines = case.streams["early"]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        streams = {"stdout": open(target, "w+b") if target else out, "stderr": err}
        if "tty" in case.streams:
            master, slave = pty.openpty()
            streams[special] = slave
            # "both": standard output on the same terminal, its bytes among stderr's.
            if case.streams.get("both"):
                streams["stdout"] = slave
        elif special:
            streams[special] = subprocess.PIPE
        def prepare():
            for fd in closed:
                os.close(fd)
            if case.streams.get("both") == "/dev/tty":  # the same terminal by its other name
                os.setsid()
                fcntl.ioctl(2, termios.TIOCSCTTY, 0)
                os.dup2(os.open("/dev/tty", os.O_WRONLY), 1)
            if case.files_open:
                resource.setrlimit(resource.RLIMIT_NOFILE, (case.files_open, case.files_open))
            if case.memory:
                resource.setrlimit(resource.RLIMIT_AS, (case.memory, case.memory))
            if case.locked and os.getuid() == 0:  # root reads every folder: run as nobody
                os.setgid(65534)
                os.setuid(65534)
        proc = subprocess.Popen(argv, cwd=os.path.join(root, case.cwd), env=env,
                                stdin=subprocess.DEVNULL, preexec_fn=prepare, **streams)
        seen = b""
        if "tty" in case.streams:
            os.close(slave)
            while chunk := read_terminal(master):
                seen += chunk
            os.close(master)
            seen = seen.replace(b"\r\n", b"\n")  # the terminal's own line ends
        elif special:
            seen = b"".join(getattr(proc, special).readline() for _ in range(lines))
            getattr(proc, special).close()
        try:
            proc.wait(timeout=120)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise
        got = {}
        for name in ("stdout", "stderr"):
            # A device given for standard output keeps what it was given.
            if name == special or (name == "stdout" and (case.stdout.startswith("/") or case.streams.get("both"))):
                got[name] = seen if name == special else b""
            else:
                streams[name].seek(0)
                got[name] = streams[name].read()
    return proc.returncode, got["stdout"], got["stderr"]


def read_terminal(master):
    try:
        return os.read(master, 65536)
    except OSError:  # the program has closed the terminal
        return b""


def check(case, options, system, root):
    """Runs one case in `root`; returns its failures as text."""
    build(root, case.tree)
    for rel in case.locked:
        os.chmod(os.path.join(root, rel), 0)
    if case.program:
        os.makedirs(os.path.join(root, "tools"), exist_ok=True)
        shutil.copy(options.program, os.path.join(root, "tools", os.path.basename(options.program)))
    before = snapshot(root)
    if case.drive:
        os.symlink(os.path.join(root, case.drive), system.drive_link)
    try:
        status, out, err = run_case(case, options, root)
    finally:
        if case.drive:
            os.unlink(system.drive_link)
    problems = []
    header = expand(table.HEADER, system.nl)

    def compare(what, got, wanted, sort):
        if isinstance(wanted, table.Check):
            why = wanted.test(got, system)
            if why:
                problems.append("%s: %s" % (what, why))
            return
        wanted = expand(wanted, system.nl)
        if sort:
            got, wanted = rows_sorted(got, header), rows_sorted(wanted, header)
        if got != wanted:
            at = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b), min(len(got), len(wanted)))
            problems.append("%s differs at byte %d:\n  got:    %r\n  wanted: %r"
                            % (what, at, got[max(0, at - 200):at + 300], wanted[max(0, at - 200):at + 300]))

    compare("stdout", out, case.out, True)
    compare("stderr", err, case.err, case.sort_err)
    if status != case.status:
        problems.append("status %d, wanted %d" % (status, case.status))
    if case.twin:  # a second run that must give the very same bytes
        again = run_case(dataclasses.replace(case, env=dict(case.env, **case.twin)), options, root)
        if again != (status, out, err):
            problems.append("a run with %r differs from the first" % case.twin)
    for rel in case.locked:
        os.chmod(os.path.join(root, rel), 0o755)
    after = snapshot(root)
    for rel, wanted in case.files.items():
        key = rel.encode("latin-1")
        if key not in after:
            problems.append("%s was not written" % rel)
        else:
            with open(os.path.join(os.fsencode(root), key), "rb") as f:
                compare(rel, f.read(), wanted, True)
    # What the run may change: the files it writes, and the one a fault strikes.
    struck = case.fault.split(":")[0].encode()
    for rel in set(before) | set(after):
        if (rel in [f.encode("latin-1") for f in case.files] or rel == case.stdout.encode()
                or (struck and os.path.basename(rel) == struck)):
            continue
        if before.get(rel) != after.get(rel):
            problems.append("%s changed (%s -> %s)" % (rel, before.get(rel, "none"), after.get(rel, "none")))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--wine")
    parser.add_argument("--wrap")
    parser.add_argument("--shim")
    parser.add_argument("--lookahead")
    parser.add_argument("-k", default="")
    options = parser.parse_args()
    if options.wine:
        # One server for every run, and wine's own services started once with
        # no pipe of ours: a service holding a case's pipe open would keep the
        # case waiting until the server ends.
        env = dict(os.environ, WINEDEBUG="-all")
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.Popen([os.path.join(os.path.dirname(options.wine), "wineserver"), "-f", "-p5"],
                         env=env, start_new_session=True, **quiet)
        subprocess.run([options.wine, options.program, "-version"], env=env, **quiet)
    failed = ran = 0
    base = tempfile.mkdtemp(prefix="cartolog-e2e-")
    os.chmod(base, 0o755)  # for the cases that run as another user
    root = os.path.join(base, "t")
    system = System(bool(options.wine), root)
    if system.share_link:
        os.makedirs(os.path.dirname(system.share_link), exist_ok=True)
        os.symlink(root, system.share_link)
    try:
        for case in table.cases(system):
            # Under a wrapper the program is not the running executable.
            wrapped = options.wrap and (case.fault or case.streams or case.program or case.slow
                                        or case.files_open or case.memory)
            # A sanitizer's shadow memory does not fit a bound on the address space.
            wrapped = wrapped or (case.memory and ("ASAN_OPTIONS" in os.environ or "TSAN_OPTIONS" in os.environ))
            if (options.k not in case.name or case.only == ("posix" if options.wine else "windows")
                    or (case.fault and not options.shim) or wrapped
                    or any(not os.path.exists(n) for n in case.needs)):
                continue
            os.makedirs(root)
            try:
                problems = check(case, options, system, root)
            except subprocess.TimeoutExpired:
                problems = ["did not end within the time limit"]
            for rel in case.locked:
                os.chmod(os.path.join(root, rel), 0o755)
            shutil.rmtree(root)
            ran += 1
            if problems:
                failed += 1
                print("FAIL %s\n  %s" % (case.name, "\n  ".join(problems)), flush=True)
    finally:
        shutil.rmtree(base, ignore_errors=True)
        if system.share_link:
            os.unlink(system.share_link)
    print("%d cases, %d failed" % (ran, failed))
    return 1 if failed or not ran else 0


if __name__ == "__main__":
    sys.exit(main())
