#!/usr/bin/env python3
"""Runs the built program on trees that the cases in cases.py describe, and
checks every byte it prints and writes, its status, and that it left every
other file as it was.

Usage: run.py PROGRAM [--wine WINE] [--wrap CMD] [--shim LIB] [-k TEXT]
  --wine WINE  PROGRAM is the Windows build: run it under WINE
  --wrap CMD   run each POSIX case under CMD (valgrind, say); its own
               failures must show as status 99
  --shim LIB   the fault shim, for the cases that strike between listing and read
  -k TEXT      only the cases whose name holds TEXT
"""
import argparse
import hashlib
import os
import pty
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile

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
                    "EMPTY": "File not found.\r\n"}[code]
        return os.strerror({"ENOENT": 2, "ENOTDIR": 20}[code])


def expand(value, root, nl):
    """Expected bytes: text has its line ends stored as the system stores
    them, bytes stand as they are, a list joins both, and a callable is given
    the tree's root first."""
    if callable(value):
        value = value(root)
    if isinstance(value, list):
        return b"".join(expand(v, root, nl) for v in value)
    if isinstance(value, str):
        return value.replace("\n", nl).encode("latin-1")
    return value


def rows_sorted(data, header):
    """Rows come in listing order: sorts the lines between header lines."""
    lines, block, out = data.split(b"\n"), [], []
    for line in lines + [None]:
        if line is None or line + b"\n" == header or line + b"\r\n" == header:
            out += sorted(block)
            block = []
            if line is not None:
                out.append(line)
        else:
            block.append(line)
    return b"\n".join(out)


def build(root, tree):
    for rel, spec in tree.items():
        # Names are bytes: text stands for them in latin-1.
        path = os.path.join(os.fsencode(root), rel.encode("latin-1") if isinstance(rel, str) else rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if spec is table.DIR:
            os.makedirs(path, exist_ok=True)
        elif spec is table.FIFO:
            os.mkfifo(path)
        elif spec is table.SOCKET:
            socket.socket(socket.AF_UNIX).bind(path)
        elif isinstance(spec, table.Link):
            os.symlink(spec.target, path)
        elif isinstance(spec, table.Sparse):
            with open(path, "wb") as f:
                f.write(spec.head)
                f.truncate(spec.size)
        else:
            with open(path, "wb") as f:
                f.write(spec)


def snapshot(root):
    """Every entry below root: its kind and its bytes or target."""
    seen = {}
    for top, dirs, files in os.walk(os.fsencode(root)):
        for name in dirs + files:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, os.fsencode(root))
            if os.path.islink(path):
                seen[rel] = b"link:" + os.readlink(path)
            elif os.path.isfile(path) and not os.path.getsize(path) > (1 << 24):
                with open(path, "rb") as f:
                    seen[rel] = hashlib.sha1(f.read()).digest()
            else:
                seen[rel] = b"dir" if os.path.isdir(path) else b"special"
    return seen


def run_case(case, options, root, system):
    program = os.path.abspath(options.program)
    if case.program:  # a copy in tools/, called as the case says
        program = case.program + (".exe" if options.wine else "")
    argv = [a(system) if callable(a) else a for a in case.args]
    if options.wine:
        argv = [options.wine, program] + argv
    else:
        argv = shlex.split(options.wrap or "") + [program] + argv
    env = dict(os.environ, **case.env)
    if options.wine:
        env.update(WINEDEBUG="-all", LC_ALL="C.UTF-8")
    if case.fault:
        env.update(LD_PRELOAD=os.path.abspath(options.shim), CARTOLOG_FAULT=case.fault,
                   ASAN_OPTIONS=env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
    cwd = os.path.join(root, case.cwd)
    out_file = open(case.stdout if case.stdout.startswith("/") else os.path.join(root, case.stdout),
                    "wb") if case.stdout else None
    closed = case.streams.get("closed", ())
    pre = (lambda: [os.close(fd) for fd in closed]) if closed else None
    if case.streams.get("tty"):
        # A terminal on the named stream, so that the program sees a person.
        master, slave = pty.openpty()
        fds = {"stdout": slave if case.streams["tty"] == "stdout" else subprocess.PIPE,
               "stderr": slave if case.streams["tty"] == "stderr" else subprocess.PIPE}
        proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, **fds)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        other = (proc.stdout or proc.stderr).read()
        proc.wait(timeout=60)
        os.close(master)
        seen = seen.replace(b"\r\n", b"\n")  # the terminal's own line ends
        out, err = (seen, other) if case.streams["tty"] == "stdout" else (other, seen)
        return proc.returncode, out, err
    if case.streams.get("stderr_lines") is not None:
        # Standard error a pipe that its reader closes after a few lines.
        proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=out_file or subprocess.DEVNULL, stderr=subprocess.PIPE)
        for _ in range(case.streams["stderr_lines"]):
            proc.stderr.readline()
        proc.stderr.close()
        proc.wait(timeout=60)
        return proc.returncode, b"", b""
    done = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=out_file or subprocess.PIPE, stderr=subprocess.PIPE,
                          preexec_fn=pre, timeout=120)
    out = done.stdout or b""
    if out_file and not case.stdout.startswith("/"):
        with open(out_file.name, "rb") as f:
            out = f.read()
    return done.returncode, out, done.stderr


def check(case, options, system, root):
    """Runs one case in `root`; returns its failures as text."""
    build(root, case.tree)
    if case.program:
        os.makedirs(os.path.join(root, "tools"), exist_ok=True)
        shutil.copy(options.program, os.path.join(root, "tools", os.path.basename(options.program)))
    before = snapshot(root)
    if case.drive:
        os.symlink(os.path.join(root, case.drive), system.drive_link)
    try:
        status, out, err = run_case(case, options, root, system)
    finally:
        if case.drive:
            os.unlink(system.drive_link)
    problems = []
    header = expand(table.HEADER, root, system.nl)

    def compare(what, got, wanted, sort):
        if callable(wanted) and not isinstance(wanted, type):
            wanted = wanted(root)
        if isinstance(wanted, table.Check):
            why = wanted.test(got, system)
            if why:
                problems.append("%s: %s" % (what, why))
            return
        wanted = expand(wanted, root, system.nl)
        if sort:
            got, wanted = rows_sorted(got, header), rows_sorted(wanted, header)
        if got != wanted:
            at = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b), min(len(got), len(wanted)))
            start = max(0, at - 200)
            problems.append("%s differs at byte %d:\n  got:    %r\n  wanted: %r"
                            % (what, at, got[start:at + 300], wanted[start:at + 300]))

    compare("stdout", out, case.out, True)
    compare("stderr", err, case.err, case.sort_err)
    if status != case.status:
        problems.append("status %d, wanted %d" % (status, case.status))
    after = snapshot(root)
    for rel, wanted in case.files.items():
        key = rel.encode("latin-1")
        if key not in after:
            problems.append("%s was not written" % rel)
            continue
        with open(os.path.join(os.fsencode(root), key), "rb") as f:
            compare(rel, f.read(), wanted, True)
        before.pop(key, None)
        after.pop(key)
    if case.stdout and not case.stdout.startswith("/"):
        before.pop(os.fsencode(case.stdout), None)
        after.pop(os.fsencode(case.stdout), None)
    if case.fault:  # the fault changes the file it strikes
        struck = case.fault.split(":")[0].encode()
        for seen in (before, after):
            for rel in [r for r in seen if os.path.basename(r) == struck]:
                del seen[rel]
    for rel in sorted(set(before) | set(after)):
        if before.get(rel) != after.get(rel):
            problems.append("%s changed (%s -> %s)" % (rel, before.get(rel, "none"),
                                                       after.get(rel, "none")))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--wine")
    parser.add_argument("--wrap")
    parser.add_argument("--shim")
    parser.add_argument("-k", default="")
    options = parser.parse_args()
    failed = ran = 0
    if options.wine:
        # One server for every run, and wine's own services started once with
        # no pipe of ours: a service holding a case's pipe open would keep the
        # case waiting until the server ends.
        env = dict(os.environ, WINEDEBUG="-all")
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.Popen([os.path.join(os.path.dirname(options.wine), "wineserver"), "-f", "-p5"],
                         env=env, start_new_session=True, **quiet)
        subprocess.run([options.wine, options.program, "-version"], env=env, **quiet)
    base = tempfile.mkdtemp(prefix="cartolog-e2e-")
    try:
        system = System(bool(options.wine), os.path.join(base, "t"))
        for case in table.cases(system):
            # Under a wrapper the program is not the running executable.
            wrapped = bool(options.wrap) and (case.fault or case.streams or case.program)
            if (options.k not in case.name or case.only == ("posix" if options.wine else "windows")
                    or (case.fault and not options.shim) or wrapped
                    or any(not os.path.exists(n) for n in case.needs)):
                continue
            root = os.path.join(base, "t")
            os.makedirs(root)
            try:
                problems = check(case, options, system, root)
            except subprocess.TimeoutExpired:
                problems = ["did not end within the time limit"]
            finally:
                subprocess.run(["chmod", "-R", "u+rwx", root], stderr=subprocess.DEVNULL)
                shutil.rmtree(root, ignore_errors=True)
            ran += 1
            if problems:
                failed += 1
                print("FAIL %s\n  %s" % (case.name, "\n  ".join(problems)), flush=True)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("%d cases, %d failed" % (ran, failed))
    return 1 if failed or not ran else 0


if __name__ == "__main__":
    sys.exit(main())
