// The row writer, byte for byte: quoting and every byte kept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report/csv.h"
#include "support.h"

namespace {

CartHeaderInfo demoInfo() {
    RomImage rom;
    rom.text(TITLE_OFFSET, "DEMO").text(CARTRIDGE_TYPE_OFFSET, std::string_view("\x01\x01\x00\x01", 4));
    CartHeaderInfo info{};
    EXPECT_TRUE(decodeHeader(rom.header(), info));
    return info;
}

// The row for `info`, which must be written without a message.
std::string rowOf(const CartHeaderInfo& info, const wchar_t* path) {
    StreamCapture out;
    MessageCapture messages;
    EXPECT_TRUE(writeCsvRow(out.stream(), info, path));
    EXPECT_EQ(messages.contents(), "");
    return out.contents();
}

TEST(Csv, RowsByteForByte) {
    EXPECT_EQ(rowOf(demoInfo(), L"D:\\roms\\demo.gb"),
              R"("D:\roms\demo.gb","DEMO","","None","None","No","MBC1","64","0","Worldwide","0")"
              "\n");
    // Every byte is kept but the double quote, which is doubled.
    CartHeaderInfo info = demoInfo();
    std::strcpy(info.title, "A\"B,\t\n\r");
    std::strcpy(info.code, "\"\"");
    std::strcpy(info.maker, "\x80\xFF\x92");
    info.version = 255;
    info.colorGbSupport = 0xC0;
    info.pakType = 0x21;
    info.romSize = 9;
    info.ramSize = 4;
    const std::wstring path = std::wstring(253, L'\u00FF') + L"\"b,.gb";  // 259 units
    EXPECT_EQ(rowOf(info, path.c_str()),
              "\"" + std::string(253, '\xFF') + R"(""b,.gb","A""B,)" "\t\n\r" R"(","""""",")"
              "\x80\xFF\x92" R"(","Exclusive","No","Unknown","Unknown","128","Worldwide","255")" "\n");
    // Texts are taken eight bytes at a time while no quote or end is among
    // them: a quote or an end in any place of a later eight.
    std::strcpy(info.title, "ABCDEFGHIJKLM\"OP");
    std::strcpy(info.maker, "abcdefghijklmnopqrstuvw\"y");
    EXPECT_TRUE(rowOf(info, L"x").starts_with(R"("x","ABCDEFGHIJKLM""OP","""""","abcdefghijklmnopqrstuvw""y",)"));
    std::strcpy(info.title, "ABCDEFGHIJKLMNOP");
    std::strcpy(info.maker, "abcdefghi");
    EXPECT_TRUE(rowOf(info, L"x").starts_with(R"("x","ABCDEFGHIJKLMNOP","""""","abcdefghi",)"));
}

TEST(Csv, Utf8ReportsTakeAnyWindowsName) {
    if (!platform::PATH_UNITS_ARE_UTF16) {
        GTEST_SKIP() << "names are bytes here, written as they are";
    }
    // A lone surrogate is no character: it becomes U+FFFD; a pair is one.
    const wchar_t path[] = {L'a', 0xD800, L'b', 0xD83D, 0xDE00, 0xDC00, L'\0'};
    StreamCapture out;
    EXPECT_TRUE(writeCsvRow(out.stream(), demoInfo(), path, RowStyle{.utf8 = true}));
    EXPECT_TRUE(out.contents().starts_with("\"a\xEF\xBF\xBD" "b\xF0\x9F\x98\x80\xEF\xBF\xBD\","));
}

}  // namespace
