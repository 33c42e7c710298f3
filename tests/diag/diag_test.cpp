#include "diag/diag.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/expect.h"

namespace {

using expect::LINE_END;
using expect::shownPath;

std::string errnoSuffix(int error) {
    return ": " + std::string(std::strerror(error)) + std::string(LINE_END);
}

// Leaves a system error code behind with a listing of a missing directory,
// and gives the suffix that reportSystemError should print for it.
std::string failSystemCall() {
    platform::DirListing listing;
    platform::DirEntry entry;
    EXPECT_FALSE(platform::openListing(L"no-such-dir", L"no-such-dir/*", listing, entry));
    const std::uint32_t code = platform::lastSystemError();
    EXPECT_NE(code, 0u);
    wchar_t text[512];
    platform::systemErrorText(code, text);
    EXPECT_NE(text[0], L'\0');
    return ": " + shownPath(text) + std::string(LINE_END);
}

// A message of `length` characters whose cut position shows in its content.
std::wstring digits(std::size_t length) {
    std::wstring text;
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(static_cast<wchar_t>(L'0' + i % 10));
    }
    return text;
}

TEST(Diagnostics, PlainStyleWritesTheTextAloneUncut) {
    MessageCapture capture;
    const std::wstring longText = digits(3000);
    reportPlain(L"no line end");
    reportPlain(L"Warning - %s given twice\n", L"-%s%%");
    reportPlain(L"%s|%s\n", L"\u00E9\u0100x", longText.c_str());
    EXPECT_EQ(capture.contents(), "no line endWarning - -%s%% given twice\n\xE9?x|" +
                                      shownPath(longText) + "\n");
}

TEST(Diagnostics, ReportErrorAppendsTheErrnoTextAndLeavesErrnoAlone) {
    MessageCapture capture;
    errno = ENOENT;
    reportError(L"Failed to open ROM file %s", L"100%s%d%%.gb");  // arguments are data
    const int after = errno;
    EXPECT_EQ(after, ENOENT);
    EXPECT_EQ(capture.contents(), "Failed to open ROM file 100%s%d%%.gb" + errnoSuffix(ENOENT));
}

TEST(Diagnostics, ReportSystemErrorAppendsTheSystemText) {
    MessageCapture capture;
    const std::string suffix = failSystemCall();
    reportSystemError(L"Failed to list %s", L"dir");
    EXPECT_EQ(capture.contents(), "Failed to list dir" + suffix);
}

TEST(Diagnostics, SuffixedMessagesAreCutAt1023Characters) {
    for (const std::size_t length : {1022u, 1023u, 1024u, 3000u}) {
        SCOPED_TRACE(length);
        const std::wstring argument = digits(length).substr(2);
        const std::string kept = shownPath(digits(length).substr(0, 1023));
        MessageCapture errorCapture;
        errno = ERANGE;
        reportError(L"01%s", argument.c_str());
        EXPECT_EQ(errorCapture.contents(), kept + errnoSuffix(ERANGE));
    }
    MessageCapture systemCapture;
    const std::string suffix = failSystemCall();
    reportSystemError(L"01%s", digits(2000).substr(2).c_str());
    EXPECT_EQ(systemCapture.contents(), shownPath(digits(1023)) + suffix);
}

}  // namespace
