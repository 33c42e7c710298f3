// Messages to standard error, in three styles: plain (the text alone, as
// formatted), errno-suffixed (reportError) and system-suffixed
// (reportSystemError). Formats are wide strings whose only conversion is
// "%s", taking a wide string; arguments are data and are never read as a
// format.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>

namespace diag {

// Formatted message of the suffixed styles: 1023 characters at most.
inline constexpr std::size_t MESSAGE_CAPACITY = 1024;

/// Substitutes `args` for the "%s" of `format` into `out`, zero-terminated,
/// keeping at most out.size() - 1 characters. "%%" gives one "%"; a "%s"
/// beyond the arguments gives nothing. Returns the length kept.
std::size_t formatMessage(std::span<wchar_t> out, const wchar_t* format,
                          std::span<const wchar_t* const> args);

/// Sends every later message to `stream` instead of standard error; null
/// restores standard error. Lets tests read what was reported.
void setMessageStream(std::FILE* stream);

/// With `mask`, the arguments of every later message show each control
/// character as '?': they reach a terminal, where a file name holding an
/// escape sequence could rewrite what a person sees.
void maskControlsInArguments(bool mask);

void writePlainArgs(const wchar_t* format, std::span<const wchar_t* const> args);
void reportErrorArgs(const wchar_t* format, std::span<const wchar_t* const> args);
void reportSystemErrorArgs(const wchar_t* format, std::span<const wchar_t* const> args);

}  // namespace diag

/// Plain style: the formatted text alone on standard error, not shortened.
template <typename... Args>
void reportPlain(const wchar_t* format, Args... args) {
    const wchar_t* list[] = {args..., nullptr};
    diag::writePlainArgs(format, {list, sizeof...(Args)});
}

/// The message, ": ", the C library's text for the current errno, "\n".
/// Leaves errno as it found it.
template <typename... Args>
void reportError(const wchar_t* format, Args... args) {
    const wchar_t* list[] = {args..., nullptr};
    diag::reportErrorArgs(format, {list, sizeof...(Args)});
}

/// The message, ": ", the system's text for this thread's last error code,
/// "\n".
template <typename... Args>
void reportSystemError(const wchar_t* format, Args... args) {
    const wchar_t* list[] = {args..., nullptr};
    diag::reportSystemErrorArgs(format, {list, sizeof...(Args)});
}
