#include "header/licensee.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

namespace {

std::string_view maker(std::uint8_t oldCode, std::uint8_t first = 0, std::uint8_t second = 0) {
    const std::uint8_t newCode[2] = {first, second};
    const char* name = lookupMaker(oldCode, newCode);
    return name == nullptr ? std::string_view("(null)") : std::string_view(name);
}

TEST(LookupMaker, BoundariesAndOddBytes) {
    const struct {
        std::uint8_t oldCode;
        char first;
        char second;
        std::string_view name;
    } cases[] = {
        {0x00, 0, 0, "None"},
        {0x01, 0, 0, "Nintendo"},
        {0x02, 0, 0, "Unknown"},
        {0xFE, 0, 0, "Unknown"},
        {0xFF, 0, 0, "LJN"},
        {0x01, '0', '8', "Nintendo"},  // the new code counts only after 0x33
        {0x33, '0', '1', "Nintendo R & D1"},
        {0x33, '0', '0', "None"},
        {0x33, '0', '2', "Unknown"},
        {0x33, 0, 0, "Unknown"},
        {0x33, '1', '0', "Unknown"},  // the key "01" read backwards
        {0x8F, 0, 0, std::string_view("\x49\x92\x4D\x61\x78", 5)},
        {0x93, 0, 0, "Tsubaraya Productions Co."},
        {0x33, '9', 'H', "Bottom Up"},
        {0x33, '9', 'h', "Unknown"},
        {0x33, 'A', '4', "Konami(Yu - Gi - Oh!)\t"},
        {0x33, 'a', '4', "Unknown"},
        {0x33, '3', '3', "Ocean / Acclaim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "old " << int{c.oldCode} << " new " << c.first
                                          << c.second);
        EXPECT_EQ(maker(c.oldCode, static_cast<std::uint8_t>(c.first),
                        static_cast<std::uint8_t>(c.second)),
                  c.name);
    }
    EXPECT_EQ(maker(0x93).size(), MAKER_NAME_MAX_LENGTH);
}

TEST(LookupMaker, EveryOldCodeHasANameThatFitsAndIgnoresTheNewCode) {
    int unknown = 0;
    for (int oldCode = 0; oldCode <= 0xFF; ++oldCode) {
        SCOPED_TRACE(oldCode);
        const auto code = static_cast<std::uint8_t>(oldCode);
        const std::string_view name = maker(code);
        EXPECT_GE(name.size(), 3u);
        EXPECT_LE(name.size(), MAKER_NAME_MAX_LENGTH);
        if (code == USE_NEW_LICENSEE_CODE) {
            continue;
        }
        unknown += name == "Unknown" ? 1 : 0;
        for (const char* newCode : {"01", "9H", "A4", "\xFF\xFF"}) {
            EXPECT_EQ(maker(code, static_cast<std::uint8_t>(newCode[0]),
                            static_cast<std::uint8_t>(newCode[1])),
                      name);
        }
    }
    EXPECT_EQ(unknown, 109);
}

TEST(LookupMaker, EveryNewCodePairHasANameThatFits) {
    int named = 0;
    for (int first = 0; first <= 0xFF; ++first) {
        for (int second = 0; second <= 0xFF; ++second) {
            const char* name = lookupMaker(
                USE_NEW_LICENSEE_CODE,
                {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)});
            ASSERT_NE(name, nullptr) << first << ' ' << second;
            const std::size_t length = std::strlen(name);
            ASSERT_TRUE(length >= 3 && length <= MAKER_NAME_MAX_LENGTH) << first << ' ' << second;
            named += std::string_view(name) == "Unknown" ? 0 : 1;
        }
    }
    // Exact byte matches only: no case folding or numeric reading adds keys.
    EXPECT_EQ(named, 62);
}

}  // namespace
