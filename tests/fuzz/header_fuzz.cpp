// Arbitrary 4 KiB images through decodeHeader and writeCsvRow. Every row is
// parsed back and each field compared with what the image's bytes say, worked
// out here from the header layout itself rather than from the decoder.
//
// The input is cut or zero-padded to 4096 bytes. Its first bytes, which the
// decoder never reads, also name the file: up to the first zero byte, at most
// 259 of them, each byte one path unit. When the byte at 0xFF is 0xFF, a unit
// that no byte represents ends the path, and the row must be refused whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "diag/diag.h"
#include "fuzz_check.h"
#include "header/licensee.h"
#include "header/rom_header.h"
#include "report/csv.h"

namespace {

constexpr std::size_t IMAGE_SIZE = 4096;
constexpr std::size_t NAME_LIMIT = 259;
constexpr std::size_t WIDE_UNIT_SWITCH = 0xFF;

std::FILE* discardedMessages() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    return sink;
}

// The bytes from `offset` on, at most `count`, up to the first zero byte.
std::string zeroTerminated(const std::uint8_t* image, std::size_t offset, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count && image[offset + i] != 0; ++i) {
        text.push_back(static_cast<char>(image[offset + i]));
    }
    return text;
}

// Splits one row into its fields, honouring quotes. False unless the row is
// exactly eleven quoted fields joined by commas and ended by one newline.
bool parseRow(std::string_view row, std::vector<std::string>& fields) {
    std::size_t at = 0;
    for (int field = 0; field < 11; ++field) {
        if (at >= row.size() || row[at] != '"') {
            return false;
        }
        ++at;
        std::string text;
        for (;;) {
            if (at >= row.size()) {
                return false;
            }
            if (row[at] == '"') {
                if (at + 1 < row.size() && row[at + 1] == '"') {
                    text.push_back('"');
                    at += 2;
                    continue;
                }
                ++at;
                break;
            }
            text.push_back(row[at++]);
        }
        fields.push_back(text);
        const char wanted = field == 10 ? '\n' : ',';
        if (at >= row.size() || row[at] != wanted) {
            return false;
        }
        ++at;
    }
    return at == row.size();
}

// The cartridge types that have a name; every other code is "Unknown".
bool isNamedPakType(std::uint8_t code) {
    static constexpr std::uint8_t NAMED[] = {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x08, 0x09, 0x0B,
                                             0x0C, 0x0D, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x19, 0x1A,
                                             0x1B, 0x1C, 0x1D, 0x1E, 0x20, 0x22, 0xFC, 0xFD, 0xFE,
                                             0xFF};
    for (std::uint8_t named : NAMED) {
        if (named == code) {
            return true;
        }
    }
    return false;
}

void checkPakType(std::uint8_t code, const std::string& text) {
    if (!isNamedPakType(code)) {
        fuzz::requireEqual(text, "Unknown", "pak type of an unnamed code");
        return;
    }
    fuzz::require(!text.empty() && text != "Unknown", "pak type of a named code");
    for (char c : text) {
        fuzz::require(c >= ' ' && c <= '~' && c != '"', "pak type is printable");
    }
    switch (code) {
        case 0x00: fuzz::requireEqual(text, "ROM ONLY", "pak type 0x00"); break;
        case 0x01: fuzz::requireEqual(text, "MBC1", "pak type 0x01"); break;
        case 0x10: fuzz::requireEqual(text, "MBC3+TIMER+RAM+BATTERY 2", "pak type 0x10"); break;
        case 0x22: fuzz::requireEqual(text, "MBC7+SENSOR+RUMBLE+RAM+BATTERY", "pak type 0x22"); break;
        case 0xFF: fuzz::requireEqual(text, "HuC1+RAM+BATTERY", "pak type 0xFF"); break;
        default: break;
    }
}

std::string romSizeFor(std::uint8_t code) {
    return code <= 8 ? std::to_string(32u << code) : "Unknown";
}

std::string ramSizeFor(std::uint8_t code) {
    switch (code) {
        case 0: return "0";
        case 2: return "8";
        case 3: return "32";
        case 4: return "128";
        default: return "Unknown";
    }
}

std::string destinationFor(std::uint8_t code) {
    return code == 0 ? "Japan" : code == 1 ? "Worldwide" : "Unknown";
}

void checkMaker(const std::uint8_t* image, const std::string& field) {
    const std::uint8_t oldCode = image[0x14B];
    const std::uint8_t newCode[2] = {image[0x144], image[0x145]};
    const char* name = lookupMaker(oldCode, newCode);
    fuzz::require(name != nullptr, "maker name is never null");
    fuzz::require(std::strlen(name) <= 25, "maker name fits its field");
    fuzz::requireEqual(field, name, "maker column");
    if (oldCode != 0x33) {
        // The new code counts only after 0x33.
        const std::uint8_t otherCode[2] = {static_cast<std::uint8_t>(newCode[0] ^ 0x5A),
                                           static_cast<std::uint8_t>(newCode[1] ^ 0xA5)};
        fuzz::requireEqual(lookupMaker(oldCode, otherCode), name, "old code ignores the new");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t image[IMAGE_SIZE] = {};
    std::memcpy(image, data, size < IMAGE_SIZE ? size : IMAGE_SIZE);

    std::string nameBytes;
    std::vector<wchar_t> path;
    for (std::size_t i = 0; i < NAME_LIMIT && image[i] != 0; ++i) {
        nameBytes.push_back(static_cast<char>(image[i]));
        path.push_back(static_cast<wchar_t>(image[i]));
    }
    const bool unwritableName = image[WIDE_UNIT_SWITCH] == 0xFF && path.size() < NAME_LIMIT;
    if (unwritableName) {
        path.push_back(static_cast<wchar_t>(0x2603));
    }
    path.push_back(L'\0');

    CartHeaderInfo info;
    std::memset(&info, 0xAB, sizeof info);  // nothing stale may pass for a field
    const std::span<const std::uint8_t, HEADER_SPAN> header(image + 0x100, HEADER_SPAN);
    fuzz::require(decodeHeader(header, info), "decodeHeader accepts every header");

    diag::setMessageStream(discardedMessages());
    fuzz::MemoryStream out;
    const bool written = writeCsvRow(out.stream(), info, path.data());
    const std::string_view row = out.close();
    diag::setMessageStream(nullptr);

    if (unwritableName) {
        fuzz::require(!written, "a name beyond bytes is refused");
        fuzz::require(row.empty(), "a refused row writes nothing");
        return 0;
    }
    fuzz::require(written, "writeCsvRow succeeds on a memory stream");

    std::vector<std::string> fields;
    if (!parseRow(row, fields)) {
        fuzz::fail("row is eleven quoted fields and a newline", row, {});
    }

    const std::uint8_t colorFlag = image[0x143];
    const bool colorFlagged = colorFlag == 0x80 || colorFlag == 0xC0;
    fuzz::requireEqual(fields[0], nameBytes, "file name column");
    fuzz::requireEqual(fields[1], zeroTerminated(image, 0x134, colorFlagged ? 15 : 16), "title");
    fuzz::requireEqual(fields[2], zeroTerminated(image, 0x13F, 4), "manufacturer code");
    checkMaker(image, fields[3]);
    fuzz::requireEqual(fields[4],
                       colorFlag == 0x80 ? "Compatible" : colorFlag == 0xC0 ? "Exclusive" : "None",
                       "colour support");
    fuzz::requireEqual(fields[5], image[0x146] == 0x03 ? "Yes" : "No", "super support");
    checkPakType(image[0x147], fields[6]);
    fuzz::requireEqual(fields[7], romSizeFor(image[0x148]), "ROM size");
    fuzz::requireEqual(fields[8], ramSizeFor(image[0x149]), "RAM size");
    fuzz::requireEqual(fields[9], destinationFor(image[0x14A]), "destination");
    fuzz::requireEqual(fields[10], std::to_string(image[0x14C]), "version");
    return 0;
}
