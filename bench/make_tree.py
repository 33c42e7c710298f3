#!/usr/bin/env python3
"""Makes a tree of synthetic ROM images for the benchmark.

Usage: make_tree.py [--zip | --full-size] N DIR

Writes N files under DIR in nested folders (DIR/gNN/sNN/, a hundred files a
folder). Each ROM image holds a cartridge header in its first 4 KiB and is
extended to 32 KiB with ftruncate, so that it reads like a ROM but takes one
block of disk. One file in fifty is a short text note instead. The contents
follow from a fixed seed, so the same N always gives the same tree.

With --zip each ROM image, whole and deflated, is the one entry of a .zip
archive of its own name: the same tree as a zipped collection keeps it.

With --full-size every file is a ROM image of 1 MiB written out in full:
seeded random bytes, which do not compress, under a header that names that
size and whose header and global checksums are right. Such a tree is for
runs that read and hash every byte; there are no notes in it.
"""
import os
import random
import string
import sys
import zipfile

ROM_SIZE = 32 * 1024
FULL_SIZE = 1024 * 1024
READ_SIZE = 4096
FILES_PER_FOLDER = 100
FOLDERS_PER_GROUP = 20

# Title characters, with a few that the report must quote or double.
TITLE_CHARS = string.ascii_uppercase + string.digits + " " * 6 + "-'.,\""
OLD_LICENSEES = [0x00, 0x01, 0x08, 0x13, 0x18, 0x20, 0x28, 0x31, 0x33, 0x41, 0x52, 0x79,
                 0xA4, 0xC3, 0xEB, 0xFF]
NEW_LICENSEES = [b"01", b"08", b"13", b"18", b"20", b"28", b"31", b"41", b"52", b"69",
                 b"A4", b"ZZ"]
PAK_TYPES = [0x00, 0x01, 0x03, 0x05, 0x10, 0x13, 0x19, 0x1B, 0x1E, 0x20, 0x21, 0x22,
             0xFC, 0xFF]


def rom_image(rng):
    image = bytearray(READ_SIZE)
    # Entry point and logo area: arbitrary bytes, never read by the tool.
    image[0x100:0x134] = bytes(rng.randrange(256) for _ in range(0x34))
    color = rng.choice([0x00, 0x00, 0x80, 0xC0, ord("E")])
    title_room = 16 if color not in (0x80, 0xC0) else 15
    title = "".join(rng.choice(TITLE_CHARS) for _ in range(rng.randrange(4, title_room + 1)))
    encoded = title.encode("ascii")[:title_room]
    image[0x134:0x134 + len(encoded)] = encoded
    if rng.random() < 0.3:
        image[0x13F:0x143] = "".join(rng.choice(string.ascii_uppercase) for _ in range(4)).encode()
    image[0x143] = color
    image[0x144:0x146] = rng.choice(NEW_LICENSEES)
    image[0x146] = rng.choice([0x00, 0x03])
    image[0x147] = rng.choice(PAK_TYPES)
    image[0x148] = rng.randrange(0, 10)
    image[0x149] = rng.randrange(0, 6)
    image[0x14A] = rng.randrange(0, 3)
    image[0x14B] = rng.choice(OLD_LICENSEES)
    image[0x14C] = rng.randrange(0, 256)
    return bytes(image)


def full_image(rng):
    """A 1 MiB image: random bytes, the header of rom_image, both checksums."""
    image = bytearray(rng.randbytes(FULL_SIZE))
    image[0x100:0x14D] = rom_image(rng)[0x100:0x14D]
    image[0x148] = 5  # 1 MiB
    check = 0
    for byte in image[0x134:0x14D]:
        check = (check - byte - 1) & 0xFF
    image[0x14D] = check
    image[0x14E:0x150] = b"\0\0"
    image[0x14E:0x150] = (sum(image) & 0xFFFF).to_bytes(2, "big")
    return bytes(image)


def main():
    args = sys.argv[1:]
    zipped = args[:1] == ["--zip"]
    full = args[:1] == ["--full-size"]
    args = args[1:] if zipped or full else args
    if len(args) != 2:
        sys.exit("usage: make_tree.py [--zip | --full-size] N DIR")
    count = int(args[0])
    root = args[1]
    rng = random.Random(20240601)
    os.makedirs(root, exist_ok=True)
    current = None
    for i in range(count):
        folder_index = i // FILES_PER_FOLDER
        folder = os.path.join(root, "g%02d" % (folder_index // FOLDERS_PER_GROUP),
                              "s%02d" % (folder_index % FOLDERS_PER_GROUP))
        if folder != current:
            os.makedirs(folder, exist_ok=True)
            current = folder
        if full:
            with open(os.path.join(folder, "rom-%06d.gb" % i), "wb") as rom:
                rom.write(full_image(rng))
            continue
        if i % 50 == 49:
            with open(os.path.join(folder, "note-%06d.txt" % i), "wb") as note:
                note.write(b"Dumped from a cartridge of the shelf, label worn.\n")
            continue
        if zipped:
            name = "rom-%06d" % i
            image = rom_image(rng).ljust(ROM_SIZE, b"\0")
            with zipfile.ZipFile(os.path.join(folder, name + ".zip"), "w", zipfile.ZIP_DEFLATED) as z:
                z.writestr(name + ".gb", image)
            continue
        fd = os.open(os.path.join(folder, "rom-%06d.gb" % i),
                     os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        try:
            os.write(fd, rom_image(rng))
            os.ftruncate(fd, ROM_SIZE)
        finally:
            os.close(fd)


if __name__ == "__main__":
    main()
