"""The end-to-end cases: each a tree to make, a command line, and every byte
the run must print and write. run.py runs them on either build; `S` tells
what differs between the two (separator, line end, a listing's error text).

Expected text is written with "\n" line ends and latin-1 characters for
bytes; bytes values stand as they are."""
import csv
import errno
import hashlib
import io
import os
import re
import struct
import zipfile
import zlib
from dataclasses import dataclass, field

HEADER = ("Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
          "ROM Size in KiB,RAM Size in KiB,Destination,Version\n")
VERIFY_HEADER = HEADER[:-1] + ",Logo,Header Checksum,Global Checksum\n"
HASH_COLUMNS = ",File Size,CRC32,MD5,SHA1"
DAT_COLUMNS = HASH_COLUMNS + ",DAT Game,DAT ROM,DAT Status"
MARK = b"\xef\xbb\xbf"
DIR, FIFO, SOCKET = object(), object(), object()
ERANGE, ENOENT, ENOSPC, EILSEQ = (os.strerror(n) for n in (errno.ERANGE, errno.ENOENT,
                                                          errno.ENOSPC, errno.EILSEQ))


@dataclass
class Link:
    target: str


@dataclass
class Sparse:
    head: bytes
    size: int


@dataclass
class Check:
    """An expectation that a function tests: it returns what is wrong, or None."""
    test: object


@dataclass
class Case:
    name: str
    args: list
    tree: dict = field(default_factory=dict)
    out: object = ""
    err: object = ""
    status: int = 0
    files: dict = field(default_factory=dict)  # written by the run: path -> bytes
    cwd: str = ""
    stdout: str = ""       # a path for standard output instead of a pipe
    only: str = ""         # "posix" or "windows"
    env: dict = field(default_factory=dict)
    fault: str = ""        # NAME:ACTION for the fault shim
    streams: dict = field(default_factory=dict)
    program: str = ""      # run a copy of the program from here
    needs: tuple = ()      # paths that must exist on this machine
    drive: str = ""        # a directory that the case lends a drive letter (wine)
    twin: dict = field(default_factory=dict)  # env of a second run with the same bytes
    files_open: int = 0    # at most this many files open at once
    memory: int = 0        # at most this many bytes of address space
    sort_err: bool = False
    slow: bool = False     # too slow under a wrapper such as valgrind
    locked: tuple = ()     # folders that the run may not read (it runs as nobody if root)


def rom(title, size=4096, **at):
    """A ROM image told apart by its title: MBC1, 64 KiB, no RAM, worldwide.
    `at` sets more bytes: at_0x143=0x80."""
    image = bytearray(size)
    image[0x134:0x134 + len(title)] = title.encode("latin-1")
    image[0x147], image[0x148], image[0x14A] = 1, 1, 1
    for name, value in at.items():
        offset = int(name[3:], 16)
        data = value if isinstance(value, bytes) else bytes([value])
        image[offset:offset + len(data)] = data
    return bytes(image)


LOGO = bytes.fromhex("CEED6666CC0D000B03730083000C000D0008111F8889000EDCCC6EE6DDDDD999"
                     "BBBB67636E0EECCCDDDC999FBBB9333E")


def valid(title, size=32768, spoil=None):
    """A ROM image that passes every check of -verify, worked out here; with
    `spoil` one check's bytes are changed after the others are made right."""
    image = bytearray(rom(title, size))
    image[0x104:0x134] = LOGO
    if spoil == "logo":
        image[0x104] ^= 1
    x = 0
    for byte in image[0x134:0x14D]:
        x = (x - byte - 1) & 0xFF
    image[0x14D] = x if spoil != "header" else x ^ 1
    total = (sum(image) - image[0x14E] - image[0x14F]) & 0xFFFF
    image[0x14E:0x150] = (total ^ (1 if spoil == "global" else 0)).to_bytes(2, "big")
    return bytes(image)


def q(text):
    return '"' + text.replace('"', '""') + '"'


def row(path, title, rest='"","None","None","No","MBC1","64","0","Worldwide","0"', checks=()):
    return ",".join([q(path), q(title), rest] + [q(c) for c in checks]) + "\n"


def identity(data):
    """The four fields of -hash, worked out here."""
    return [str(len(data)), "%08x" % zlib.crc32(data), hashlib.md5(data).hexdigest(),
            hashlib.sha1(data).hexdigest()]


def sparse_identity(head, size):
    """The fields of -hash for `head` followed by zeros up to `size`."""
    crc, md5, sha1 = zlib.crc32(head), hashlib.md5(head), hashlib.sha1(head)
    zeros, left = bytes(1 << 24), size - len(head)
    while left:
        part = zeros[:min(left, len(zeros))]
        crc = zlib.crc32(part, crc)
        md5.update(part)
        sha1.update(part)
        left -= len(part)
    return [str(size), "%08x" % crc, md5.hexdigest(), sha1.hexdigest()]


def xml_dat(*games):
    """A DAT in the XML form from (game, rom, attributes) triples."""
    body = "".join('<game name="%s"><rom name="%s" %s/></game>\n' % (game, name, " ".join(
        '%s="%s"' % item for item in attributes.items())) for game, name, attributes in games)
    return ('<?xml version="1.0"?>\n<!DOCTYPE datafile PUBLIC "-//Test//DTD DAT//EN" '
            '"http://example.invalid/datafile.dtd">\n<datafile>\n<header><name>t</name></header>\n'
            + body + "</datafile>\n").encode()


def dat_of(data, **more):
    """The attributes of a DAT entry for `data`."""
    size, crc, md5, sha1 = identity(data)
    return dict(dict(size=size, crc=crc, md5=md5, sha1=sha1), **more)


def terminal_text(expected):
    """Checks what a terminal shows: a progress line was drawn, and once each
    line is taken as a terminal shows it (the text after its last carriage
    return), the messages stand as expected."""
    def test(data, S):
        shown = "\n".join(line.rsplit("\r", 1)[-1].rstrip(" ")
                          for line in data.decode("latin-1").split("\n")).rstrip("\n")
        if b" files, " not in data:
            return "no progress line"
        if data.endswith(b" "):
            return "the cursor is left after the cleared line"
        return None if shown == expected.rstrip("\n") else "shown: %r" % shown
    return Check(test)


def messages(template, paths):
    return "".join(template % p for p in paths)


def not_rom(path):
    return "Not able to read at least 4 KiB from file %s. This file is probably not a GB ROM.\n" % path


def deep(S, prefix, length):
    """A directory below `prefix` whose absolute path is `length` long."""
    path = prefix
    while len(S.a(path)) < length:
        need = length - len(S.a(path))
        n = min(need - 1, 40)
        n -= 1 if need - n - 1 == 1 else 0
        path += "/" + "d" * n
    return path


def csv_names(expected_paths):
    """Checks a report read the usual way: quoted fields may hold commas,
    quotes and line ends. Every row must have eleven fields, and the names
    must be exactly `expected_paths`."""
    def test(data, S):
        rows = list(csv.reader(io.StringIO(data.decode("latin-1").replace(S.nl, "\n"), newline="")))
        bad = [r for r in rows[1:] if len(r) != 11]
        names = sorted(r[0] for r in rows[1:])
        if bad or names != sorted(expected_paths):
            return "%d rows of wrong width; names %r" % (len(bad), names[:20])
        return None
    return Check(test)


def cut_short(all_rows):
    """A report that a full device stopped: the header line and whole rows,
    fewer than all."""
    def test(data, S):
        lines = data.decode("latin-1").split(S.nl)
        if lines[0] + "\n" != HEADER or lines[-1] != "":
            return "no header line, or a row cut short"
        wrong = [line for line in lines[1:-1] if line + "\n" not in all_rows]
        return "rows not whole: %r" % wrong[:3] if wrong or len(lines) - 2 >= len(all_rows) else None
    return Check(test)


def archive(*members, comment=b""):
    """A ZIP archive made by Python's zipfile from (name, bytes[, method]);
    a name may be a ZipInfo, to give the member a comment."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data, *method in members:
            z.writestr(name, data, compress_type=method[0] if method else zipfile.ZIP_DEFLATED)
        z.comment = comment
    return out.getvalue()


def noted(name, comment):
    info = zipfile.ZipInfo(name)
    info.comment = comment
    return info


def central(data, k, at, value):
    """`data` with the 16 bits at `at` of its k-th central directory record
    set to `value`: a flag or a method that zipfile will not write."""
    pos = -1
    for _ in range(k + 1):
        pos = data.index(b"PK\1\2", pos + 1)
    return data[:pos + at] + struct.pack("<H", value) + data[pos + at + 2:]


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def raw_zip(members, stated=None, repeat=1):
    """An archive written byte by byte from (name, data[, flags[, packed data]]):
    what zipfile will not write. The last member's central record stands
    `repeat` times; the end record states `stated` entries."""
    local = central_records = b""
    for name, data, *rest in members:
        flags, packed = rest + [0, None][len(rest):]
        packed = deflated(data) if packed is None else packed
        fields = (flags, 8, 0, 0, zlib.crc32(data), len(packed), len(data), len(name))
        record = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, *fields, 0, 0, 0, 0, 0,
                             len(local)) + name
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, *fields, 0) + name + packed
        central_records += record
    central_records += record * (repeat - 1)
    count = len(members) + repeat - 1 if stated is None else stated
    return local + central_records + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count,
                                                 len(central_records), len(local), 0)


def hidden_header_zip(data):
    """Two entries with one deflated data: the first's local name, longer
    than the data, runs over the second's local header."""
    packed, names = deflated(data), (b"a" * 200 + b".gb", b"b.gb")
    fields = (0, 8, 0, 0, zlib.crc32(data), len(packed), len(data))
    second = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, *fields, len(names[1]), 0) + names[1]
    first = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, *fields, len(names[0]) + len(second), 0) + names[0]
    records = b"".join(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, *fields, len(name), 0, 0, 0,
                                   0, 0, at) + name for name, at in zip(names, (0, len(first))))
    local = first + second + packed
    return local + records + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, len(records), len(local), 0)


def zip64(name, data, method=0):
    """A one-entry archive in ZIP64 form, stored or deflated (8): every size,
    offset and count in the ZIP64 fields, each 32-bit field full."""
    n, crc, full = name.encode(), zlib.crc32(data), 0xFFFFFFFF
    packed = deflated(data) if method else data
    local = (struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, method, 0, 0, crc, full, full, len(n), 20)
             + n + struct.pack("<HHQQ", 1, 16, len(data), len(packed)) + packed)
    extra = struct.pack("<HHQQQ", 1, 24, len(data), len(packed), 0)
    entry = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, method, 0, 0, crc, full, full,
                        len(n), len(extra), 0, 0, 0, 0, full) + n + extra
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, len(entry), len(local))
    locator = struct.pack("<IIQI", 0x07064B50, 0, len(local) + len(entry), 1)
    return local + entry + end64 + locator + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF,
                                                         0xFFFF, full, full, 0)


def cases(S):
    P = S.p
    top = {"roms/a.gb": rom("ALPHA"), "roms/b.gb": rom("BRAVO\n\rX")}
    below = {"roms/sub/c.gb": rom("CHARLIE"), "roms/sub/deeper/d.gb": rom("DELTA"),
             "roms/.cache/e.gb": rom("ECHO"), "roms/..x/f.gb": rom("FOXTROT"),
             "roms/sub/output.csv": rom("GOLF"), "roms/empty": DIR, "out": DIR}
    roms = dict(top, **below)

    def rows(prefix, recursive=False):
        text = row(prefix + "a.gb", "ALPHA") + row(prefix + "b.gb", "BRAVO\n\rX")
        if recursive:
            text += (row(prefix + P("sub/c.gb"), "CHARLIE") + row(prefix + P("sub/deeper/d.gb"), "DELTA")
                     + row(prefix + P(".cache/e.gb"), "ECHO") + row(prefix + P("..x/f.gb"), "FOXTROT")
                     + row(prefix + P("sub/output.csv"), "GOLF"))
        return text

    R = rows(P("roms/"))
    # ROM images where the run's output goes: a run that read its own output
    # would give them a row. The line end keeps them apart from the rows.
    OLD, OUTPUT = rom("OLD") + b"\n", rom("OUTPUT") + b"\n"
    gui = "GUI mode is not supported yet.\n"
    kept = {"roms/output.csv": b"kept\n", "report.csv": b"previous catalogue\n"}

    def cannot_list(path, code="ENOENT"):
        return "Couldn't find first file in directory %s%s*: %s\n" % (path, S.sep, S.listing_text(code))

    full = "Z:\\dev\\full" if S.windows else "/dev/full"
    null = "nul" if S.windows else "/dev/null"
    at = S.a("") + S.sep
    long_name = "o" * (259 - len(at))
    many = {"roms/%s%d.gb" % ("n" * 150, i): rom("R%d" % i) for i in range(600)}
    many_rows = {row(P("roms/%s%d.gb" % ("n" * 150, i)), "R%d" % i) for i in range(600)}
    stdout_full = "Failed to write to stdout: %s\n" % ENOSPC
    refused = "Failed to write header to the output file: %s\n" % ENOSPC
    search = deep(S, "over", 258)
    too_deep = ('Failed to append path segment "*" to "%s%s": %s\nFailed to prepare search path for'
                ' input path %s' % (S.a(search), S.sep, ERANGE, S.a(search)))
    limit = deep(S, "limit", 241)
    edge = limit + "/" + "f" * (259 - len(S.a(limit)) - 4) + ".gb"
    far = "f" * (260 - len(S.a(limit)) - 4) + ".gb"
    cwd = deep(S, "cwd", 300)
    sibling = row(S.a("limit/z.gb"), "Z")

    long_run = {"p/%d/big.gb" % i: Sparse(rom("BIG"), 600 << 20) for i in range(2)} | {"p/note.txt": b"short"}

    def expand(text):
        return text.replace("\n", S.nl).encode("latin-1")
    kinds = {"k/short.gb": rom("SHORT")[:4095], "k/empty.gb": b"", "k/rom.gb": rom('A"B,C\xc4\n\rD'),
             "k/big.gb": Sparse(rom("BIG"), 64 << 20)}
    kinds_rows = row(P("k/rom.gb"), 'A"B,C\xc4\n\rD') + row(P("k/big.gb"), "BIG")
    names = ['"', '""', 'a"b""c', ",", "a,b,,c", "\t", "line\nbreak", "\r\n", "cr\rlf", '"\n",',
             "\xc3\x28", "\xed\xa0\x80", "\xff\xfe", " ", "-input", "%s%n%%"]
    names += ["b%c.gb" % c for c in range(1, 256) if c != ord("/")]
    verified = VERIFY_HEADER + "".join(
        row(P("v/" + name), title, checks=checks) for name, title, checks in (
            ("good.gb", "GOOD", ("Valid",) * 3), ("logo.gb", "LOGO", ("Invalid", "Valid", "Valid")),
            ("header.gb", "HEADER", ("Valid", "Invalid", "Valid")),
            ("global.gb", "GLOBAL", ("Valid", "Valid", "Invalid")),
            ("plain.gb", "PLAIN", ("Invalid", "Invalid", "Invalid")),
            ("8m.gb", "EIGHT", ("Valid",) * 3), ("over.gb", "OVER", ("Valid", "Valid", "Unknown"))))
    hashed = valid("HASHED", 40960)
    dump_a, dump_b, dump_c, dump_d = (rom(title, 8192) for title in ("ALPHA", "BRAVO", "CHARLIE", "DELTA"))
    # A name that is not UTF-8, and names longer than any row's fixed fields.
    cafe, lost = "Caf\xe9 " + "x" * 1000, "Lost " * 1000
    audit = HEADER[:-1] + DAT_COLUMNS + "\n" + row(
        P("d/a.gb"), "ALPHA", checks=tuple(identity(dump_a)) + ("Caf\xef\xbf\xbd " + "x" * 1000, "a.gb", "Good")) + ",".join(
        ['""'] * 11 + [q(f) for f in identity(rom("LOST"))[:2] + ["", "", lost, "lost.gb", "Missing"]]) + "\n"
    usage = Check(lambda d, S: None if d.startswith(b"Usage: cartolog") and b"-verify" in d else "usage")
    utf8_tree = {"u/caf\xc3\xa9.gb": rom('T"\xc4', at_0x14B=0x8F)}
    utf8_rows = HEADER + row(P("u/caf\xc3\xa9.gb"), 'T"\xc3\x84',
                             '"","I\xe2\x80\x99Max","None","No","MBC1","64","0","Worldwide","0"')
    mixed = {"mix/%04d%s" % (i, ".gb" if i % 2 else ""): rom("M%d" % i) if i % 2 else b"x"
             for i in range(3000)}
    mixed_rows = "".join(row(P("mix/%04d.gb" % i), "M%d" % i) for i in range(1, 3000, 2))
    zipped = archive(("one.gb", rom("ONE"), zipfile.ZIP_STORED), ("sub/two.gb", rom("TWO")),
                     ("note.txt", b"a text note\n"), ("dir/", b""), ('q"u,o \u00e9.gb', rom("QUOTE")))
    zips = {"z/set.zip": zipped, "z/UPPER.ZIP": archive(("up.gb", rom("UP"))), "z/plain.gb": rom("PLAIN"),
            "z/junk.zip": rom("JUNK"), "z/cut.zip": zipped[:len(zipped) // 2],
            "z/broken.zip": zipped[:-6] + struct.pack("<I", 0xFFFFFF00) + zipped[-2:],
            "z/wide.zip": zip64("in64.gb", rom("WIDE")),
            "z/wider.zip": zip64("in64.gb", rom("WIDER", 9000), 8),
            # Its ZIP64 field lacks the offset that its record marks as there.
            "z/narrow.zip": zip64("in64.gb", rom("NARROW")).replace(struct.pack("<HH", 1, 24), struct.pack("<HH", 1, 16)),
            # Its one record's comment would run past the directory's end.
            "z/remark.zip": central(archive(("c.gb", rom("REMARK"))), 0, 32, 40),
            # Comments: a member's own, and the archive's holding an end
            # record's signature whose comment would run past the end.
            "z/notes.zip": archive((noted("a.gb", b"a member's note"), rom("NOTED")), ("b.gb", rom("AFTER")),
                                   comment=b"PK\5\6" + bytes(16) + b"\xff\xffthe end"),
            # Larger than one read of the reader: its windows are filled anew.
            "z/large.zip": archive(*[("%d.gb" % i, rom("L%d" % i) + os.urandom(30000), zipfile.ZIP_STORED)
                                     for i in range(4)]),
            # Encrypted, not deflate data, bzip2, one that reads, and one whose
            # local header lies past the end.
            "z/odd.zip": central(central(central(archive(
                ("secret.gb", rom("S")), ("bad.gb", rom("B"), zipfile.ZIP_STORED), ("bz.gb", rom("BZ"), zipfile.ZIP_BZIP2),
                ("ok.gb", rom("OK")), ("far.gb", rom("FAR"))), 0, 8, 1), 1, 10, 8), 4, 42, 0xFFFF),
            # Its data would run 64 KiB past the end.
            "z/long.zip": central(archive(("long.gb", rom("LONG"), zipfile.ZIP_STORED)), 0, 22, 1),
            # Its local header has lost its signature.
            "z/sig.zip": archive(("sig.gb", rom("SIG"))).replace(b"PK\3\4", b"PK\3\5")}
    def zip_row(name, title):
        """The separator is the system's up to "#", the archive's after it."""
        path, mark, member = name.partition("#")
        return row(P("z/" + path) + mark + member, title)
    zip_rows = HEADER + "".join(zip_row(name, title) for name, title in (
        ("set.zip#one.gb", "ONE"), ("set.zip#sub/two.gb", "TWO"), ('set.zip#q"u,o \xc3\xa9.gb', "QUOTE"),
        ("UPPER.ZIP#up.gb", "UP"), ("plain.gb", "PLAIN"), ("notes.zip#a.gb", "NOTED"),
        ("notes.zip#b.gb", "AFTER"), ("wide.zip#in64.gb", "WIDE"),
        ("wider.zip#in64.gb", "WIDER"), ("odd.zip#ok.gb", "OK"))) + "".join(
        zip_row("large.zip#%d.gb" % i, "L%d" % i) for i in range(4))
    zip_err = (not_rom(P("z/set.zip") + "#note.txt")
               + messages("Failed to read ZIP archive %s: no central directory\n", [P("z/junk.zip"), P("z/cut.zip")])
               + messages("Failed to read ZIP archive %s: damaged central directory\n",
                          [P("z/broken.zip"), P("z/narrow.zip"), P("z/remark.zip")])
               + "".join("Failed to read ZIP entry %s#%s\n" % (P("z/odd.zip"), text) for text in (
                   "secret.gb: encrypted", "bad.gb: data does not inflate", "far.gb: damaged local header",
                   "bz.gb: compression method 12 is not supported"))
               + messages("Failed to read ZIP entry %s: damaged local header\n",
                          [P("z/long.zip#long.gb"), P("z/sig.zip#sig.gb")]))
    # With -verify an entry is read whole, to 8 MiB; past that, and a bomb of
    # zeros, Unknown.
    zip_verified = VERIFY_HEADER + "".join(
        row(P("v/set.zip#") + name, title, checks=checks) for name, title, checks in (
            ("good.gb", "GOOD", ("Valid",) * 3), ("8m.gb", "EIGHT", ("Valid",) * 3),
            ("over.gb", "OVER", ("Valid", "Valid", "Unknown")))) + row(
        P("v/set.zip#zeros.gb"), "", '"","None","None","No","ROM ONLY","32","0","Japan","0"',
        ("Invalid", "Invalid", "Unknown")) + row(P("v/set.zip#cut.gb"), "CUT", checks=("Valid", "Valid", "Unknown"))
    listed = [("t.gb", "REAL"), ("t.gb ", "SPACE"), ("u.gb.", "DOT"), ("aux", "AUX"),
              ("nul.gb", "NUL"), ("con.gb", "CON"), ("sub./s.gb", "SUB")]
    listed_tree = {"w/" + name: rom(title) for name, title in listed}
    loop_check = Check(lambda data, S: None if data.count(b"\n") == 1 and b"above it" not in data
                       else "not the one message of a path that ends: %r" % data)

    return [
        # Where rows go, and in which order.
        Case("default output passes over a stale ROM image under its name", ["-input", "roms"],
             dict(roms, **{"roms/output.csv": rom("STALE")}), files={"roms/output.csv": HEADER + R}),
        Case("-stdout", ["-input", "roms", "-output", "report.csv", "-stdout"], roms,
             out=HEADER + R, files={"report.csv": HEADER + R}),
        Case("-headless", ["-headless", "-stdout", "-input", "roms", "-output", "report.csv"], roms,
             out=R, files={"report.csv": R}),
        Case("-nofile", ["-input", "roms", "-nofile"], roms, out=HEADER + R),
        Case("-nofile -append", ["-input", "roms", "-append", "-nofile"], roms, out=HEADER + R,
             err="Warning - 'append' is only useful for file output, which has been disabled by 'nofile'.\n"),
        Case("-gui first", ["-gui", "-input", "roms", "-output", "report.csv", "-stdout"],
             dict(roms, **kept), err=gui, status=1),
        Case("-output naming a directory", ["-input", "roms", "-output", "out"], roms,
             files={"out/output.csv": HEADER + R}),
        Case("-output naming a directory/", ["-input", "roms", "-output", P("out/")], roms,
             files={"out/output.csv": HEADER + R}),
        Case("empty -output", ["-input", S.a("roms"), "-output", ""], roms, cwd="out",
             files={"out/output.csv": HEADER + rows(S.a("roms") + S.sep)}),
        Case("-output in a missing folder", ["-input", "roms", "-output", P("no/r.csv")], roms,
             err="Failed to create/open output file %s: %s\n" % (P("no/r.csv"), ENOENT),
             status=1),
        Case("-append adds a header line per run", ["-input", "roms", "-append"],
             dict(top, **{"roms/output.csv": OLD}),
             files={"roms/output.csv": [OLD, HEADER + R]}),
        Case("-append after a last line without its end", ["-input", "roms", "-output", "a.csv", "-append"],
             dict(top, **{"a.csv": b"notes"}), files={"a.csv": [b"notes", "\n" + HEADER + R]}),
        # A named pipe that no one reads is refused at once, as given and as
        # the default output inside the input.
        *[Case(" ".join(["output to a named pipe that no one reads"] + args), ["-input", "roms"] + args,
               dict(top, **{"o.fifo": FIFO, "roms/output.csv": FIFO}), status=1, only="posix",
               err="Failed to create/open output file %s: %s\n" % (name, os.strerror(errno.ENXIO)))
          for args, name in ((["-output", "o.fifo"], "o.fifo"), (["-output", "o.fifo", "-append"], "o.fifo"),
                             ([], "roms/output.csv"))],
        Case("-append -headless", ["-input", "roms", "-append", "-headless"],
             dict(top, **{"roms/output.csv": OLD}), files={"roms/output.csv": [OLD, R]}),

        # An input that cannot be listed: no file is created, emptied or
        # appended to; standard output still gets its header line.
        Case("missing input keeps -output", ["-input", "missing", "-output", "report.csv"], kept,
             err=cannot_list("missing"), status=1),
        Case("missing input keeps -output -append", ["-input", "missing", "-output", "report.csv",
             "-append"], kept, err=cannot_list("missing"), status=1),
        Case("missing input -nofile", ["-input", "missing", "-nofile"], out=HEADER,
             err=cannot_list("missing"), status=1),
        Case("missing input -stdout", ["-input", "missing", "-stdout", "-recursive"], out=HEADER,
             err=cannot_list("missing"), status=1),
        Case("a file as input and -output", ["-input", P("roms/a.gb"), "-output", P("roms/a.gb")], top,
             err=cannot_list(P("roms/a.gb"), "ENOTDIR"), status=1),
        Case("missing input of 259 characters", ["-input", at + long_name, "-nofile"], out=HEADER,
             err='Failed to append path separator to "%s": %s\nFailed to prepare search path for'
                 ' input path %s' % (at + long_name, ERANGE, at + long_name), status=1),

        Case("missing input of 259 UTF-16 units", ["-input", at + "\U0001F600" + long_name[2:], "-nofile"],
             out=HEADER, status=1, only="windows",
             err='Failed to append path separator to "%s": %s\nFailed to prepare search path for'
                 ' input path %s' % (at + "??" + long_name[2:], ERANGE, at + "??" + long_name[2:])),

        # Paths at and past 259 characters: never cut.
        Case("-output of 259 characters", ["-input", "roms", "-output", at + long_name], top,
             files={long_name: HEADER + R}),
        Case("-output of 260 characters", ["-input", "roms", "-output", at + long_name + "o"], top,
             err="Failed to copy output path or filename string: %s\n" % ERANGE, status=1),
        Case("-input of 260 characters", ["-input", at + long_name + "i"], top,
             err="Failed to copy input path string: %s\n" % ERANGE, status=1),
        Case("entry path of 259 characters", ["-input", S.a("limit"), "-recursive", "-nofile"],
             {edge: rom("EDGE")}, out=HEADER + row(S.a(edge), "EDGE")),
        Case("search path of 260 characters", ["-input", S.a("over"), "-recursive", "-nofile"],
             {search: DIR}, out=HEADER, status=1, err=too_deep),
        # A sibling is read only if it is listed before the deep directory.
        Case("entry path of 260 characters ends every level", ["-input", S.a("limit"), "-recursive",
             "-nofile"], {limit + "/" + far: rom("FAR"), "limit/z.gb": rom("Z")},
             out=Check(lambda d, S: None if d in (expand(HEADER), expand(HEADER + sibling)) else "rows"),
             err='Failed to append path segment "%s" to "%s%s": %s\nFailed to create path for input'
                 ' file %s in directory %s' % (far, S.a(limit), S.sep, ERANGE, far, S.a(limit)), status=1),
        Case("current directory over 259", [], {cwd: DIR}, cwd=cwd, status=1, only="posix",
             err="Failed to get current working directory as input: %s\n" % ERANGE),

        # The walk.
        Case("-recursive", ["-input", "roms", "-recursive"], roms,
             files={"roms/output.csv": HEADER + rows(P("roms/"), True)}),
        Case("input ending in a separator", ["-input", "roms/", "-recursive", "-nofile"], roms,
             out=HEADER + rows("roms/", True)),
        Case("input ending in a backslash", ["-input", "roms\\", "-nofile"], roms,
             out=HEADER + rows("roms\\"), only="windows"),
        Case("empty -input", ["-input", "", "-recursive", "-nofile"], roms, cwd="roms",
             out=HEADER + rows("", True)),
        # A device behind a name is never read (wine shows a Linux one).
        Case("every kind of file", ["-input", "k", "-nofile"], dict(kinds, **{"k/zeros.gb": Link("/dev/zero")}),
             out=HEADER + kinds_rows, err=not_rom(P("k/short.gb")) + not_rom(P("k/empty.gb"))
             + not_rom(P("k/zeros.gb")), sort_err=True),
        Case("every kind of entry", ["-input", "k", "-nofile", "-recursive"], dict(kinds, **{
             "k/pipe.gb": FIFO, "k/socket.gb": SOCKET, "k/dangling.gb": Link("missing.gb"),
             "k/file-link.gb": Link("rom.gb"), "k/sub/inner.gb": rom("INNER"), "k/dir-link": Link("sub"),
             "k/zeros.gb": Link("/dev/zero"), "k/mem.gb": Link("/proc/self/mem")}), only="posix",
             out=HEADER + kinds_rows + row("k/file-link.gb", 'A"B,C\xc4\n\rD') + row("k/sub/inner.gb", "INNER")
             + row("k/dir-link/inner.gb", "INNER"), sort_err=True,
             err=messages("Not able to read at least 4 KiB from file k/%s. This file is probably not"
                          " a GB ROM.\n", ["short.gb", "empty.gb", "pipe.gb", "socket.gb",
                                           "zeros.gb", "mem.gb"])
             + "Failed to open ROM file k/dangling.gb: %s\n" % ENOENT),
        Case("hostile file names", ["-input", "n", "-output", "out.csv", "-stdout"],
             {"n/" + name: rom("T") for name in names}, only="posix",
             out=csv_names(["n/" + name for name in names]),
             files={"out.csv": csv_names(["n/" + name for name in names])}),

        # The run's own files are never catalogued, whatever path names them.
        *[Case("own output as " + spelling, ["-input", "roms", "-output", P(spelling), "-append",
               "-stdout"], dict(top, **{"roms/out.csv": OUTPUT, "x": DIR}), out=HEADER + R,
               files={"roms/out.csv": [OUTPUT, HEADER + R]})
          for spelling in ("roms//out.csv", "x/../roms/out.csv")],
        Case("own output as a link", ["-input", "roms", "-output", "link.csv", "-append", "-stdout"],
             dict(top, **{"roms/out.csv": OUTPUT, "link.csv": Link("roms/out.csv"), "x": DIR}),
             out=HEADER + R, files={"roms/out.csv": [OUTPUT, HEADER + R]}, only="posix"),
        Case("own output in another letter case", ["-input", "roms", "-output", "roms\\OUT.CSV",
             "-append", "-stdout"], dict(top, **{"roms/out.csv": OUTPUT}), out=HEADER + R,
             files={"roms/out.csv": [OUTPUT, HEADER + R]}, only="windows"),
        Case("own output named with -nofile", ["-input", ".", "-nofile", "-output", "out.csv"],
             dict(top, **{"roms/out.csv": OUTPUT}), cwd="roms", out=HEADER + rows("." + S.sep)),
        Case("own standard output in the tree", ["-input", "roms", "-nofile"], top,
             stdout="roms/list.csv", out=HEADER + R),
        *[Case("own program run as " + program, ["-input", S.a("tools"), "-nofile"],
               dict({"tools/a.gb": rom("ALPHA"), "bin/cl": Link("../tools/cartolog")}),
               program=program, cwd=cwd, out=HEADER + row(S.a("tools/a.gb"), "ALPHA"),
               only="posix" if program == "bin/cl" else "")
          for program, cwd in (("tools/cartolog", ""), ("./cartolog", "tools"), ("bin/cl", ""))],

        # Full devices: every row lost is a failure.
        Case("file on a full device", ["-input", "roms", "-output", full, "-stdout"], top,
             out=HEADER + R, err="Failed to write to output file %s: %s\n" % (full, ENOSPC), status=1,
             needs=("/dev/full",)),
        Case("stdout on a full device", ["-input", "roms", "-nofile"], top, stdout="/dev/full",
             err=stdout_full, status=1, needs=("/dev/full",)),
        *[Case("full device mid-walk -output " + " ".join(extra), ["-input", "roms", "-output", full]
               + extra, many, err=refused, status=1, needs=("/dev/full",)) for extra in ([], ["-headless"])],
        # The rows lost are told also when the walk has failed.
        Case("a walk that fails onto a full device", ["-input", S.a("over"), "-recursive", "-output", full],
             {search: DIR}, err=too_deep + "Failed to write to output file %s: %s\n" % (full, ENOSPC), status=1,
             needs=("/dev/full",)),
        Case("full stdout mid-walk", ["-input", "roms", "-nofile"], many, stdout="/dev/full",
             err=refused, status=1, needs=("/dev/full",)),
        Case("full file mid-walk, stdout whole rows", ["-input", "roms", "-output", full, "-stdout"],
             many, out=cut_short(many_rows), err=refused, status=1, needs=("/dev/full",)),
        Case("full stdout mid-walk, file whole rows", ["-input", "roms", "-output", "out.csv",
             "-stdout"], many, stdout="/dev/full", status=1, needs=("/dev/full",),
             files={"out.csv": cut_short(many_rows)}, err=refused),

        # Loops and faults.
        *[Case("link loop " + name, ["-input", "loop", "-nofile", "-recursive"],
               {"loop/a.gb": rom("LOOP"), "loop/" + name: Link(target)}, only="posix", status=1,
               out=Check(lambda d, S: None if all(b"a.gb" in line for line in d.split(b"\n")[1:-1]) else "odd row"),
               err=loop_check)
          for name, target in (("l", "."), ("sub/up", ".."))],
        # A listing that fails part way loses the rest of the folder: told, status 1.
        Case("a listing that fails part way", ["-input", "half", "-nofile", "-headless"],
             {"half/%d.gb" % i: rom("R%d" % i) for i in range(6)}, fault="half:broken", status=1,
             out=Check(lambda d, S: None if d.count(b"\n") < 6 and d.count(b'"half/') == d.count(b"\n")
                       else "rows: %r" % d),
             err="Failed to read all ROM files from half: %s\n" % os.strerror(errno.EIO)),
        *[Case("file %s between listing and read" % what, ["-input", "roms", "-nofile"],
               {"roms/a.gb": rom("ALPHA"), "roms/b.gb": rom("B"), "roms/c.gb": rom("C")},
               fault="b.gb:" + what, out=HEADER + row("roms/a.gb", "ALPHA") + row("roms/c.gb", "C"),
               err=message)
          for what, message in (("remove", "Failed to open ROM file roms/b.gb: %s\n" % ENOENT),
                                ("shrink", not_rom("roms/b.gb")), ("replace", not_rom("roms/b.gb")))],
        Case("archive replaced between listing and read", ["-input", "roms", "-nofile", "-zip"],
             {"roms/a.gb": rom("ALPHA"), "roms/b.zip": archive(("in.gb", rom("IN")))},
             fault="b.zip:replace", out=HEADER + row("roms/a.gb", "ALPHA"), err=not_rom("roms/b.zip")),
        # A file swapped for a device is not read; a run out of descriptors
        # fails, and the look-ahead never takes one that the walk needs.
        Case("file swapped for a device between listing and read", ["-input", "roms", "-nofile", "-verify"],
             {"roms/a.gb": valid("ALPHA"), "roms/b.gb": valid("B"), "roms/c.gb": valid("C")},
             fault="b.gb:device", only="posix", out=VERIFY_HEADER + row("roms/a.gb", "ALPHA", checks=("Valid",) * 3)
             + row("roms/c.gb", "C", checks=("Valid",) * 3), err=not_rom("roms/b.gb")),
        Case("out of descriptors", ["-input", "roms", "-nofile"],
             {"roms/a.gb": rom("ALPHA"), "roms/b.gb": rom("B"), "roms/c.gb": rom("C")}, fault="b.gb:emfile",
             out=Check(lambda d, S: None if d.count(b"\n") <= 2 else "the walk went on"), status=1,
             err="Failed to open ROM file roms/b.gb: %s\n" % os.strerror(errno.EMFILE)),
        Case("a few descriptors, the look-ahead on", ["-input", "mix", "-recursive", "-nofile"],
             {"mix/%d/%04d.gb" % (i % 4, i): rom("M%d" % i) for i in range(2000)}, files_open=7,
             only="posix", out=HEADER + "".join(row("mix/%d/%04d.gb" % (i % 4, i), "M%d" % i) for i in range(2000))),
        # Archives that readers open wait open for the walk: never more than
        # the descriptors allow, each closed once read.
        Case("archives opened ahead within few descriptors", ["-input", "z", "-zip", "-nofile"],
             {"z/%03d.zip" % i: archive(("%d.gb" % i, rom("Z%d" % i))) for i in range(600)}, files_open=400,
             only="posix", out=HEADER + "".join(row("z/%03d.zip#%d.gb" % (i, i), "Z%d" % i) for i in range(600))),
        Case("a file that will not be opened without its access time still gets its row", ["-input", "roms", "-nofile"],
             {"roms/a.gb": rom("ALPHA"), "roms/b.gb": rom("B"), "roms/c.gb": rom("C")}, only="posix",
             fault="b.gb:not-owner", out=HEADER + row("roms/a.gb", "ALPHA") + row("roms/b.gb", "B") +
             row("roms/c.gb", "C")),
        Case("file removed between the look-ahead's open and the walk's", ["-input", "roms", "-nofile"],
             {"roms/a.gb": rom("ALPHA"), "roms/b.gb": rom("B")}, fault="b.gb:remove:ahead",
             env={"CARTOLOG_LOOKAHEAD": "on"},
             out=HEADER + row("roms/a.gb", "ALPHA"), err="Failed to open ROM file roms/b.gb: %s\n" % ENOENT),
        Case("look-ahead on and off give the same bytes", ["-input", "mix", "-recursive", "-nofile"],
             dict(mixed, **{"mix/sub/x.gb": rom("X")}), twin={"CARTOLOG_LOOKAHEAD": "off"},
             out=HEADER + mixed_rows + row(P("mix/sub/x.gb"), "X"), sort_err=True,
             err=messages(not_rom(P("mix/%04d")), range(0, 3000, 2))),
        Case("directory removed between listing and walk", ["-input", "roms", "-nofile", "-recursive"],
             {"roms/sub": DIR}, fault="sub:remove", out=HEADER, status=1,
             err="Couldn't find first file in directory roms/sub/*: %s\n" % ENOENT),

        # The command line.
        Case("unknown argument", ["-input", "roms", "-Input"], err="Unrecognised argument: -Input\n",
             status=1),
        Case("repeated input", ["-input", "d", "-input"], status=1,
             err="'input' already specified. Which one did you want to use?\n"),
        Case("repeated output", ["-output", "a.csv", "-stdout", "-output", "b.csv"], status=1,
             err="'output' already specified. Which one did you want to use?\n"),
        Case("missing value", ["-output", "-stdout"], err="Output path or filename missing.\n", status=1),
        Case("repeated switches warn and go on", ["-stdout", "-stdout", "-input", "roms", "-stdout",
             "-nofile"], top, out=HEADER + R,
             err="Warning - More than one 'stdout' specified.\n" * 2),
        Case("a stray argument stops the parse", ["-gui", "-gui", "d", "-bogus"], status=1,
             err="Warning - More than one 'gui' specified.\nUnrecognised argument: d\n"),
        *[Case("argument " + arg, ["-stdout", arg], err="Unrecognised argument: %s\n" % arg, status=1)
          for arg in ("two words", 'back\\\\"slash', "%s%d")],

        # -verify: the logo and both checksums.
        Case("-verify", ["-input", "v", "-verify", "-output", "v.csv", "-stdout"],
             {"v/good.gb": valid("GOOD"), "v/logo.gb": valid("LOGO", spoil="logo"),
              "v/header.gb": valid("HEADER", spoil="header"), "v/global.gb": valid("GLOBAL", spoil="global"),
              "v/plain.gb": rom("PLAIN"), "v/8m.gb": Sparse(valid("EIGHT", 4096), 8 << 20),
              "v/over.gb": Sparse(valid("OVER", 4096), (8 << 20) + 1)},
             out=verified, files={"v.csv": verified}, twin={"CARTOLOG_LOOKAHEAD": "on"}),
        Case("-help", ["-stdout", "-help", "-gui", "-version"], top, out=usage),
        *[Case("help as " + spelling, [spelling], out=usage) for spelling in ("--help", "/?")],
        Case("-version", ["--version", "-version"], out=Check(
             lambda d, S: None if re.fullmatch(rb"cartolog \d+\.\d+\.\d+" + S.nl.encode(), d) else "no version")),
        Case("a bad argument before -help", ["-bogus", "-help"], err="Unrecognised argument: -bogus\n",
             status=1),

        # -hash: a file's size and digests, the same for the ROM zipped in any
        # form; a member whose CRC-32 does not match is refused; a file that
        # cannot be read whole keeps its row, without its digests.
        Case("-hash", ["-input", "h", "-hash", "-verify", "-zip", "-nofile"],
             {"h/a.gb": hashed, "h/set.zip": archive(("d.gb", hashed), ("s.gb", hashed, zipfile.ZIP_STORED)),
              "h/wide.zip": zip64("w.gb", hashed, 8), "h/bad.zip": central(raw_zip([(b"c.gb", hashed)]), 0, 16, 0),
              "h/size.zip": central(raw_zip([(b"e.gb", hashed)]), 0, 24, len(hashed) + 1)}, sort_err=True,
             out=VERIFY_HEADER[:-1] + HASH_COLUMNS + "\n" + "".join(
                 row(P("h/" + name), "HASHED", checks=("Valid",) * 3 + tuple(identity(hashed)))
                 for name in ("a.gb", "set.zip#d.gb", "set.zip#s.gb", "wide.zip#w.gb")),
             err=messages("Failed to read ZIP entry %s: data does not match its CRC-32 or size\n",
                          [P("h/bad.zip#c.gb"), P("h/size.zip#e.gb")])),
        *[Case(option + " and a file " + what, ["-input", "h", option, "-nofile"], {"h/a.gb": hashed},
               fault="a.gb:" + fault, only="posix", err=message if option == "-hash" else "",
               out=HEADER[:-1] + HASH_COLUMNS + "\n" + row("h/a.gb", "HASHED", checks=("",) * 4)
               if option == "-hash" else VERIFY_HEADER + row("h/a.gb", "HASHED", checks=("Valid", "Valid", "Unknown")))
          for option in ("-hash", "-verify") for what, fault, message in (
              ("cut while it is read", "cut", "Failed to read ROM file h/a.gb: it ended before the size"
                                              " it had when opened\n"),
              ("that fails to read", "ioerror", "Failed to read ROM file h/a.gb: %s\n" % os.strerror(errno.EIO)))],
        # Its last 4 KiB are read from past 4 GiB, and would differ from those at 4 KiB.
        Case("-hash over 4 GiB", ["-input", "h", "-hash", "-nofile", "-headless"],
             {"h/big.gb": Sparse(rom("BIG") + b"\1" * 4096, (4 << 30) + 8192)}, slow=True,
             out=Check(lambda d, S: None if d == expand(row(P("h/big.gb"), "BIG", checks=sparse_identity(
                 rom("BIG") + b"\1" * 4096, (4 << 30) + 8192))) else "wrong: %r" % d)),

        # -dat: each file matched against DATs of both forms; -missing lists
        # what no file had; a bad DAT stops the run before anything is written.
        Case("-dat -missing", ["-input", "d", "-zip", "-nofile", "-missing", "-dat", "x.dat", "-dat", "t.dat"],
             {"d/a.gb": dump_a, "d/b.gb": dump_b, "d/c.gb": dump_c, "d/set.zip": archive(("m.gb", dump_d)),
              "x.dat": xml_dat(("Alpha &amp; Caf&#233;", "a.gb", dat_of(dump_a, crc=identity(dump_a)[1].upper(),
                                                                        sha1=identity(dump_a)[3].upper(), status="verified")),
                               ("Bravo", "b.gb", dat_of(dump_b, sha1="0" * 40)),
                               ("Delta", "d.gb", dat_of(dump_d)), ("Delta again", "d2.gb", dat_of(dump_d)),
                               ("Gone", "gone.gb", {k: v for k, v in dat_of(rom("GONE")).items() if k != "md5"}), ("Never", "n.gb", {"status": "nodump"}),
                               ("Sizeless", "s.gb", {"crc": "12345678"})),
              "t.dat": ('clrmamepro ( name "t" )\ngame ( name "Charlie" rom ( name "c.gb" size %s crc %s '
                        'flags baddump ) )\n' % tuple(identity(dump_c)[:2])).encode()},
             out=HEADER[:-1] + DAT_COLUMNS + "\n" + "".join(
                 row(P("d/" + name), title, checks=tuple(identity(data)) + dat) for name, title, data, dat in (
                     ("a.gb", "ALPHA", dump_a, ("Alpha & Caf\xc3\xa9", "a.gb", "Verified")),
                     ("b.gb", "BRAVO", dump_b, ("", "", "Unknown")),
                     ("c.gb", "CHARLIE", dump_c, ("Charlie", "c.gb", "Bad dump")),
                     ("set.zip#m.gb", "DELTA", dump_d, ("Delta", "d.gb", "Good"))))
             + "".join(",".join(['""'] * 11 + [q(f) for f in fields]) + "\n" for fields in (
                 identity(dump_b)[:3] + ["0" * 40, "Bravo", "b.gb", "Missing"],  # a CRC-32 alone is no match
                 identity(rom("GONE"))[:2] + ["", identity(rom("GONE"))[3], "Gone", "gone.gb", "Missing"]))),
        # The rows of -missing reach the file too; -hash beside -dat changes nothing.
        Case("-dat -missing -hash -utf8 to a file and standard output", ["-input", "d", "-hash", "-utf8", "-dat",
             "t.dat", "-missing", "-output", "o.csv", "-stdout"],
             {"d/a.gb": dump_a, "t.dat": ('game ( name "%s" rom ( name "a.gb" size %s crc %s ) )\n'
                                          'game ( name "%s" rom ( name "lost.gb" size %s crc %s ) )\n' % (
                 cafe, *identity(dump_a)[:2], lost, *identity(rom("LOST"))[:2])).encode("latin-1")},
             out=audit, files={"o.csv": [MARK, audit]}),
        *[Case("a bad DAT: " + what, ["-input", "roms", "-output", "report.csv", "-stdout", "-dat", "bad.dat"],
               dict(top, **kept, **({"bad.dat": dat} if dat else {})), status=1,
               err="Failed to read DAT file bad.dat: %s\n" % message)
          for what, dat, message in (
              ("missing", None, ENOENT), ("XML", b"<datafile>\n<game name='x'>\n</datafile>", "line 3: mismatched tag"),
              ("entity", b"<datafile>\n<game name='&x;'/>\n</datafile>\n", "line 2: undefined entity"),
              ("only a comment", b"<!-- x -->\n", "line 1: unexpected end of input" if S.windows
               else "line 2: no element found"),
              ("size", b'game ( name "two\nlines"\n rom ( size 1k crc 01234567 ) )', "line 3: size is not a number"))],
        Case("a DAT larger than memory", ["-input", "roms", "-dat", "big.dat"],
             dict(top, **{"big.dat": Sparse(b'clrmamepro ( name "x" )\n', 2 << 30)}), memory=1 << 30,
             only="posix", status=1, err="Failed to read DAT file big.dat: %s\n" % os.strerror(errno.ENOMEM)),
        Case("a device as DAT", ["-input", "roms", "-output", "report.csv", "-dat", null], dict(top, **kept),
             status=1, err="Failed to read DAT file %s: %s\n" % (null, os.strerror(errno.EINVAL))),
        Case("-missing without -dat", ["-input", "roms", "-missing"], top, status=1,
             err="'missing' lists the ROMs of a DAT file: give one with 'dat'.\n"),

        # -romsonly: rows only for what the console would start.
        # Each check alone refuses an image, with -verify or without.
        *[Case(" ".join(["-romsonly"] + verify), ["-input", "r", "-romsonly", "-zip", "-nofile"] + verify,
               {"r/good.gb": valid("GOOD"), "r/readme.txt": b"Failed instructions\n" * 300,
                "r/blank.sav": bytes(8192), "r/output.csv": (HEADER + row("r/good.gb", "GOOD") * 80).encode(),
                "r/logo.gb": valid("LOGO", spoil="logo"), "r/header.gb": valid("HEADER", spoil="header"),
                "r/set.zip": archive(("in.gb", valid("IN")), ("notes.txt", b"x" * 5000),
                                     ("header.gb", valid("HEADER", spoil="header")))},
               out=(VERIFY_HEADER if verify else HEADER) + row(P("r/good.gb"), "GOOD", checks=checks)
               + row(P("r/set.zip#in.gb"), "IN", checks=checks), sort_err=True,
               err="".join("The logo or header checksum of file %s does not hold. This file is probably"
                           " not a GB ROM.\n" % P("r/" + name) for name in (
                               "readme.txt", "blank.sav", "output.csv", "logo.gb", "header.gb",
                               "set.zip#notes.txt", "set.zip#header.gb")))
          for verify, checks in ((["-verify"], ("Valid",) * 3), ([], ()))],
        # -keepgoing: past a folder that cannot be listed, a path too long and
        # a link back up, each reported, the status 1 at the end.
        Case("-keepgoing past a folder that cannot be read", ["-input", "k", "-recursive", "-nofile", "-keepgoing"],
             {"k/a/1.gb": rom("ONE"), "k/b/locked/x.gb": rom("X"), "k/b/2.gb": rom("TWO"), "k/c/3.gb": rom("THREE")},
             locked=("k/b/locked",), only="posix", status=1, program="tools/cartolog",
             out=HEADER + "".join(row("k/" + name, title) for name, title in (
                 ("a/1.gb", "ONE"), ("b/2.gb", "TWO"), ("c/3.gb", "THREE"))),
             err=cannot_list(P("k/b/locked"), "EACCES")),
        # Its siblings, listed before or after it, keep their full paths.
        # A missing row has as many columns as -verify gives the others.
        Case("-keepgoing past a folder that cannot be read, then -missing", ["-input", "k", "-recursive",
             "-nofile", "-keepgoing", "-verify", "-dat", "k.dat", "-missing"],
             {"k/a/1.gb": rom("ONE"), "k/b/locked/x.gb": rom("X"),
              "k.dat": xml_dat(("One", "1.gb", dat_of(rom("ONE"))), ("X", "x.gb", dat_of(rom("X"))))},
             locked=("k/b/locked",), only="posix", status=1, program="tools/cartolog",
             out=VERIFY_HEADER[:-1] + DAT_COLUMNS + "\n"
             + row("k/a/1.gb", "ONE", checks=("Invalid",) * 3 + tuple(identity(rom("ONE"))) + ("One", "1.gb", "Good"))
             + ",".join(['""'] * 14 + [q(f) for f in identity(rom("X")) + ["X", "x.gb", "Missing"]]) + "\n",
             err=cannot_list(P("k/b/locked"), "EACCES")),
        # A walk that ends early has no missing rows: what it did not reach may be there.
        Case("no -missing rows after a walk that ended early", ["-input", S.a("over"), "-recursive", "-nofile",
             "-dat", "k.dat", "-missing"], {search: DIR, "k.dat": xml_dat(("X", "x.gb", dat_of(rom("X"))))},
             status=1, out=HEADER[:-1] + DAT_COLUMNS + "\n", err=too_deep),
        Case("-keepgoing past a path too long", ["-input", S.a("limit"), "-recursive", "-nofile", "-keepgoing"],
             {limit + "/" + far: rom("FAR"), "limit/z.gb": rom("Z"), **{limit + "/%d.gb" % i: rom("S%d" % i)
                                                                     for i in range(8)}},
             out=Check(lambda d, S: None if d.startswith(expand(HEADER)) and sorted(d.split(b"\n")) == sorted(
                 expand(HEADER + sibling + "".join(row(S.a(limit + "/%d.gb" % i), "S%d" % i) for i in range(8)))
                 .split(b"\n")) else "rows: %r" % d), status=1,
             err='Failed to append path segment "%s" to "%s%s": %s\nFailed to create path for input'
                 ' file %s in directory %s\n' % (far, S.a(limit), S.sep, ERANGE, far, S.a(limit))),
        Case("-keepgoing and a link back up", ["-input", "loop", "-nofile", "-recursive", "-keepgoing"],
             {"loop/a.gb": rom("LOOP"), "loop/l": Link("."), "loop/sub/up": Link(".."), "loop/sub/b.gb": rom("B")},
             status=1, out=HEADER + row(P("loop/a.gb"), "LOOP") + row(P("loop/sub/b.gb"), "B"), sort_err=True,
             err="".join("Folder %s is one of the folders above it: not walked again\n" % P(p)
                         for p in ("loop/l", "loop/sub/up"))),
        # A long run shows a person at a terminal how far it has come, and the
        # messages stand as they would without it.
        Case("progress on a terminal", ["-input", "p", "-nofile", "-hash", "-recursive"], long_run,
             streams={"tty": "stderr"}, only="posix", slow=True, stdout="/dev/null",
             err=terminal_text(not_rom("p/note.txt"))),
        Case("progress cuts a long folder's name where a character starts", ["-input", "p", "-nofile", "-hash",
             "-recursive"], {"p/" + ("\u3042" * 40).encode().decode("latin-1") + "/big.gb": Sparse(rom("BIG"), 600 << 20)},
             streams={"tty": "stderr"}, only="posix", slow=True, stdout="/dev/null",
             err=Check(lambda d, S: "no name cut" if b", in ..." not in d else "a character cut in two"
                       if re.search(rb"\.\.\.[\x80-\xbf]", d) else None)),
        *(Case("no progress on the terminal that standard output is" + name, ["-input", "p", "-nofile",
               "-hash", "-recursive", "-headless"], long_run, streams={"tty": "stderr", "both": both},
               slow=True, only=only, err=Check(lambda d, S: "progress drawn" if b" files, " in d
                                               else None if d.count(b"BIG") == 2 else "rows: %r" % d))
          for name, both, only in (("", True, ""), (", as /dev/tty", "/dev/tty", "posix"))),
        Case("no progress on a terminal that takes the rows", ["-input", "p", "-output", "/dev/stderr",
             "-hash", "-recursive", "-headless"], long_run, streams={"tty": "stderr"}, only="posix",
             slow=True, stdout="/dev/null", err=Check(lambda d, S: "progress drawn" if b" files, " in d
                                                      else None if d.count(b"BIG") == 2 else "rows: %r" % d)),

        # -utf8: the report in UTF-8 whatever the bytes.
        Case("-utf8", ["-input", "u", "-utf8", "-output", "u.csv", "-stdout"], utf8_tree, out=utf8_rows,
             files={"u.csv": [MARK, utf8_rows]}),
        Case("-utf8 -append to a file with content", ["-input", "u", "-utf8", "-output", "u.csv",
             "-append", "-headless"], dict(utf8_tree, **{"u.csv": b"x\n"}),
             files={"u.csv": [b"x\n", utf8_rows[len(HEADER):]]}),
        *[Case("-utf8 -append to %s file" % what, ["-input", "u", "-utf8", "-output", "u.csv", "-append"],
               dict(utf8_tree, **{"u.csv": before}), files={"u.csv": [MARK, utf8_rows]})
          for what, before in (("an empty", b""), ("a mark-only", MARK))],
        Case("-utf8 keeps a name that is not UTF-8", ["-input", "u", "-utf8", "-nofile", "-headless"],
             {b"u/\xff.gb": rom("X")}, out=row(P("u/\xff.gb"), "X"), only="posix"),
        Case("-utf8 writes any name", ["-input", "u", "-utf8", "-nofile", "-headless"],
             {"u/\u30c6.gb".encode(): rom("X")}, out=row(P("u/\xe3\x83\x86.gb"), "X")),

        # Closed and broken standard streams lose nothing else.
        Case("closed standard error", ["-input", "roms"], dict(top, **{"roms/short.gb": b"x"}),
             streams={"closed": (2,)},
             files={"roms/output.csv": HEADER + R}),
        Case("closed standard output", ["-input", "roms", "-stdout"], top, streams={"closed": (1,)},
             files={"roms/output.csv": HEADER + R}, only="posix", status=1,
             err="Failed to write to stdout: %s\n" % os.strerror(errno.EBADF)),
        Case("rows to a closed standard output", ["-input", "mix", "-nofile"], mixed,
             streams={"closed": (1,)}, only="posix", status=1, err=Check(
                 lambda d, S: None if d.endswith(b"Failed to write header to the output file: "
                                                 + os.strerror(errno.EBADF).encode() + b"\n") else "no failure")),
        Case("messages to a pipe closed early", ["-input", "mix"], mixed,
             streams={"early": ("stderr", 2)}, files={"mix/output.csv": HEADER + mixed_rows},
             err=Check(lambda d, S: None if d.count(b"\n") == 2 else "not two lines")),
        # Only standard output ends quietly, as a filter's does; a file is reported.
        *[Case("rows to a pipe closed early " + " ".join(args), ["-input", "roms"] + args, many,
               status=status, err=err, streams={"early": ("stdout", 2)}, only="posix",
               out=Check(lambda d, S: None if d.startswith(expand(HEADER)) else "no header"))
          for args, status, err in ((["-nofile"], -13, ""), (["-output", "/dev/stdout"], 1,
              "Failed to write header to the output file: %s\n" % os.strerror(errno.EPIPE)))],
        # -zip: the ROMs inside archives; what cannot be read is reported and
        # passed over.
        Case("-zip", ["-input", "z", "-zip", "-nofile"], zips, out=zip_rows, err=zip_err, sort_err=True,
             twin={"CARTOLOG_LOOKAHEAD": "on"}),
        Case("-zip -verify", ["-input", "v", "-zip", "-verify", "-output", "v.csv"],
             # The last member's data is cut to 16 KiB: it inflates past its
             # first 4 KiB, not to its end.
             {"v/set.zip": central(archive(("good.gb", valid("GOOD")), ("8m.gb", valid("EIGHT", 8 << 20)),
                                           ("over.gb", valid("OVER", (8 << 20) + 1)), ("zeros.gb", bytes(64 << 20)),
                                           ("cut.gb", valid("CUT") + os.urandom(32768))), 4, 20, 0x4000)},
             files={"v.csv": zip_verified}),
        Case("without -zip a .zip is a file", ["-input", "z", "-nofile"], {"z/x.zip": rom("X")},
             out=HEADER + row(P("z/x.zip"), "X")),
        # Every record of the directory is read, whatever count the archive
        # states; records that share one entry's data are refused, each; a
        # stream that opens with many empty blocks is read as far as it goes.
        Case("-zip reads the whole directory and refuses overlapping entries",
             ["-input", "z", "-zip", "-nofile"],
             {"z/count.zip": raw_zip([(b"%d.gb" % i, rom("C%d" % i)) for i in range(5)], stated=2),
              "z/bomb.zip": raw_zip([(b"ok.gb", rom("OK")), (b"rom.gb", rom("ROM"))], repeat=40),
              "z/hidden.zip": hidden_header_zip(rom("HIDDEN")),
              "z/blocks.zip": raw_zip([(b"slow.gb", rom("SLOW"), 0,
                                        b"\0\0\0\xff\xff" * 20000 + deflated(rom("SLOW")))])},
             out=HEADER + "".join(zip_row(name, title) for name, title in [
                 ("count.zip#%d.gb" % i, "C%d" % i) for i in range(5)] + [
                 ("bomb.zip#ok.gb", "OK"), ("blocks.zip#slow.gb", "SLOW")]), sort_err=True,
             err="Failed to read ZIP entry %s#rom.gb: data overlaps another entry\n" % P("z/bomb.zip") * 40
             + "".join("Failed to read ZIP entry %s#%s: data overlaps another entry\n" % (P("z/hidden.zip"), name)
                       for name in ("a" * 200 + ".gb", "b.gb"))),
        # Names without the archive's UTF-8 flag are code page 437; a flagged
        # name that is not UTF-8 gets U+FFFD; a zero byte spoils a name.
        Case("-zip -utf8 names", ["-input", "z", "-zip", "-nofile", "-utf8", "-headless"],
             {"z/n.zip": raw_zip([(b"\x80af\x82.gb", rom("CP")), (b"caf\xc3\xa9.gb", rom("U8"), 0x800),
                                  (b"bad\xff\xc3.gb", rom("BAD"), 0x800), (b"nul\0x.gb", rom("NUL"))])},
             out="".join(zip_row(name, title) for name, title in (
                 ("n.zip#\xc3\x87af\xc3\xa9.gb", "CP"), ("n.zip#caf\xc3\xa9.gb", "U8"),
                 ("n.zip#bad\xef\xbf\xbd\xef\xbf\xbd.gb", "BAD"))),
             err="Failed to read ZIP entry %s#nul: damaged entry name\n" % P("z/n.zip")),

        # Control bytes never reach a terminal; files and pipes keep them.
        Case("a terminal sees no escape sequence", ["-input", "t", "-nofile", "-headless"],
             {"t/\x1b]0;x\x07.gb": rom('T"\x1b[2J'), "t/\x1b[31m": b"short"}, streams={"tty": "stdout"},
             out=row(P("t/?]0;x?.gb"), 'T"?[2J'), err=not_rom(P("t/\x1b[31m")), only="posix"),
        Case("a terminal sees no escape sequence in messages", ["-input", "t", "-nofile", "-headless"],
             {"t/\x1b[31m\x9b2J\xc2\x9d": b"short"}, streams={"tty": "stderr"},
             err=not_rom(P("t/?[31m?2J?")), only="posix"),
        # C1 controls too, alone or in UTF-8; other UTF-8 comes through whole.
        *[Case(" ".join(["a terminal sees no C1 control"] + extra), ["-input", "t", "-nofile", "-headless"]
               + extra, {"t/\x9b1m\xe3\x83\x86.gb": rom("T\x9d0;x\x07")}, streams={"tty": "stdout"},
               out=row(P("t/?1m\xe3\x83\x86.gb"), title), only="posix")
          for extra, title in (([], "T?0;x?"), (["-utf8"], "T?0;x?"))],

        # What only the Windows build shows.
        # A console takes characters: each row once, as the characters of its
        # bytes or of its UTF-8, whatever the console adds around them.
        *[Case(" ".join(["a console shows characters"] + extra), ["-input", "t", "-nofile", "-headless"] + extra,
               {"t/\u00e9.gb".encode(): rom("T\x9b1m\xc4")}, streams={"tty": "stdout"}, only="windows",
               out=Check(lambda d, S: None if re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", d) == expand(
                   row("t\\\xc3\xa9.gb", "T?1m\xc3\x84")) else "shown: %r" % d))
          for extra in ([], ["-utf8"])],
        Case("characters up to FF are their bytes", ["-input", "r\xe9ms", "-nofile"],
             {"r\u00e9ms/caf\u00e9.gb".encode(): rom("CAFE"), "r\u00e9ms/\u00ff.txt".encode(): b"no"},
             out=HEADER + row("r\xe9ms\\caf\xe9.gb", "CAFE"), err=not_rom("r\xe9ms\\\xff.txt"),
             only="windows"),
        # Names reach the system as listed, never by the rules for typed
        # paths (trailing dots and spaces dropped, device names).
        *[Case("names as listed below " + (root or "a typed root"), ["-input", root + P("w"), "-recursive", "-nofile"],
               listed_tree, out=HEADER + "".join(row(root + P("w/" + name), title) for name, title in listed),
               only="windows") for root in ("", "\\\\.\\" + S.a() + "\\", S.share + "\\")],
        # Where the output's identity is known, only that file is passed over.
        Case("a file named like the output device", ["-input", "", "-output", "nul", "-stdout"],
             {"w/nul": rom("NUL")}, cwd="w", out=HEADER + row("nul", "NUL"), only="windows"),
        Case("a file named like the output as typed", ["-input", "w", "-output", P("w/b.gb."), "-stdout"],
             {"w/b.gb": rom("B"), "w/b.gb.": rom("DOT")}, out=HEADER + row(P("w/b.gb."), "DOT"),
             files={"w/b.gb": HEADER + row(P("w/b.gb."), "DOT")}, only="windows"),
        Case("an empty drive is an empty folder", ["-input", S.drive + "\\", "-output", "out.csv",
             "-stdout"], {"drive": DIR}, drive="drive", out=HEADER, files={"out.csv": HEADER},
             only="windows"),
        # A name beyond FF fails its row, and ends the walk unless -keepgoing.
        *[Case(" ".join(["a name beyond FF fails its row"] + extra), ["-input", "roms", "-nofile"] + extra,
               dict({"roms/\u0100.gb".encode(): rom("WIDE")}, **more), out=HEADER + rest, status=1, only="windows",
               err="Failed to convert filename roms\\?.gb to a multibyte representation.: %s\n" % EILSEQ)
          for extra, more, rest in (([], {}, ""), (["-keepgoing"], {"roms/z.gb": rom("Z")}, row("roms\\z.gb", "Z")))],
    ]
