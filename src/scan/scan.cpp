#include "scan/scan.h"

#include <cerrno>
#include <memory>
#include <utility>

#include "archive/zip.h"
#include "diag/diag.h"
#include "header/rom_header.h"
#include "scan/lookahead.h"

namespace {

// What the walk reads files through, made once for the run.
struct WalkBuffers {
    std::uint8_t bulk[256 * 1024];  // the rest of a file, in large reads
    std::unique_ptr<ZipReader> zip;
    Hasher hasher;
    RomReading reading;
};

// True when the name ends in ".zip", in any letter case.
bool isZipName(platform::NativeView name) {
    constexpr std::string_view SUFFIX = ".zip";
    if (name.size() < SUFFIX.size()) {
        return false;
    }
    name.remove_prefix(name.size() - SUFFIX.size());
    for (std::size_t i = 0; i < SUFFIX.size(); ++i) {
        const auto unit = static_cast<std::uint32_t>(name[i]);
        if ((unit >= 'A' && unit <= 'Z' ? unit - 'A' + 'a' : unit) !=
            static_cast<std::uint32_t>(SUFFIX[i])) {
            return false;
        }
    }
    return true;
}

// An archive's bytes come from its open file; the first read looks at the
// cache for the look-ahead, as a ROM's does.
struct ArchiveFile {
    const platform::File* file;
    FirstRead* look;
};

bool readArchive(void* context, std::uint64_t offset, std::span<std::uint8_t> buffer,
                 std::size_t& got) {
    auto& archive = *static_cast<ArchiveFile*>(context);
    return readLooking(*archive.file, offset, buffer, got, std::exchange(archive.look, nullptr));
}

// Writes a row for each ROM in the archive open as `file`; false ends the
// walk. What cannot be read is reported, once for the archive or for each
// entry, and passed over.
bool catalogueArchive(const platform::File& file, const NativeChar* path, WalkSettings& walk,
                      ZipReader& reader, Hasher& hasher, FirstRead* look) {
    ArchiveFile archiveFile{&file, look};
    ByteSource source{readArchive, &archiveFile, 0};
    ZipArchive archive;
    ZipProblem problem = ZipProblem::None;
    if (!platform::fileSize(file, source.size)) {
        problem = ZipProblem::ReadFailed;
    } else if (openZipArchive(reader, source, archive, problem)) {
        ZipEntry entry;
        bool atEnd = false;
        while (nextZipEntry(archive, entry, atEnd, problem)) {
            std::array<std::uint8_t, ROM_READ_SIZE> image;
            GlobalSum sum;
            FileDigest digest;
            bool complete = false;
            if (!readZipEntry(archive, entry, image, walk.wholeImages ? &sum : nullptr,
                              walk.hash ? &hasher : nullptr, digest, complete, problem)) {
                if (problem == ZipProblem::ReadFailed) {
                    break;
                }
                reportZipProblem(path, entry.name, problem, entry.method);
                continue;
            }
            CartHeaderInfo info;
            decodeImage(image, info, walk.wholeImages);
            info.globalChecksum = sum.verdict(complete);
            const bool utf8Name = (entry.flags & ZIP_FLAG_UTF8) != 0;
            if (!writeRows(*walk.report, {info, path, entry.name,
                                          utf8Name ? Charset::Utf8 : Charset::Cp437, &digest})) {
                return false;
            }
        }
        if (atEnd) {
            return true;
        }
    }
    reportZipProblem(path, {}, problem);
    return true;
}

// Reads one file and writes its row; false ends the walk. A run's own file
// that the listing did not give away is known by identity once it is open, in
// a directory that may hold one of them.
bool catalogueFile(const WalkFile& found, WalkSettings& walk, Lookahead& ahead,
                   WalkBuffers& buffers) {
    platform::File file;
    approachFile(ahead);
    if (!platform::openEntry(*found.listing, *found.entry, file)) {
        reportError("Failed to open ROM file %s", found.path);
        // Out of descriptors or memory, every later file would fail too: the
        // run fails, rather than the file.
        return errno != EMFILE && errno != ENFILE && errno != ENOMEM;
    }
    FirstRead firstRead;
    FirstRead* look = wantsLook(ahead) ? &firstRead : nullptr;
    bool result = true;
    if (mayHoldOwnFile(walk.rules, *found.listing) && isOwnOpenFile(walk.rules, file)) {
        look = nullptr;
    } else if (walk.archives && file.isRegular && isZipName(found.entry->name)) {
        if (!buffers.zip) {
            buffers.zip = std::make_unique<ZipReader>();
        }
        result = catalogueArchive(file, found.path, walk, *buffers.zip, buffers.hasher, look);
    } else {
        CartHeaderInfo info;
        FileDigest digest;
        switch (readRom(file, buffers.reading, info, digest, look)) {
            case RomRead::NotARom:
                reportNotARom(found.path);
                break;
            case RomRead::Read:
                result = writeRows(*walk.report, {info, found.path, {}, Charset::Report, &digest});
                break;
            case RomRead::CutShort:
                // The row still tells what the header holds; its digest fields stay empty.
                reportCutShort(found.path, errno);
                result = writeRows(*walk.report, {info, found.path, {}});
                break;
        }
    }
    if (look != nullptr) {
        fileLooked(ahead, *look);
    }
    platform::closeFile(file);
    return result;
}

}  // namespace

bool scanDirectory(const NativeChar* directory, WalkSettings& walk) {
    TreeCursor cursor;
    if (!startWalk(cursor, directory, walk.rules, false)) {
        return false;
    }
    auto buffers = std::make_unique<WalkBuffers>();
    buffers->reading = {walk.wholeImages, walk.hash ? &buffers->hasher : nullptr, buffers->bulk};
    if (walk.hash && !platform::openDigests(buffers->hasher.digests)) {
        reportPlain("Failed to make the MD5 and SHA-1 digests\n");
        endWalk(cursor);
        return false;
    }
    auto ahead = std::make_unique<Lookahead>();
    prepareLookahead(*ahead, directory, walk.rules);
    bool written = true;
    WalkFile file;
    while (written && nextFile(cursor, file)) {
        written = catalogueFile(file, walk, *ahead, *buffers);
    }
    endWalk(cursor);
    endLookahead(*ahead);
    platform::closeDigests(buffers->hasher.digests);
    return written && !cursor.failed;
}
