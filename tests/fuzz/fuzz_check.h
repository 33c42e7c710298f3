// Shared by the fuzz targets. A failed check aborts, whatever the build type
// does with assert(), so that libFuzzer records the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline void require(bool condition, const char* what, std::string_view got = {}) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n  got: \"%.*s\"\n", what,
                     static_cast<int>(got.size()), got.data());
        std::abort();
    }
}

// The input split on zero bytes; byte 0x01 makes the next byte a unit above
// 0xFF, as a system with wide arguments can hand over.
inline std::vector<std::wstring> splitWide(const std::uint8_t* data, std::size_t size) {
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
    return pieces;
}

}  // namespace fuzz
