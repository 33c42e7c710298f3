// Header decoding at its boundaries, on images built byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "header/licensee.h"
#include "support.h"

using namespace std::string_view_literals;

namespace {

// Decodes into a record filled with junk first, so that an unwritten field shows.
CartHeaderInfo decode(const RomImage& rom) {
    CartHeaderInfo info;
    std::memset(static_cast<void*>(&info), 0xA5, sizeof info);
    decodeHeader(rom.header(), info, true);
    return info;
}

TEST(DecodeHeader, ColourFlagAndZeroBytesShapeTitleAndCode) {
    const struct {
        std::string_view bytes;  // 0x134-0x143: title, code inside it, colour flag
        std::int32_t support;
        std::string title, code;
    } cases[] = {
        {"ABCDEFGHIJKLMNO\0"sv, 0, "ABCDEFGHIJKLMNO", "LMNO"},
        {"ABCDEFGHIJKLMNO\x80", 0x80, "ABCDEFGHIJKLMNO", "LMNO"},
        {"ABCDEFGHIJKLMNO\xC0", 0xC0, "ABCDEFGHIJKLMNO", "LMNO"},
        {"ABCDEFGHIJKLMNOP", 0, "ABCDEFGHIJKLMNOP", "LMNO"},
        {"ABCDEFGHIJKLMNO\x81", 0, "ABCDEFGHIJKLMNO\x81", "LMNO"},  // exact values only
        {"\0TITLEMOREXCODE\0"sv, 0, "", "CODE"},
        {"XTITLEMOREXCO\0E\x80"sv, 0x80, "XTITLEMOREXCO", "CO"},
        {"\x80\xFF\x92 ab\0\0\0\0\0\xE9\x80\xFE\x81\0"sv, 0, "\x80\xFF\x92 ab", "\xE9\x80\xFE\x81"},
    };
    for (const auto& c : cases) {
        RomImage rom;
        const CartHeaderInfo info = decode(rom.text(TITLE_OFFSET, c.bytes));
        EXPECT_EQ(info.colorGbSupport, c.support) << c.title;
        EXPECT_EQ(std::string(info.title), c.title);
        EXPECT_EQ(std::string(info.code), c.code);
    }
}

TEST(DecodeHeader, CodedBytesStayUnchangedAndNameTheMaker) {
    // The bytes at 0x144-0x14C: new licensee, SGB flag, type, ROM size, RAM
    // size, destination, old licensee, version. Top-bit values catch sign
    // extension.
    const struct {
        std::string_view bytes;
        std::array<int, 6> fields;  // SGB support, type, ROM, RAM, destination, version
        std::string maker;
    } cases[] = {
        {"9H\x03\x11\x22\x44\x55\x33\x66", {3, 0x11, 0x22, 0x44, 0x55, 0x66}, "Bottom Up"},
        {"9H\xFF\xFF\xFE\xFD\xFC\x93\x80", {0, 0xFF, 0xFE, 0xFD, 0xFC, 0x80},
         "Tsubaraya Productions Co."},  // fills the field to its terminator
    };
    for (const auto& c : cases) {
        RomImage rom;
        const CartHeaderInfo info = decode(rom.text(NEW_LICENSEE_OFFSET, c.bytes));
        EXPECT_EQ((std::array<int, 6>{info.superGbSupport, info.pakType, info.romSize,
                                      info.ramSize, info.destination, info.version}),
                  c.fields);
        EXPECT_EQ(std::string(info.maker), c.maker);
    }
}

TEST(LookupMaker, OddCodes) {
    const struct {
        std::uint8_t oldCode, newCode[2];
        std::string_view name;
    } cases[] = {
        {0x01, {'0', '8'}, "Nintendo"},  // the new code counts only after 0x33
        {0x33, {'0', '1'}, "Nintendo R & D1"},
        {0x33, {}, "Unknown"},
        {0x8F, {}, std::string_view("I\x92Max", 5)},
        {0x33, {'9', 'h'}, "Unknown"},  // no case folding
        {0x33, {'A', '4'}, "Konami(Yu - Gi - Oh!)\t"},
        {0xFE, {}, "Unknown"},
        {0xFF, {}, "LJN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lookupMaker(c.oldCode, c.newCode), c.name) << int{c.oldCode};
    }
}

}  // namespace
