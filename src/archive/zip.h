// Reading ROM images out of ZIP archives: the central directory, each entry's
// local header, and its data stored or deflated. Archives are hostile input:
// every offset and size is checked against the archive before it is used,
// and an entry's output is bounded whatever its headers claim. One archive is
// read at a time, through the buffers of a ZipReader that the walk makes
// once, so nothing is allocated per archive or per entry.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "header/rom_header.h"

// Where an archive's bytes come from: an open file, or memory.
struct ByteSource {
    /// Reads into `buffer` from `offset` on until it is full or the source
    /// ends; `got` tells how many bytes arrived. False when a read failed,
    /// with errno set. Never asked for a byte at or past `size`.
    bool (*readAt)(void* context, std::uint64_t offset, std::span<std::uint8_t> buffer,
                   std::size_t& got);
    void* context;
    std::uint64_t size;
};

// Why an archive or one of its entries could not be read.
enum class ZipProblem : std::uint8_t {
    None,
    ReadFailed,    // archive: a read failed, errno tells why
    NoDirectory,   // archive: no end of central directory record
    BadDirectory,  // archive: the central directory is damaged or lies outside it
    Encrypted,     // entry
    Method,        // entry: compressed with a method other than stored and deflate
    BadHeader,     // entry: the local header or the data lies outside the archive
    NotInflated,   // entry: the data is cut short or is not deflate data
    Overlaps,      // entry: its data overlaps another entry's, or shares its local header
    BadName,       // entry: its name holds a zero byte
    Mismatch,      // entry: its data, read whole, does not match its CRC-32 or size
    Short,         // entry: fewer than 4096 bytes
};

// Bytes of an archive held from one read.
struct ZipWindow {
    std::uint8_t* bytes;
    std::size_t capacity;
    std::uint64_t start = 0;
    std::size_t length = 0;
};

// The buffers of the archive being read: the central directory through one
// window and entry data through another, so that reading an entry does not
// throw away the directory around the next record; zlib's memory, drawn once
// for the whole run; and the name of the entry last given.
struct ZipReader {
    // The end record stands in the last 64 KiB and 22 bytes; a central record
    // holds a name and an extra field of up to 65535 bytes each.
    std::uint8_t directoryBytes[46 + 2 * 0xFFFF];
    std::uint8_t dataBytes[64 * 1024];
    std::uint8_t restBytes[64 * 1024];  // the rest of an entry with -verify
    alignas(std::max_align_t) std::uint8_t arena[64 * 1024];
    char nameBytes[0xFFFF];
    ZipWindow directory{directoryBytes, sizeof directoryBytes};
    ZipWindow data{dataBytes, sizeof dataBytes};
    std::size_t arenaUsed = 0;
    z_stream stream{};
    bool streamMade = false;
    // Where each entry's data lies, by the order of the central directory,
    // and which entries overlap another: grown to the largest archive once.
    struct Span {
        std::uint64_t start;
        std::uint64_t end;
        std::uint32_t record;
    };
    std::vector<Span> spans;
    std::vector<bool> overlapping;
};

// An open archive: where its central directory goes on.
struct ZipArchive {
    ZipReader* reader = nullptr;
    ByteSource source{};
    std::uint64_t next = 0;          // the next central directory record
    std::uint64_t directoryEnd = 0;  // the end of the central directory
    std::uint32_t record = 0;        // the next record's number
};

// One entry as the central directory describes it, ZIP64 fields applied.
struct ZipEntry {
    std::string_view name;  // the bytes stored; valid until the next nextZipEntry
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
    std::uint32_t crc = 0;
    std::uint32_t record = 0;  // its place in the central directory
};

// Flag bit 11: the entry's name is UTF-8; else it is in code page 437.
inline constexpr std::uint16_t ZIP_FLAG_UTF8 = 0x0800;

/// Finds the central directory of the archive in `source`, to be read
/// through `reader`, and reads it once through to learn which entries
/// overlap. False with `problem` set when there is none, or it is damaged or
/// cannot be read.
bool openZipArchive(ZipReader& reader, const ByteSource& source, ZipArchive& archive,
                    ZipProblem& problem);

/// Gives the next entry that is a file, whatever count of entries the
/// archive states; directory entries are passed over. False at the end of
/// the directory with `atEnd` set, or, with `problem` set, when the
/// directory is damaged or cannot be read.
bool nextZipEntry(ZipArchive& archive, ZipEntry& entry, bool& atEnd, ZipProblem& problem);

/// Puts the first 4096 bytes of `entry` into `image`. With `sum`, goes on to
/// the end of the entry, at most the largest ROM and one byte more, adding
/// every byte to `sum`; `complete` tells whether the end was reached. With
/// `hasher`, reads the whole entry into it, puts its digest into `digest`
/// and checks its size and CRC-32 against the directory's. Only the entry's
/// own compressed bytes are read.
/// False with `problem` set when the entry cannot give 4096 bytes, or, with
/// `hasher`, cannot be read whole or does not match; otherwise a failure
/// after the first 4096 bytes only leaves `complete` false.
bool readZipEntry(ZipArchive& archive, const ZipEntry& entry,
                  std::span<std::uint8_t, ROM_READ_SIZE> image, GlobalSum* sum, Hasher* hasher,
                  FileDigest& digest, bool& complete, ZipProblem& problem);

/// Reports `problem` for the archive at `path`, or for its entry `member`
/// when one is given; `method` is the entry's, for ZipProblem::Method.
void reportZipProblem(const NativeChar* path, std::string_view member, ZipProblem problem,
                      std::uint16_t method = 0);
