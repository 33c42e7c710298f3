// Any argument vector (the input as fuzz::splitWide cuts it) through
// parseArguments. When it accepts, each path must be its whole value, at most
// 259 units and terminated, and the flags exactly the bits of the options
// given.
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/options.h"
#include "diag/diag.h"
#include "fuzz_check.h"

namespace {

// Option i sets bit 1 << i.
const std::wstring OPTIONS[] = {L"-input",     L"-output",   L"-stdout", L"-nofile",
                                L"-recursive", L"-headless", L"-append", L"-gui"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> args = fuzz::splitWide(data, size);
    if (size == 0) {
        args.clear();
    }
    if (args.size() > 64) {
        return 0;
    }
    args.insert(args.begin(), L"cartolog");
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : args) {
        argv.push_back(arg.c_str());
    }

    RunOptions options;
    fuzz::MemoryStream messages;  // the unit tests check what is reported
    diag::setMessageStream(messages.stream());
    const bool accepted = parseArguments(options, argv);
    diag::setMessageStream(nullptr);
    if (!accepted) {
        return 0;
    }
    std::uint8_t given = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::size_t option = 0;
        while (option < 8 && args[i] != OPTIONS[option]) {
            ++option;
        }
        fuzz::require(option < 8, "every accepted argument is an option or its value");
        given |= static_cast<std::uint8_t>(1u << option);
        if (option < 2) {
            fuzz::require(i + 1 < args.size(), "a path option has its value");
            const wchar_t* path = option == 0 ? options.inputPath : options.outputPath;
            const std::size_t length = wcsnlen(path, platform::PATH_CAPACITY);
            fuzz::require(length <= platform::PATH_MAX_LENGTH, "a path holds at most 259 units");
            fuzz::require(std::wstring(path, length) == args[++i], "a path is its whole value");
        }
    }
    fuzz::require(options.flags == given, "flags are exactly the options given");
    return 0;
}
