// What the unit tests share: ROM images built byte by byte, and streams that
// give back what the code under test wrote or reported.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "diag/diag.h"
#include "header/rom_header.h"

// A zeroed 4 KiB image; tests set only the bytes under test.
struct RomImage {
    std::array<std::uint8_t, ROM_READ_SIZE> bytes{};

    RomImage& text(std::size_t offset, std::string_view text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes.at(offset + i) = static_cast<std::uint8_t>(text[i]);
        }
        return *this;
    }
    std::span<const std::uint8_t, HEADER_SPAN> header() const {
        return std::span<const std::uint8_t, HEADER_SPAN>(bytes.data() + HEADER_START, HEADER_SPAN);
    }
};

// A temporary stream; contents() gives every byte written to it so far.
class StreamCapture {
public:
    StreamCapture() {
        // Some runtimes name temporary files from a clock and fail when
        // another process just deletes one of that name: try again.
        for (int attempt = 0; stream_ == nullptr && attempt < 100; ++attempt) {
            stream_ = std::tmpfile();
        }
    }
    ~StreamCapture() { std::fclose(stream_); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::FILE* stream() const { return stream_; }
    std::string contents() const {
        std::fflush(stream_);
        const long end = std::ftell(stream_);
        std::string bytes(static_cast<std::size_t>(end), '\0');
        std::rewind(stream_);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), stream_));
        return bytes;
    }

private:
    std::FILE* stream_ = nullptr;
};

// Routes the messages of the diag routines into a capture for its lifetime.
class MessageCapture {
public:
    MessageCapture() { diag::setMessageStream(capture_.stream()); }
    ~MessageCapture() { diag::setMessageStream(nullptr); }
    std::string contents() const { return capture_.contents(); }

private:
    StreamCapture capture_;
};
