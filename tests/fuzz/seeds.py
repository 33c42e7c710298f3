#!/usr/bin/env python3
"""Writes a few seeds per fuzz target, each near a case that matters, into
OUT/TARGET/. Usage: seeds.py OUT"""
import os
import sys
import zipfile

# The end-to-end cases' archive makers; a zip seed's first byte picks -verify.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from cases import archive, rom, valid, zip64  # noqa: E402


def image(texts):
    """A 4 KiB image with each text at its offset; offset 0 names the file."""
    data = bytearray(4096)
    for offset, text in texts.items():
        data[offset:offset + len(text)] = text
    return bytes(data)


# A header that passes the logo and header checksum checks.
VALID = b"ok.gb" + valid("VALID", 4096)[5:]


# DATs in both forms, with a DOCTYPE, references, hashes in either case,
# statuses and blocks to pass over.
MD5, SHA1 = "0123456789abcdef" * 2, "0123456789abcdef" * 2 + "01234567"
XML_DAT = f"""<?xml version="1.0"?>
<!DOCTYPE datafile PUBLIC "-//Example//DTD Datafile//EN" "http://example.invalid/datafile.dtd">
<datafile><header><name>Seed</name></header>
<game name="A &amp; B (Caf&#233;)"><description>d</description>
<rom name="a.gb" size="32768" crc="0a1b2c3d" md5="{MD5}" sha1="{SHA1}" status="verified"/>
<rom name="b.gb" size="32768" crc="0A1B2C3D" md5="{MD5.upper()}"/></game>
<machine name="M"><rom name="m.gbc" size="65536" status="nodump"/></machine></datafile>
""".encode()
TEXT_DAT = f"""clrmamepro ( name "Seed" version 20240101 )
game ( name "Some Game (World)" description "Some Game (World)"
\trom ( name "s.gb" size 262144 crc 0A1B2C3D md5 {MD5.upper()} sha1 {SHA1} flags baddump )
\trom ( name "t.gb" size 262144 crc 0a1b2c3d ) )
machine ( name m rom ( name "n.gb" size 1 status nodump serial ( x ) ) )
""".encode()


SEEDS = {
    "header": [image({0: b"roms/demo.gb", 0x134: b"DEMO", 0x147: b"\1\1\0\1"}),
               image({0: b"a/b.gbc", 0x134: b"COLORTITLEXAB12\x80", 0x147: b"\x1b"}),
               image({0: b'dir/"odd", \xe9\xff\n.gb', 0x134: b'A"B,C\nD', 0x14b: b"\x8f"}),
               image({0: b"n.gb", 0x144: b"01", 0x14b: b"\x33"}), VALID,
               # The ends of the size tables.
               image({0: b"8m.gb", 0x148: b"\x08\x01"}), image({0: b"9.gb", 0x148: b"\x09\x05"})],
    "args": [b"\0".join(p) for p in ([b"-input", b"roms", b"-output", b"out.csv"],
                                      [b"-recursive", b"-stdout", b"-headless", b"-append",
                                       b"-nofile", b"-gui", b"-stdout"],
                                      [b"-input", b"p" * 259], [b"-output", b"q" * 260],
                                      [b"Failed to open %s", b"x" * 600, b"%%s \1\3"])],
    "zip": [b"\0" + archive(("a.gb", rom("A"), zipfile.ZIP_STORED), ("d/", b""), ("d/b.gb", rom("B")),
                             ("note.txt", b"note")),
            b"\1" + archive(("v.gb", rom("V", 40000)), ("zeros.gb", bytes(1 << 16))),
            b"\1" + zip64("w.gb", rom("W"))],
    "dat": [XML_DAT, TEXT_DAT, TEXT_DAT.replace(b"size 1 ", b"size -1 ")],
}

for target, inputs in SEEDS.items():
    os.makedirs(os.path.join(sys.argv[1], target), exist_ok=True)
    for i, data in enumerate(inputs):
        with open(os.path.join(sys.argv[1], target, str(i)), "wb") as f:
            f.write(data)
