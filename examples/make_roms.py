#!/usr/bin/env python3
"""Writes the example ROM images in examples/roms, and examples/example.dat,
a DAT file that knows three of them and one that the examples lack.

Each image is 32 KiB: a cartridge header at 0x100 and zeros elsewhere. They
carry no program; they exist so that cartolog has something real to
catalogue. Run from anywhere: python3 examples/make_roms.py
"""
import hashlib
import pathlib
import zlib

ROM_BYTES = 32 * 1024

# name, title bytes, manufacturer code, colour flag, SGB flag, cartridge type,
# ROM size code, RAM size code, destination, old licensee, new licensee, version
EXAMPLES = [
    ("hello.gb", b"HELLO CART", b"", 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, b"\0\0", 0),
    ("puzzle-box.gb", b"PUZZLE BOX", b"", 0x00, 0x03, 0x03, 0x02, 0x02, 0x00, 0x33, b"01", 1),
    ("star-hopper.gbc", b"STAR HOPPR", b"AHPE", 0x80, 0x00, 0x1B, 0x05, 0x03, 0x01, 0x33, b"9H", 2),
    ("night-train.gbc", b"NIGHT TRN", b"BNTJ", 0xC0, 0x00, 0x10, 0x06, 0x03, 0x00, 0x8F, b"\0\0", 0),
    ("collection/quote,comma.gb", b'SAY "HI", ALL', b"", 0x00, 0x00, 0x01, 0x01, 0x00, 0x01, 0x93, b"\0\0", 255),
]


def header_checksum(rom: bytearray) -> int:
    value = 0
    for byte in rom[0x134:0x14D]:
        value = (value - byte - 1) & 0xFF
    return value


def make(title, code, cgb, sgb, kind, rom_size, ram_size, dest, old, new, version):
    rom = bytearray(ROM_BYTES)
    rom[0x100:0x104] = b"\x00\xC3\x50\x01"  # nop; jp 0x150
    rom[0x134:0x134 + len(title)] = title
    if code:
        rom[0x13F:0x143] = code
    rom[0x143] = cgb
    rom[0x144:0x146] = new
    rom[0x146] = sgb
    rom[0x147] = kind
    rom[0x148] = rom_size
    rom[0x149] = ram_size
    rom[0x14A] = dest
    rom[0x14B] = old
    rom[0x14C] = version
    rom[0x14D] = header_checksum(rom)
    return bytes(rom)


# The DAT's games: name, the example it describes (or the bytes of one that the
# examples lack) and its status.
DAT_GAMES = [
    ("Hello Cart (World)", "hello.gb", "verified"),
    ("Puzzle Box (Japan) (Rev 1)", "puzzle-box.gb", ""),
    ("Star Hopper (World) (Rev 2)", "star-hopper.gbc", "baddump"),
    ("Lost Cart (World)", b"LOST CART", ""),
]


def dat_entry(game, name, rom, status):
    flags = " flags %s" % status if status else ""
    return ('game (\n\tname "%s"\n\trom ( name "%s" size %d crc %08x md5 %s sha1 %s%s )\n)\n'
            % (game, name, len(rom), zlib.crc32(rom), hashlib.md5(rom).hexdigest(),
               hashlib.sha1(rom).hexdigest(), flags))


def main():
    here = pathlib.Path(__file__).resolve().parent
    images = {}
    for name, *fields in EXAMPLES:
        path = here / "roms" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        images[name] = make(*fields)
        path.write_bytes(images[name])
    dat = 'clrmamepro (\n\tname "Cartolog examples"\n)\n\n'
    for game, example, status in DAT_GAMES:
        if isinstance(example, bytes):
            rom, name = make(example, b"", 0, 0, 0, 0, 0, 1, 1, b"\0\0", 0), "lost-cart.gb"
        else:
            rom, name = images[example], example
        dat += dat_entry(game, name, rom, status)
    (here / "example.dat").write_text(dat)


if __name__ == "__main__":
    main()
