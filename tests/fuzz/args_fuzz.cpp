// Any argument vector (the input cut on zero bytes) through
// parseArguments, and the same pieces as a message format and its arguments
// through the formatter. When the parse accepts, each path must be its whole
// value, at most 259 units and terminated, and the flags exactly the bits of
// the options given. Every buffer size must keep the start of the same
// message, at most size - 1 units and terminated; reportError prints it cut
// at 1023 characters and leaves errno alone.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "diag/diag.h"
#include "fuzz_check.h"
#include "support.h"

namespace {

// The path options first.
const std::pair<std::string, unsigned> OPTIONS[] = {
    {"-input", OPT_INPUT},       {"-output", OPT_OUTPUT},       {"-dat", OPT_DAT},
    {"-stdout", OPT_STDOUT},     {"-hash", OPT_HASH},           {"-missing", OPT_MISSING},
    {"-romsonly", OPT_ROMSONLY}, {"-keepgoing", OPT_KEEPGOING},
    {"-nofile", OPT_NOFILE},     {"-recursive", OPT_RECURSIVE}, {"-headless", OPT_HEADLESS},
    {"-append", OPT_APPEND},     {"-gui", OPT_GUI},             {"-verify", OPT_VERIFY},
    {"-utf8", OPT_UTF8},         {"-zip", OPT_ZIP},             {"-help", OPT_HELP},
    {"--help", OPT_HELP},        {"-h", OPT_HELP},              {"-?", OPT_HELP},
    {"/?", OPT_HELP},            {"-version", OPT_VERSION},     {"--version", OPT_VERSION}};

void checkParse(const std::vector<std::string>& pieces) {
    std::vector<const char*> argv = {"cartolog"};
    for (const std::string& arg : pieces) {
        argv.push_back(arg.c_str());
    }
    RunOptions options;
    bool accepted = false;
    {
        const MessageCapture messages;
        accepted = parseArguments(options, argv);
    }
    if (!accepted) {
        return;
    }
    unsigned given = 0;
    std::size_t dats = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::size_t option = 0;
        while (option < std::size(OPTIONS) && pieces[i] != OPTIONS[option].first) {
            ++option;
        }
        fuzz::require(option < std::size(OPTIONS), "every accepted argument is an option or its value");
        given |= OPTIONS[option].second;
        if (option < 3) {
            fuzz::require(i + 1 < pieces.size(), "a path option has its value");
            const char* path = option == 0   ? options.inputPath
                               : option == 1 ? options.outputPath
                                             : options.datFiles.at(dats++).c_str();
            const std::size_t length = strnlen(path, platform::PATH_CAPACITY);
            fuzz::require(length <= platform::PATH_MAX_LENGTH, "a path holds at most 259 units");
            fuzz::require(std::string(path, length) == pieces[++i], "a path is its whole value");
        }
    }
    fuzz::require(options.flags == given, "flags are exactly the options given");
    fuzz::require(dats == options.datFiles.size(), "every DAT given is kept, in order");
}

void checkFormat(const std::vector<std::string>& pieces, std::size_t size, std::uint8_t pick) {
    std::vector<diag::MessageArg> args;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        args.emplace_back(pieces[i].c_str());
    }
    const char* format = pieces[0].c_str();
    const auto formatted = [&](std::size_t capacity) {
        // Exactly `capacity` bytes on the heap, so that AddressSanitizer
        // sees a write past them.
        std::vector<char> out(capacity, '\x7F');
        const std::size_t length = diag::formatMessage(out, format, args);
        fuzz::require(capacity == 0 ? length == 0 : length < capacity && out[length] == '\0',
                      "at most size - 1 bytes kept, then a terminator");
        return std::string(out.data(), length);
    };
    const std::string whole = formatted(size + 1);  // never longer than the input
    for (const std::size_t capacity : {diag::MESSAGE_CAPACITY, std::size_t{pick % 64u}}) {
        fuzz::require(formatted(capacity) == whole.substr(0, capacity == 0 ? 0 : capacity - 1),
                      "a smaller buffer keeps the start of the message");
    }
    const MessageCapture messages;
    errno = ERANGE;
    diag::reportErrorArgs(format, args);
    fuzz::require(errno == ERANGE, "reportError leaves errno alone");
    const std::string got = messages.contents();
    fuzz::require(got == whole.substr(0, diag::MESSAGE_CAPACITY - 1) + ": " +
                             std::strerror(ERANGE) + "\n",
                  "reportError prints the message cut at 1023 characters", got);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    if (pieces.size() > 64) {
        return 0;
    }
    checkFormat(pieces, size, size == 0 ? 0 : data[0]);
    if (size == 0) {
        pieces.clear();
    }
    checkParse(pieces);
    return 0;
}
