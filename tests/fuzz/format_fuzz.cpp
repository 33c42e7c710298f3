// Arbitrary formats and arguments through the message formatter and the two
// message styles built on it. The input is split on zero bytes: the first
// piece is the format, the others its arguments; the byte 0x01 makes the next
// byte a unit above 0xFF. The first byte also sizes a second, small output
// buffer, so that the bound is tried at every size and not only at 1024.
//
// The formatter must keep at most size - 1 units, always terminate, and give
// the leading part of the message that "%s" (argument) and "%%" (percent)
// describe; reportError must print that message cut at 1023 characters,
// writePlain the whole of it.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "diag/diag.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t MAX_ARGUMENTS = 16;

// The message that `format` and `args` describe, in full.
std::wstring expectedMessage(const std::wstring& format, const std::vector<std::wstring>& args) {
    std::wstring message;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L's') {
            if (next < args.size()) {
                message += args[next];
            }
            ++next;
            ++i;
        } else if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L'%') {
            message += L'%';
            ++i;
        } else {
            message += format[i];
        }
    }
    return message;
}

// Standard error gets one byte per unit; a unit that no byte holds shows as '?'.
std::string asBytes(std::wstring_view text) {
    std::string bytes;
    for (wchar_t unit : text) {
        const auto value = static_cast<std::uint32_t>(unit);
        bytes.push_back(value <= 0xFF ? static_cast<char>(value) : '?');
    }
    return bytes;
}

void checkFormatted(const std::wstring& format, const std::vector<const wchar_t*>& argv,
                    const std::wstring& wanted, std::size_t capacity) {
    // Exactly `capacity` units on the heap, so that any write past them is caught.
    std::vector<wchar_t> out(capacity + 1, L'\x7F');
    const std::size_t length =
        diag::formatMessage({out.data(), capacity}, format.c_str(), {argv.data(), argv.size()});
    fuzz::require(out[capacity] == L'\x7F', "nothing written past the buffer");
    if (capacity == 0) {
        fuzz::require(length == 0, "an empty buffer takes nothing");
        return;
    }
    fuzz::require(length <= capacity - 1, "at most size - 1 units kept");
    fuzz::require(out[length] == L'\0', "the message is terminated");
    const std::size_t kept = wanted.size() < capacity - 1 ? wanted.size() : capacity - 1;
    fuzz::require(length == kept, "as much of the message as fits is kept");
    fuzz::require(std::wstring_view(out.data(), length) == std::wstring_view(wanted).substr(0, kept),
                  "the kept part is the message's beginning");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else if (data[i] == 0x01 && i + 1 < size) {
            pieces.back().push_back(static_cast<wchar_t>(0x2600 + data[++i]));
        } else {
            pieces.back().push_back(static_cast<wchar_t>(data[i]));
        }
    }
    if (pieces.size() > MAX_ARGUMENTS + 1) {
        return 0;
    }
    const std::wstring format = pieces.front();
    const std::vector<std::wstring> args(pieces.begin() + 1, pieces.end());
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : args) {
        argv.push_back(arg.c_str());
    }
    const std::wstring wanted = expectedMessage(format, args);

    checkFormatted(format, argv, wanted, diag::MESSAGE_CAPACITY);
    checkFormatted(format, argv, wanted, size == 0 ? 0 : data[0] % 64);

    // reportError: the message cut at 1023 characters, ": ", the errno text.
    {
        fuzz::MemoryStream messages;
        diag::setMessageStream(messages.stream());
        errno = ERANGE;
        diag::reportErrorArgs(format.c_str(), {argv.data(), argv.size()});
        fuzz::require(errno == ERANGE, "reportError leaves errno alone");
        diag::setMessageStream(nullptr);
        const std::wstring_view cut =
            std::wstring_view(wanted).substr(0, diag::MESSAGE_CAPACITY - 1);
        const std::string line = asBytes(cut) + ": " + std::strerror(ERANGE) + "\n";
        fuzz::requireEqual(messages.close(), line, "reportError line");
    }
    // The plain style shortens nothing.
    {
        fuzz::MemoryStream messages;
        diag::setMessageStream(messages.stream());
        diag::writePlainArgs(format.c_str(), {argv.data(), argv.size()});
        diag::setMessageStream(nullptr);
        fuzz::requireEqual(messages.close(), asBytes(wanted), "plain message");
    }
    return 0;
}
