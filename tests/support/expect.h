// Expected results that differ from one system to another, each kept here
// once.
#pragma once

#include <string>
#include <string_view>

namespace expect {

// The separator put before a name, and whether a trailing backslash ends a
// directory path (on POSIX it is a byte of the name).
struct PathRules {
    wchar_t separator;
    bool backslashEndsDirectory;
};
extern const PathRules PATH_RULES;

// What a text stream stores for "\n": "\n" on POSIX, "\r\n" on Windows.
extern const std::string_view STORED_LINE_END;

// A path as a message shows it: units up to 0xFF as bytes, others as '?'.
std::string shownPath(std::wstring_view path);

// `name` joined to `directory` as the walk joins them.
inline std::string joinPath(std::string_view directory, std::string_view name) {
    std::string joined(directory);
    if (!joined.empty()) {
        const char last = joined.back();
        if (last != '/' && !(last == '\\' && PATH_RULES.backslashEndsDirectory)) {
            joined += static_cast<char>(PATH_RULES.separator);
        }
    }
    return joined.append(name);
}

// Failures the end-to-end suite provokes, each reported as a message, ": "
// and a text of the system or the C runtime.
enum class Failure {
    NoSuchDirectory,    // listing a directory that does not exist
    NotADirectory,      // listing a file
    NoSuchFile,         // opening a ROM file (a link's target) that does not exist
    PathTooLong,        // a path step past 259 characters
    CurrentDirTooLong,  // a current directory of more than 259 characters
    DeviceFull,         // writing to a device that takes nothing
};

// The text after ": " for `failure`, with its stored line end.
std::string failureText(Failure failure);

// Where named pipes, symbolic links, /dev/full and over-long current
// directories can be set up.
extern const bool POSIX_SYSTEM;

}  // namespace expect
