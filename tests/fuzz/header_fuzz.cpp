// Any 4 KiB image (the input cut or zero-padded) through decodeHeader and
// writeCsvRow. The row is parsed back and each field compared with the
// image's bytes, decoded here from the header layout, not by the decoder.
// The image's first bytes, which the decoder never reads, up to the first
// zero and at most 259 of them, also name the file.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "header/licensee.h"
#include "header/rom_header.h"
#include "report/csv.h"

namespace {

// Eleven quoted fields, joined by commas and ended by one newline, or false.
bool parseRow(std::string_view row, std::vector<std::string>& fields) {
    std::size_t at = 0;
    while (fields.size() < 11) {
        if (at >= row.size() || row[at++] != '"') {
            return false;
        }
        std::string& text = fields.emplace_back();
        for (;; ++at) {
            if (at >= row.size()) {
                return false;
            }
            if (row[at] == '"' && (at + 1 == row.size() || row[at + 1] != '"')) {
                break;
            }
            text += row[at];
            at += row[at] == '"';  // the second of a doubled quote
        }
        ++at;
        if (at >= row.size() || row[at++] != (fields.size() == 11 ? '\n' : ',')) {
            return false;
        }
    }
    return at == row.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t image[ROM_READ_SIZE] = {};
    std::memcpy(image, data, size < sizeof image ? size : sizeof image);
    // The bytes from `offset` up to the first zero, at most `limit` of them.
    const auto text = [&image](std::size_t offset, std::size_t limit) {
        const char* at = reinterpret_cast<const char*>(image) + offset;
        return std::string(at, strnlen(at, limit));
    };
    const std::string name = text(0, 259);
    const std::wstring path(image, image + name.size());  // each byte the unit of its value
    CartHeaderInfo info;
    std::memset(&info, 0xAB, sizeof info);  // nothing stale may pass for a field
    const std::span<const std::uint8_t, HEADER_SPAN> header(image + HEADER_START, HEADER_SPAN);
    fuzz::require(decodeHeader(header, info), "decodeHeader accepts every header");

    fuzz::MemoryStream out;
    fuzz::require(writeCsvRow(out.stream(), info, path.c_str()), "writeCsvRow succeeds");
    const std::string row = out.close();
    std::vector<std::string> fields;
    fuzz::require(parseRow(row, fields), "row is eleven quoted fields and a newline", row);

    const auto check = [&](std::size_t column, const std::string& wanted, const char* what) {
        fuzz::require(fields[column] == wanted, what, fields[column]);
    };
    const std::uint8_t flag = image[0x143];
    const bool colour = flag == 0x80 || flag == 0xC0;
    check(0, name, "file name");
    check(1, text(0x134, colour ? 15 : 16), "title");
    check(2, text(0x13F, 4), "manufacturer code");
    const std::uint8_t newCode[2] = {image[0x144], image[0x145]};
    const char* maker = lookupMaker(image[0x14B], newCode);
    fuzz::require(maker != nullptr && std::strlen(maker) <= 25, "maker is a name of <= 25 bytes");
    check(3, maker, "maker");
    check(4, flag == 0x80 ? "Compatible" : flag == 0xC0 ? "Exclusive" : "None", "colour support");
    check(5, image[0x146] == 0x03 ? "Yes" : "No", "super support");
    check(6, pakTypeText(image[0x147]), "pak type");  // the texts themselves have unit tests
    check(7, image[0x148] <= 8 ? std::to_string(32 << image[0x148]) : "Unknown", "ROM size");
    const char* const ram[] = {"0", "Unknown", "8", "32", "128"};
    check(8, image[0x149] < 5 ? ram[image[0x149]] : "Unknown", "RAM size");
    const char* const places[] = {"Japan", "Worldwide"};
    check(9, image[0x14A] < 2 ? places[image[0x14A]] : "Unknown", "destination");
    check(10, std::to_string(image[0x14C]), "version");
    return 0;
}
