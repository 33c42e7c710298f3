// The order of a walk: which files of a tree are read, and in which order.
// The catalogue and its look-ahead each step through the tree with a cursor
// of their own, so both meet the same files by the same rule.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "scan/path.h"

// What decides which entries are read.
struct WalkRules {
    bool recursive = false;  // -recursive
    bool keepGoing = false;  // -keepgoing: a problem passes over what it spoils, and no more
    // Passed over by their exact paths: the output file and the program,
    // where their identity cannot be learnt.
    const NativeChar* outputPath = NATIVE("");
    const NativeChar* programPath = NATIVE("");
    // Passed over whatever path names them: the output file, the running
    // program and the file that standard output writes to, where known.
    platform::OwnFile ownFiles[3];
};

/// Whether the open `file` is one of the run's own. Where an own file's
/// volume is not known, its size and time of writing must agree too.
bool isOwnOpenFile(const WalkRules& rules, platform::File& file);

/// Whether the files of `listing` must be told apart from the run's own by
/// identity: only in a directory that holds one of them, or may.
bool mayHoldOwnFile(const WalkRules& rules, const platform::DirListing& listing);

// Each level adds a name and a separator to a path of at most
// PATH_MAX_LENGTH units, so no walk goes deeper than this.
inline constexpr std::size_t MAX_DEPTH = platform::PATH_CAPACITY / 2 + 1;

// Why a walk ended early: the step that failed, the directory it failed in
// and, for an entry, the name that did not fit; the error number (ERANGE for
// a path too long) or the system's code that the message names.
struct WalkProblem {
    enum class Kind : std::uint8_t {
        None,
        Separator,      // the separator after a directory does not fit
        Pattern,        // nor the "*" that lists it
        Listing,        // the directory cannot be listed
        EntryPath,      // an entry's path does not fit
        ListingBroken,  // the listing failed part way
        Loop,           // with -keepgoing: the directory is one of those above it
    };
    Kind kind = Kind::None;
    PathBuffer directory = {};
    PathBuffer name = {};
    std::uint32_t error = 0;
};

/// Reports a problem as the walk does when it meets it. Two of the messages
/// have no line end of their own, since they end a walk; where the walk
/// `goesOn`, they get one.
void reportWalkProblem(const WalkProblem& problem, bool goesOn);

// A place in a walk, depth first, each directory in its listing's order.
struct TreeCursor {
    struct Level {
        platform::DirListing listing;
        platform::DirEntry entry;     // the entry the cursor is at
        std::size_t directoryLength;  // the directory's path in `path`
        std::size_t prefixLength;     // and with the separator after it
        bool taken;                   // the entry is dealt with
    };

    const WalkRules* rules = nullptr;
    WalkProblem problem;   // what ended the walk early
    PathBuffer path = {};  // the path of the entry last given
    Level levels[MAX_DEPTH];
    std::size_t depth = 0;
};

// A step of the walk: a file to read, an entry that is no ROM by its kind
// (a named pipe, a socket or a device, never opened), or a problem.
struct WalkStep {
    enum class Kind : std::uint8_t { File, NotARom, Problem };
    Kind kind = Kind::File;
    const platform::DirListing* listing = nullptr;
    const platform::DirEntry* entry = nullptr;
    const NativeChar* path = nullptr;
};

/// Starts a walk of `root`. False when the root cannot be listed, with
/// `cursor.problem` telling why; nothing is then open.
bool startWalk(TreeCursor& cursor, const NativeChar* root, const WalkRules& rules);

/// Gives the next step; what it names lasts until the next call. A failure
/// to build a path or list a directory is a step of its own, which
/// `cursor.problem` tells; it ends the walk, unless the rules keep going,
/// when only the entry or directory it spoils is passed over. False at the
/// end of the walk: nothing is then left open.
bool nextStep(TreeCursor& cursor, WalkStep& step);

/// Closes what a walk ended early has open.
void endWalk(TreeCursor& cursor);
