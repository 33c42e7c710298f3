// Any format and arguments (the input as fuzz::splitWide cuts it, the format
// first) through formatMessage and reportError. Every buffer size must give
// the start of the same message, at most size - 1 units and terminated;
// reportError prints it cut at 1023 characters and leaves errno alone.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "diag/diag.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::wstring> pieces = fuzz::splitWide(data, size);
    if (pieces.size() > 17) {
        return 0;
    }
    std::vector<const wchar_t*> args;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        args.push_back(pieces[i].c_str());
    }
    const wchar_t* format = pieces[0].c_str();
    const auto formatted = [&](std::size_t capacity) {
        // Exactly `capacity` units on the heap, so that AddressSanitizer sees
        // a write past them.
        std::vector<wchar_t> out(capacity, L'\x7F');
        const std::size_t length = diag::formatMessage(out, format, args);
        fuzz::require(capacity == 0 ? length == 0 : length < capacity && out[length] == L'\0',
                      "at most size - 1 units kept, then a terminator");
        return std::wstring(out.data(), length);
    };
    // The message is never longer than the input.
    const std::wstring whole = formatted(size + 1);
    for (const std::size_t capacity : {diag::MESSAGE_CAPACITY, size == 0 ? 0 : data[0] % 64ul}) {
        fuzz::require(formatted(capacity) == whole.substr(0, capacity == 0 ? 0 : capacity - 1),
                      "a smaller buffer keeps the start of the message");
    }

    fuzz::MemoryStream messages;
    diag::setMessageStream(messages.stream());
    errno = ERANGE;
    diag::reportErrorArgs(format, args);
    fuzz::require(errno == ERANGE, "reportError leaves errno alone");
    diag::setMessageStream(nullptr);
    std::string line;  // one byte per unit, '?' for a unit above 0xFF
    for (const wchar_t unit : whole.substr(0, diag::MESSAGE_CAPACITY - 1)) {
        line += static_cast<std::uint32_t>(unit) <= 0xFF ? static_cast<char>(unit) : '?';
    }
    line = line + ": " + std::strerror(ERANGE) + "\n";
    const std::string got = messages.close();
    fuzz::require(got == line, "reportError prints the message cut at 1023 characters", got);
    return 0;
}
