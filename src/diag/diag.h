// Messages to standard error, in three styles: plain (the text alone, as
// formatted), errno-suffixed (reportError) and system-suffixed
// (reportSystemError). Formats are ASCII whose only conversion is "%s";
// arguments are data and are never read as a format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <span>
#include <string_view>

namespace diag {

// Formatted message of the suffixed styles: 1023 characters at most.
inline constexpr std::size_t MESSAGE_CAPACITY = 1024;

// A "%s" argument: bytes, each shown as it is, or wide units, each shown as
// the byte of its value up to 0xFF and as '?' above, so that a message is
// never lost for one character.
struct MessageArg {
    const void* text = nullptr;
    std::size_t length = 0;
    bool wide = false;

    MessageArg(const char* bytes) : text(bytes), length(std::strlen(bytes)) {}
    MessageArg(std::string_view bytes) : text(bytes.data()), length(bytes.size()) {}
    MessageArg(const wchar_t* units) : text(units), length(std::wcslen(units)), wide(true) {}
    MessageArg(std::wstring_view units) : text(units.data()), length(units.size()), wide(true) {}
};

/// Substitutes `args` for the "%s" of `format` into `out`, zero-terminated,
/// keeping at most out.size() - 1 characters. "%%" gives one "%"; a "%s"
/// beyond the arguments gives nothing. Returns the length kept.
std::size_t formatMessage(std::span<char> out, const char* format,
                          std::span<const MessageArg> args);

/// Sends every later message to `stream` instead of standard error; null
/// restores standard error. Lets tests read what was reported.
void setMessageStream(std::FILE* stream);

/// With `mask`, the arguments of every later message show each control
/// character as '?': they reach a terminal, where a file name holding an
/// escape sequence could rewrite what a person sees.
void maskControlsInArguments(bool mask);

// What the progress line counts.
struct ProgressCounts {
    std::uint64_t files = 0;  // looked at
    std::uint64_t rows = 0;   // written
    std::uint64_t bytes = 0;  // read, where whole files are read
};

/// Shows a line on standard error, a terminal `columns` wide that a person
/// reads, telling how far the run has come: drawn by showProgress once the
/// run has taken about a second, at most ten times a second; cleared before
/// every message and by endProgress, so that the messages stand as they
/// would without it.
void startProgress(std::size_t columns);
bool progressStarted();
void showProgress(const ProgressCounts& counts, const MessageArg& folder);
void endProgress();

void writePlainArgs(const char* format, std::span<const MessageArg> args);
void reportErrorArgs(const char* format, std::span<const MessageArg> args);
void reportSystemErrorArgs(std::uint32_t code, const char* format,
                           std::span<const MessageArg> args);

}  // namespace diag

/// Plain style: the formatted text alone on standard error, not shortened.
template <typename... Args>
void reportPlain(const char* format, const Args&... args) {
    const diag::MessageArg list[] = {args..., ""};
    diag::writePlainArgs(format, {list, sizeof...(Args)});
}

/// The message, ": ", the C library's text for the current errno, "\n".
/// Leaves errno as it found it.
template <typename... Args>
void reportError(const char* format, const Args&... args) {
    const diag::MessageArg list[] = {args..., ""};
    diag::reportErrorArgs(format, {list, sizeof...(Args)});
}

/// The message, ": ", the system's text for the error `code`, "\n".
template <typename... Args>
void reportSystemErrorCode(std::uint32_t code, const char* format, const Args&... args) {
    const diag::MessageArg list[] = {args..., ""};
    diag::reportSystemErrorArgs(code, format, {list, sizeof...(Args)});
}

/// The same for this thread's last error code.
std::uint32_t lastSystemErrorCode();
template <typename... Args>
void reportSystemError(const char* format, const Args&... args) {
    reportSystemErrorCode(lastSystemErrorCode(), format, args...);
}
