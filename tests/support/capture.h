// Reading back what the code under test wrote to a stream or reported.
#pragma once

#include <cstdio>
#include <string>

// A temporary stream; contents() gives every byte written to it so far.
class StreamCapture {
public:
    StreamCapture();
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::FILE* stream() const { return stream_; }
    std::string contents() const;

private:
    std::FILE* stream_;
};

// Routes the messages of the diag routines into a capture for its lifetime.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    std::string contents() const { return capture_.contents(); }

private:
    StreamCapture capture_;
};
