#include "report/csv.h"

#include <array>
#include <cerrno>
#include <string_view>

#include "diag/diag.h"
#include "header/rom_header.h"
#include "platform/platform.h"

namespace {

constexpr const char* UNKNOWN = "Unknown";

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
constexpr const char* ROM_SIZES[] = {"32", "64", "128", "256", "512", "1024", "2048", "4096", "8192"};
// Codes 1 and 5 are not sizes this report names.
constexpr const char* RAM_SIZES[] = {"0", UNKNOWN, "8", "32", "128"};
constexpr const char* DESTINATIONS[] = {"Japan", "Worldwide"};
// clang-format on

constexpr std::array<const char*, 256> buildPakTable() {
    std::array<const char*, 256> table{};
    table.fill(UNKNOWN);
    for (const PakName& entry : PAK_NAMES) {
        table[entry.code] = entry.text;
    }
    return table;
}

constexpr std::array<const char*, 256> PAK_TABLE = buildPakTable();
static_assert(std::string_view(PAK_TABLE[0x21]) == "Unknown");
static_assert(std::string_view(PAK_TABLE[0x22]) == "MBC7+SENSOR+RUMBLE+RAM+BATTERY");

template <std::size_t N>
const char* fromList(const char* const (&list)[N], std::int32_t code) {
    return code >= 0 && static_cast<std::size_t>(code) < N ? list[code] : UNKNOWN;
}


void putFieldThenComma(std::FILE* stream, const char* text) {
    writeQuotedField(stream, text);
    platform::putByte(',', stream);
}

}  // namespace

const char* colorGbText(std::int32_t value) {
    if (value == CGB_COMPATIBLE) {
        return "Compatible";
    }
    return value == CGB_EXCLUSIVE ? "Exclusive" : "None";
}

const char* superGbText(std::int32_t value) { return value == 3 ? "Yes" : "No"; }

const char* pakTypeText(std::int32_t code) {
    return code >= 0 && code <= 0xFF ? PAK_TABLE[static_cast<std::size_t>(code)] : UNKNOWN;
}

const char* romSizeText(std::int32_t code) { return fromList(ROM_SIZES, code); }
const char* ramSizeText(std::int32_t code) { return fromList(RAM_SIZES, code); }
const char* destinationText(std::int32_t code) { return fromList(DESTINATIONS, code); }

bool narrowPath(const wchar_t* path, char* out, std::size_t capacity) {
    std::size_t length = 0;
    for (; path[length] != L'\0'; ++length) {
        const auto unit = static_cast<std::uint32_t>(path[length]);
        if (unit > 0xFF || length + 1 >= capacity) {
            errno = EILSEQ;
            return false;
        }
        out[length] = static_cast<char>(unit);
    }
    if (capacity == 0) {
        return false;
    }
    out[length] = '\0';
    return true;
}

void writeQuotedField(std::FILE* stream, const char* text) {
    platform::putByte('"', stream);
    for (; *text != '\0'; ++text) {
        if (*text == '"') {
            platform::putByte('"', stream);
        }
        platform::putByte(static_cast<unsigned char>(*text), stream);
    }
    platform::putByte('"', stream);
}

bool writeCsvRow(std::FILE* stream, const CartHeaderInfo& info, const wchar_t* path) {
    char filename[2 * platform::PATH_CAPACITY];
    if (!narrowPath(path, filename, sizeof filename)) {
        reportError(L"Failed to convert filename %s to a multibyte representation.", path);
        return false;
    }
    putFieldThenComma(stream, filename);
    putFieldThenComma(stream, info.title);
    putFieldThenComma(stream, info.code);
    putFieldThenComma(stream, info.maker);
    putFieldThenComma(stream, colorGbText(info.colorGbSupport));
    putFieldThenComma(stream, superGbText(info.superGbSupport));
    putFieldThenComma(stream, pakTypeText(info.pakType));
    putFieldThenComma(stream, romSizeText(info.romSize));
    putFieldThenComma(stream, ramSizeText(info.ramSize));
    putFieldThenComma(stream, destinationText(info.destination));

    char digits[4];
    std::size_t count = 0;
    unsigned value = info.version;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    platform::putByte('"', stream);
    while (count != 0) {
        platform::putByte(digits[--count], stream);
    }
    platform::putByte('"', stream);
    platform::putByte('\n', stream);

    if (std::ferror(stream) != 0) {
        reportError(L"Failed to write header to the output file");
        return false;
    }
    return true;
}
