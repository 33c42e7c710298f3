// The CSV report: header line, row layout, quoting and value texts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dat/dat.h"
#include "header/rom_header.h"

inline constexpr const char CSV_HEADER_LINE[] =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
    "ROM Size in KiB,RAM Size in KiB,Destination,Version\n";

// The columns that -verify and -hash add, in this order, after the others.
inline constexpr const char CSV_VERIFY_COLUMNS[] = ",Logo,Header Checksum,Global Checksum";
inline constexpr const char CSV_HASH_COLUMNS[] = ",File Size,CRC32,MD5,SHA1";
inline constexpr const char CSV_DAT_COLUMNS[] = ",DAT Game,DAT ROM,DAT Status";

// The byte order mark that starts a UTF-8 report file.
inline constexpr const char UTF8_MARK[] = "\xEF\xBB\xBF";

// How the rows of one destination are written.
struct RowStyle {
    bool utf8 = false;          // -utf8: every field in UTF-8
    bool verify = false;        // -verify: the three checks after the version
    bool hash = false;          // -hash: the size and digests after them
    bool dat = false;           // -dat: the DAT's names and status after those
    bool maskControls = false;  // a person reads it: control bytes show as '?'
    bool flushEachRow = false;  // a person reads it: each row shows as it is written
};

// Where the rows of a run go and how, and the room in which each is gathered
// before it is handed to its stream in one piece.
struct Report {
    std::FILE* file = nullptr;  // the output file; null when there is none
    bool toStdout = false;      // -stdout, or implied by -nofile
    RowStyle fileStyle;
    RowStyle stdoutStyle;
    std::vector<char> row;  // grows to the longest row once, then stays
    DatSet* dat = nullptr;  // -dat: what each row is matched against
    std::uint64_t rowsWritten = 0;
};

// How the bytes of a text stand for characters, for a UTF-8 report.
enum class Charset : std::uint8_t {
    Report,       // already the report's bytes
    Latin1,       // each byte the character of its value
    Windows1252,  // Latin-1 but for 0x80-0x9F
    Cp437,        // an archive's names without its UTF-8 flag
    Utf8,         // an ill-formed sequence is U+FFFD
};

// One row's subject: a decoded ROM, the file that holds it, and the archive
// entry it came from, if any, with the character set of the entry's name.
struct RowSubject {
    const CartHeaderInfo& info;
    const NativeChar* path;
    std::optional<std::string_view> member;
    Charset memberCharset = Charset::Report;
    const FileDigest* digest = nullptr;  // with -hash; none: the file could not be read whole
    const DatSet* dat = nullptr;         // with -dat, and the entry that the digest matches
    const DatRom* match = nullptr;
};

/// The line of column names for rows in `style`, with its line end.
std::string headerLine(const RowStyle& style);

// What became of a row.
enum class RowWritten : std::uint8_t {
    Yes,
    BadName,  // its path cannot be written in the report's encoding: nothing written
    Failed,   // the stream's error indicator is set after the row
};

/// Writes the row of `subject` to `stream` in `style`. Either failure has
/// been reported.
RowWritten writeCsvRow(std::FILE* stream, const RowSubject& subject, const RowStyle& style,
                       std::vector<char>& room);

/// Writes the row of `subject` to the report's file, then to standard output
/// when asked, matched against the report's DAT set if it has one. Either
/// failure has been reported.
RowWritten writeRows(Report& report, const RowSubject& subject);

/// Writes a row for every entry of the report's DAT set that no file
/// matched, in DAT order; entries that could never match are left out.
/// False after a failure, which has been reported.
bool writeMissingRows(Report& report);

/// The text of a cartridge type byte.
std::string_view pakTypeText(std::int32_t code);
