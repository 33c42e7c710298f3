#include "report/csv.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "diag/diag.h"
#include "diag/text.h"
#include "platform/platform.h"

namespace {

using namespace std::string_view_literals;

constexpr std::string_view UNKNOWN = "Unknown";

// clang-format off
struct PakName { std::uint8_t code; std::string_view text; };
constexpr PakName PAK_NAMES[] = {
    {0x00, "ROM ONLY"},
    {0x01, "MBC1"},
    {0x02, "MBC1+RAM"},
    {0x03, "MBC1+RAM+BATTERY"},
    {0x05, "MBC2"},
    {0x06, "MBC2+BATTERY"},
    {0x08, "ROM+RAM 1"},          // the " 1" and " 2" suffixes belong to the texts
    {0x09, "ROM+RAM+BATTERY 1"},
    {0x0B, "MMM01"},
    {0x0C, "MMM01+RAM"},
    {0x0D, "MMM01+RAM+BATTERY"},
    {0x0F, "MBC3+TIMER+BATTERY"},
    {0x10, "MBC3+TIMER+RAM+BATTERY 2"},
    {0x11, "MBC3"},
    {0x12, "MBC3+RAM 2"},
    {0x13, "MBC3+RAM+BATTERY 2"},
    {0x19, "MBC5"},
    {0x1A, "MBC5+RAM"},
    {0x1B, "MBC5+RAM+BATTERY"},
    {0x1C, "MBC5+RUMBLE"},
    {0x1D, "MBC5+RUMBLE+RAM"},
    {0x1E, "MBC5+RUMBLE+RAM+BATTERY"},
    {0x20, "MBC6"},
    {0x22, "MBC7+SENSOR+RUMBLE+RAM+BATTERY"},
    {0xFC, "POCKET CAMERA"},
    {0xFD, "BANDAI TAMA5"},
    {0xFE, "HuC3"},
    {0xFF, "HuC1+RAM+BATTERY"},
};

// 32 KiB shifted left by the code, for codes 0 to 8.
constexpr std::string_view ROM_SIZES[] = {"32", "64", "128", "256", "512", "1024", "2048", "4096", "8192"};
// Codes 1 and 5 are not sizes this report names.
constexpr std::string_view RAM_SIZES[] = {"0", UNKNOWN, "8", "32", "128"};
constexpr std::string_view DESTINATIONS[] = {"Japan", "Worldwide"};
constexpr std::string_view CHECKS[] = {UNKNOWN, "Valid", "Invalid"};  // in the order of Check

// Windows-1252 at 0x80-0x9F; elsewhere it agrees with Latin-1. The maker
// names hold 0x92, a right single quote.
constexpr char16_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

// Code page 437 at 0x80-0xFF: what archives without the UTF-8 flag name
// their entries in.
constexpr char16_t CP437_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// clang-format on

constexpr std::array<std::string_view, 256> buildPakTable() {
    std::array<std::string_view, 256> table{};
    table.fill(UNKNOWN);
    for (const PakName& entry : PAK_NAMES) {
        table[entry.code] = entry.text;
    }
    return table;
}

constexpr std::array<std::string_view, 256> PAK_TABLE = buildPakTable();
static_assert(PAK_TABLE[0x21] == "Unknown" && PAK_TABLE[0x22].size() == 30);

template <std::size_t N>
std::string_view fromList(const std::string_view (&list)[N], std::int32_t code) {
    return code >= 0 && static_cast<std::size_t>(code) < N ? list[code] : UNKNOWN;
}

std::string_view colorGbText(std::int32_t value) {
    return value == CGB_COMPATIBLE ? "Compatible" : value == CGB_EXCLUSIVE ? "Exclusive" : "None";
}

// The character that the text at `bytes` (not empty) starts with, read in
// `charset`, and the count of its bytes.
std::size_t readCharacter(std::string_view bytes, Charset charset, char32_t& c) {
    const auto value = static_cast<unsigned char>(bytes[0]);
    c = value;
    if (charset == Charset::Utf8) {
        bool wellFormed = true;
        return decodeUtf8(bytes, c, wellFormed);
    }
    if (charset == Charset::Cp437 && value >= 0x80) {
        c = CP437_HIGH[value - 0x80];
    } else if (charset == Charset::Windows1252 && value >= 0x80 && value < 0xA0) {
        c = WINDOWS_1252_HIGH[value - 0x80];
    }
    return 1;
}

// Encodes one character in UTF-8.
char* putUtf8(char* at, char32_t c) {
    if (c < 0x80) {
        *at++ = static_cast<char>(c);
        return at;
    }
    const int count = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    constexpr unsigned LEAD[] = {0, 0, 0xC0, 0xE0, 0xF0};
    *at++ = static_cast<char>(LEAD[count] | (c >> (6 * (count - 1))));
    for (int k = count - 2; k >= 0; --k) {
        *at++ = static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    return at;
}

// The one quoting loop: puts the bytes of a text inside a field, a double
// quote twice; to a person each control as '?', so that no escape sequence
// reaches the terminal; in a UTF-8 report each character that the text
// holds in `charset`. At most three bytes a byte.
char* putText(char* at, std::string_view text, Charset charset, const RowStyle& style) {
    // Copies of the style's flags: the row's bytes could otherwise alias
    // them, and they would be read again for every byte.
    const bool convert = style.utf8 && charset != Charset::Report;
    const bool mask = style.maskControls;
    if (!convert && !mask) {
        // The usual report: the bytes as they are, in runs up to each quote.
        for (std::size_t quote; (quote = text.find('"')) != std::string_view::npos;) {
            at = std::copy_n(text.data(), quote + 1, at);
            *at++ = '"';
            text.remove_prefix(quote + 1);
        }
        return std::copy(text.begin(), text.end(), at);
    }
    while (!text.empty()) {
        std::size_t length = 1;
        bool control = false;
        if (convert) {
            char32_t c = 0;
            length = readCharacter(text, charset, c);
            control = isControl(c);
            if (c >= 0x80 && !(mask && control)) {
                at = putUtf8(at, c);
                text.remove_prefix(length);
                continue;
            }
        } else if (mask) {
            length = terminalCharacter(text, control);
        }
        if (mask && control) {
            *at++ = '?';
        } else if (text[0] == '"') {
            *at++ = '"';
            *at++ = '"';
        } else {
            at = std::copy_n(text.data(), length, at);
        }
        text.remove_prefix(length);
    }
    return at;
}

// A whole field, in double quotes, and the comma after it.
char* putField(char* at, std::string_view text, Charset charset, const RowStyle& style) {
    *at++ = '"';
    at = putText(at, text, charset, style);
    *at++ = '"';
    *at++ = ',';
    return at;
}

// A text of the report's own, which holds no quote, control or high byte,
// as a whole field and the comma after it.
char* putValue(char* at, std::string_view text) {
    *at++ = '"';
    at = std::copy(text.begin(), text.end(), at);
    *at++ = '"';
    *at++ = ',';
    return at;
}

// Bytes as lower-case hexadecimal, as the usual checksum tools print them.
char* putHex(char* at, std::span<const std::uint8_t> bytes) {
    constexpr char DIGITS[] = "0123456789abcdef";
    for (const std::uint8_t byte : bytes) {
        *at++ = DIGITS[byte >> 4];
        *at++ = DIGITS[byte & 0xF];
    }
    return at;
}

// The four fields of -hash: size, CRC-32, MD5 and SHA-1, each empty where
// it is not known.
struct DigestFields {
    const std::uint64_t* size = nullptr;
    const std::uint32_t* crc = nullptr;
    const std::uint8_t* md5 = nullptr;
    const std::uint8_t* sha1 = nullptr;
};

DigestFields fieldsOf(const FileDigest* digest) {
    return digest == nullptr ? DigestFields{}
                             : DigestFields{&digest->size, &digest->crc, digest->md5, digest->sha1};
}

DigestFields fieldsOf(const DatRom& rom) {
    return {rom.hasSize ? &rom.size : nullptr, rom.hasCrc ? &rom.crc : nullptr,
            rom.hasMd5 ? rom.md5 : nullptr, rom.hasSha1 ? rom.sha1 : nullptr};
}

char* putDigest(char* at, const DigestFields& fields) {
    char size[24];
    at = putValue(at, fields.size == nullptr
                          ? std::string_view()
                          : std::string_view(size, std::to_chars(size, size + sizeof size,
                                                                  *fields.size).ptr));
    std::uint8_t crc[4] = {};
    if (fields.crc != nullptr) {
        for (int i = 0; i < 4; ++i) {
            crc[i] = static_cast<std::uint8_t>(*fields.crc >> (24 - 8 * i));
        }
    }
    const struct {
        const std::uint8_t* bytes;
        std::size_t count;
    } hashes[] = {{fields.crc != nullptr ? crc : nullptr, 4}, {fields.md5, 16}, {fields.sha1, 20}};
    for (const auto& hash : hashes) {
        char hex[40];
        const char* end = hash.bytes != nullptr ? putHex(hex, {hash.bytes, hash.count}) : hex;
        at = putValue(at, {hex, end});
    }
    return at;
}

// The three fields of -dat: the entry's game and ROM names and `status`.
char* putDatFields(char* at, const DatSet* set, const DatRom* rom, std::string_view status,
                   const RowStyle& style) {
    at = putField(at, rom != nullptr ? datText(*set, rom->game) : "", Charset::Utf8, style);
    at = putField(at, rom != nullptr ? datText(*set, rom->name) : "", Charset::Utf8, style);
    return putValue(at, status);
}

std::string_view statusText(const DatRom* rom) {
    if (rom == nullptr) {
        return UNKNOWN;
    }
    return rom->status == DatStatus::Verified  ? "Verified"
           : rom->status == DatStatus::BadDump ? "Bad dump"
                                               : "Good";
}

// Hands a row to its stream. False after a failure, which has been reported.
bool emitRow(std::FILE* stream, std::span<char> room, char* end, const RowStyle& style) {
    // The last field has no comma after it, but the line's end.
    end[-1] = '\n';
    const std::string_view row(room.data(), static_cast<std::size_t>(end - room.data()));
    bool arrived = true;
    if (style.flushEachRow) {
        arrived = platform::putTerminalRow(row, style.utf8, stream);
    } else {
        platform::putBytes(row, stream);
    }
    if (!arrived || std::ferror(stream) != 0) {
        // A reader of standard output that has gone is no failure to
        // report: the run ends as a filter's does.
        if (stream != stdout || !platform::stdoutReaderGone()) {
            reportError("Failed to write header to the output file");
        }
        return false;
    }
    return true;
}

// Makes room for a row of the fixed fields and `texts` bytes of text, every
// byte of which gives at most three.
char* roomFor(std::vector<char>& room, std::size_t texts) {
    const std::size_t longest = 3 * texts + 640;
    if (room.size() < longest) {
        room.resize(longest);
    }
    return room.data();
}

// The commas of a header text: a comma before every column but the first.
constexpr std::size_t commasIn(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), ','));
}

// A missing ROM's row: no file and no header, the DAT's size and hashes, its
// names and "Missing".
bool writeMissingRow(std::FILE* stream, const DatSet& set, const DatRom& rom,
                     const RowStyle& style, std::vector<char>& room) {
    char* at = roomFor(room, rom.game.length + rom.name.length);
    const std::size_t empty =
        commasIn(CSV_HEADER_LINE) + 1 + (style.verify ? commasIn(CSV_VERIFY_COLUMNS) : 0);
    for (std::size_t i = 0; i < empty; ++i) {
        at = putValue(at, {});
    }
    at = putDigest(at, fieldsOf(rom));
    at = putDatFields(at, &set, &rom, "Missing", style);
    return emitRow(stream, room, at, style);
}

}  // namespace

std::string headerLine(const RowStyle& style) {
    std::string line(CSV_HEADER_LINE, sizeof CSV_HEADER_LINE - 2);
    if (style.verify) {
        line += CSV_VERIFY_COLUMNS;
    }
    if (style.hash) {
        line += CSV_HASH_COLUMNS;
    }
    if (style.dat) {
        line += CSV_DAT_COLUMNS;
    }
    return line + '\n';
}

std::string_view pakTypeText(std::int32_t code) {
    return code >= 0 && code <= 0xFF ? PAK_TABLE[static_cast<std::size_t>(code)] : UNKNOWN;
}

RowWritten writeCsvRow(std::FILE* stream, const RowSubject& subject, const RowStyle& style,
                       std::vector<char>& room) {
    char path[4 * platform::PATH_CAPACITY];
    std::size_t pathLength = 0;
    if (!platform::pathBytes(subject.path, style.utf8, path, pathLength)) {
        reportError("Failed to convert filename %s to a multibyte representation.",
                    subject.path);
        return RowWritten::BadName;
    }
    const CartHeaderInfo& info = subject.info;
    const std::string_view member = subject.member.value_or("");
    const DatRom* match = subject.match;
    char* at = roomFor(room, pathLength + member.size() + sizeof info.title + sizeof info.code +
                                 sizeof info.maker +
                                 (match != nullptr ? match->game.length + match->name.length : 0));
    *at++ = '"';
    at = putText(at, {path, pathLength}, Charset::Report, style);
    if (subject.member) {
        *at++ = '#';
        at = putText(at, member, subject.memberCharset, style);
    }
    *at++ = '"';
    *at++ = ',';
    at = putField(at, info.title, Charset::Latin1, style);
    at = putField(at, info.code, Charset::Latin1, style);
    at = putField(at, info.maker, Charset::Windows1252, style);
    for (const std::string_view text :
         {colorGbText(info.colorGbSupport), info.superGbSupport == 3 ? "Yes"sv : "No"sv,
          pakTypeText(info.pakType), fromList(ROM_SIZES, info.romSize),
          fromList(RAM_SIZES, info.ramSize), fromList(DESTINATIONS, info.destination)}) {
        at = putValue(at, text);
    }
    char digits[4];
    at = putValue(at, {digits, std::to_chars(digits, digits + sizeof digits, info.version).ptr});
    if (style.verify) {
        for (const Check check : {info.logo, info.headerChecksum, info.globalChecksum}) {
            at = putValue(at, CHECKS[static_cast<std::size_t>(check)]);
        }
    }
    if (style.hash) {
        at = putDigest(at, fieldsOf(subject.digest));
    }
    if (subject.dat != nullptr) {
        at = putDatFields(at, subject.dat, match, statusText(match), style);
    }
    return emitRow(stream, room, at, style) ? RowWritten::Yes : RowWritten::Failed;
}

RowWritten writeRows(Report& report, const RowSubject& subject) {
    RowSubject row = subject;
    if (report.dat != nullptr) {
        row.dat = report.dat;
        const FileDigest* digest = subject.digest;
        row.match = digest == nullptr ? nullptr
                                      : matchFile(*report.dat, digest->size, digest->crc,
                                                  digest->md5, digest->sha1);
    }
    RowWritten written = RowWritten::Yes;
    if (report.file != nullptr) {
        written = writeCsvRow(report.file, row, report.fileStyle, report.row);
    }
    if (report.toStdout && written == RowWritten::Yes) {
        written = writeCsvRow(stdout, row, report.stdoutStyle, report.row);
    }
    report.rowsWritten += written == RowWritten::Yes ? 1 : 0;
    return written;
}

bool writeMissingRows(Report& report) {
    for (const DatRom& rom : report.dat->roms) {
        if (!rom.found && canMatch(rom) &&
            ((report.file != nullptr &&
              !writeMissingRow(report.file, *report.dat, rom, report.fileStyle, report.row)) ||
             (report.toStdout &&
              !writeMissingRow(stdout, *report.dat, rom, report.stdoutStyle, report.row)))) {
            return false;
        }
    }
    return true;
}
