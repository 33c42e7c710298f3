// The catalogue's walk: every file that the walk's rules choose is read and
// gets its row.
#pragma once

#include <atomic>
#include <chrono>
#include <span>

#include "report/csv.h"
#include "scan/walk.h"

// What the walk needs from the run.
struct WalkSettings {
    WalkRules rules;
    Report* report = nullptr;
    bool wholeImages = false;  // -verify: each ROM is read to its end
    bool archives = false;     // -zip: a .zip file is read as an archive of ROMs
    bool hash = false;         // -hash: every byte is read for the digest
    bool romsOnly = false;     // -romsonly: rows only for what the console would start
};

// What reading one file found, by whichever thread read it. The walk alone
// reports it, in the walk's order.
struct FileWork {
    enum class Outcome : std::uint8_t {
        OpenFailed,  // `error` tells why
        OwnFile,     // one of the run's own files: passed over
        NotARom,     // too short, unreadable, or no regular file
        Refused,     // with -romsonly: its logo or header checksum does not hold
        Read,        // `info`, and with -hash `digest`
        CutShort,    // `info`, but the digest could not be read whole: `error`
        Archive,     // an archive, which the walk reads itself
    };
    Outcome outcome = Outcome::NotARom;
    int error = 0;
    CartHeaderInfo info;
    FileDigest digest;
    std::uint64_t bytes = 0;  // read, for the progress shown to a person
};

// What a reader of files has of its own: the settings of the run, a hasher
// for -hash and a buffer for the rest of each file.
struct FileReader {
    const WalkSettings* walk = nullptr;
    Hasher hasher;
    std::span<std::uint8_t> scratch;
    std::uint64_t bytesRead = 0;  // by this reader, so far
    const std::atomic<bool>* abandon = nullptr;  // set: the walk has ended
};

/// Makes `reader` ready to read for `walk` through `scratch`. False when the
/// digests of -hash cannot be made.
bool openFileReader(FileReader& reader, const WalkSettings& walk, std::span<std::uint8_t> scratch);

/// Gives back what openFileReader made.
void closeFileReader(FileReader& reader);

/// Reads the open `file`, in a folder that may hold one of the run's own
/// files when `checkOwn`, into `work`: its header and, as the run asks, its
/// global checksum and digest. An `archive` is only recognised: the walk
/// alone reads archives.
void readOpenFile(platform::File& file, bool checkOwn, bool archive, FileReader& reader,
                  FileWork& work);

/// Whether the walk reads the file `name` as a ZIP archive with -zip: its
/// name ends in ".zip", in any letter case.
bool isArchiveName(platform::NativeView name);

/// Lists `directory` and writes one row per ROM in it to the report; with
/// -recursive it walks every sub-directory too, depth first. Files that are
/// not ROMs are reported and passed over. False at the first failure to build
/// a path, to list a directory or to write a row, or when no digest can be
/// made, which has then been reported; the walk ends there at every level
/// unless it keeps going. `walkedWhole`: the walk came to its end, past any
/// failures it kept going after.
bool scanDirectory(const NativeChar* directory, WalkSettings& walk, bool& walkedWhole);
