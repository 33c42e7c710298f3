// Any bytes as a ZIP archive, read from memory as the walk reads a file: the
// first input byte picks the -verify bound, the rest is the archive. The
// reader must never ask for a byte outside the archive, and each entry it
// reads must give exactly the bytes that a separate reading here finds: the
// data after the local header, copied or inflated in one pass, the first
// 4096 bytes and the sum of at most the largest ROM and one byte.
#include <zlib.h>

#include <cstring>

#include "archive/zip.h"
#include "fuzz_check.h"

namespace {

struct Memory {
    const std::uint8_t* data;
    std::uint64_t size;
};

bool readMemory(void* context, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got) {
    const auto& memory = *static_cast<const Memory*>(context);
    fuzz::require(offset < memory.size && buffer.size() <= memory.size - offset,
                  "every read lies inside the archive");
    std::memcpy(buffer.data(), memory.data + offset, buffer.size());
    got = buffer.size();
    return true;
}

// The entry's bytes, at most `limit`, from its whole data in one pass: the
// first 4096 into `head`, every one into `sum`. `ended`: the data ended
// cleanly within the limit.
void readHere(const std::uint8_t* data, std::size_t size, bool deflated, std::uint64_t limit,
              std::uint8_t (&head)[ROM_READ_SIZE], GlobalSum& sum, bool& ended) {
    static std::uint8_t out[1 << 16];
    z_stream stream{};
    fuzz::require(inflateInit2(&stream, -MAX_WBITS) == Z_OK, "inflateInit2");
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    ended = !deflated;
    for (std::size_t offered = 0; sum.length < limit;) {
        const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof out, limit - sum.length));
        std::size_t got = std::min(room, size - offered);
        if (!deflated) {
            std::memcpy(out, data + offered, got);
            offered += got;
        } else {
            stream.next_out = out;
            stream.avail_out = static_cast<uInt>(room);
            const int status = inflate(&stream, Z_NO_FLUSH);
            got = room - stream.avail_out;
            ended = status == Z_STREAM_END;
        }
        if (sum.length < ROM_READ_SIZE) {
            std::memcpy(head + sum.length, out,
                        std::min<std::size_t>(got, ROM_READ_SIZE - sum.length));
        }
        sum.add({out, got});
        if (got < room) {
            break;
        }
    }
    inflateEnd(&stream);
}

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool whole = (data[0] & 1) != 0;
    Memory memory{data + 1, size - 1};
    const ByteSource source{readMemory, &memory, memory.size};
    static ZipReader reader;
    ZipArchive archive;
    ZipProblem problem = ZipProblem::None;
    if (!openZipArchive(reader, source, archive, problem)) {
        fuzz::require(problem == ZipProblem::NoDirectory || problem == ZipProblem::BadDirectory,
                      "an archive fails for its directory alone");
        return 0;
    }
    ZipEntry entry;
    bool atEnd = false;
    while (nextZipEntry(archive, entry, atEnd, problem)) {
        fuzz::require(!entry.name.ends_with('/'), "directory entries are passed over");
        std::uint8_t image[ROM_READ_SIZE];
        GlobalSum sum;
        bool complete = false;
        FileDigest unused;
        const bool read =
            readZipEntry(archive, entry, image, whole ? &sum : nullptr, nullptr, unused, complete, problem);
        const std::uint64_t at = entry.localOffset;
        if (!read && problem == ZipProblem::Overlaps) {
            continue;  // the reader's own pass over the directory decides
        }
        if (entry.flags % 2 != 0 || (entry.method != 0 && entry.method != 8) ||
            entry.name.find('\0') != std::string_view::npos ||
            entry.size < ROM_READ_SIZE || at > memory.size || memory.size - at < 30) {
            fuzz::require(!read, "no row for an entry that must be passed over");
            continue;
        }
        const std::uint64_t start = at + 30 + le16(memory.data + at + 26) + le16(memory.data + at + 28);
        if (start > memory.size || entry.compressedSize > memory.size - start) {
            fuzz::require(!read, "no row for data outside the archive");
            continue;
        }
        std::uint8_t head[ROM_READ_SIZE];
        GlobalSum wanted;
        bool ended = false;
        readHere(memory.data + start, static_cast<std::size_t>(entry.compressedSize), entry.method == 8,
                 whole ? LARGEST_ROM + 1 : ROM_READ_SIZE, head, wanted, ended);
        const bool localSigned = std::memcmp(memory.data + at, "PK\3\4", 4) == 0;
        fuzz::require(read == (localSigned && wanted.length >= ROM_READ_SIZE),
                      "a row exactly when the entry gives 4096 bytes");
        if (read) {
            fuzz::require(std::memcmp(image, head, ROM_READ_SIZE) == 0, "the entry's first 4096 bytes");
            fuzz::require(!whole || (sum.length == wanted.length && sum.sum == wanted.sum &&
                                     sum.stored == wanted.stored &&
                                     sum.verdict(complete) == wanted.verdict(ended)),
                          "the whole entry summed, to the bound");
        }
    }
    fuzz::require(atEnd || problem == ZipProblem::BadDirectory, "a directory ends or is damaged");
    return 0;
}
