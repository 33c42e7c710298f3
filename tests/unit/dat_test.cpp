// DATs in both forms, the faults they can hold, and matching files against
// them. The XML cases go through the system's parser: XmlLite on Windows.
#include <gtest/gtest.h>

#include <string>

#include "dat/dat.h"

namespace {

const std::string MD5 = "0123456789abcdef0123456789abcdef";
const std::string SHA1 = "00112233445566778899aabbccddeeff00112233";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

// An entry as one line: game, name, then each value given or "-".
std::string describe(const DatSet& set, const DatRom& rom) {
    const std::uint8_t crc[4] = {
        static_cast<std::uint8_t>(rom.crc >> 24), static_cast<std::uint8_t>(rom.crc >> 16),
        static_cast<std::uint8_t>(rom.crc >> 8), static_cast<std::uint8_t>(rom.crc)};
    return std::string(datText(set, rom.game)) + "|" + std::string(datText(set, rom.name)) + "|" +
           (rom.hasSize ? std::to_string(rom.size) : "-") + "|" + (rom.hasCrc ? hex(crc) : "-") +
           "|" + (rom.hasMd5 ? hex(rom.md5) : "-") + "|" + (rom.hasSha1 ? hex(rom.sha1) : "-") +
           "|" + "GVBN"[static_cast<int>(rom.status)];
}

void load(DatSet& set, std::string_view text) {
    DatProblem problem;
    ASSERT_TRUE(parseDat(bytesOf(text), set, problem)) << problem.line << ": " << problem.what;
}

TEST(Dat, BothFormsAndEmptyOnes) {
    DatSet set;
    load(set,
         "\xEF\xBB\xBF"
         R"DAT(<?xml version="1.0"?>
<!DOCTYPE datafile PUBLIC "-//Example//DTD Datafile//EN" "http://example.invalid/datafile.dtd">
<datafile><header><name>Set</name><version>1</version></header>
<game name="Tom &amp; Jerry (Caf&#233;)"><description>d</description>
<rom name="a.gb" size="32768" crc="0A1B2C3D" md5="0123456789abcdef0123456789abcdef"
 sha1="00112233445566778899aabbccddeeff00112233" status="verified"/></game>
<machine name="M"><rom name="m.gbc" size="65536" status="nodump"/></machine>
<other name="O"><rom name="o.gb" size="1"/></other></datafile>
)DAT");
    load(set, R"DAT(clrmamepro ( name "Set" version 20240101 )
emulator ( name "e" )
game (
	name "Some Game (World) (Rev 1)"
	description "x"
	rom ( name "s.gb" size 262144 crc 0a1b2c3D md5 0123456789ABCDEF0123456789ABCDEF
		sha1 00112233445566778899AABBCCDDEEFF00112233 flags baddump date ( 1 2 ) )
	sample ( name "x" )
)
machine ( rom ( name "n.gb" status odd ) name "Late name" )
)DAT");
    for (const char* empty : {"", " \r\n\t", "\xEF\xBB\xBF\n"}) {
        load(set, empty);
    }
    std::string all;
    for (const DatRom& rom : set.roms) {
        all += describe(set, rom) + "\n";
    }
    EXPECT_EQ(all, "Tom & Jerry (Caf\xC3\xA9)|a.gb|32768|0a1b2c3d|" + MD5 + "|" + SHA1 + "|V\n" +
                       "M|m.gbc|65536|-|-|-|N\n" +
                       "Some Game (World) (Rev 1)|s.gb|262144|0a1b2c3d|" + MD5 + "|" + SHA1 +
                       "|B\nLate name|n.gb|-|-|-|-|G\n");
}

TEST(Dat, MatchingByContentsInDatOrder) {
    DatSet set;
    const std::string same = "size 4096 crc 11111111 md5 " + MD5 + " sha1 " + SHA1;
    load(set, R"DAT(<datafile><game name="g">
<rom name="1" size="4096" crc="11111111" md5="0123456789abcdef0123456789abcdef"
 sha1="00112233445566778899aabbccddeeff00112233"/>
<rom name="2" size="4096" crc="11111111" sha1="ffffffffffffffffffffffffffffffffffffffff"/>
</game></datafile>)DAT");
    load(set, "game ( rom ( name 3 " + same + " ) rom ( name 4 " + same + " flags nodump )\n" +
                  "rom ( name 5 size 8192 crc 11111111 ) rom ( name 6 size 4096 )\n" +
                  "rom ( name 7 size 4096 crc 11111111 )\n" +
                  "rom ( name 8 size 4096 crc 11111111 md5 " + std::string(32, 'f') + " ) )");
    // Enough entries alike that only the order of loading tells them apart.
    for (int i = 0; i < 40; ++i) {
        load(set, "game ( rom ( name later " + same + " ) )");
    }
    DatRom file = set.roms[0];  // gives every hash
    const DatRom* match = matchFile(set, 4096, 0x11111111, file.md5, file.sha1);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(datText(set, match->name), "1");
    file.sha1[19] ^= 1;  // now only the entry that gives no hashes agrees
    match = matchFile(set, 4096, 0x11111111, file.md5, file.sha1);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(datText(set, match->name), "7");
    file.sha1[19] ^= 1;
    file.md5[15] ^= 1;  // an MD5 that differs in its last byte
    match = matchFile(set, 4096, 0x11111111, file.md5, file.sha1);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(datText(set, match->name), "7");
    EXPECT_EQ(matchFile(set, 4096, 0x11111112, file.md5, file.sha1), nullptr);
    EXPECT_EQ(matchFile(set, 4097, 0x11111111, file.md5, file.sha1), nullptr);
    // Found, missing from the collection, or never to be matched.
    std::string kinds;
    for (const DatRom& rom : set.roms) {
        kinds += rom.found ? 'F' : canMatch(rom) ? 'M' : 'N';
    }
    EXPECT_EQ(kinds, "FMFNMNFM" + std::string(40, 'F'));
}

TEST(Dat, FaultsNamedByLineAndNothingKept) {
    const std::string good = R"(<datafile><game name="g"><rom name="r" size="1" crc="00000000"/>)";
    const struct {
        std::string text;
        std::uint64_t line;
        const char* what;  // null: the XML parser's own words
    } cases[] = {
        {"game (\n rom ( name \"a\" size -1 )\n)", 2, "size is not a number"},
        {"game ( rom ( size \"\" ) )", 1, "size is not a number"},
        {"game ( rom ( size 18446744073709551616 ) )", 1, "size is not a number"},
        {"game ( rom ( size 18446744073709551615 crc 1234567 ) )", 1,
         "crc is not 8 hexadecimal digits"},
        {"game ( rom ( crc 1234567g ) )", 1, "crc is not 8 hexadecimal digits"},
        {"game ( rom ( md5 " + MD5.substr(1) + " ) )", 1, "md5 is not 32 hexadecimal digits"},
        {"game ( rom ( name x ) )\ngame (\n rom ( sha1 " + SHA1 + "0 ) )", 3,
         "sha1 is not 40 hexadecimal digits"},
        {"clrmamepro ( name \"x\" )\ngame (\n name \"g\"\n", 2, "unbalanced parentheses"},
        {"game ( name g )\n)", 2, "unbalanced parentheses"},
        {"game (\n name \"g )\n)\n", 2, "unterminated string"},
        {"game ( name )", 1, "a key has no value"},
        {"game (\n name\n)", 2, "a key has no value"},
        {"game (\n name\n", 1, "unbalanced parentheses"},
        {"clrmamepro (\n name \"x\"\n", 1, "unbalanced parentheses"},
        {"name,size\nx,1\n", 1, "not a datafile"},
        {"<?xml version=\"1.0\"?>\n<html/>", 2, "not a datafile"},
        {good + "\n<rom name=\"x\" size=\"+1\"/>", 2, "size is not a number"},
        {good + "\n<rom crc=\"1\"/>", 2, "crc is not 8 hexadecimal digits"},
        {good + "</game>\n\n</game></datafile>", 3, nullptr},
        // Documents cut short, which some readers close or repeat without end.
        {good, 1, nullptr},
        {good + "</game>", 1, nullptr},
    };
    DatSet set;
    load(set, "game ( name \"kept\" rom ( name k size 1 crc 00000000 ) )");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        DatProblem problem;
        EXPECT_FALSE(parseDat(bytesOf(c.text), set, problem));
        EXPECT_EQ(problem.line, c.line);
        EXPECT_STREQ(problem.what, c.what != nullptr ? c.what : problem.what);
        EXPECT_NE(problem.what[0], '\0');
        EXPECT_EQ(set.roms.size(), 1u);
        EXPECT_EQ(set.text, "keptk");
        EXPECT_EQ(set.index.size(), 1u);
    }
}

}  // namespace
