// Bounded text: path joins at the 259-unit limit.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "scan/path.h"
#include "support.h"

namespace {

using Native = std::basic_string<NativeChar>;

TEST(PathSteps, JoinAndStopAt259UnitsWithERANGE) {
    const auto separator = +[](PathBuffer& path, const NativeChar*) { return appendSeparator(path); };
    const auto segment = +[](PathBuffer& path, const NativeChar* text) { return appendSegment(path, text); };
    const Native sep(1, platform::PATH_SEPARATOR);
    const Native a258(platform::PATH_MAX_LENGTH - 1, NATIVE('a')), a259 = a258 + NATIVE('a');
    const Native a250 = a258.substr(8);
    const Native backslash = NATIVE("d\\");
    const struct {
        Native before;
        bool (*step)(PathBuffer&, const NativeChar*);
        Native argument;
        bool ok;
        Native after;
    } cases[] = {
        {NATIVE("old"), copyPath, a259, true, a259},
        {NATIVE("old"), copyPath, a259 + NATIVE('a'), false, NATIVE("")},
        {NATIVE(""), separator, NATIVE(""), true, NATIVE("")},  // a name joined to an empty path stands alone
        {NATIVE("d"), separator, NATIVE(""), true, NATIVE("d") + sep},
        {NATIVE("d/"), separator, NATIVE(""), true, NATIVE("d/")},
        {backslash, separator, NATIVE(""), true,
         platform::isTrailingSeparator(NATIVE('\\')) ? backslash : backslash + NATIVE('/')},
        {a258, separator, NATIVE(""), true, a258 + sep},
        {a259, separator, NATIVE(""), false, a259},
        {a258 + NATIVE('/'), separator, NATIVE(""), true, a258 + NATIVE('/')},  // needs no room
        {a250, segment, NATIVE("123456789"), true, a250 + NATIVE("123456789")},
        {a250, segment, NATIVE("1234567890"), false, a250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.size());
        PathBuffer path{};
        ASSERT_TRUE(copyPath(path, c.before.c_str()));
        errno = 0;
        EXPECT_EQ(c.step(path, c.argument.c_str()), c.ok);
        EXPECT_EQ(errno, c.ok ? 0 : ERANGE);
        EXPECT_EQ(Native(path), c.after);
    }
}

}  // namespace
