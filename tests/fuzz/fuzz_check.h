// Shared by the fuzz targets. A failed check aborts, whatever the build type
// does with assert(), so that libFuzzer records the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

inline void require(bool condition, const char* what, std::string_view got = {}) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n  got: \"%s\"\n", what, std::string(got).c_str());
        std::abort();
    }
}

}  // namespace fuzz
