#include "support/capture.h"

#include "diag/diag.h"

StreamCapture::StreamCapture() : stream_(std::tmpfile()) {
    // Some runtimes name temporary files from a clock and fail when another
    // process is just deleting one of that name: a second try gets another.
    for (int attempt = 0; stream_ == nullptr && attempt < 100; ++attempt) {
        stream_ = std::tmpfile();
    }
}

StreamCapture::~StreamCapture() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
}

std::string StreamCapture::contents() const {
    std::string bytes;
    if (stream_ == nullptr) {
        return bytes;
    }
    std::fflush(stream_);
    const long end = std::ftell(stream_);
    std::rewind(stream_);
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, stream_)) > 0) {
        bytes.append(chunk, n);
    }
    std::fseek(stream_, end, SEEK_SET);
    return bytes;
}

MessageCapture::MessageCapture() { diag::setMessageStream(capture_.stream()); }

MessageCapture::~MessageCapture() { diag::setMessageStream(nullptr); }
