#include "scan/path.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/expect.h"

namespace {

constexpr std::size_t MAX = platform::PATH_MAX_LENGTH;
const std::wstring SEP(1, expect::PATH_RULES.separator);

std::wstring text(const PathBuffer& path) { return path; }

// A buffer holding `value`; the value must fit.
struct Path {
    PathBuffer buffer{};
    explicit Path(const std::wstring& value) { EXPECT_TRUE(copyPath(buffer, value.c_str())); }
};

TEST(CopyPath, TakesExactly259Characters) {
    const std::wstring longest(MAX, L'a');
    PathBuffer path{};
    ASSERT_TRUE(copyPath(path, longest.c_str()));
    EXPECT_EQ(text(path), longest);
}

TEST(CopyPath, Refuses260CharactersAndLeavesThePathEmpty) {
    Path path(L"previous");
    const std::wstring tooLong(MAX + 1, L'a');
    errno = 0;
    EXPECT_FALSE(copyPath(path.buffer, tooLong.c_str()));
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(text(path.buffer), L"");
}

TEST(AppendSeparator, FollowsTheJoiningRule) {
    const std::wstring backslashed =
        expect::PATH_RULES.backslashEndsDirectory ? L"d\\" : L"d\\" + SEP;
    const struct {
        std::wstring before;
        std::wstring after;
    } cases[] = {
        {L"", L""},  // a name joined to an empty path stands alone
        {L"d", L"d" + SEP},
        {L"d/", L"d/"},
        {L"/", L"/"},
        {L"d\\", backslashed},
    };
    for (const auto& c : cases) {
        Path path(c.before);
        EXPECT_TRUE(appendSeparator(path.buffer)) << c.before;
        EXPECT_EQ(text(path.buffer), c.after) << c.before;
    }
}

TEST(AppendSeparator, FillsTheLastPlaceButNoMore) {
    Path fits(std::wstring(MAX - 1, L'a'));
    EXPECT_TRUE(appendSeparator(fits.buffer));
    EXPECT_EQ(text(fits.buffer), std::wstring(MAX - 1, L'a') + SEP);

    const std::wstring full(MAX, L'a');
    Path path(full);
    errno = 0;
    EXPECT_FALSE(appendSeparator(path.buffer));
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(text(path.buffer), full);
}

TEST(AppendSeparator, FullPathEndingInSeparatorNeedsNoRoom) {
    const std::wstring full = std::wstring(MAX - 1, L'a') + L"/";
    Path path(full);
    EXPECT_TRUE(appendSeparator(path.buffer));
    EXPECT_EQ(text(path.buffer), full);
}

TEST(AppendSegment, FillsTheLastPlaceButNoMore) {
    const std::wstring base(MAX - 9, L'a');
    Path fits(base);
    EXPECT_TRUE(appendSegment(fits.buffer, L"123456789"));
    EXPECT_EQ(text(fits.buffer), base + L"123456789");

    Path path(base);
    errno = 0;
    EXPECT_FALSE(appendSegment(path.buffer, L"1234567890"));
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(text(path.buffer), base);  // left as it was
}

}  // namespace
