#include "report/csv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "header/rom_header.h"
#include "support/capture.h"
#include "support/rom_image.h"
#include "support/temp_dir.h"

static CartHeaderInfo demoInfo() {
    CartHeaderInfo info{};
    EXPECT_TRUE(decodeHeader(demoRom().header(), info));
    return info;
}

// The row for `info`, which must be written without a message.
static std::string rowOf(const CartHeaderInfo& info, const wchar_t* path) {
    StreamCapture out;
    MessageCapture messages;
    EXPECT_TRUE(writeCsvRow(out.stream(), info, path));
    EXPECT_EQ(messages.contents(), "");
    return out.contents();
}

TEST(Csv, HeaderAndRowsByteForByte) {
    EXPECT_EQ(std::string(CSV_HEADER_LINE),
              "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
              "ROM Size in KiB,RAM Size in KiB,Destination,Version\n");
    EXPECT_EQ(rowOf(demoInfo(), L"D:\\roms\\demo.gb"),
              R"("D:\roms\demo.gb","DEMO","","None","None","No","MBC1","64","0","Worldwide","0")"
              "\n");
    // Every byte is kept but the double quote, which is doubled.
    CartHeaderInfo info = demoInfo();
    std::strcpy(info.title, "A\"B,\t\n\r");
    std::strcpy(info.code, "\"\"");
    std::strcpy(info.maker, "\x80\xFF\x92");
    info.version = 255;
    const std::wstring path = std::wstring(253, L'\u00FF') + L"\"b,.gb";  // 259 units
    EXPECT_EQ(rowOf(info, path.c_str()),
              "\"" + std::string(253, '\xFF') + R"(""b,.gb","A""B,)" "\t\n\r" R"(","""""",")"
              "\x80\xFF\x92" R"(","None","No","MBC1","64","0","Worldwide","255")" "\n");
}

TEST(Csv, CodedColumnTexts) {
    const struct {
        const char* (*text)(std::int32_t);
        std::int32_t code;
        std::string_view expected;
    } cases[] = {
        {colorGbText, 0x80, "Compatible"}, {colorGbText, 0xC0, "Exclusive"},
        {colorGbText, 0x40, "None"}, {superGbText, 3, "Yes"}, {superGbText, 0, "No"},
        {pakTypeText, 0x00, "ROM ONLY"}, {pakTypeText, 0x21, "Unknown"},
        {pakTypeText, 0x22, "MBC7+SENSOR+RUMBLE+RAM+BATTERY"}, {pakTypeText, 0xFB, "Unknown"},
        {pakTypeText, 0xFF, "HuC1+RAM+BATTERY"}, {romSizeText, 0, "32"},
        {romSizeText, 8, "8192"}, {romSizeText, 9, "Unknown"}, {ramSizeText, 0, "0"},
        {ramSizeText, 1, "Unknown"}, {ramSizeText, 4, "128"}, {ramSizeText, 5, "Unknown"},
        {destinationText, 0, "Japan"}, {destinationText, 2, "Unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text(c.code), c.expected) << c.code;
    }
}

TEST(Csv, FailuresAreReportedAndFailTheRow) {
    StreamCapture out;
    MessageCapture messages;
    EXPECT_FALSE(writeCsvRow(out.stream(), demoInfo(), L"x\u0100y.gb"));
    EXPECT_EQ(out.contents(), "");  // nothing written before the check
    std::string expected = "Failed to convert filename x?y.gb to a multibyte representation.: " +
                           std::string(std::strerror(EILSEQ)) + "\n";
    TempDir dir;
    writeBytes(dir / "read-only.csv", "");
    std::FILE* readOnly = std::fopen((dir / "read-only.csv").string().c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    errno = 0;
    EXPECT_FALSE(writeCsvRow(readOnly, demoInfo(), L"r.gb"));  // every write fails
    const int error = errno;
    EXPECT_NE(error, 0);
    expected += "Failed to write header to the output file: " + std::string(std::strerror(error));
    EXPECT_EQ(messages.contents(), expected + "\n");
    std::fclose(readOnly);
}
