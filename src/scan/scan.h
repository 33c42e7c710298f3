// The catalogue's walk: every file that the walk's rules choose is read and
// gets its row.
#pragma once

#include "report/csv.h"
#include "scan/walk.h"

// What the walk needs from the run.
struct WalkSettings {
    WalkRules rules;
    Report* report = nullptr;
    bool wholeImages = false;  // -verify: each ROM is read to its end
    bool archives = false;     // -zip: a .zip file is read as an archive of ROMs
    bool hash = false;         // -hash: every byte is read for the digest
};

/// Lists `directory` and writes one row per ROM in it to the report; with
/// -recursive it walks every sub-directory too, depth first. Files that are
/// not ROMs are reported and passed over. False at the first failure to build
/// a path, to list a directory or to write a row, or when no digest can be
/// made, which has then been reported; the walk ends there at every level.
bool scanDirectory(const NativeChar* directory, WalkSettings& walk);
