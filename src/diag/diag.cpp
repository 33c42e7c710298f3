#include "diag/diag.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "diag/text.h"

#include "platform/platform.h"

std::size_t decodeUtf8(std::string_view bytes, char32_t& c, bool& wellFormed) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = byte(0);
    wellFormed = true;
    c = lead;
    if (lead < 0x80) {
        return 1;
    }
    // The continuation bytes' count, and the range of the first one, which
    // rules out overlong forms, surrogates and values past U+10FFFF.
    std::size_t count = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    c = lead & (0x3F >> count);
    std::size_t i = 1;
    for (; i <= count; ++i, low = 0x80, high = 0xBF) {
        if (i >= bytes.size() || byte(i) < low || byte(i) > high) {
            break;
        }
        c = c << 6 | (byte(i) & 0x3F);
    }
    if (count == 0 || i <= count) {
        wellFormed = false;
        c = 0xFFFD;
    }
    return i;
}

std::size_t terminalCharacter(std::string_view bytes, bool& control) {
    char32_t c = 0;
    bool wellFormed = true;
    const std::size_t length = decodeUtf8(bytes, c, wellFormed);
    if (!wellFormed) {
        control = isControl(static_cast<unsigned char>(bytes[0]));
        return 1;
    }
    control = isControl(c);
    return length;
}

namespace diag {
namespace {

std::FILE* messageStream = nullptr;
bool maskControls = false;

// The progress line, when one is shown: when it may be drawn next, and how
// many columns it takes now (none while it is cleared).
struct ProgressLine {
    bool enabled = false;
    std::size_t width = 80;
    std::chrono::steady_clock::time_point next;
    std::size_t shown = 0;
};
ProgressLine progress;

// Clears the progress line, so that what is written next starts a line of
// its own.
void clearProgress() {
    if (progress.shown != 0) {
        char blanks[512];
        const std::size_t count = std::min(progress.shown, sizeof blanks - 2);
        blanks[0] = '\r';
        std::memset(blanks + 1, ' ', count);
        blanks[count + 1] = '\r';
        std::fwrite(blanks, 1, count + 2, stderr);
        progress.shown = 0;
    }
}

std::FILE* messages() { return messageStream != nullptr ? messageStream : stderr; }

// Feeds `put` the bytes of an argument. A wide unit is the byte of its
// value up to 0xFF and '?' above. To a person, controls show as '?'.
template <typename Put>
void putArgument(const MessageArg& arg, Put&& put) {
    if (arg.wide) {
        for (const wchar_t unit : std::wstring_view(static_cast<const wchar_t*>(arg.text), arg.length)) {
            const auto value = static_cast<std::uint32_t>(unit);
            put(value > 0xFF || (maskControls && isControl(value)) ? '?' : static_cast<char>(value));
        }
        return;
    }
    std::string_view bytes(static_cast<const char*>(arg.text), arg.length);
    while (!bytes.empty()) {
        bool control = false;
        const std::size_t length = maskControls ? terminalCharacter(bytes, control) : bytes.size();
        if (control) {
            put('?');
        } else {
            for (const char byte : bytes.substr(0, length)) {
                put(byte);
            }
        }
        bytes.remove_prefix(length);
    }
}

// Feeds `put` each byte of the formatted message, in order.
template <typename Put>
void substitute(const char* format, std::span<const MessageArg> args, Put&& put) {
    std::size_t next = 0;
    for (const char* f = format; *f != '\0'; ++f) {
        if (f[0] == '%' && f[1] == 's') {
            if (next < args.size()) {
                putArgument(args[next], put);
            }
            ++next;
            ++f;
        } else if (f[0] == '%' && f[1] == '%') {
            put('%');
            ++f;
        } else {
            put(*f);
        }
    }
}

// Collects a message and writes it in one call: on an unbuffered stream each
// call would be a system call of its own. Failures to write to standard error
// are ignored: there is nowhere left to report them.
struct StderrWriter {
    char bytes[2 * MESSAGE_CAPACITY];
    std::size_t used = 0;

    void put(char byte) {
        if (used == sizeof bytes) {
            flush();
        }
        bytes[used++] = byte;
    }
    void put(std::string_view text) {
        for (const char byte : text) {
            put(byte);
        }
    }
    void flush() {
        clearProgress();
        std::fwrite(bytes, 1, used, messages());
        used = 0;
        std::fflush(messages());
    }
};

// The suffixed styles: the message cut to its capacity, ": ", `suffix`.
void writeSuffixed(const char* format, std::span<const MessageArg> args, const char* suffix) {
    char message[MESSAGE_CAPACITY];
    const std::size_t length = formatMessage(message, format, args);
    StderrWriter writer;
    writer.put({message, length});
    writer.put(": ");
    writer.put(suffix);
    writer.put('\n');
    writer.flush();
}

}  // namespace

void setMessageStream(std::FILE* stream) { messageStream = stream; }

void startProgress(std::size_t columns) {
    progress.enabled = true;
    progress.width = std::clamp<std::size_t>(columns, 1, 500);
    // A run shorter than about a second shows none.
    progress.next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
}

bool progressStarted() { return progress.enabled; }

void showProgress(const ProgressCounts& counts, const MessageArg& folder) {
    const auto now = std::chrono::steady_clock::now();
    if (now < progress.next) {
        return;
    }
    // At most ten times a second.
    progress.next = now + std::chrono::milliseconds(100);
    char line[600];
    int length = std::snprintf(line, sizeof line, "%llu files, %llu rows",
                               static_cast<unsigned long long>(counts.files),
                               static_cast<unsigned long long>(counts.rows));
    if (counts.bytes != 0) {
        length += std::snprintf(line + length, sizeof line - static_cast<std::size_t>(length),
                                ", %.1f MiB read", static_cast<double>(counts.bytes) / (1 << 20));
    }
    std::string_view in = ", in ";
    const std::size_t room = progress.width - 1;
    std::size_t used = static_cast<std::size_t>(length);
    // The folder's end tells the most: its start gives way to "...".
    if (used + in.size() + 4 < room) {
        char name[MESSAGE_CAPACITY];
        const std::size_t named = formatMessage(name, "%s", std::span(&folder, 1));
        const std::size_t fits = room - used - in.size();
        std::string_view shown(name, named);
        if (shown.size() > fits) {
            in = ", in ...";
            shown.remove_prefix(shown.size() - (fits - 3));
            // Cut where a character starts: a stray part of one could be
            // read as a control by the terminal.
            while (!shown.empty() && (static_cast<unsigned char>(shown[0]) & 0xC0) == 0x80) {
                shown.remove_prefix(1);
            }
        }
        std::memcpy(line + used, in.data(), in.size());
        std::memcpy(line + used + in.size(), shown.data(), shown.size());
        used += in.size() + shown.size();
    }
    used = std::min(used, room);
    // A shorter line than the last leaves none of the last behind.
    const std::size_t last = progress.shown;
    std::fputc('\r', stderr);
    std::fwrite(line, 1, used, stderr);
    for (std::size_t i = used; i < last; ++i) {
        std::fputc(' ', stderr);
    }
    std::fflush(stderr);
    progress.shown = std::max(used, last);
}

void endProgress() {
    clearProgress();
    std::fflush(stderr);
    progress.enabled = false;
}

void maskControlsInArguments(bool mask) { maskControls = mask; }

std::size_t formatMessage(std::span<char> out, const char* format,
                          std::span<const MessageArg> args) {
    if (out.empty()) {
        return 0;
    }
    std::size_t length = 0;
    substitute(format, args, [&](char byte) {
        if (length + 1 < out.size()) {
            out[length++] = byte;
        }
    });
    out[length] = '\0';
    return length;
}

void writePlainArgs(const char* format, std::span<const MessageArg> args) {
    StderrWriter writer;
    substitute(format, args, [&](char byte) { writer.put(byte); });
    writer.flush();
}

void reportErrorArgs(const char* format, std::span<const MessageArg> args) {
    const int savedErrno = errno;
    writeSuffixed(format, args, std::strerror(savedErrno));
    errno = savedErrno;
}

void reportSystemErrorArgs(std::uint32_t code, const char* format,
                           std::span<const MessageArg> args) {
    char text[512];
    platform::systemErrorText(code, text);
    writeSuffixed(format, args, text);
}

}  // namespace diag

std::uint32_t lastSystemErrorCode() { return platform::lastSystemError(); }
