#include "archive/zip.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

#include "diag/diag.h"
#include "platform/platform.h"

namespace {

// Record signatures and fixed sizes.
constexpr std::uint32_t END_SIGNATURE = 0x06054B50;
constexpr std::uint32_t END64_LOCATOR_SIGNATURE = 0x07064B50;
constexpr std::uint32_t END64_SIGNATURE = 0x06064B50;
constexpr std::uint32_t CENTRAL_SIGNATURE = 0x02014B50;
constexpr std::uint32_t LOCAL_SIGNATURE = 0x04034B50;
constexpr std::size_t END_SIZE = 22;
constexpr std::size_t END64_LOCATOR_SIZE = 20;
constexpr std::size_t END64_SIZE = 56;
constexpr std::size_t CENTRAL_SIZE = 46;
constexpr std::size_t LOCAL_SIZE = 30;
constexpr std::uint16_t ZIP64_EXTRA = 0x0001;
constexpr std::uint32_t ZIP64_MARK = 0xFFFFFFFF;

constexpr std::uint16_t FLAG_ENCRYPTED = 0x0001;
constexpr std::uint16_t METHOD_STORED = 0;
constexpr std::uint16_t METHOD_DEFLATED = 8;

// The end record stands in the last 64 KiB and 22 bytes: it may carry a
// comment of up to 65535 bytes.
constexpr std::size_t END_SEARCH = END_SIZE + 0xFFFF;
// The longest central record before its comment: the fixed part, a name and
// an extra field of 65535 bytes each.
constexpr std::size_t LONGEST_RECORD = CENTRAL_SIZE + 2 * 0xFFFF;

// No archive that a collector keeps has more entries; a directory that
// claims more is taken as damaged rather than held in memory.
constexpr std::size_t MOST_ENTRIES = 1u << 22;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
std::uint64_t le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

static_assert(sizeof(ZipReader::directoryBytes) == LONGEST_RECORD &&
              sizeof(ZipReader::directoryBytes) >= END_SEARCH);

// Sets `problem`; always false, for `return fail(...)`.
bool fail(ZipProblem& problem, ZipProblem why) {
    problem = why;
    return false;
}

bool holds(const ZipWindow& window, std::uint64_t offset, std::size_t need) {
    return offset >= window.start && offset - window.start <= window.length &&
           need <= window.length - (offset - window.start);
}

// Gives the archive's bytes from `offset` on: at least `need` of them, and as
// many more as the window holds. They come from the window when it holds
// them, else from a read that fills it anew from `offset`. False when the
// archive has fewer than `need` bytes there (`problem` is then `outside`) or
// a read fails. `need` never exceeds the window's capacity.
bool view(ZipWindow& window, const ByteSource& source, std::uint64_t offset, std::size_t need,
          ZipProblem outside, std::span<const std::uint8_t>& bytes, ZipProblem& problem) {
    if (offset > source.size || need > source.size - offset) {
        return fail(problem, outside);
    }
    if (!holds(window, offset, need)) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(window.capacity, source.size - offset));
        window.length = 0;
        std::size_t got = 0;
        if (!source.readAt(source.context, offset, {window.bytes, count}, got)) {
            return fail(problem, ZipProblem::ReadFailed);
        }
        window.start = offset;
        window.length = got;
        // The file may have shrunk since its size was taken.
        if (got < need) {
            return fail(problem, outside);
        }
    }
    const auto at = static_cast<std::size_t>(offset - window.start);
    bytes = {window.bytes + at, window.length - at};
    return true;
}

// Entry data through the data window, or through the directory's where that
// holds it already: the first read takes in the whole of a small archive.
bool viewData(ZipReader& reader, const ByteSource& source, std::uint64_t offset, std::size_t need,
              ZipProblem outside, std::span<const std::uint8_t>& bytes, ZipProblem& problem) {
    ZipWindow& window = holds(reader.directory, offset, need) ? reader.directory : reader.data;
    return view(window, source, offset, need, outside, bytes, problem);
}

// The length of the local header at the start of `bytes`, with its name and
// extra field; 0 where none stands there.
std::uint64_t localHeaderLength(std::span<const std::uint8_t> bytes) {
    return le32(bytes.data()) == LOCAL_SIGNATURE
               ? LOCAL_SIZE + std::uint64_t{le16(&bytes[26])} + le16(&bytes[28])
               : 0;
}

// zlib takes its memory from the reader's arena. The one stream is made at
// the first entry and reset for each later one, so that the arena is drawn
// on once for the whole run and nothing is freed.
voidpf arenaAlloc(voidpf opaque, uInt items, uInt size) {
    auto& reader = *static_cast<ZipReader*>(opaque);
    constexpr std::size_t ALIGN = alignof(std::max_align_t);
    const std::size_t bytes = (std::size_t{items} * size + ALIGN - 1) / ALIGN * ALIGN;
    if (bytes > sizeof reader.arena - reader.arenaUsed) {
        return Z_NULL;
    }
    void* block = reader.arena + reader.arenaUsed;
    reader.arenaUsed += bytes;
    return block;
}

void arenaFree(voidpf /*opaque*/, voidpf /*address*/) {}

bool resetStream(ZipReader& reader) {
    if (reader.streamMade) {
        return inflateReset(&reader.stream) == Z_OK;
    }
    reader.stream.zalloc = arenaAlloc;
    reader.stream.zfree = arenaFree;
    reader.stream.opaque = &reader;
    reader.arenaUsed = 0;  // a failed making gave back nothing
    // Negative window bits: raw deflate data, as archives hold it.
    reader.streamMade = inflateInit2(&reader.stream, -MAX_WBITS) == Z_OK;
    return reader.streamMade;
}

// An entry's data as it is being read.
struct EntryData {
    std::uint64_t offset;  // the next input byte in the archive
    std::uint64_t left;    // input bytes that may still be taken
    bool deflated;
    bool ended = false;    // every byte of the entry has been given
};

// Fills `out` with the entry's next bytes, or gives fewer when the entry
// ends. False with `problem` set when the data is cut short, is not deflate
// data, or cannot be read.
bool produce(ZipReader& reader, const ByteSource& source, EntryData& data,
             std::span<std::uint8_t> out, std::size_t& got, ZipProblem& problem) {
    z_stream& stream = reader.stream;
    got = 0;
    while (got < out.size() && !data.ended) {
        std::span<const std::uint8_t> input;
        if (data.left != 0) {
            if (!viewData(reader, source, data.offset, 1, ZipProblem::NotInflated, input, problem)) {
                return false;
            }
            input = input.first(
                static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), data.left)));
        }
        const std::span<std::uint8_t> room = out.subspan(got);
        std::size_t taken = 0;
        if (!data.deflated) {
            // Stored data ends with its bytes.
            if (input.empty()) {
                data.ended = true;
                break;
            }
            taken = std::min(input.size(), room.size());
            std::memcpy(room.data(), input.data(), taken);
            got += taken;
        } else {
            stream.next_in = const_cast<Bytef*>(input.data());
            stream.avail_in = static_cast<uInt>(input.size());
            stream.next_out = room.data();
            stream.avail_out = static_cast<uInt>(room.size());
            // With its input taken, the stream may still hold the rest of a
            // match; it ends itself, or makes no progress and is cut short.
            const int status = inflate(&stream, Z_NO_FLUSH);
            taken = input.size() - stream.avail_in;
            got += room.size() - stream.avail_out;
            if (status == Z_STREAM_END) {
                data.ended = true;
            } else if (status != Z_OK) {
                return fail(problem, ZipProblem::NotInflated);
            }
        }
        data.offset += taken;
        data.left -= taken;
    }
    return true;
}

// Applies the ZIP64 extra field to the sizes and offset that the 32-bit
// fields mark as stored there. False when a value is marked but missing.
bool applyZip64(std::span<const std::uint8_t> extra, ZipEntry& entry) {
    std::uint64_t* const fields[] = {&entry.size, &entry.compressedSize, &entry.localOffset};
    if (std::none_of(std::begin(fields), std::end(fields),
                     [](const std::uint64_t* value) { return *value == ZIP64_MARK; })) {
        return true;
    }
    for (std::size_t at = 0; extra.size() - at >= 4;) {
        const std::size_t length = le16(&extra[at + 2]);
        if (length > extra.size() - at - 4) {
            break;
        }
        if (le16(&extra[at]) == ZIP64_EXTRA) {
            std::size_t used = 0;
            for (std::uint64_t* value : fields) {
                if (*value != ZIP64_MARK) {
                    continue;
                }
                if (length - used < 8) {
                    return false;
                }
                *value = le64(&extra[at + 4 + used]);
                used += 8;
            }
            return true;
        }
        at += 4 + length;
    }
    return false;
}

// The messages, by ZipProblem. A failed read gets the system's text after
// the format; a short entry is reported as a short file is.
// clang-format off
constexpr const char* PROBLEM_FORMATS[] = {
    nullptr,
    "Failed to read ZIP archive %s",
    "Failed to read ZIP archive %s: no central directory\n",
    "Failed to read ZIP archive %s: damaged central directory\n",
    "Failed to read ZIP entry %s#%s: encrypted\n",
    "Failed to read ZIP entry %s#%s: compression method %s is not supported\n",
    "Failed to read ZIP entry %s#%s: damaged local header\n",
    "Failed to read ZIP entry %s#%s: data does not inflate\n",
    "Failed to read ZIP entry %s#%s: data overlaps another entry\n",
    "Failed to read ZIP entry %s#%s: damaged entry name\n",
    "Failed to read ZIP entry %s#%s: data does not match its CRC-32 or size\n",
    nullptr,
};
// clang-format on
static_assert(std::size(PROBLEM_FORMATS) == static_cast<std::size_t>(ZipProblem::Short) + 1);

// Reads the central record at `archive.next` into `entry` and moves on past
// it. False with `problem` set when it is damaged or cannot be read.
bool readRecord(ZipArchive& archive, ZipEntry& entry, ZipProblem& problem) {
    ZipWindow& window = archive.reader->directory;
    const std::uint64_t start = archive.next;
    const std::uint64_t room = archive.directoryEnd - start;
    std::span<const std::uint8_t> record;
    if (room < CENTRAL_SIZE) {
        return fail(problem, ZipProblem::BadDirectory);
    }
    if (!view(window, archive.source, start, CENTRAL_SIZE, ZipProblem::BadDirectory, record,
              problem)) {
        return false;
    }
    const std::size_t nameLength = le16(&record[28]);
    const std::size_t extraLength = le16(&record[30]);
    const std::size_t length = CENTRAL_SIZE + nameLength + extraLength;
    const std::size_t commentLength = le16(&record[32]);
    if (le32(record.data()) != CENTRAL_SIGNATURE || length + commentLength > room) {
        return fail(problem, ZipProblem::BadDirectory);
    }
    // The name and the extra field, from the window or after one more read.
    if (!view(window, archive.source, start, length, ZipProblem::BadDirectory, record, problem)) {
        return false;
    }
    entry.flags = le16(&record[8]);
    entry.method = le16(&record[10]);
    entry.crc = le32(&record[16]);
    entry.compressedSize = le32(&record[20]);
    entry.size = le32(&record[24]);
    entry.localOffset = le32(&record[42]);
    if (!applyZip64(record.subspan(CENTRAL_SIZE + nameLength, extraLength), entry)) {
        return fail(problem, ZipProblem::BadDirectory);
    }
    char* name = archive.reader->nameBytes;
    std::memcpy(name, &record[CENTRAL_SIZE], nameLength);
    entry.name = {name, nameLength};
    entry.record = archive.record++;
    archive.next = start + length + commentLength;
    return true;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > ~b ? ~std::uint64_t{0} : a + b;
}

// Reads the whole directory once and marks each entry whose data overlaps
// another's: with each entry's data read once at most, the work for an
// archive stays proportional to its size. A damaged record ends the pass;
// the walk through the entries meets it again and reports it there.
bool findOverlaps(ZipArchive archive, ZipProblem& problem) {
    ZipReader& reader = *archive.reader;
    reader.spans.clear();
    ZipEntry entry;
    while (archive.next < archive.directoryEnd && readRecord(archive, entry, problem)) {
        if (reader.spans.size() == MOST_ENTRIES) {
            return fail(problem, ZipProblem::BadDirectory);
        }
        // The entry takes its local header, whose own name and extra field may
        // run over another entry's header, and its data. A header that cannot
        // be read counts its fixed part: reading the entry reports it.
        std::uint64_t header = LOCAL_SIZE;
        std::span<const std::uint8_t> local;
        ZipProblem unread = ZipProblem::None;
        if (viewData(reader, archive.source, entry.localOffset, LOCAL_SIZE, ZipProblem::BadHeader,
                     local, unread)) {
            header = std::max(header, localHeaderLength(local));
        }
        reader.spans.push_back({entry.localOffset,
                                saturatingAdd(saturatingAdd(entry.localOffset, header),
                                              entry.compressedSize),
                                entry.record});
    }
    std::sort(reader.spans.begin(), reader.spans.end(),
              [](const ZipReader::Span& a, const ZipReader::Span& b) { return a.start < b.start; });
    reader.overlapping.assign(archive.record, false);
    // In the order of their starts, an entry overlaps one before it exactly
    // when it starts before the farthest end so far; marking it and the
    // entry of that end marks, in the end, every entry that overlaps any.
    const ZipReader::Span* farthest = nullptr;
    for (const ZipReader::Span& span : reader.spans) {
        if (farthest != nullptr && span.start < farthest->end) {
            reader.overlapping[span.record] = reader.overlapping[farthest->record] = true;
        }
        if (farthest == nullptr || span.end > farthest->end) {
            farthest = &span;
        }
    }
    return true;
}

}  // namespace

bool openZipArchive(ZipReader& reader, const ByteSource& source, ZipArchive& archive,
                    ZipProblem& problem) {
    archive = ZipArchive{&reader, source};
    reader.directory.length = 0;
    reader.data.length = 0;
    ZipWindow& directoryWindow = reader.directory;
    if (source.size < END_SIZE) {
        return fail(problem, ZipProblem::NoDirectory);
    }
    const auto tail = static_cast<std::size_t>(std::min<std::uint64_t>(source.size, END_SEARCH));
    const std::uint64_t tailStart = source.size - tail;
    std::span<const std::uint8_t> bytes;
    if (!view(directoryWindow, source, tailStart, tail, ZipProblem::NoDirectory, bytes, problem)) {
        return false;
    }
    // The last record signature whose comment fits before the end: a comment
    // may itself hold the signature.
    std::size_t at = tail - END_SIZE;
    while (le32(&bytes[at]) != END_SIGNATURE || le16(&bytes[at + 20]) > tail - at - END_SIZE) {
        if (at == 0) {
            return fail(problem, ZipProblem::NoDirectory);
        }
        --at;
    }
    const std::uint8_t* end = &bytes[at];
    const std::uint64_t endOffset = tailStart + at;
    // The count of entries is not trusted: the directory is read to its end.
    const bool entriesFull = le16(end + 10) == 0xFFFF;
    std::uint64_t directorySize = le32(end + 12);
    std::uint64_t directoryOffset = le32(end + 16);
    // ZIP64: a full field stands for a value in the ZIP64 end record, which a
    // locator just before the end record points to. Without the locator the
    // values are what they say.
    std::span<const std::uint8_t> locator;
    if ((entriesFull || directorySize == ZIP64_MARK || directoryOffset == ZIP64_MARK) &&
        endOffset >= END64_LOCATOR_SIZE) {
        if (!view(directoryWindow, source, endOffset - END64_LOCATOR_SIZE, END64_LOCATOR_SIZE,
                  ZipProblem::BadDirectory, locator, problem)) {
            return false;
        }
    }
    if (!locator.empty() && le32(locator.data()) == END64_LOCATOR_SIGNATURE) {
        std::span<const std::uint8_t> end64;
        if (!view(directoryWindow, source, le64(&locator[8]), END64_SIZE, ZipProblem::BadDirectory,
                  end64, problem)) {
            return false;
        }
        if (le32(end64.data()) != END64_SIGNATURE) {
            return fail(problem, ZipProblem::BadDirectory);
        }
        directorySize = le64(&end64[40]);
        directoryOffset = le64(&end64[48]);
    }
    if (directoryOffset > source.size || directorySize > source.size - directoryOffset) {
        return fail(problem, ZipProblem::BadDirectory);
    }
    archive.next = directoryOffset;
    archive.directoryEnd = directoryOffset + directorySize;
    return findOverlaps(archive, problem);
}

bool nextZipEntry(ZipArchive& archive, ZipEntry& entry, bool& atEnd, ZipProblem& problem) {
    atEnd = false;
    while (archive.next < archive.directoryEnd) {
        if (!readRecord(archive, entry, problem)) {
            return false;
        }
        if (!entry.name.ends_with('/')) {
            return true;
        }
    }
    atEnd = true;
    return false;
}

bool readZipEntry(ZipArchive& archive, const ZipEntry& entry,
                  std::span<std::uint8_t, ROM_READ_SIZE> image, GlobalSum* sum, Hasher* hasher,
                  FileDigest& digest, bool& complete, ZipProblem& problem) {
    complete = false;
    ZipReader& reader = *archive.reader;
    const bool known = entry.method == METHOD_STORED || entry.method == METHOD_DEFLATED;
    problem = reader.overlapping[entry.record]                 ? ZipProblem::Overlaps
              : entry.name.find('\0') != std::string_view::npos ? ZipProblem::BadName
              : (entry.flags & FLAG_ENCRYPTED) != 0             ? ZipProblem::Encrypted
              : !known                                          ? ZipProblem::Method
              : entry.size < ROM_READ_SIZE                      ? ZipProblem::Short
                                                                : ZipProblem::None;
    if (problem != ZipProblem::None) {
        return false;
    }
    const ByteSource& source = archive.source;
    std::span<const std::uint8_t> local;
    if (!viewData(reader, source, entry.localOffset, LOCAL_SIZE, ZipProblem::BadHeader, local, problem)) {
        return false;
    }
    const std::uint64_t header = localHeaderLength(local);
    const std::uint64_t start = entry.localOffset + header;
    if (header == 0 || start > source.size || entry.compressedSize > source.size - start) {
        return fail(problem, ZipProblem::BadHeader);
    }
    EntryData data{start, entry.compressedSize, entry.method == METHOD_DEFLATED};
    if (data.deflated && !resetStream(reader)) {
        return fail(problem, ZipProblem::NotInflated);
    }
    std::size_t got = 0;
    if (!produce(reader, source, data, image, got, problem)) {
        return false;
    }
    if (got < image.size()) {
        return fail(problem, ZipProblem::Short);
    }
    if (sum == nullptr && hasher == nullptr) {
        return true;
    }
    // The rest: up to the largest ROM and a byte for the sum, whole for the
    // digest.
    takeImageBytes(hasher, sum, image);
    bool readable = true;
    ZipProblem rest = ZipProblem::None;
    while (readable && !data.ended &&
           (hasher != nullptr || (sum != nullptr && sum->length <= LARGEST_ROM))) {
        readable = produce(reader, source, data, reader.restBytes, got, rest);
        takeImageBytes(hasher, sum, std::span(reader.restBytes, got));
    }
    complete = readable && data.ended;
    if (hasher == nullptr) {
        return true;
    }
    // Read whole, the entry must be what the directory says it is.
    const bool digested = finishHash(*hasher, digest);
    problem = !readable ? rest
              : digest.size != entry.size || !digested || digest.crc != entry.crc
                  ? ZipProblem::Mismatch
                  : ZipProblem::None;
    return problem == ZipProblem::None;
}

void reportZipProblem(const NativeChar* path, std::string_view member, ZipProblem problem,
                      std::uint16_t method) {
    // A zero byte ends the name that a message shows.
    member = member.substr(0, member.find('\0'));
    char digits[8];
    *std::to_chars(digits, digits + sizeof digits - 1, method).ptr = '\0';
    const auto index = static_cast<std::size_t>(problem);
    if (problem == ZipProblem::ReadFailed) {
        reportError(PROBLEM_FORMATS[index], path);
    } else if (problem == ZipProblem::Short) {
        reportNotARom(path, member);
    } else if (PROBLEM_FORMATS[index] != nullptr) {
        reportPlain(PROBLEM_FORMATS[index], path, member, digits);
    }
}
