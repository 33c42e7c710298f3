// The seam between the portable core and the operating system. This header is
// system-neutral; platform_posix.cpp and platform_win32.cpp implement it, and
// no other file of the project includes a system header or asks which system
// it runs on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace platform {

// Paths live in fixed buffers of this many units, the terminator included.
inline constexpr std::size_t PATH_CAPACITY = 260;
inline constexpr std::size_t PATH_MAX_LENGTH = PATH_CAPACITY - 1;

// The separator put between a directory path and a name.
extern const wchar_t PATH_SEPARATOR;

// True where a path's units are UTF-16 (Windows); elsewhere each unit is one
// byte of the system's own name.
extern const bool PATH_UNITS_ARE_UTF16;

/// True when `unit`, as the last character of a directory path, already
/// separates it from a name that follows.
bool isTrailingSeparator(wchar_t unit);

/// Makes the standard streams safe before anything else is opened: a closed
/// descriptor 0, 1 or 2 gets the null device, so that no file opened later
/// takes its place, and a write to a pipe whose reader has gone fails
/// instead of ending the process.
void prepareStandardStreams();

/// True when standard output writes to a pipe whose reader has gone.
bool stdoutReaderGone();

/// Ends the process as a filter ends when its reader has gone: by the
/// broken pipe signal where the system has one. Returns where it has none.
void endAsBrokenPipe();

/// Keeps the process's arguments for processArguments(). Each system's entry
/// point calls the form it has: narrow arguments (POSIX) are widened byte for
/// byte, each byte becoming the unit of the same value; wide ones (Windows)
/// are kept as they are.
void adoptArguments(int argc, char** argv);
void adoptArguments(int argc, wchar_t** argv);

/// The arguments given to adoptArguments, argument zero first.
std::span<const wchar_t* const> processArguments();

// A file's identity on its volume: two paths name the same file exactly when
// both identities are known and equal.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool known = false;
    bool anyVolume = false;  // the volume could not be learnt: the index alone counts
};

inline bool sameFile(const FileId& a, const FileId& b) {
    return a.known && b.known && a.index == b.index &&
           (a.volume == b.volume || a.anyVolume || b.anyVolume);
}

// One of the run's own files (the output file, the program, the file that
// standard output writes to), which the walk never catalogues.
struct OwnFile {
    FileId file;
    FileId directory;  // the directory that holds it; unknown: it may lie in any
};

/// The file that `path` names (links followed). False when its identity
/// cannot be learnt; `own` is then left unknown.
bool ownFileOfPath(const wchar_t* path, OwnFile& own);

/// The regular file behind an open stream. False when its identity cannot be
/// learnt or the stream writes to something else (a terminal, a pipe, a
/// device).
bool ownFileOfStream(std::FILE* stream, OwnFile& own);

/// The running program's own file. False when its identity cannot be learnt.
bool ownFileOfRunningProgram(OwnFile& own);

/// Takes `path`, the input directory as the user gave it, as the root of the
/// walk: every path that the walk builds starts with it, and the names below
/// it reach the system exactly as the listing gave them, whatever the
/// system's rules for typed paths would make of them. True when `path` names
/// an existing directory (links followed); an empty path names the current
/// directory.
bool adoptWalkRoot(const wchar_t* path);

/// Puts the current directory into `buffer`, zero-terminated. False when it
/// cannot be had or does not fit: the system's error code is then set for
/// lastSystemError().
bool currentDirectory(wchar_t (&buffer)[PATH_CAPACITY]);

// An open directory listing. The members are the implementation's own, but
// for `id`: the listed directory's identity, where the system tells it.
struct DirListing {
    void* handle = nullptr;
    std::uint64_t volume = 0;
    FileId id;
};

// What a listed entry is: from the listing where it says, else from the stat
// that a link needs anyway.
enum class EntryKind : std::uint8_t {
    File,       // a regular file, or a link to one
    Directory,  // a directory, or a link to one
    Special,    // a named pipe, socket or device, or a link to one: never opened
    Unknown,    // a link whose target cannot be examined: its open tells why
};

// One entry of a listing: its name, its kind, and its identity when the
// listing knows it without asking further.
struct DirEntry {
    wchar_t name[PATH_CAPACITY];
    EntryKind kind;
    FileId id;
    // The name in the system's own bytes, zero-terminated, where the system
    // names files in bytes; empty elsewhere. It lasts until the next entry.
    std::string_view nameBytes;
};

/// Opens a listing of `directory` and gives its first entry, or sets `atEnd`
/// when the directory holds none at all (a drive's empty root). `pattern` is
/// the directory joined with "*", for systems that list by pattern; an empty
/// directory path is the current directory. False: the system's error code
/// is set and nothing is open.
bool openListing(const wchar_t* directory, const wchar_t* pattern, DirListing& listing,
                 DirEntry& first, bool& atEnd);

/// Gives the next entry. False at the end of the listing with `atEnd` set,
/// or on a failure with `atEnd` clear and the system's error code set.
bool nextEntry(DirListing& listing, DirEntry& entry, bool& atEnd);

/// Closes a listing that openListing opened.
void closeListing(DirListing& listing);

// Whether a file's first bytes were in memory, as far as the system tells,
// or else as the time of the first read tells. Unknown: no read was looked at.
enum class CacheState : std::uint8_t { Cached, NotCached, Unknown };

// Where the system cannot tell, a first read slower than this waited for a
// device (or lost the processor, which the walk's next look tells apart).
inline CacheState cacheStateByTime(std::chrono::steady_clock::time_point readStart) {
    constexpr std::chrono::microseconds SLOW_READ{100};
    return std::chrono::steady_clock::now() - readStart > SLOW_READ ? CacheState::NotCached
                                                                   : CacheState::Cached;
}

// A file open for reading.
struct File {
    std::intptr_t handle = -1;
    FileId id;              // known where the listing or the open tells it cheaply
    bool isRegular = true;  // false: a device or pipe stood behind the name
    // Set before the first read to learn whether the bytes were in memory: that
    // read then first declines to wait for a device, or is timed, and tells
    // in `cache`. What the reads give is the same either way.
    mutable bool lookAtCache = false;
    mutable CacheState cache = CacheState::Unknown;
};

/// Opens a file for reading without ever blocking on it: the entry `entry` of
/// the open `listing` when both are given (`path` is then its full path),
/// else the file at `path`. With `wantId`, `file.id` is filled
/// even where that costs a call. False when it cannot be opened: errno is
/// then set and nothing is open.
bool openFile(const wchar_t* path, const DirListing* listing, const DirEntry* entry, bool wantId,
              File& file);

/// Reads into `buffer` until it is full or the file ends. `got` tells how
/// many bytes arrived. False when a read failed, with errno set.
bool readFile(const File& file, std::span<std::uint8_t> buffer, std::size_t& got);

/// The size of an open file in bytes. False when it cannot be learnt, with
/// errno set.
bool fileSize(const File& file, std::uint64_t& size);

/// Reads into `buffer` from `offset` on until it is full or the file ends,
/// wherever earlier reads left off. `got` tells how many bytes arrived.
/// False when a read failed, with errno set.
bool readFileAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got);

/// Closes a file that openFile opened.
void closeFile(File& file);

// True where readAhead reads the bytes itself and so waits for them: the
// look-ahead then needs more helpers to keep as many requests in flight.
extern const bool READ_AHEAD_WAITS;

/// Asks the system to bring the first scratch.size() bytes of the regular
/// file at `path` into memory, for a read that follows soon; where it takes
/// no such request, reads them into `scratch`. Opens without ever blocking
/// and writes nothing; a file that cannot be read ahead is passed over.
void readAhead(const wchar_t* path, std::span<std::uint8_t> scratch);

/// Opens the report file as a text stream for writing ("w") or appending
/// ("a"). Null on failure, with errno set.
std::FILE* openOutputFile(const wchar_t* path, bool append);

/// Puts `count` bytes on a stream that no other thread writes, without
/// locking it. Failures show in the stream's error indicator.
void putBytes(const char* bytes, std::size_t count, std::FILE* stream);

/// Puts one row, `count` bytes that end in a line break, on `stream`, a
/// terminal (isTerminal), so that it shows at once: in one write, of the
/// characters that the stream would make of the bytes, or of the UTF-8 they
/// hold with `utf8` where the terminal takes characters. False when the row
/// did not arrive whole.
bool putTerminalRow(const char* bytes, std::size_t count, bool utf8, std::FILE* stream);

/// True when `stream` is a terminal or console, which a person may be reading;
/// a device that merely looks like one (a null device) is not.
bool isTerminal(std::FILE* stream);

/// The error code that the last failed system call of this thread left.
std::uint32_t lastSystemError();

/// The system's text for an error code, zero-terminated and cut to fit.
void systemErrorText(std::uint32_t code, std::span<wchar_t> text);

}  // namespace platform

// Reading XML, for DAT files: each system has a parser of its own.
namespace platform {

// An attribute of an element, name and value in UTF-8, references decoded.
struct XmlAttribute {
    std::string_view name;
    std::string_view value;
};

// What the parser calls for each element, in document order: `start` with
// the line on which the element begins, then `end` when it closes (at once
// for an empty element). The texts last until the call returns.
struct XmlEvents {
    void* context = nullptr;
    /// False stops the parse.
    bool (*start)(void* context, std::uint64_t line, std::string_view name,
                  std::span<const XmlAttribute> attributes) = nullptr;
    void (*end)(void* context) = nullptr;
};

// Why a document is not well-formed, in the parser's words, and its line.
struct XmlProblem {
    std::uint64_t line = 0;
    char what[160] = {};
};

/// Parses the XML document in `bytes`, calling `events` for every element. A
/// document type declaration is read, but nothing outside the document is
/// ever fetched. False when the document is not well-formed, or cannot be
/// read at all, with `problem` set; or when a callback stopped the parse,
/// with `problem` left as it was.
bool parseXml(std::span<const std::uint8_t> bytes, const XmlEvents& events, XmlProblem& problem);

}  // namespace platform
