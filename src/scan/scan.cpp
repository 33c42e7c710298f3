#include "scan/scan.h"

#include <array>
#include <cerrno>
#include <cwchar>
#include <string_view>

#include "archive/zip.h"
#include "diag/diag.h"
#include "header/rom_header.h"
#include "report/csv.h"
#include "scan/lookahead.h"
#include "scan/path.h"

namespace {

bool buildSearchPattern(PathBuffer& pattern, const wchar_t* directory) {
    if (!copyPath(pattern, directory)) {
        reportError(L"Failed to copy path string \"%s\"", directory);
    } else if (!appendSeparator(pattern)) {
        reportError(L"Failed to append path separator to \"%s\"", pattern);
    } else if (!appendSegment(pattern, L"*")) {
        reportError(L"Failed to append path segment \"%s\" to \"%s\"", L"*", pattern);
    } else {
        return true;
    }
    reportPlain(L"Failed to prepare search path for input path %s", directory);
    return false;
}

// The paths of a directory's entries: the directory's path and a separator,
// built once, then each name after them. A step of the first part that does
// not fit is reported at the first entry, as building its path would be.
struct EntryPaths {
    PathBuffer path;
    std::size_t prefixLength = 0;
    enum class Step { Built, Copy, Separator } failed = Step::Built;
    // Where the system names files in bytes, the first part as those bytes,
    // for the rows.
    char prefixBytes[platform::PATH_CAPACITY];
    bool hasBytes = false;

    explicit EntryPaths(const wchar_t* directory) {
        if (!copyPath(path, directory)) {
            failed = Step::Copy;
        } else if (!appendSeparator(path)) {
            failed = Step::Separator;
        }
        prefixLength = std::wcslen(path);
        hasBytes = !platform::PATH_UNITS_ARE_UTF16;
        for (std::size_t i = 0; hasBytes && i < prefixLength; ++i) {
            hasBytes = static_cast<std::uint32_t>(path[i]) <= 0xFF;
            prefixBytes[i] = static_cast<char>(path[i]);
        }
    }

    /// The path of `entry`, built last, as bytes; false where there are none.
    bool bytesOf(const platform::DirEntry& entry, PathBytes& bytes) const {
        bytes = {{prefixBytes, prefixLength}, entry.nameBytes};
        return hasBytes && !entry.nameBytes.empty();
    }
};

bool buildEntryPath(EntryPaths& paths, const wchar_t* directory, const wchar_t* name) {
    PathBuffer& path = paths.path;
    errno = ERANGE;
    if (paths.failed == EntryPaths::Step::Copy) {
        reportError(L"Failed to copy path string \"%s\"", directory);
    } else if (paths.failed == EntryPaths::Step::Separator) {
        reportError(L"Failed to append path separator to \"%s\"", path);
    } else if (!appendSegmentAt(path, paths.prefixLength, name)) {
        reportError(L"Failed to append path segment \"%s\" to \"%s\"", name, path);
    } else {
        return true;
    }
    reportPlain(L"Failed to create path for input file %s in directory %s", name, directory);
    return false;
}

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool isOwnFile(const WalkSettings& walk, const platform::FileId& id) {
    for (const platform::OwnFile& own : walk.ownFiles) {
        if (platform::sameFile(id, own.file)) {
            return true;
        }
    }
    return false;
}

// Whether the files of `listing` must be told apart from the run's own by
// identity: only in a directory that holds one of them, or may.
bool mayHoldOwnFile(const WalkSettings& walk, const platform::DirListing& listing) {
    for (const platform::OwnFile& own : walk.ownFiles) {
        if (own.file.known &&
            (!own.directory.known || platform::sameFile(own.directory, listing.id))) {
            return true;
        }
    }
    return false;
}

bool writeRows(const WalkSettings& walk, const CartHeaderInfo& info, const wchar_t* path,
               const PathBytes* bytes, const std::string_view* member = nullptr) {
    return (walk.file == nullptr ||
            writeCsvRow(walk.file, info, path, walk.fileStyle, member, bytes)) &&
           (!walk.toStdout || writeCsvRow(stdout, info, path, walk.stdoutStyle, member, bytes));
}

// True when the name ends in ".zip", in any letter case.
bool isZipName(const wchar_t* name) {
    std::size_t length = 0;
    while (name[length] != L'\0') {
        ++length;
    }
    constexpr std::wstring_view SUFFIX = L".zip";
    if (length < SUFFIX.size()) {
        return false;
    }
    for (std::size_t i = 0; i < SUFFIX.size(); ++i) {
        wchar_t unit = name[length - SUFFIX.size() + i];
        if (unit >= L'A' && unit <= L'Z') {
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
        }
        if (unit != SUFFIX[i]) {
            return false;
        }
    }
    return true;
}

bool readOpenFile(const void* context, std::uint64_t offset, std::span<std::uint8_t> buffer,
                  std::size_t& got) {
    return platform::readFileAt(*static_cast<const platform::File*>(context), offset, buffer, got);
}

// Writes a row for each ROM in the archive open as `file`; false ends the
// walk. What cannot be read is reported, once for the archive or for each
// entry, and passed over.
bool catalogueArchive(const platform::File& file, const wchar_t* path, const PathBytes* bytes,
                      const WalkSettings& walk, CartHeaderInfo& info) {
    ByteSource source{readOpenFile, &file, 0};
    ZipArchive archive;
    ZipProblem problem = ZipProblem::None;
    if (!platform::fileSize(file, source.size)) {
        problem = ZipProblem::ReadFailed;
    } else if (openZipArchive(source, archive, problem)) {
        ZipEntry entry;
        bool atEnd = false;
        while (nextZipEntry(archive, entry, atEnd, problem)) {
            std::array<std::uint8_t, ROM_READ_SIZE> image;
            GlobalSum sum;
            bool complete = false;
            const wchar_t* name = entryPath(path, entry.name);
            if (!readZipEntry(archive, entry, image, walk.wholeImages ? &sum : nullptr, complete,
                              problem)) {
                if (problem == ZipProblem::ReadFailed) {
                    break;
                }
                reportZipProblem(name, problem, entry.method);
                continue;
            }
            if (!decodeImage(image, name, info, walk.wholeImages)) {
                continue;
            }
            info.globalChecksum = sum.verdict(complete);
            if (!writeRows(walk, info, path, bytes, &entry.name)) {
                return false;
            }
        }
        if (atEnd) {
            return true;
        }
    }
    reportZipProblem(path, problem);
    return true;
}

// Reads one file and writes its row; false ends the walk. A run's own file
// that the listing did not give away is known by identity once it is open, in
// a directory that may hold one of them.
bool catalogueFile(const platform::DirListing& listing, const platform::DirEntry& entry,
                   const EntryPaths& paths, const WalkSettings& walk, Lookahead& ahead,
                   CartHeaderInfo& info) {
    const wchar_t* path = paths.path;
    PathBytes pathBytes;
    const PathBytes* bytes = paths.bytesOf(entry, pathBytes) ? &pathBytes : nullptr;
    platform::File file;
    approachFile(ahead);
    if (!openRomFile(path, &listing, &entry, mayHoldOwnFile(walk, listing), file)) {
        return true;
    }
    fileOpened(ahead, file);
    bool result = true;
    if (!isOwnFile(walk, file.id)) {
        // A device behind the name is left to readRomHeader, which reads none.
        if (walk.archives && file.isRegular && isZipName(entry.name)) {
            result = catalogueArchive(file, path, bytes, walk, info);
        } else if (readRomHeader(file, path, walk.wholeImages, info)) {
            result = writeRows(walk, info, path, bytes);
        }
    }
    fileRead(ahead, file);
    platform::closeFile(file);
    return result;
}

bool walkDirectory(const wchar_t* directory, const WalkSettings& walk, Lookahead& ahead);

// Deals with one entry; false ends the walk.
bool handleEntry(const platform::DirListing& listing, const platform::DirEntry& entry,
                 const EntryPaths& paths, const WalkSettings& walk, Lookahead& ahead,
                 CartHeaderInfo& info) {
    const wchar_t* path = paths.path;
    switch (entryUse(walk, entry, path)) {
        case EntryUse::Descend:
            return walkDirectory(path, walk, ahead);
        case EntryUse::Read:
            return catalogueFile(listing, entry, paths, walk, ahead, info);
        case EntryUse::NotARom:
            reportNotARom(path);
            return true;
        case EntryUse::PassOver:
            break;
    }
    return true;
}

bool walkDirectory(const wchar_t* directory, const WalkSettings& walk, Lookahead& ahead) {
    PathBuffer pattern;
    if (!buildSearchPattern(pattern, directory)) {
        return false;
    }
    platform::DirListing listing;
    platform::DirEntry entry;
    bool atEnd = false;
    if (!platform::openListing(directory, pattern, listing, entry, atEnd)) {
        reportSystemError(L"Couldn't find first file in directory %s", pattern);
        return false;
    }
    EntryPaths paths(directory);
    CartHeaderInfo info;
    bool result = atEnd;
    while (!atEnd) {
        // Every entry's path is built before its kind is looked at, so a
        // directory too deep for its entries fails on "." as well.
        if (!buildEntryPath(paths, directory, entry.name) ||
            !handleEntry(listing, entry, paths, walk, ahead, info)) {
            break;
        }
        if (!platform::nextEntry(listing, entry, atEnd)) {
            if (atEnd) {
                result = true;
            } else {
                reportSystemError(L"Failed to read all ROM files from %s", directory);
            }
            break;
        }
    }
    platform::closeListing(listing);
    return result;
}

}  // namespace

// The run's own files are never catalogued: by their exact path, and by
// identity whatever path names them, where the listing tells it.
EntryUse entryUse(const WalkSettings& walk, const platform::DirEntry& entry, const wchar_t* path) {
    if (entry.kind == platform::EntryKind::Directory) {
        return walk.recursive && !isDotOrDotDot(entry.name) ? EntryUse::Descend
                                                            : EntryUse::PassOver;
    }
    if (samePath(path, walk.programPath) || samePath(path, walk.outputPath) ||
        isOwnFile(walk, entry.id)) {
        return EntryUse::PassOver;
    }
    return entry.kind == platform::EntryKind::Special ? EntryUse::NotARom : EntryUse::Read;
}

bool scanDirectory(const wchar_t* directory, const WalkSettings& walk) {
    Lookahead& ahead = prepareLookahead(directory, walk);
    const bool walked = walkDirectory(directory, walk, ahead);
    endLookahead(ahead);
    return walked;
}
