#include "diag/diag.h"

#include <cerrno>

#include "platform/platform.h"

namespace diag {
namespace {

std::FILE* messageStream = nullptr;
bool maskControls = false;

std::FILE* messages() { return messageStream != nullptr ? messageStream : stderr; }

// The byte that standard error gets for one unit of an argument.
char argumentByte(std::uint32_t unit) {
    if (unit > 0xFF || (maskControls && (unit < 0x20 || unit == 0x7F))) {
        return '?';
    }
    return static_cast<char>(unit);
}

// Feeds `put` each byte of the formatted message, in order.
template <typename Put>
void substitute(const char* format, std::span<const MessageArg> args, Put&& put) {
    std::size_t next = 0;
    for (const char* f = format; *f != '\0'; ++f) {
        if (f[0] == '%' && f[1] == 's') {
            if (next < args.size()) {
                const MessageArg& arg = args[next];
                for (std::size_t i = 0; i < arg.length; ++i) {
                    put(argumentByte(arg.wide ? static_cast<std::uint32_t>(
                                                    static_cast<const wchar_t*>(arg.text)[i])
                                              : static_cast<const unsigned char*>(arg.text)[i]));
                }
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

void reportSystemErrorArgs(const char* format, std::span<const MessageArg> args) {
    char text[512];
    platform::systemErrorText(platform::lastSystemError(), text);
    writeSuffixed(format, args, text);
}

}  // namespace diag
