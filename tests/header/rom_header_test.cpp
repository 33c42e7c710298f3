#include "header/rom_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "support/capture.h"
#include "support/expect.h"
#include "support/fs.h"
#include "support/rom_image.h"
#include "support/temp_dir.h"

using namespace std::string_view_literals;

// Decodes into a record filled with junk first, so that an unwritten field shows.
static CartHeaderInfo decode(const RomImage& rom) {
    CartHeaderInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_TRUE(decodeHeader(rom.header(), info));
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
    // The bytes at 0x144-0x14C: new licensee, SGB flag, type, ROM size, RAM size,
    // destination, old licensee, version. Top-bit values catch sign extension.
    const struct {
        std::string_view bytes;
        std::array<int, 6> fields;  // SGB support, type, ROM, RAM, destination, version
        std::string maker;
    } cases[] = {
        {"9H\x03\x11\x22\x44\x55\x33\x66", {3, 0x11, 0x22, 0x44, 0x55, 0x66}, "Bottom Up"},
        {"9H\xFF\xFF\xFE\xFD\xFC\x93\x80", {0, 0xFF, 0xFE, 0xFD, 0xFC, 0x80},
         "Tsubaraya Productions Co."},
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

TEST(ReadRomHeader, TakesExactly4KiBAndReportsEveryOtherFile) {
    TempDir dir;
    MessageCapture messages;
    CartHeaderInfo info{};
    const auto shown = [&](const char* name) { return expect::shownPath(corePath(dir / name)); };
    const auto read = [&](const char* name) {
        return readRomHeader(corePath(dir / name).c_str(), info);
    };
    writeRom(dir / "4096.gb", demoRom());
    EXPECT_TRUE(read("4096.gb"));
    EXPECT_EQ(std::string(info.title), "DEMO");
    writeRom(dir / "4095.gb", demoRom(), 4095);
    writeRom(dir / "0.gb", demoRom(), 0);
    std::vector<const char*> shortFiles = {"4095.gb", "0.gb"};
    if (makeNamedPipe(dir / "pipe.gb")) {  // no writer: a short read, not a wait
        shortFiles.push_back("pipe.gb");
    }
    std::string expected;
    for (const char* name : shortFiles) {
        EXPECT_FALSE(read(name)) << name;
        expected += "Not able to read at least 4 KiB from file " + shown(name) +
                    ". This file is probably not a GB ROM.\n";
    }
    EXPECT_FALSE(read("missing.gb"));
    expected += "Failed to open ROM file " + shown("missing.gb") + ": " + std::strerror(ENOENT);
    EXPECT_EQ(messages.contents(), expected + "\n");
}
