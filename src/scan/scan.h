// The directory walk.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "report/csv.h"

// What the walk needs from the run: where rows go and which files are its own.
struct WalkSettings {
    std::FILE* file = nullptr;          // the output file; null when there is none
    bool toStdout = false;              // -stdout, or implied by -nofile
    bool recursive = false;             // -recursive
    bool wholeImages = false;           // -verify: each ROM is read to its end
    bool archives = false;              // -zip: a .zip file is read as an archive of ROMs
    RowStyle fileStyle;                 // how rows are written to the file
    RowStyle stdoutStyle;               // and to standard output
    const wchar_t* outputPath = L"";    // passed over by its exact path
    const wchar_t* programPath = L"";   // argument zero, passed over the same way
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
EntryUse entryUse(const WalkSettings& walk, const platform::DirEntry& entry, const wchar_t* path);

/// Lists `directory` and writes one row per ROM in it to the output file
/// (when there is one) and then to standard output (when asked); with
/// `recursive` it walks every sub-directory too, depth first. Files that are
/// not ROMs are reported and passed over. False at the first failure to build
/// a path, to list a directory or to write a row, which has then been
/// reported; the walk ends there at every level.
bool scanDirectory(const wchar_t* directory, const WalkSettings& walk);
