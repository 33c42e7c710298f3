// The CSV report: header line, row layout, quoting and value texts.
#pragma once

#include <cstdint>
#include <cstdio>

struct CartHeaderInfo;

inline constexpr const char CSV_HEADER_LINE[] =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
    "ROM Size in KiB,RAM Size in KiB,Destination,Version\n";

/// Writes `text` as one double-quoted field, each double quote doubled and
/// every other byte as it is. Write errors show in the stream's error
/// indicator.
void writeQuotedField(std::FILE* stream, const char* text);

/// Writes the row of one decoded ROM whose file is `path`. False after a
/// failure, which has been reported: the path cannot be narrowed to bytes
/// (nothing written), or the stream's error indicator is set after the row.
bool writeCsvRow(std::FILE* stream, const CartHeaderInfo& info, const wchar_t* path);

/// Narrows a path unit by unit: 0x00-0xFF become the byte of the same value.
/// False at the first unit above 0xFF or when `out` is too small.
bool narrowPath(const wchar_t* path, char* out, std::size_t capacity);

// The texts of the coded columns.
const char* colorGbText(std::int32_t value);
const char* superGbText(std::int32_t value);
const char* pakTypeText(std::int32_t code);
const char* romSizeText(std::int32_t code);
const char* ramSizeText(std::int32_t code);
const char* destinationText(std::int32_t code);
