#include "header/licensee.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

TEST(LookupMaker, KnownBoundaryAndOddCodes) {
    const struct {
        std::uint8_t oldCode, newCode[2];
        std::string_view name;
    } cases[] = {
        {0x00, {}, "None"},
        {0x01, {'0', '8'}, "Nintendo"},  // the new code counts only after 0x33
        {0x33, {'0', '1'}, "Nintendo R & D1"},      {0x33, {}, "Unknown"},
        {0x8F, {}, std::string_view("I\x92Max", 5)}, {0x93, {}, "Tsubaraya Productions Co."},
        {0x33, {'9', 'H'}, "Bottom Up"},            {0x33, {'9', 'h'}, "Unknown"},
        {0x33, {'A', '4'}, "Konami(Yu - Gi - Oh!)\t"}, {0x33, {'a', '4'}, "Unknown"},
        {0xFE, {}, "Unknown"},                      {0xFF, {}, "LJN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lookupMaker(c.oldCode, c.newCode), c.name) << int{c.oldCode};
    }
}

TEST(LookupMaker, EveryCodeHasANameThatFits) {
    const auto fits = [](const char* name) {
        return name != nullptr && std::strlen(name) <= MAKER_NAME_MAX_LENGTH;
    };
    int named = 0;
    for (int first = 0; first <= 0xFF; ++first) {
        const std::uint8_t none[2] = {};
        ASSERT_TRUE(fits(lookupMaker(static_cast<std::uint8_t>(first), none))) << first;
        for (int second = 0; second <= 0xFF; ++second) {
            const std::uint8_t code[2] = {static_cast<std::uint8_t>(first),
                                          static_cast<std::uint8_t>(second)};
            const char* name = lookupMaker(USE_NEW_LICENSEE_CODE, code);
            ASSERT_TRUE(fits(name)) << first << ' ' << second;
            named += std::strcmp(name, "Unknown") != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(named, 62);  // exact byte matches: no case folding or numeric reading adds keys
}
