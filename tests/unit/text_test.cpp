// Bounded text: path joins at the 259-character limit.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "scan/path.h"
#include "support.h"

namespace {

TEST(PathSteps, JoinAndStopAt259CharactersWithERANGE) {
    const auto separator = +[](PathBuffer& path, const wchar_t*) { return appendSeparator(path); };
    const std::wstring sep(1, platform::PATH_SEPARATOR);
    const std::wstring a258(platform::PATH_MAX_LENGTH - 1, L'a'), a259 = a258 + L'a';
    const std::wstring a250 = a258.substr(8);
    const struct {
        std::wstring before;
        bool (*step)(PathBuffer&, const wchar_t*);
        std::wstring argument;
        bool ok;
        std::wstring after;
    } cases[] = {
        {L"old", copyPath, a259, true, a259},
        {L"old", copyPath, a259 + L'a', false, L""},
        {L"", separator, L"", true, L""},  // a name joined to an empty path stands alone
        {L"d", separator, L"", true, L"d" + sep},
        {L"d/", separator, L"", true, L"d/"},
        {L"d\\", separator, L"", true, platform::isTrailingSeparator(L'\\') ? L"d\\" : L"d\\/"},
        {a258, separator, L"", true, a258 + sep},
        {a259, separator, L"", false, a259},
        {a258 + L'/', separator, L"", true, a258 + L'/'},  // needs no room
        {a250, appendSegment, L"123456789", true, a250 + L"123456789"},
        {a250, appendSegment, L"1234567890", false, a250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.size());
        PathBuffer path{};
        ASSERT_TRUE(copyPath(path, c.before.c_str()));
        errno = 0;
        EXPECT_EQ(c.step(path, c.argument.c_str()), c.ok);
        EXPECT_EQ(errno, c.ok ? 0 : ERANGE);
        EXPECT_EQ(std::wstring(path), c.after);
    }
}

}  // namespace
