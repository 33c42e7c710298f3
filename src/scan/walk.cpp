#include "scan/walk.h"

#include <cerrno>

#include "diag/diag.h"
#include "header/rom_header.h"

namespace {

using platform::NativeView;

bool isDotOrDotDot(NativeView name) { return name == NATIVE(".") || name == NATIVE(".."); }

NativeView directoryOf(const TreeCursor& cursor, const TreeCursor::Level& level) {
    return {cursor.path, level.directoryLength};
}

// Ends the walk at a failure, which has been reported.
bool fail(TreeCursor& cursor) {
    cursor.failed = true;
    endWalk(cursor);
    return false;
}

// Opens a listing of the directory whose path the cursor holds, one level
// below the current one. False after a failure.
bool descend(TreeCursor& cursor) {
    const std::size_t length = pathLength(cursor.path);
    const NativeView directory(cursor.path, length);
    PathBuffer pattern;
    copyPath(pattern, cursor.path);
    if (!appendSeparator(pattern)) {
        if (!cursor.quiet) {
            reportError("Failed to append path separator to \"%s\"", pattern);
        }
    } else if (!appendSegment(pattern, NATIVE("*"))) {
        if (!cursor.quiet) {
            reportError("Failed to append path segment \"%s\" to \"%s\"", "*", pattern);
        }
    } else {
        TreeCursor::Level& level = cursor.levels[cursor.depth];
        bool atEnd = false;
        if (!platform::openListing(pattern, level.listing, level.entry, atEnd)) {
            if (!cursor.quiet) {
                reportSystemError("Couldn't find first file in directory %s", pattern);
            }
            return false;
        }
        if (!atEnd) {
            level.directoryLength = length;
            // The pattern holds the directory and its separator: every entry's
            // path starts with them.
            level.prefixLength = pathLength(pattern) - 1;
            level.taken = false;
            copyPath(cursor.path, pattern);
            cursor.path[level.prefixLength] = NATIVE('\0');
            ++cursor.depth;
        }
        return true;
    }
    if (!cursor.quiet) {
        reportPlain("Failed to prepare search path for input path %s", directory);
    }
    return false;
}

}  // namespace

bool isOwnFile(const WalkRules& rules, const platform::FileId& id) {
    for (const platform::OwnFile& own : rules.ownFiles) {
        if (platform::sameFile(id, own.file)) {
            return true;
        }
    }
    return false;
}

bool isOwnOpenFile(const WalkRules& rules, platform::File& file) {
    if (!platform::fileIdentity(file)) {
        return false;
    }
    for (const platform::OwnFile& own : rules.ownFiles) {
        if (platform::sameFile(file.id, own.file) &&
            (!own.file.anyVolume ||
             (own.stream != nullptr && platform::sameSizeAndTime(file, own.stream)))) {
            return true;
        }
    }
    return false;
}

bool mayHoldOwnFile(const WalkRules& rules, const platform::DirListing& listing) {
    for (const platform::OwnFile& own : rules.ownFiles) {
        if (own.file.known &&
            (!own.directory.known || platform::sameFile(own.directory, listing.id))) {
            return true;
        }
    }
    return false;
}

// The run's own files are never catalogued: by their exact path, and by
// identity whatever path names them, where the listing tells it.
EntryUse entryUse(const WalkRules& rules, const platform::DirEntry& entry, const NativeChar* path) {
    if (entry.kind == platform::EntryKind::Directory) {
        return rules.recursive && !isDotOrDotDot(entry.name) ? EntryUse::Descend
                                                             : EntryUse::PassOver;
    }
    if (NativeView(path) == rules.programPath || NativeView(path) == rules.outputPath ||
        isOwnFile(rules, entry.id)) {
        return EntryUse::PassOver;
    }
    return entry.kind == platform::EntryKind::Special ? EntryUse::NotARom : EntryUse::Read;
}

bool startWalk(TreeCursor& cursor, const NativeChar* root, const WalkRules& rules, bool quiet) {
    cursor.rules = &rules;
    cursor.quiet = quiet;
    cursor.failed = false;
    cursor.depth = 0;
    // The root comes from the command line or the system, within the limit.
    copyPath(cursor.path, root);
    return descend(cursor) || fail(cursor);
}

bool nextFile(TreeCursor& cursor, WalkFile& file) {
    while (cursor.depth != 0) {
        TreeCursor::Level& level = cursor.levels[cursor.depth - 1];
        if (level.taken) {
            bool atEnd = false;
            if (!platform::nextEntry(level.listing, level.entry, atEnd)) {
                if (!atEnd) {
                    if (!cursor.quiet) {
                        reportSystemError("Failed to read all ROM files from %s",
                                          directoryOf(cursor, level));
                    }
                    return fail(cursor);
                }
                platform::closeListing(level.listing);
                --cursor.depth;
                continue;
            }
        }
        level.taken = true;
        // Every entry's path is built before its kind is looked at, so a
        // directory too deep for its entries fails on "." as well.
        const NativeChar* name = level.entry.name;
        if (!appendSegmentAt(cursor.path, level.prefixLength, name)) {
            if (!cursor.quiet) {
                reportError("Failed to append path segment \"%s\" to \"%s\"", name, cursor.path);
                reportPlain("Failed to create path for input file %s in directory %s", name,
                            directoryOf(cursor, level));
            }
            return fail(cursor);
        }
        switch (entryUse(*cursor.rules, level.entry, cursor.path)) {
            case EntryUse::Descend:
                if (!descend(cursor)) {
                    return fail(cursor);
                }
                break;
            case EntryUse::Read:
                file = {&level.listing, &level.entry, cursor.path};
                return true;
            case EntryUse::NotARom:
                if (!cursor.quiet) {
                    reportNotARom(cursor.path);
                }
                break;
            case EntryUse::PassOver:
                break;
        }
    }
    return false;
}

void endWalk(TreeCursor& cursor) {
    while (cursor.depth != 0) {
        platform::closeListing(cursor.levels[--cursor.depth].listing);
    }
}
