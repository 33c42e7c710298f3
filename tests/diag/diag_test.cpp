#include "diag/diag.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/expect.h"

// Leaves a system error code behind; gives what reportSystemError appends.
static std::string systemSuffix() {
    platform::DirListing listing;
    platform::DirEntry entry;
    EXPECT_FALSE(platform::openListing(L"no-such-dir", L"no-such-dir/*", listing, entry));
    wchar_t text[512];
    platform::systemErrorText(platform::lastSystemError(), text);
    EXPECT_NE(text[0], L'\0');
    return ": " + expect::shownPath(text) + "\n";
}

TEST(Diagnostics, EachStyleWritesExactlyItsBytes) {
    MessageCapture capture;
    const std::wstring longText(3000, L'x');
    reportPlain(L"%s|%s 5%%", L"a%s%%\u00E9\u0100", longText.c_str());  // nothing added or cut
    std::string expected = "a%s%%\xE9?|" + std::string(3000, 'x') + " 5%";
    errno = ENOENT;
    reportError(L"open %s", L"100%d.gb");
    EXPECT_EQ(errno, ENOENT);
    expected += "open 100%d.gb: " + std::string(std::strerror(ENOENT)) + "\n";
    expected += "list dir" + systemSuffix();
    reportSystemError(L"list %s", L"dir");
    EXPECT_EQ(capture.contents(), expected);
}

TEST(Diagnostics, SuffixedMessagesAreCutAt1023Characters) {
    const std::wstring argument = std::wstring(1020, L'x') + L"abc";  // 1025 after "01"
    const std::string kept = "01" + std::string(1020, 'x') + "a";
    MessageCapture capture;
    errno = ERANGE;
    reportError(L"01%s", argument.c_str());
    std::string expected = kept + ": " + std::strerror(ERANGE) + "\n";
    expected += kept + systemSuffix();
    reportSystemError(L"01%s", argument.c_str());
    EXPECT_EQ(capture.contents(), expected);
}
