#include "diag/diag.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace diag {
namespace {

std::FILE* messageStream = nullptr;
bool maskControls = false;

std::FILE* messages() { return messageStream != nullptr ? messageStream : stderr; }

// Feeds `put` each unit of the formatted message, in order.
template <typename Put>
void substitute(const wchar_t* format, std::span<const wchar_t* const> args, Put&& put) {
    std::size_t next = 0;
    for (const wchar_t* f = format; *f != L'\0'; ++f) {
        if (f[0] == L'%' && f[1] == L's') {
            if (next < args.size() && args[next] != nullptr) {
                for (const wchar_t* a = args[next]; *a != L'\0'; ++a) {
                    put(maskControls && (*a < 0x20 || *a == 0x7F) ? L'?' : *a);
                }
            }
            ++next;
            ++f;
        } else if (f[0] == L'%' && f[1] == L'%') {
            put(L'%');
            ++f;
        } else {
            put(*f);
        }
    }
}

// Standard error gets bytes: a unit up to 0xFF is the byte of the same value,
// and a character that no byte represents is shown as '?', so that a message
// is never lost for one character.
char toStderrByte(wchar_t unit) {
    auto value = static_cast<std::uint32_t>(unit);
    return value <= 0xFF ? static_cast<char>(value) : '?';
}

// Collects bytes for standard error and writes them in few calls, the
// message flushed whole: on an unbuffered stream each call would be a system
// call of its own.
struct StderrWriter {
    char bytes[2048];
    std::size_t used = 0;

    void put(char byte) {
        if (used == sizeof bytes) {
            flush();
        }
        bytes[used++] = byte;
    }
    void putWide(const wchar_t* text) {
        for (; *text != L'\0'; ++text) {
            put(toStderrByte(*text));
        }
    }
    void putNarrow(const char* text) {
        for (; *text != '\0'; ++text) {
            put(*text);
        }
    }
    // Failures to write to standard error are ignored: there is nowhere left
    // to report them.
    void flush() {
        if (used != 0) {
            std::fwrite(bytes, 1, used, messages());
            used = 0;
        }
        std::fflush(messages());
    }
};

}  // namespace

void setMessageStream(std::FILE* stream) { messageStream = stream; }

void maskControlsInArguments(bool mask) { maskControls = mask; }

std::size_t formatMessage(std::span<wchar_t> out, const wchar_t* format,
                          std::span<const wchar_t* const> args) {
    if (out.empty()) {
        return 0;
    }
    std::size_t length = 0;
    const std::size_t limit = out.size() - 1;
    substitute(format, args, [&](wchar_t unit) {
        if (length < limit) {
            out[length++] = unit;
        }
    });
    out[length] = L'\0';
    return length;
}

void writePlainArgs(const wchar_t* format, std::span<const wchar_t* const> args) {
    StderrWriter writer;
    substitute(format, args, [&](wchar_t unit) { writer.put(toStderrByte(unit)); });
    writer.flush();
}

void reportErrorArgs(const wchar_t* format, std::span<const wchar_t* const> args) {
    const int savedErrno = errno;
    wchar_t message[MESSAGE_CAPACITY];
    formatMessage(message, format, args);
    StderrWriter writer;
    writer.putWide(message);
    writer.putNarrow(": ");
    writer.putNarrow(std::strerror(savedErrno));
    writer.put('\n');
    writer.flush();
    errno = savedErrno;
}

void reportSystemErrorArgs(const wchar_t* format, std::span<const wchar_t* const> args) {
    wchar_t message[MESSAGE_CAPACITY];
    formatMessage(message, format, args);
    const std::uint32_t code = platform::lastSystemError();
    wchar_t text[512];
    platform::systemErrorText(code, text);
    StderrWriter writer;
    writer.putWide(message);
    writer.putNarrow(": ");
    writer.putWide(text);
    writer.put('\n');
    writer.flush();
}

}  // namespace diag
