// Expected results that depend on the system the tests run on. Each such
// difference lives here once, so that a port changes only this file.
#pragma once

#include <string>
#include <string_view>

namespace expect {

// How paths are joined: the separator put before a name, and whether a
// trailing backslash already ends a directory path (on POSIX it is an
// ordinary byte of a file name). POSIX: {'/', false}; Windows: {'\\', true}.
struct PathRules {
    wchar_t separator;
    bool backslashEndsDirectory;
};
extern const PathRules PATH_RULES;

// What a text stream (the report file, a redirected standard output, standard
// error) stores for each "\n" handed to it. POSIX: "\n"; Windows: "\r\n".
extern const std::string_view STORED_LINE_END;

// The line end that report rows and messages hand to their stream. Captures
// are binary streams and receive it untranslated, so it is what they hold.
inline constexpr std::string_view LINE_END = "\n";

// A path as a diagnostic shows it on standard error: each unit up to 0xFF as
// the byte of the same value, any other unit as '?'.
std::string shownPath(std::wstring_view path);

// --- What the built program prints, for the end-to-end suite.

// `name` joined to `directory` as the walk joins them: directly after a
// trailing separator, alone after an empty directory, otherwise after
// PATH_RULES.separator.
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

// Failures that the end-to-end suite provokes, each reported as a message,
// ": " and a text of the system or of the C runtime.
enum class Failure {
    NoSuchDirectory,    // listing a directory that does not exist
    NotADirectory,      // listing a path that names a file
    NoSuchFile,         // opening a ROM file (a link's target) that does not exist
    PathTooLong,        // a path step whose result would exceed 259 characters
    CurrentDirTooLong,  // a current directory of more than 259 characters
    DeviceFull,         // writing to a device that takes nothing
};

// The text that follows ": " for `failure`, its stored line end included.
std::string failureText(Failure failure);

// True where the cases that need named pipes, symbolic links, a device that
// refuses every write and a current directory deeper than the path limit
// can be set up.
extern const bool POSIX_SYSTEM;

}  // namespace expect
