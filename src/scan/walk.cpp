#include "scan/walk.h"

#include <cerrno>

#include "diag/diag.h"
#include "header/rom_header.h"

namespace {

using platform::NativeView;

bool isDotOrDotDot(NativeView name) { return name == NATIVE(".") || name == NATIVE(".."); }

// What the walk does with one entry of a listing.
enum class EntryUse : std::uint8_t {
    PassOver,  // "." and "..", a directory not walked, the run's own files
    NotARom,   // a named pipe, socket or device: reported, never opened
    Read,      // opened and read
    Descend,   // a directory walked with -recursive
};

// What the walk does with `entry`, whose full path is `path`. The run's own
// files are never catalogued: by their exact path, and by identity whatever
// path names them, where the listing tells it.
EntryUse entryUse(const WalkRules& rules, const platform::DirEntry& entry, const NativeChar* path) {
    if (entry.kind == platform::EntryKind::Directory) {
        return rules.recursive && !isDotOrDotDot(entry.name) ? EntryUse::Descend
                                                             : EntryUse::PassOver;
    }
    if (NativeView(path) == rules.programPath || NativeView(path) == rules.outputPath) {
        return EntryUse::PassOver;
    }
    for (const platform::OwnFile& own : rules.ownFiles) {
        if (platform::sameFile(entry.id, own.file)) {
            return EntryUse::PassOver;
        }
    }
    return entry.kind == platform::EntryKind::Special ? EntryUse::NotARom : EntryUse::Read;
}

// Records a problem, and ends the walk there unless the rules keep going.
// True: the problem is the next step.
bool fail(TreeCursor& cursor, WalkProblem::Kind kind, NativeView directory, std::uint32_t error,
          const NativeChar* name = NATIVE("")) {
    cursor.problem.kind = kind;
    // A view, not a cut of the cursor's path: the walk may go on from there.
    directory.copy(cursor.problem.directory, directory.size());
    cursor.problem.directory[directory.size()] = NATIVE('\0');
    copyPath(cursor.problem.name, name);
    cursor.problem.error = error;
    if (!cursor.rules->keepGoing) {
        endWalk(cursor);
    }
    return true;
}

// Whether the directory just listed is one of those above it.
bool isLoop(const TreeCursor& cursor, const platform::DirListing& listing) {
    for (std::size_t level = 0; level < cursor.depth; ++level) {
        if (platform::sameFile(listing.id, cursor.levels[level].listing.id)) {
            return true;
        }
    }
    return false;
}

// Opens a listing of the directory whose path the cursor holds, one level
// below the current one. True when that failed: the problem is the next step.
bool descend(TreeCursor& cursor) {
    PathBuffer pattern;
    copyPath(pattern, cursor.path);
    if (!appendSeparator(pattern)) {
        return fail(cursor, WalkProblem::Kind::Separator, cursor.path, ERANGE);
    }
    if (!appendSegment(pattern, NATIVE("*"))) {
        return fail(cursor, WalkProblem::Kind::Pattern, cursor.path, ERANGE);
    }
    TreeCursor::Level& level = cursor.levels[cursor.depth];
    bool atEnd = false;
    if (!platform::openListing(pattern, level.listing, level.entry, atEnd)) {
        return fail(cursor, WalkProblem::Kind::Listing, cursor.path, platform::lastSystemError());
    }
    // A link back up would be walked again and again until the path is too
    // long, each turn cataloguing the same files.
    if (cursor.rules->keepGoing && isLoop(cursor, level.listing)) {
        platform::closeListing(level.listing);
        return fail(cursor, WalkProblem::Kind::Loop, cursor.path, 0);
    }
    if (!atEnd) {
        level.directoryLength = pathLength(cursor.path);
        // The pattern holds the directory and its separator: every entry's
        // path starts with them.
        level.prefixLength = pathLength(pattern) - 1;
        level.taken = false;
        copyPath(cursor.path, pattern);
        cursor.path[level.prefixLength] = NATIVE('\0');
        ++cursor.depth;
    }
    return false;
}

}  // namespace

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

void reportWalkProblem(const WalkProblem& problem, bool goesOn) {
    using Kind = WalkProblem::Kind;
    // The path as the failed step had built it: the directory, and its
    // separator where one fitted.
    PathBuffer built;
    copyPath(built, problem.directory);
    if (problem.kind != Kind::Separator) {
        appendSeparator(built);
    }
    errno = static_cast<int>(problem.error);
    const char* lineEnd = goesOn ? "\n" : "";
    switch (problem.kind) {
        case Kind::None:
            break;
        case Kind::Separator:
            reportError("Failed to append path separator to \"%s\"", built);
            reportPlain("Failed to prepare search path for input path %s%s", problem.directory,
                        lineEnd);
            break;
        case Kind::Pattern:
            reportError("Failed to append path segment \"%s\" to \"%s\"", "*", built);
            reportPlain("Failed to prepare search path for input path %s%s", problem.directory,
                        lineEnd);
            break;
        case Kind::Listing:
            appendSegment(built, NATIVE("*"));
            reportSystemErrorCode(problem.error, "Couldn't find first file in directory %s", built);
            break;
        case Kind::EntryPath:
            reportError("Failed to append path segment \"%s\" to \"%s\"", problem.name, built);
            reportPlain("Failed to create path for input file %s in directory %s%s",
                        problem.name, problem.directory, lineEnd);
            break;
        case Kind::ListingBroken:
            reportSystemErrorCode(problem.error, "Failed to read all ROM files from %s",
                                  problem.directory);
            break;
        case Kind::Loop:
            reportPlain("Folder %s is one of the folders above it: not walked again\n",
                        problem.directory);
            break;
    }
}

bool startWalk(TreeCursor& cursor, const NativeChar* root, const WalkRules& rules) {
    cursor.rules = &rules;
    cursor.problem = WalkProblem{};
    cursor.depth = 0;
    // The root comes from the command line or the system, within the limit.
    copyPath(cursor.path, root);
    if (descend(cursor)) {
        endWalk(cursor);
        return false;
    }
    return true;
}

bool nextStep(TreeCursor& cursor, WalkStep& step) {
    using Kind = WalkStep::Kind;
    while (cursor.depth != 0) {
        TreeCursor::Level& level = cursor.levels[cursor.depth - 1];
        // The directory's own path: its entries' paths hold it.
        const NativeView directory(cursor.path, level.directoryLength);
        step = {Kind::Problem, &level.listing, &level.entry, cursor.path};
        if (level.taken) {
            bool atEnd = false;
            if (!platform::nextEntry(level.listing, level.entry, atEnd)) {
                const std::uint32_t error = platform::lastSystemError();
                platform::closeListing(level.listing);
                --cursor.depth;
                if (!atEnd) {
                    return fail(cursor, WalkProblem::Kind::ListingBroken, directory, error);
                }
                continue;
            }
        }
        level.taken = true;
        // Every entry's path is built before its kind is looked at, so a
        // directory too deep for its entries fails on "." as well.
        if (!appendSegmentAt(cursor.path, level.prefixLength, level.entry.name)) {
            return fail(cursor, WalkProblem::Kind::EntryPath, directory, ERANGE,
                        level.entry.name);
        }
        switch (entryUse(*cursor.rules, level.entry, cursor.path)) {
            case EntryUse::Descend:
                if (descend(cursor)) {
                    return true;
                }
                break;
            case EntryUse::Read:
            case EntryUse::NotARom:
                step.kind = level.entry.kind == platform::EntryKind::Special ? Kind::NotARom
                                                                             : Kind::File;
                return true;
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
