// What the fuzz targets share: a failed check must stop the run with a crash
// that libFuzzer records, whatever the build type does with assert().
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view got = {},
                              std::string_view wanted = {}) {
    std::fprintf(stderr, "check failed: %s\n", what);
    if (!got.empty() || !wanted.empty()) {
        std::fprintf(stderr, "  got:    \"%.*s\"\n  wanted: \"%.*s\"\n",
                     static_cast<int>(got.size()), got.data(), static_cast<int>(wanted.size()),
                     wanted.data());
    }
    std::abort();
}

inline void require(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

inline void requireEqual(std::string_view got, std::string_view wanted, const char* what) {
    if (got != wanted) {
        fail(what, got, wanted);
    }
}

// Everything written to a memory stream: the stream is closed, and the bytes
// are handed back.
class MemoryStream {
public:
    MemoryStream() : stream_(open_memstream(&data_, &size_)) {
        require(stream_ != nullptr, "open_memstream");
    }
    ~MemoryStream() {
        close();
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    std::FILE* stream() const { return stream_; }

    std::string_view close() {
        if (stream_ != nullptr) {
            std::fclose(stream_);
            stream_ = nullptr;
        }
        return {data_, size_};
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace fuzz
