#include "scan/scan.h"

#include "cli/options.h"
#include "diag/diag.h"
#include "header/rom_header.h"
#include "report/csv.h"
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

bool buildEntryPath(PathBuffer& path, const wchar_t* directory, const wchar_t* name) {
    if (!copyPath(path, directory)) {
        reportError(L"Failed to copy path string \"%s\"", directory);
    } else if (!appendSeparator(path)) {
        reportError(L"Failed to append path separator to \"%s\"", path);
    } else if (!appendSegment(path, name)) {
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

// The running program and the output file are never catalogued: by their
// exact path, and by identity whatever path names them.
bool isOwnFile(const platform::DirListing& listing, const platform::DirEntry& entry,
               const wchar_t* path, const RunOptions& options) {
    const auto args = platform::processArguments();
    if (!args.empty() && samePath(path, args[0])) {
        return true;
    }
    if (samePath(path, options.outputPath)) {
        return true;
    }
    if (!options.outputId.known && !options.programId.known) {
        return false;
    }
    platform::FileId id;
    return platform::entryFileId(listing, entry, path, id) &&
           (platform::sameFile(id, options.outputId) || platform::sameFile(id, options.programId));
}

// Deals with one entry; false ends the walk.
bool handleEntry(const platform::DirListing& listing, const platform::DirEntry& entry,
                 const wchar_t* path, std::FILE* output, const RunOptions& options,
                 CartHeaderInfo& info) {
    if (entry.isDirectory) {
        if ((options.flags & OPT_RECURSIVE) == 0 || isDotOrDotDot(entry.name)) {
            return true;
        }
        return scanDirectory(path, output, options);
    }
    if (isOwnFile(listing, entry, path, options)) {
        return true;
    }
    if (!readRomHeaderAt(listing, entry.name, path, info)) {
        return true;
    }
    if (output != nullptr && !writeCsvRow(output, info, path)) {
        return false;
    }
    if ((options.flags & OPT_STDOUT) != 0 && !writeCsvRow(stdout, info, path)) {
        return false;
    }
    return true;
}

}  // namespace

bool scanDirectory(const wchar_t* directory, std::FILE* output, const RunOptions& options) {
    PathBuffer pattern;
    if (!buildSearchPattern(pattern, directory)) {
        return false;
    }
    platform::DirListing listing;
    platform::DirEntry entry;
    if (!platform::openListing(directory, pattern, listing, entry)) {
        reportSystemError(L"Couldn't find first file in directory %s", pattern);
        return false;
    }
    PathBuffer path;
    CartHeaderInfo info;
    bool result = false;
    for (;;) {
        // Every entry's path is built before its kind is looked at, so a
        // directory too deep for its entries fails on "." as well.
        if (!buildEntryPath(path, directory, entry.name) ||
            !handleEntry(listing, entry, path, output, options, info)) {
            break;
        }
        bool atEnd = false;
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
