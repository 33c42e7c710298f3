#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "platform/platform.h"
#include "support/expect.h"
#include "support/temp_dir.h"

namespace expect {

const PathRules PATH_RULES = {L'\\', true};
// Text streams store every "\n" as CR LF.
const std::string_view STORED_LINE_END = "\r\n";
const bool POSIX_SYSTEM = false;

namespace {

// ERROR_FILENAME_EXCED_RANGE, which the platform layer sets for a current
// directory that does not fit.
constexpr std::uint32_t FILENAME_TOO_LONG = 206;

// As standard error stores `text`: every "\n" as CR LF.
std::string stored(const std::string& text) {
    std::string bytes;
    for (const char byte : text) {
        if (byte == '\n') {
            bytes += STORED_LINE_END;
        } else {
            bytes += byte;
        }
    }
    return bytes;
}

// The system text ends in a line break of its own; the message's newline
// follows it all the same.
std::string systemText(std::uint32_t code) {
    wchar_t text[512];
    platform::systemErrorText(code, text);
    return stored(shownPath(text) + "\n");
}

// Which code, and so which text, a listing failure leaves differs between
// Windows versions and wine: the failure is provoked here to learn it.
std::uint32_t listingFailureCode(bool onAFile) {
    TempDir dir;
    std::filesystem::path target = dir / "missing";
    if (onAFile) {
        target = dir / "file.gb";
        std::ofstream(target) << "x";
    }
    const std::wstring pattern = (target / "*").native();
    platform::DirListing listing;
    platform::DirEntry entry;
    if (platform::openListing(target.c_str(), pattern.c_str(), listing, entry)) {
        platform::closeListing(listing);
        return 0;
    }
    return platform::lastSystemError();
}

}  // namespace

std::string failureText(Failure failure) {
    switch (failure) {
        case Failure::NoSuchDirectory: {
            static const std::string text = systemText(listingFailureCode(false));
            return text;
        }
        case Failure::NotADirectory: {
            static const std::string text = systemText(listingFailureCode(true));
            return text;
        }
        case Failure::CurrentDirTooLong:
            return systemText(FILENAME_TOO_LONG);
        case Failure::NoSuchFile:
            return stored(std::string(std::strerror(ENOENT)) + "\n");
        case Failure::PathTooLong:
            return stored(std::string(std::strerror(ERANGE)) + "\n");
        case Failure::DeviceFull:
            return stored(std::string(std::strerror(ENOSPC)) + "\n");
    }
    return {};
}

}  // namespace expect
