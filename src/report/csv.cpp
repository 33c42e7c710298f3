#include "report/csv.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "diag/diag.h"
#include "header/rom_header.h"
#include "platform/platform.h"

namespace {

// A text of the report's own, padded with zeros to a fixed width, so that a
// row takes it in one copy of known size. Each is plain ASCII without quotes
// or control bytes, the same in every style.
struct ValueText {
    char bytes[32] = {};
    std::uint8_t length = 0;

    constexpr ValueText() = default;
    constexpr ValueText(const char* text) {  // NOLINT: made from literals
        while (text[length] != '\0' && length + 1u < sizeof bytes) {
            bytes[length] = text[length];
            ++length;
        }
    }
};

constexpr ValueText UNKNOWN = "Unknown";

// clang-format off
struct PakName { std::uint8_t code; const char* text; };
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
constexpr ValueText ROM_SIZES[] = {"32", "64", "128", "256", "512", "1024", "2048", "4096", "8192"};
// Codes 1 and 5 are not sizes this report names.
constexpr ValueText RAM_SIZES[] = {"0", UNKNOWN, "8", "32", "128"};
constexpr ValueText DESTINATIONS[] = {"Japan", "Worldwide"};
constexpr ValueText COLOR_GB[] = {"None", "Compatible", "Exclusive"};
constexpr ValueText SUPER_GB[] = {"No", "Yes"};
constexpr ValueText CHECKS[] = {UNKNOWN, "Valid", "Invalid"};  // in the order of Check
// clang-format on

constexpr std::array<ValueText, 256> buildPakTable() {
    std::array<ValueText, 256> table{};
    table.fill(UNKNOWN);
    for (const PakName& entry : PAK_NAMES) {
        table[entry.code] = entry.text;
    }
    return table;
}

constexpr std::array<ValueText, 256> PAK_TABLE = buildPakTable();
static_assert(std::string_view(PAK_TABLE[0x21].bytes) == "Unknown");
static_assert(PAK_TABLE[0x22].length == 30);  // the longest, whole

template <std::size_t N>
const ValueText& fromList(const ValueText (&list)[N], std::int32_t code) {
    return code >= 0 && static_cast<std::size_t>(code) < N ? list[code] : UNKNOWN;
}

const ValueText& colorGbValue(std::int32_t value) {
    return COLOR_GB[value == CGB_COMPATIBLE ? 1 : value == CGB_EXCLUSIVE ? 2 : 0];
}

const ValueText& superGbValue(std::int32_t value) { return SUPER_GB[value == 3 ? 1 : 0]; }

const ValueText& pakTypeValue(std::int32_t code) {
    return code >= 0 && code <= 0xFF ? PAK_TABLE[static_cast<std::size_t>(code)] : UNKNOWN;
}

const ValueText& checkValue(Check check) { return CHECKS[static_cast<std::size_t>(check)]; }

// Each row is gathered here and handed to the stream in one call. It holds the
// longest row there can be: a path of 259 units at three bytes each, an
// archive entry's name of 65535 bytes that are all double quotes, the three
// texts of the header doubled or widened, the value texts and the checks.
char rowBytes[3 * platform::PATH_CAPACITY + 2 * 0xFFFF + 4 * (17 + 5 + 26) + 512];

// How the bytes of a text stand for characters, for a UTF-8 report.
enum class Charset { Latin1, Windows1252 };

// Windows-1252 at 0x80-0x9F; elsewhere it agrees with Latin-1. The maker
// names hold 0x92, a right single quote.
// clang-format off
constexpr char16_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};
// clang-format on

// The writers below put a row's bytes through a cursor, `at`, which each of
// them takes and gives back: kept in a register, it costs a store a byte,
// where a stream's own cursor would be read and written for every byte.

// Puts one byte of a field: a double quote twice, and to a person a control
// byte as '?', so that no escape sequence reaches the terminal.
char* putFieldByte(char* at, unsigned char byte, const RowStyle& style) {
    if (byte == '"') {
        *at++ = '"';
    } else if (style.maskControls && (byte < 0x20 || byte == 0x7F)) {
        byte = '?';
    }
    *at++ = static_cast<char>(byte);
    return at;
}

// Encodes one character in UTF-8; gives the count of bytes.
std::size_t toUtf8(char32_t c, char (&out)[4]) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    const std::size_t count = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    constexpr unsigned LEAD[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out[0] = static_cast<char>(LEAD[count] | (c >> (6 * (count - 1))));
    for (std::size_t k = 1; k < count; ++k) {
        out[k] = static_cast<char>(0x80 | ((c >> (6 * (count - 1 - k))) & 0x3F));
    }
    return count;
}

char* putCharacter(char* at, char32_t c, const RowStyle& style) {
    if (c < 0x80) {
        return putFieldByte(at, static_cast<unsigned char>(c), style);
    }
    char bytes[4];
    const std::size_t count = toUtf8(c, bytes);
    for (std::size_t i = 0; i < count; ++i) {
        *at++ = bytes[i];
    }
    return at;
}

// Puts bytes in a field as they are, but a double quote twice.
char* putQuoting(char* at, std::string_view bytes) {
    for (const char byte : bytes) {
        if (byte == '"') {
            *at++ = '"';
        }
        *at++ = byte;
    }
    return at;
}

// Puts the bytes of a text inside a field: as they are, or in a UTF-8 report
// each byte above 0x7F as the character it stands for in `charset`.
char* putText(char* at, std::string_view text, Charset charset, const RowStyle& style) {
    if (!style.utf8 && !style.maskControls) {
        return putQuoting(at, text);
    }
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        if (!style.utf8 || value < 0x80) {
            at = putFieldByte(at, value, style);
        } else if (charset == Charset::Windows1252 && value < 0xA0) {
            at = putCharacter(at, WINDOWS_1252_HIGH[value - 0x80], style);
        } else {
            at = putCharacter(at, value, style);
        }
    }
    return at;
}

// Whether any of the eight bytes of `word` is `byte`.
constexpr bool holdsByte(std::uint64_t word, unsigned char byte) {
    constexpr std::uint64_t ONES = 0x0101010101010101;
    const std::uint64_t x = word ^ (ONES * byte);
    return ((x - ONES) & ~x & (ONES << 7)) != 0;
}
static_assert(holdsByte(0x4142432244454647, '"') && !holdsByte(0x4142434445464748, '"'));
static_assert(holdsByte(0x4142430044454647, 0) && !holdsByte(0x0101010101010101, 0));

// One field of the ROM's own text, the zero-terminated `text` in its array,
// in double quotes, and the comma after it.
template <std::size_t N>
char* writeQuotedField(char* at, const char (&text)[N], Charset charset, const RowStyle& style) {
    *at++ = '"';
    if (!style.utf8 && !style.maskControls) {
        // The usual report: eight bytes a step while the array holds them
        // and none ends the text or is a quote, then a byte a step.
        std::size_t i = 0;
        for (; i + 8 <= N; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, text + i, 8);
            if (holdsByte(word, 0) || holdsByte(word, '"')) {
                break;
            }
            std::memcpy(at, &word, 8);
            at += 8;
        }
        // The rest up to the end, without measuring it first.
        for (; text[i] != '\0'; ++i) {
            if (text[i] == '"') {
                *at++ = '"';
            }
            *at++ = text[i];
        }
    } else {
        at = putText(at, text, charset, style);
    }
    *at++ = '"';
    *at++ = ',';
    return at;
}

// A text of the report's own in double quotes.
char* putQuotedValue(char* at, const ValueText& text) {
    *at++ = '"';
    std::memcpy(at, text.bytes, sizeof text.bytes);
    at += text.length;
    *at++ = '"';
    return at;
}

// The path straight into the row, where its units are the report's bytes and
// nothing but quotes is looked at: each quote twice. False, with errno set,
// at a unit that is no byte. The loops have a known length, so that the
// compiler widens them to many units a step.
bool putPathBytes(char*& at, const wchar_t* path) {
    const std::size_t length = std::wcslen(path);
    // Copied whole on the guess that nothing needs more; the same pass tells
    // whether the guess held.
    std::uint32_t allBits = 0;
    std::uint32_t quotes = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<std::uint32_t>(path[i]);
        allBits |= unit;
        quotes += unit == '"' ? 1 : 0;
        at[i] = static_cast<char>(unit);
    }
    if (allBits > 0xFF) {
        errno = EILSEQ;
        return false;
    }
    if (quotes == 0) {
        at += length;
        return true;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (path[i] == L'"') {
            *at++ = '"';
        }
        *at++ = static_cast<char>(path[i]);
    }
    return true;
}

// Bytes that are already the report's, in a field: each quote twice. Most
// hold none, and go in one copy.
char* putFieldBytes(char* at, std::string_view bytes) {
    if (std::memchr(bytes.data(), '"', bytes.size()) == nullptr) {
        std::memcpy(at, bytes.data(), bytes.size());
        return at + bytes.size();
    }
    return putQuoting(at, bytes);
}

// The path as the report's bytes: each unit up to 0xFF as that byte, or in a
// UTF-8 report the system's own reading of the name. False when it cannot
// be written, with errno set.
bool encodePath(const wchar_t* path, bool utf8, char (&out)[4 * platform::PATH_CAPACITY],
                std::size_t& length) {
    length = 0;
    for (std::size_t i = 0; path[i] != L'\0'; ++i) {
        const auto unit = static_cast<std::uint32_t>(path[i]);
        if (!utf8 || !platform::PATH_UNITS_ARE_UTF16 || unit < 0x80) {
            if (unit > 0xFF) {
                errno = EILSEQ;
                return false;
            }
            out[length++] = static_cast<char>(unit);
            continue;
        }
        // UTF-16: a pair of surrogates is one character; a lone one is none.
        char32_t c = unit;
        const auto next = static_cast<std::uint32_t>(path[i + 1]);
        if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            c = 0xFFFD;
        }
        char encoded[4];
        const std::size_t count = toUtf8(c, encoded);
        for (std::size_t k = 0; k < count; ++k) {
            out[length++] = encoded[k];
        }
    }
    return true;
}

}  // namespace

const char* colorGbText(std::int32_t value) { return colorGbValue(value).bytes; }
const char* superGbText(std::int32_t value) { return superGbValue(value).bytes; }
const char* pakTypeText(std::int32_t code) { return pakTypeValue(code).bytes; }
const char* romSizeText(std::int32_t code) { return fromList(ROM_SIZES, code).bytes; }
const char* ramSizeText(std::int32_t code) { return fromList(RAM_SIZES, code).bytes; }
const char* destinationText(std::int32_t code) { return fromList(DESTINATIONS, code).bytes; }
const char* checkText(Check check) { return checkValue(check).bytes; }

bool writeCsvRow(std::FILE* stream, const CartHeaderInfo& info, const wchar_t* path,
                 const RowStyle& style, const std::string_view* member, const PathBytes* bytes) {
    char* at = rowBytes;
    *at++ = '"';
    // Once the path is the report's bytes, only quotes and controls are
    // looked at again.
    const RowStyle bytesOnly{.maskControls = style.maskControls};
    bool pathFits = true;
    if (bytes != nullptr && !style.maskControls) {
        at = putFieldBytes(at, bytes->folder);
        at = putFieldBytes(at, bytes->name);
    } else if (!style.maskControls && (!style.utf8 || !platform::PATH_UNITS_ARE_UTF16)) {
        pathFits = putPathBytes(at, path);
    } else {
        char filename[4 * platform::PATH_CAPACITY];
        std::size_t length = 0;
        pathFits = encodePath(path, style.utf8, filename, length);
        at = putText(at, {filename, length}, Charset::Latin1, bytesOnly);
    }
    if (!pathFits) {
        reportError(L"Failed to convert filename %s to a multibyte representation.", path);
        return false;
    }
    if (member != nullptr) {
        *at++ = '#';
        at = putText(at, *member, Charset::Latin1, bytesOnly);
    }
    *at++ = '"';
    *at++ = ',';
    at = writeQuotedField(at, info.title, Charset::Latin1, style);
    at = writeQuotedField(at, info.code, Charset::Latin1, style);
    at = writeQuotedField(at, info.maker, Charset::Windows1252, style);
    for (const ValueText* text :
         {&colorGbValue(info.colorGbSupport), &superGbValue(info.superGbSupport),
          &pakTypeValue(info.pakType), &fromList(ROM_SIZES, info.romSize),
          &fromList(RAM_SIZES, info.ramSize), &fromList(DESTINATIONS, info.destination)}) {
        at = putQuotedValue(at, *text);
        *at++ = ',';
    }
    char digits[4];
    std::size_t count = 0;
    unsigned value = info.version;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    *at++ = '"';
    while (count != 0) {
        *at++ = digits[--count];
    }
    *at++ = '"';
    if (style.verify) {
        for (const Check check : {info.logo, info.headerChecksum, info.globalChecksum}) {
            *at++ = ',';
            at = putQuotedValue(at, checkValue(check));
        }
    }
    *at++ = '\n';
    const auto length = static_cast<std::size_t>(at - rowBytes);
    bool arrived = true;
    if (style.flushEachRow) {
        arrived = platform::putTerminalRow(rowBytes, length, style.utf8, stream);
    } else {
        platform::putBytes(rowBytes, length, stream);
    }
    if (!arrived || std::ferror(stream) != 0) {
        // A reader of standard output that has gone is no failure to
        // report: the run ends as a filter's does.
        if (stream != stdout || !platform::stdoutReaderGone()) {
            reportError(L"Failed to write header to the output file");
        }
        return false;
    }
    return true;
}
