// The row writer, byte for byte: quoting and every byte kept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report/csv.h"
#include "support.h"

namespace {

using Native = std::basic_string<NativeChar>;

CartHeaderInfo demoInfo() {
    RomImage rom;
    rom.text(TITLE_OFFSET, "DEMO").text(CARTRIDGE_TYPE_OFFSET, std::string_view("\x01\x01\x00\x01", 4));
    CartHeaderInfo info;
    decodeHeader(rom.header(), info, true);
    return info;
}

// The row for `info`, which must be written without a message.
std::string rowOf(const CartHeaderInfo& info, const NativeChar* path, RowStyle style = {}) {
    StreamCapture out;
    MessageCapture messages;
    std::vector<char> room;
    EXPECT_EQ(writeCsvRow(out.stream(), {info, path, {}}, style, room), RowWritten::Yes);
    EXPECT_EQ(messages.contents(), "");
    return out.contents();
}

TEST(Csv, RowsByteForByte) {
    EXPECT_EQ(rowOf(demoInfo(), NATIVE("D:\\roms\\demo.gb")),
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
    const Native path = Native(253, static_cast<NativeChar>(0xFF)) + NATIVE("\"b,.gb");  // 259 units
    EXPECT_EQ(rowOf(info, path.c_str()),
              "\"" + std::string(253, '\xFF') + R"(""b,.gb","A""B,)" "\t\n\r" R"(","""""",")"
              "\x80\xFF\x92" R"(","Exclusive","No","Unknown","Unknown","128","Worldwide","255")" "\n");
}

// Where names are UTF-16, a lone surrogate is no character: it becomes
// U+FFFD; a pair is one. Where they are bytes, they are written as they are.
template <typename Unit>
std::string surrogatesInUtf8() {
    if constexpr (sizeof(Unit) == 1) {
        return {};
    } else {
        const Unit path[] = {L'a', 0xD800, L'b', 0xD83D, 0xDE00, 0xDC00, L'\0'};
        return rowOf(demoInfo(), path, RowStyle{.utf8 = true}).substr(0, 15);
    }
}

TEST(Csv, Utf8ReportsTakeAnyWindowsName) {
    if (sizeof(NativeChar) == 1) {
        GTEST_SKIP() << "names are bytes here, written as they are";
    }
    EXPECT_EQ(surrogatesInUtf8<NativeChar>(), "\"a\xEF\xBF\xBD" "b\xF0\x9F\x98\x80\xEF\xBF\xBD\",");
}

}  // namespace
