#include "header/rom_header.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "support/capture.h"
#include "support/expect.h"
#include "support/fs.h"
#include "support/rom_image.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_view_literals;

// Decodes `rom` into a record filled with junk first, so that a field the
// decoder forgets to write shows.
CartHeaderInfo decode(const RomImage& rom) {
    CartHeaderInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_TRUE(decodeHeader(rom.header(), info));
    return info;
}

TEST(DecodeHeader, ColourFlagAndZeroBytesShapeTitleAndCode) {
    // The bytes at 0x134-0x142, the colour flag at 0x143.
    const struct {
        std::string_view bytes;
        std::uint8_t flag;
        std::int32_t support;
        std::string title;
        std::string code;
    } cases[] = {
        {"ABCDEFGHIJKLMNO", 0x00, 0, "ABCDEFGHIJKLMNO", "LMNO"},
        {"ABCDEFGHIJKLMNO", 0x80, 0x80, "ABCDEFGHIJKLMNO", "LMNO"},
        {"ABCDEFGHIJKLMNO", 0xC0, 0xC0, "ABCDEFGHIJKLMNO", "LMNO"},
        {"ABCDEFGHIJKLMNO", 'P', 0, "ABCDEFGHIJKLMNOP", "LMNO"},
        {"ABCDEFGHIJKLMNO", 0x81, 0, "ABCDEFGHIJKLMNO\x81", "LMNO"},  // exact values only
        {"ELEVENCHARSABCD", 0x80, 0x80, "ELEVENCHARSABCD", "ABCD"},
        {"ELEVENCHAR\0ABCD"sv, 0x80, 0x80, "ELEVENCHAR", "ABCD"},
        {"\0TITLEMOREXCODE"sv, 0x00, 0, "", "CODE"},
        {"XTITLEMOREX\0ODE"sv, 0x00, 0, "XTITLEMOREX", ""},
        {"XTITLEMOREXCO\0E"sv, 0x00, 0, "XTITLEMOREXCO", "CO"},
        {"\x80\xFF\x92\x01 ab\0\0\0\0\xE9\x80\xFE\x81"sv, 0x00, 0, "\x80\xFF\x92\x01 ab",
         "\xE9\x80\xFE\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.title << " flag " << int{c.flag});
        RomImage rom;
        rom.text(TITLE_OFFSET, c.bytes).set(CGB_FLAG_OFFSET, c.flag);
        const CartHeaderInfo info = decode(rom);
        EXPECT_EQ(info.colorGbSupport, c.support);
        EXPECT_EQ(std::string(info.title), c.title);
        EXPECT_EQ(std::string(info.code), c.code);
    }
}

TEST(DecodeHeader, SuperGameBoyFlagAndCodedBytes) {
    // Distinct values catch swapped offsets; values with the top bit set catch
    // sign extension.
    const struct {
        std::uint8_t sgb, type, romSize, ramSize, destination, version;
        std::int32_t sgbSupport;
    } cases[] = {
        {0x03, 0x11, 0x22, 0x44, 0x55, 0x66, 3},
        {0x00, 0xFF, 0xFE, 0xFD, 0xFC, 0xFF, 0},
        {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0},
        {0xFF, 0x00, 0x00, 0x00, 0x00, 0x80, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int{c.sgb});
        RomImage rom;
        rom.set(SGB_FLAG_OFFSET, c.sgb).set(CARTRIDGE_TYPE_OFFSET, c.type);
        rom.set(ROM_SIZE_OFFSET, c.romSize).set(RAM_SIZE_OFFSET, c.ramSize);
        rom.set(DESTINATION_OFFSET, c.destination).set(VERSION_OFFSET, c.version);
        const CartHeaderInfo info = decode(rom);
        EXPECT_EQ(info.superGbSupport, c.sgbSupport);
        EXPECT_EQ(info.pakType, c.type);
        EXPECT_EQ(info.romSize, c.romSize);
        EXPECT_EQ(info.ramSize, c.ramSize);
        EXPECT_EQ(info.destination, c.destination);
        EXPECT_EQ(info.version, c.version);
    }
}

TEST(DecodeHeader, MakerComesFromBothLicenseeCodes) {
    RomImage rom;
    rom.set(OLD_LICENSEE_OFFSET, 0x93);
    EXPECT_EQ(std::string(decode(rom).maker), "Tsubaraya Productions Co.");

    rom.set(OLD_LICENSEE_OFFSET, 0x33).text(NEW_LICENSEE_OFFSET, "9H");
    EXPECT_EQ(std::string(decode(rom).maker), "Bottom Up");
}

class ReadRomHeader : public ::testing::Test {
protected:
    TempDir dir;
    MessageCapture messages;
    CartHeaderInfo info{};

    bool read(const std::filesystem::path& file) {
        path = corePath(file);
        return readRomHeader(path.c_str(), info);
    }
    std::string notARom() const {
        return "Not able to read at least 4 KiB from file " + expect::shownPath(path) +
               ". This file is probably not a GB ROM.\n";
    }
    std::wstring path;
};

TEST_F(ReadRomHeader, DecodesFilesOfAtLeast4KiB) {
    for (const std::size_t size : {std::size_t{4096}, std::size_t{32768}}) {
        const auto file = dir / ("rom" + std::to_string(size) + ".gb");
        writeRom(file, demoRom(), size);
        info = {};
        EXPECT_TRUE(read(file)) << size;
        EXPECT_EQ(std::string(info.title), "DEMO");
        EXPECT_EQ(info.pakType, 0x01);
        EXPECT_EQ(info.destination, 0x01);
    }
    EXPECT_EQ(messages.contents(), "");
}

TEST_F(ReadRomHeader, RefusesShorterFiles) {
    std::string expected;
    for (const std::size_t size : {std::size_t{4095}, std::size_t{0}}) {
        const auto file = dir / ("short" + std::to_string(size) + ".gb");
        writeRom(file, demoRom(), size);
        EXPECT_FALSE(read(file)) << size;
        expected += notARom();
    }
    EXPECT_EQ(messages.contents(), expected);
}

TEST_F(ReadRomHeader, ReportsAMissingFileWithTheErrnoText) {
    EXPECT_FALSE(read(dir / "missing.gb"));
    EXPECT_EQ(messages.contents(), "Failed to open ROM file " + expect::shownPath(path) + ": " +
                                       std::strerror(ENOENT) + std::string(expect::LINE_END));
}

TEST_F(ReadRomHeader, NamedPipeWithoutWriterIsAShortReadNotAWait) {
    const auto pipe = dir / "pipe.gb";
    if (!makeNamedPipe(pipe)) {
        GTEST_SKIP() << "no named pipes here";
    }
    EXPECT_FALSE(read(pipe));
    EXPECT_EQ(messages.contents(), notARom());
}

}  // namespace
