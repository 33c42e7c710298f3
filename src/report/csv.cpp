#include "report/csv.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "diag/diag.h"
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

// How the bytes of a text stand for characters, for a UTF-8 report.
enum class Charset : std::uint8_t {
    Report,       // already the report's bytes
    Latin1,       // each byte the character of its value
    Windows1252,  // Latin-1 but for 0x80-0x9F
};

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
// quote twice; to a person each control byte as '?', so that no escape
// sequence reaches the terminal; in a UTF-8 report each byte above 0x7F as
// the character it stands for in `charset`. At most three bytes a byte.
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
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x80 && convert) {
            const bool windows = charset == Charset::Windows1252 && value < 0xA0;
            at = putUtf8(at, windows ? WINDOWS_1252_HIGH[value - 0x80] : value);
        } else if (byte == '"') {
            *at++ = '"';
            *at++ = '"';
        } else if (mask && (value < 0x20 || value == 0x7F)) {
            *at++ = '?';
        } else {
            *at++ = byte;
        }
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

}  // namespace

std::string_view pakTypeText(std::int32_t code) {
    return code >= 0 && code <= 0xFF ? PAK_TABLE[static_cast<std::size_t>(code)] : UNKNOWN;
}

bool writeCsvRow(std::FILE* stream, const RowSubject& subject, const RowStyle& style,
                 std::vector<char>& room) {
    char path[4 * platform::PATH_CAPACITY];
    std::size_t pathLength = 0;
    if (!platform::pathBytes(subject.path, style.utf8, path, pathLength)) {
        reportError("Failed to convert filename %s to a multibyte representation.",
                    subject.path);
        return false;
    }
    const CartHeaderInfo& info = subject.info;
    const std::string_view member = subject.member.value_or("");
    // Every byte of a text gives at most three; the rest is of fixed length.
    const std::size_t longest =
        3 * (pathLength + member.size() + sizeof info.title + sizeof info.code + sizeof info.maker) +
        512;
    if (room.size() < longest) {
        room.resize(longest);
    }
    char* at = room.data();
    *at++ = '"';
    at = putText(at, {path, pathLength}, Charset::Report, style);
    if (subject.member) {
        *at++ = '#';
        at = putText(at, member, Charset::Report, style);
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
    // The last field has no comma after it, but the line's end.
    at[-1] = '\n';
    const std::string_view row(room.data(), static_cast<std::size_t>(at - room.data()));
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

bool writeRows(Report& report, const RowSubject& subject) {
    return (report.file == nullptr ||
            writeCsvRow(report.file, subject, report.fileStyle, report.row)) &&
           (!report.toStdout || writeCsvRow(stdout, subject, report.stdoutStyle, report.row));
}
