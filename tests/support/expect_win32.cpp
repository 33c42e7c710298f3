#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "platform/platform.h"
#include "support/expect.h"
#include "support/temp_dir.h"

namespace expect {

const PathRules PATH_RULES = {L'\\', true};
const std::string_view STORED_LINE_END = "\r\n";
const bool POSIX_SYSTEM = false;

namespace {

// As a text stream stores `text`, then "\n".
std::string stored(const std::string& text) {
    std::string bytes;
    for (const char byte : text + "\n") {
        bytes += byte == '\n' ? std::string(STORED_LINE_END) : std::string(1, byte);
    }
    return bytes;
}

// The system's text ends in a line break of its own, before the message's.
std::string systemText(std::uint32_t code) {
    wchar_t text[512];
    platform::systemErrorText(code, text);
    return stored(shownPath(text));
}

// Windows versions and wine leave different codes for a failed listing, so
// one is provoked here.
std::uint32_t listingFailureCode(bool onAFile) {
    TempDir dir;
    std::filesystem::path target = dir / (onAFile ? "file.gb" : "missing");
    if (onAFile) {
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
    static const std::string noSuchDirectory = systemText(listingFailureCode(false));
    static const std::string notADirectory = systemText(listingFailureCode(true));
    switch (failure) {
        case Failure::NoSuchDirectory: return noSuchDirectory;
        case Failure::NotADirectory: return notADirectory;
        case Failure::CurrentDirTooLong: return systemText(206);  // ERROR_FILENAME_EXCED_RANGE
        case Failure::NoSuchFile: return stored(std::strerror(ENOENT));
        case Failure::PathTooLong: return stored(std::strerror(ERANGE));
        case Failure::DeviceFull: return stored(std::strerror(ENOSPC));
    }
    return {};
}

}  // namespace expect
