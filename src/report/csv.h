// The CSV report: header line, row layout, quoting and value texts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "header/rom_header.h"

inline constexpr const char CSV_HEADER_LINE[] =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
    "ROM Size in KiB,RAM Size in KiB,Destination,Version\n";

// The header line with the three columns of -verify.
inline constexpr const char CSV_VERIFY_HEADER_LINE[] =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
    "ROM Size in KiB,RAM Size in KiB,Destination,Version,Logo,Header Checksum,Global Checksum\n";

// The byte order mark that starts a UTF-8 report file.
inline constexpr const char UTF8_MARK[] = "\xEF\xBB\xBF";

// How the rows of one destination are written.
struct RowStyle {
    bool utf8 = false;          // -utf8: every field in UTF-8
    bool verify = false;        // -verify: the three checks after the version
    bool maskControls = false;  // a person reads it: control bytes show as '?'
    bool flushEachRow = false;  // a person reads it: each row shows as it is written
};

// A row's path as the report's bytes already, in two parts: its folder with
// the separator, and its name. The walk has them where the system names files
// in bytes, and the row then need not convert the path's units again.
struct PathBytes {
    std::string_view folder;
    std::string_view name;
};

/// Writes the row of one decoded ROM whose file is `path`; `member`, when
/// given, names the archive entry that held it, after the path and "#".
/// `bytes`, when given, is `path` as the report's bytes.
/// False after a failure, which has been reported: the path cannot be
/// written in the report's encoding (nothing written), or the stream's error
/// indicator is set after the row.
bool writeCsvRow(std::FILE* stream, const CartHeaderInfo& info, const wchar_t* path,
                 const RowStyle& style = {}, const std::string_view* member = nullptr,
                 const PathBytes* bytes = nullptr);

// The texts of the coded columns.
const char* colorGbText(std::int32_t value);
const char* superGbText(std::int32_t value);
const char* pakTypeText(std::int32_t code);
const char* romSizeText(std::int32_t code);
const char* ramSizeText(std::int32_t code);
const char* destinationText(std::int32_t code);
const char* checkText(Check check);
