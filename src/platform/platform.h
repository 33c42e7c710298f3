// The seam between the portable core and the operating system. This header is
// system-neutral; platform_posix.cpp and platform_win32.cpp implement it, and
// no other file of the project includes a system header or asks which system
// it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace platform {

// Paths are held in the system's own units: bytes on POSIX, UTF-16 on Windows.
// NATIVE("...") makes a literal of those units.
#ifdef _WIN32
using NativeChar = wchar_t;
#define NATIVE(text) L##text
#else
using NativeChar = char;
#define NATIVE(text) text
#endif
using NativeView = std::basic_string_view<NativeChar>;

// Paths live in fixed buffers of this many units, the terminator included.
inline constexpr std::size_t PATH_CAPACITY = 260;
inline constexpr std::size_t PATH_MAX_LENGTH = PATH_CAPACITY - 1;

// The separator put between a directory path and a name.
extern const NativeChar PATH_SEPARATOR;

/// True when `unit`, as the last character of a directory path, already
/// separates it from a name that follows.
bool isTrailingSeparator(NativeChar unit);

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
    FileId directory;              // the directory that holds it; unknown: it may lie in any
    std::FILE* stream = nullptr;   // the stream that writes it, if the run has one
};

// The three below tell whether `own` is settled: its identity is known, or
// it is no file that a walk could meet (a device, a pipe, a terminal). A
// file that is not settled is known by its path alone.

/// The file that `path` names (links followed).
bool ownFileOfPath(const NativeChar* path, OwnFile& own);

/// The file behind an open stream.
bool ownFileOfStream(std::FILE* stream, OwnFile& own);

/// The running program's own file.
bool ownFileOfRunningProgram(OwnFile& own);

/// Takes `path`, the input directory as the user gave it, as the root of the
/// walk: every path that the walk builds starts with it, and the names below
/// it reach the system exactly as the listing gave them, whatever the
/// system's rules for typed paths would make of them. True when `path` names
/// an existing directory (links followed); an empty path names the current
/// directory.
bool adoptWalkRoot(const NativeChar* path);

/// True when `path` names an existing directory (links followed); an empty
/// path names the current directory.
bool isDirectory(const NativeChar* path);

/// Puts the current directory into `buffer`, zero-terminated. False when it
/// cannot be had or does not fit: the system's error code is then set for
/// lastSystemError().
bool currentDirectory(NativeChar (&buffer)[PATH_CAPACITY]);

// An open directory listing: the system's state for it, and the listed
// directory's identity where the system tells it.
struct DirListing {
    void* system = nullptr;
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

// One entry of a listing. The name lasts until the next entry is read.
struct DirEntry {
    const NativeChar* name = nullptr;
    EntryKind kind = EntryKind::Unknown;
    FileId id;          // where the listing tells it without asking further
    bool plain = false;  // the listing tells that it is a regular file itself, no link
};

/// Opens a listing of the directory that `pattern` names, the directory's
/// path joined with "*" (an empty directory path is the current directory),
/// and gives its first entry, or sets `atEnd` when the directory holds none
/// at all (a drive's empty root). False: the system's error code is set and
/// nothing is open.
bool openListing(const NativeChar* pattern, DirListing& listing, DirEntry& first, bool& atEnd);

/// Gives the next entry. False at the end of the listing with `atEnd` set,
/// or on a failure with `atEnd` clear and the system's error code set.
bool nextEntry(DirListing& listing, DirEntry& entry, bool& atEnd);

/// Closes a listing that openListing opened.
void closeListing(DirListing& listing);

// A file open for reading.
struct File {
    std::intptr_t handle = -1;
    FileId id;              // known where the open tells it cheaply; else see fileIdentity
    bool isRegular = true;  // false: a device or pipe stood behind the name
};

/// Opens `entry` of the open `listing` for reading, without ever blocking on
/// it, and tells whether what it opened is a regular file: a `plain` entry
/// is opened as such only while it is no link, and anything else but a
/// regular file then fails its reads. False when it cannot be opened: errno
/// is then set and nothing is open.
bool openEntry(const DirListing& listing, const DirEntry& entry, File& file);

/// Opens the file at `path` for reading as openEntry does.
bool openPath(const NativeChar* path, File& file);

/// Fills `file.id` where the open did not; false when it cannot be learnt.
bool fileIdentity(File& file);

/// Reads into `buffer` from `offset` on until it is full or the file ends.
/// `got` tells how many bytes arrived. False when a read failed, with errno
/// set.
bool readFileAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got);

/// The size of an open regular file in bytes. False when it cannot be
/// learnt, or the file is no regular file, with errno set.
bool fileSize(const File& file, std::uint64_t& size);

/// Whether `file` and the file that `stream` writes have the same size and
/// time of last writing now: where an identity is known only in part, it
/// tells one file from another that shares its index.
bool sameSizeAndTime(const File& file, std::FILE* stream);

/// Closes a file that openEntry or openPath opened.
void closeFile(File& file);

/// Asks the system to bring the first `bytes` of `file` into memory for a
/// read that follows soon, without waiting for them; where it takes no such
/// request, does nothing.
void adviseFile(const File& file, std::uint64_t bytes);

/// How many files this process may hold open at once, where the readers'
/// opens draw on the walk's supply; without bound where they do not.
std::size_t openFileLimit();

// The size of a regular file appended to and its last bytes, up to three:
// whether its last line is open, the report tells from them.
struct FileTail {
    std::uint64_t size = 0;
    char bytes[3] = {};
    std::size_t length = 0;  // none: empty, not appended to, or not to be read
};

/// Opens the report file as a text stream for writing ("w") or appending
/// ("a"), without waiting for anything: a named pipe that no one reads fails
/// at once. A file appended to gives its `tail`. Null on failure, with errno
/// set.
std::FILE* openOutputFile(const NativeChar* path, bool append, FileTail& tail);

/// Puts a path into `out` as the report's bytes: as the system names it, or
/// with `utf8` in UTF-8. False, with errno set, when it cannot be written
/// so: where the report's bytes are each one character, a character above
/// 0xFF has none.
bool pathBytes(const NativeChar* path, bool utf8, std::span<char, 4 * PATH_CAPACITY> out,
               std::size_t& length);

/// Puts `bytes` on a stream that no other thread writes. Failures show in the
/// stream's error indicator.
void putBytes(std::string_view bytes, std::FILE* stream);

/// Puts one row that ends in a line break on `stream`, a terminal
/// (isTerminal), so that it shows at once and whole: as the characters that
/// the stream would make of the bytes, or of the UTF-8 they hold with `utf8`
/// where the terminal takes characters. False when the row did not arrive.
bool putTerminalRow(std::string_view bytes, bool utf8, std::FILE* stream);

/// True when `stream` is a terminal or console, which a person may be reading;
/// a device that merely looks like one (a null device) is not.
bool isTerminal(std::FILE* stream);

/// How many columns the terminal that `stream` writes to shows; 80 where it
/// does not tell.
std::size_t terminalColumns(std::FILE* stream);

/// Whether two streams write to the same terminal.
bool sameTerminal(std::FILE* a, std::FILE* b);

/// The error code that the last failed system call of this thread left.
std::uint32_t lastSystemError();

/// The system's text for an error code as bytes for standard error,
/// zero-terminated and cut to fit `text`, which is not empty.
void systemErrorText(std::uint32_t code, std::span<char> text);

// MD5 and SHA-1 of a file's bytes, from the system's own cryptography. The
// state is made once for a run and serves one file after another.
struct Digests {
    void* system = nullptr;
};

/// Makes the state of the two digests, both started. False when the system
/// cannot give them.
bool openDigests(Digests& digests);

/// Adds the next bytes of the file to both digests.
void addToDigests(Digests& digests, std::span<const std::uint8_t> bytes);

/// Puts the digests of every byte added since the last call (or the open)
/// into `md5` and `sha1`, and starts both anew. False when the system fails.
bool finishDigests(Digests& digests, std::uint8_t (&md5)[16], std::uint8_t (&sha1)[20]);

/// Gives back what openDigests made.
void closeDigests(Digests& digests);

// Reading XML, for DAT files: each system has a parser of its own.

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

/// Sets `problem` to `what`, cut to fit, on `line`.
inline void setXmlProblem(XmlProblem& problem, std::uint64_t line, const char* what) {
    problem.line = line;
    std::snprintf(problem.what, sizeof problem.what, "%s", what);
}

/// Parses the XML document in `bytes`, calling `events` for every element. A
/// document type declaration is read, but nothing outside the document is
/// ever fetched. False when the document is not well-formed, or cannot be
/// read at all, with `problem` set; or when a callback stopped the parse,
/// with `problem` left as it was.
bool parseXml(std::span<const std::uint8_t> bytes, const XmlEvents& events, XmlProblem& problem);

}  // namespace platform

using platform::NativeChar;
