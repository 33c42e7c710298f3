#include "support/expect.h"

namespace expect {

std::string shownPath(std::wstring_view path) {
    std::string bytes;
    for (const wchar_t unit : path) {
        const auto value = static_cast<unsigned long>(unit);
        bytes.push_back(value <= 0xFF ? static_cast<char>(value) : '?');
    }
    return bytes;
}

}  // namespace expect
