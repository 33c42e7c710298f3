// Reading ROM images out of ZIP archives: the central directory, each entry's
// local header, and its data stored or deflated. Archives are hostile input:
// every offset and size is checked against the archive before it is used,
// and an entry's output is bounded whatever its headers claim. One archive is
// read at a time; the buffers are the module's own, so nothing is allocated
// per archive or per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "header/rom_header.h"

// Where an archive's bytes come from: an open file, or memory.
struct ByteSource {
    /// Reads into `buffer` from `offset` on until it is full or the source
    /// ends; `got` tells how many bytes arrived. False when a read failed,
    /// with errno set. Never asked for a byte at or past `size`.
    bool (*readAt)(const void* context, std::uint64_t offset, std::span<std::uint8_t> buffer,
                   std::size_t& got);
    const void* context;
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
    Short,         // entry: fewer than 4096 bytes
};

// An open archive: where its central directory goes on.
struct ZipArchive {
    ByteSource source{};
    std::uint64_t next = 0;          // the next central directory record
    std::uint64_t directoryEnd = 0;  // the end of the central directory
    std::uint64_t entriesLeft = 0;   // records the archive says are still to come
};

// One entry as the central directory describes it, ZIP64 fields applied.
struct ZipEntry {
    std::string_view name;  // the bytes stored; valid until the next nextZipEntry
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
};

/// Finds the central directory of the archive in `source`. False with
/// `problem` set when there is none, or it is damaged or cannot be read.
bool openZipArchive(const ByteSource& source, ZipArchive& archive, ZipProblem& problem);

/// Gives the next entry that is a file; directory entries are passed over.
/// False at the end of the directory with `atEnd` set, or, with `problem`
/// set, when the directory is damaged or cannot be read.
bool nextZipEntry(ZipArchive& archive, ZipEntry& entry, bool& atEnd, ZipProblem& problem);

/// Puts the first 4096 bytes of `entry` into `image`. With `sum`, goes on to
/// the end of the entry, at most the largest ROM and one byte more, adding
/// every byte to `sum`; `complete` tells whether the end was reached. False
/// with `problem` set when the entry cannot give 4096 bytes; a failure after
/// them only leaves `complete` false.
bool readZipEntry(ZipArchive& archive, const ZipEntry& entry,
                  std::span<std::uint8_t, ROM_READ_SIZE> image, GlobalSum* sum, bool& complete,
                  ZipProblem& problem);

/// `path`, "#" and `name`, each byte of the name the unit of its value, as
/// messages name an entry. The buffer is reused by the next call; a zero
/// byte ends the name there.
const wchar_t* entryPath(const wchar_t* path, std::string_view name);

/// Reports `problem` for the archive or entry that `name` names; `method`
/// is the entry's, for ZipProblem::Method.
void reportZipProblem(const wchar_t* name, ZipProblem problem, std::uint16_t method = 0);
