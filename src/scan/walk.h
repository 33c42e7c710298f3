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
    // Passed over by their exact paths: the output file and the program,
    // where their identity cannot be learnt.
    const NativeChar* outputPath = NATIVE("");
    const NativeChar* programPath = NATIVE("");
    // Passed over whatever path names them: the output file, the running
    // program and the file that standard output writes to, where known.
    platform::OwnFile ownFiles[3];
};

// What the walk does with one entry of a listing.
enum class EntryUse : std::uint8_t {
    PassOver,  // "." and "..", a directory not walked, the run's own files
    NotARom,   // a named pipe, socket or device: reported, never opened
    Read,      // opened and read
    Descend,   // a directory walked with -recursive
};

/// What the walk does with `entry`, whose full path is `path`.
EntryUse entryUse(const WalkRules& rules, const platform::DirEntry& entry, const NativeChar* path);

/// Whether the file identified as `id` is one of the run's own.
bool isOwnFile(const WalkRules& rules, const platform::FileId& id);

/// Whether the open `file` is one of the run's own. Where an own file's
/// volume is not known, its size and time of writing must agree too.
bool isOwnOpenFile(const WalkRules& rules, platform::File& file);

/// Whether the files of `listing` must be told apart from the run's own by
/// identity: only in a directory that holds one of them, or may.
bool mayHoldOwnFile(const WalkRules& rules, const platform::DirListing& listing);

// Each level adds a name and a separator to a path of at most
// PATH_MAX_LENGTH units, so no walk goes deeper than this.
inline constexpr std::size_t MAX_DEPTH = platform::PATH_CAPACITY / 2 + 1;

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
    bool quiet = false;  // reports nothing: the walk beside the catalogue
    bool failed = false;
    PathBuffer path = {};  // the path of the entry last given
    Level levels[MAX_DEPTH];
    std::size_t depth = 0;
};

// A file that the walk reads: the entry of its listing, and its path.
struct WalkFile {
    const platform::DirListing* listing = nullptr;
    const platform::DirEntry* entry = nullptr;
    const NativeChar* path = nullptr;
};

/// Starts a walk of `root`. False when the root cannot be listed, which has
/// been reported unless the cursor is quiet; nothing is then open.
bool startWalk(TreeCursor& cursor, const NativeChar* root, const WalkRules& rules, bool quiet);

/// Gives the next file to read; what it lasts is until the next call. Files
/// that are no ROM by their kind are reported on the way, unless the cursor
/// is quiet. False at the end of the walk, or at a failure to build a path
/// or list a directory, which has been reported unless quiet, sets `failed`
/// and ends the walk: nothing is then left open.
bool nextFile(TreeCursor& cursor, WalkFile& file);

/// Closes what a walk ended early has open.
void endWalk(TreeCursor& cursor);
