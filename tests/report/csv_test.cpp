#include "report/csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "header/rom_header.h"
#include "platform/platform.h"
#include "support/capture.h"
#include "support/expect.h"
#include "support/rom_image.h"
#include "support/temp_dir.h"

namespace {

using Fields = std::array<std::string, 11>;

// The fields of demoRom()'s row after the file name.
const Fields DEMO = {"r.gb", "DEMO", "", "None", "None", "No", "MBC1", "64", "0", "Worldwide", "0"};

// Fields given as they stand between their quotes.
std::string csvRow(const Fields& fields) {
    std::string row;
    for (const std::string& field : fields) {
        row += (row.empty() ? "\"" : ",\"") + field + "\"";
    }
    return row + std::string(expect::LINE_END);
}

CartHeaderInfo demoInfo() {
    CartHeaderInfo info{};
    EXPECT_TRUE(decodeHeader(demoRom().header(), info));
    return info;
}

// The row for `info`, which must be written without a message.
std::string rowOf(const CartHeaderInfo& info, const wchar_t* path = L"r.gb") {
    StreamCapture out;
    MessageCapture messages;
    EXPECT_TRUE(writeCsvRow(out.stream(), info, path));
    EXPECT_EQ(messages.contents(), "");
    return out.contents();
}

TEST(Csv, HeaderLine) {
    EXPECT_EQ(std::string(CSV_HEADER_LINE),
              "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,"
              "ROM Size in KiB,RAM Size in KiB,Destination,Version\n");
}

TEST(Csv, WorkedExample) {
    EXPECT_EQ(rowOf(demoInfo(), L"D:\\roms\\demo.gb"),
              "\"D:\\roms\\demo.gb\",\"DEMO\",\"\",\"None\",\"None\",\"No\",\"MBC1\",\"64\","
              "\"0\",\"Worldwide\",\"0\"" + std::string(expect::LINE_END));
}

TEST(Csv, TextFieldsKeepEveryByteButDoubleQuotes) {
    const struct {
        std::wstring path;
        const char* title;
        const char* code;
        const char* maker;
        Fields expected;  // the first four
    } cases[] = {
        {L"a\"b,c.gb", "A\"B", "\"\"", "I\x92Max\t", {"a\"\"b,c.gb", "A\"\"B", "\"\"\"\"", "I\x92Max\t"}},
        {L"caf\u00E9.gb", ",\t\n\r\x80\xFF,", "", "", {"caf\xE9.gb", ",\t\n\r\x80\xFF,", "", ""}},
        {std::wstring(platform::PATH_MAX_LENGTH, L'\u00FF'), "DEMO", "", "None",
         {std::string(platform::PATH_MAX_LENGTH, '\xFF'), "DEMO", "", "None"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        CartHeaderInfo info = demoInfo();
        std::strcpy(info.title, c.title);
        std::strcpy(info.code, c.code);
        std::strcpy(info.maker, c.maker);
        Fields fields = DEMO;
        std::copy_n(c.expected.begin(), 4, fields.begin());
        EXPECT_EQ(rowOf(info, c.path.c_str()), csvRow(fields));
    }
}

TEST(Csv, UnitAboveFFFailsTheRowBeforeAnyByte) {
    StreamCapture out;
    MessageCapture messages;
    EXPECT_FALSE(writeCsvRow(out.stream(), demoInfo(), L"x\u0100y.gb"));
    EXPECT_EQ(out.contents(), "");
    EXPECT_EQ(messages.contents(),
              "Failed to convert filename x?y.gb to a multibyte representation.: " +
                  std::string(std::strerror(EILSEQ)) + std::string(expect::LINE_END));
}

enum Column { COLOR = 4, SGB, PAK, ROM, RAM, DESTINATION, VERSION };

void store(CartHeaderInfo& info, Column column, int value) {
    switch (column) {
        case COLOR: info.colorGbSupport = value; break;
        case SGB: info.superGbSupport = value; break;
        case PAK: info.pakType = value; break;
        case ROM: info.romSize = value; break;
        case RAM: info.ramSize = value; break;
        case DESTINATION: info.destination = value; break;
        case VERSION: info.version = static_cast<std::uint8_t>(value); break;
    }
}

TEST(Csv, CodedColumns) {
    const struct {
        Column column;
        int value;
        const char* text;
    } cases[] = {
        {COLOR, 0x80, "Compatible"}, {COLOR, 0xC0, "Exclusive"}, {COLOR, 0, "None"},
        {COLOR, 0x40, "None"},       {SGB, 3, "Yes"},            {SGB, 0, "No"},
        {PAK, 0x00, "ROM ONLY"},     {PAK, 0x04, "Unknown"},     {PAK, 0x08, "ROM+RAM 1"},
        {PAK, 0x20, "MBC6"},         {PAK, 0x21, "Unknown"},
        {PAK, 0x22, "MBC7+SENSOR+RUMBLE+RAM+BATTERY"},
        {PAK, 0x23, "Unknown"},      {PAK, 0xFB, "Unknown"},     {PAK, 0xFC, "POCKET CAMERA"},
        {PAK, 0xFF, "HuC1+RAM+BATTERY"},
        {ROM, 0, "32"},              {ROM, 8, "8192"},           {ROM, 9, "Unknown"},
        {ROM, 0x52, "Unknown"},      {RAM, 0, "0"},              {RAM, 1, "Unknown"},
        {RAM, 2, "8"},               {RAM, 4, "128"},            {RAM, 5, "Unknown"},
        {DESTINATION, 0, "Japan"},   {DESTINATION, 2, "Unknown"},
        {DESTINATION, 0xFF, "Unknown"},
        {VERSION, 0, "0"},           {VERSION, 10, "10"},        {VERSION, 100, "100"},
        {VERSION, 255, "255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "column " << c.column << " value " << c.value);
        CartHeaderInfo info = demoInfo();
        store(info, c.column, c.value);
        Fields fields = DEMO;
        fields[c.column] = c.text;
        EXPECT_EQ(rowOf(info), csvRow(fields));
    }
}

// A stream that refuses writes: the row's bytes fail and set its error
// indicator.
TEST(Csv, StreamErrorFailsTheRow) {
    TempDir dir;
    const auto file = dir / "read-only.csv";
    writeBytes(file, "");
    std::FILE* stream = std::fopen(file.string().c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    MessageCapture messages;
    errno = 0;
    EXPECT_FALSE(writeCsvRow(stream, demoInfo(), L"r.gb"));
    const int error = errno;
    EXPECT_NE(error, 0);
    EXPECT_EQ(messages.contents(), "Failed to write header to the output file: " +
                                       std::string(std::strerror(error)) +
                                       std::string(expect::LINE_END));
    std::fclose(stream);
}

}  // namespace
