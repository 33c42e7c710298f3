// Any 4 KiB image (the input cut or zero-padded) through decodeHeader and
// writeCsvRow. The row must equal the one built here from the header layout,
// not by the decoder. The image's first bytes, which the decoder never reads,
// up to the first zero and at most 259 of them, also name the file.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "header/licensee.h"
#include "header/rom_header.h"
#include "report/csv.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t image[ROM_READ_SIZE] = {};
    std::memcpy(image, data, size < sizeof image ? size : sizeof image);
    // The bytes from `offset` up to the first zero, at most `limit` of them.
    const auto text = [&image](std::size_t offset, std::size_t limit) {
        const char* at = reinterpret_cast<const char*>(image) + offset;
        return std::string(at, strnlen(at, limit));
    };
    // One field of the row: in quotes, each quote doubled, then a comma.
    const auto field = [](const std::string& value) {
        std::string quoted = "\"";
        for (const char c : value) {
            quoted += c == '"' ? "\"\"" : std::string(1, c);
        }
        return quoted + "\",";
    };
    const std::string name = text(0, 259);
    const std::basic_string<NativeChar> path(name.begin(), name.end());
    CartHeaderInfo info;
    std::memset(static_cast<void*>(&info), 0xAB, sizeof info);  // nothing stale may pass for a field
    const std::span<const std::uint8_t, HEADER_SPAN> header(image + HEADER_START, HEADER_SPAN);
    decodeHeader(header, info, true);
    const StreamCapture out;
    std::vector<char> room;
    fuzz::require(writeCsvRow(out.stream(), {info, path.c_str(), {}}, RowStyle{.verify = true}, room) ==
                      RowWritten::Yes,
                  "writeCsvRow succeeds");
    const std::string row = out.contents();

    const std::uint8_t flag = image[0x143];
    const bool colour = flag == 0x80 || flag == 0xC0;
    const std::uint8_t newCode[2] = {image[0x144], image[0x145]};
    const char* maker = lookupMaker(image[0x14B], newCode);
    fuzz::require(maker != nullptr && std::strlen(maker) <= 25, "maker is a name of <= 25 bytes");
    const char* const ram[] = {"0", "Unknown", "8", "32", "128"};
    const char* const places[] = {"Japan", "Worldwide"};
    std::string wanted = field(name) + field(text(0x134, colour ? 15 : 16)) +
                         field(text(0x13F, 4)) + field(maker) +
                         field(flag == 0x80 ? "Compatible" : colour ? "Exclusive" : "None") +
                         field(image[0x146] == 0x03 ? "Yes" : "No") +
                         field(std::string(pakTypeText(image[0x147]))) +  // the table itself is not restated here
                         field(image[0x148] <= 8 ? std::to_string(32 << image[0x148]) : "Unknown") +
                         field(image[0x149] < 5 ? ram[image[0x149]] : "Unknown") +
                         field(image[0x14A] < 2 ? places[image[0x14A]] : "Unknown") +
                         field(std::to_string(image[0x14C]));
    // The two checks that the header alone decides; the global checksum needs
    // the whole image, which the walk reads.
    static const std::uint8_t logo[] = {
        0xCE, 0xED, 0x66, 0x66, 0xCC, 0x0D, 0x00, 0x0B, 0x03, 0x73, 0x00, 0x83, 0x00, 0x0C, 0x00, 0x0D,
        0x00, 0x08, 0x11, 0x1F, 0x88, 0x89, 0x00, 0x0E, 0xDC, 0xCC, 0x6E, 0xE6, 0xDD, 0xDD, 0xD9, 0x99,
        0xBB, 0xBB, 0x67, 0x63, 0x6E, 0x0E, 0xEC, 0xCC, 0xDD, 0xDC, 0x99, 0x9F, 0xBB, 0xB9, 0x33, 0x3E};
    unsigned sum = 0;
    for (std::size_t offset = 0x134; offset <= 0x14C; ++offset) {
        sum -= image[offset] + 1u;
    }
    wanted += field(std::memcmp(image + 0x104, logo, sizeof logo) == 0 ? "Valid" : "Invalid") +
              field((sum & 0xFF) == image[0x14D] ? "Valid" : "Invalid") + field("Unknown");
    wanted.back() = '\n';
    fuzz::require(row == wanted, "the row holds exactly the image's fields", row);
    return 0;
}
