// Arbitrary argument vectors through parseArguments. The input is split on
// zero bytes into the arguments after argument zero; each byte is one unit,
// except that the byte 0x01 makes the next byte a unit above 0xFF (as a
// system with wide arguments can hand over).
//
// An accepted command line must leave whole, bounded paths taken from the
// argument right after their option, and only the bits of options that were
// given; a refused one must end in exactly one error line.
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "diag/diag.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t MAX_ARGUMENTS = 64;

struct Known {
    const wchar_t* name;
    std::uint8_t bit;
};

constexpr Known SWITCHES[] = {
    {L"-stdout", 0x04}, {L"-nofile", 0x08}, {L"-recursive", 0x10},
    {L"-headless", 0x20}, {L"-append", 0x40}, {L"-gui", 0x80},
};

bool isPathOption(const std::wstring& arg) { return arg == L"-input" || arg == L"-output"; }

std::size_t boundedLength(const wchar_t (&path)[platform::PATH_CAPACITY]) {
    std::size_t length = 0;
    while (length < platform::PATH_CAPACITY && path[length] != L'\0') {
        ++length;
    }
    return length;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The messages of an accepted command line: repeat warnings only.
void checkWarningsOnly(std::string_view messages) {
    while (!messages.empty()) {
        const std::size_t end = messages.find('\n');
        fuzz::require(end != std::string_view::npos, "warning ends its line");
        const std::string_view line = messages.substr(0, end);
        fuzz::require(startsWith(line, "Warning - More than one '") &&
                          line.substr(line.size() - 12) == "' specified.",
                      "an accepted command line draws only repeat warnings");
        messages.remove_prefix(end + 1);
    }
}

// The messages of a refused command line: warnings, then one error line.
void checkOneError(std::string_view messages) {
    fuzz::require(!messages.empty() && messages.back() == '\n', "a refusal is reported");
    messages.remove_suffix(1);
    const std::size_t lastBreak = messages.rfind('\n');
    // The unrecognised argument itself may hold line breaks.
    std::string_view before =
        lastBreak == std::string_view::npos ? std::string_view{} : messages.substr(0, lastBreak + 1);
    std::size_t errorStart = 0;
    while (startsWith(before.substr(errorStart), "Warning - More than one '")) {
        errorStart += before.substr(errorStart).find('\n') + 1;
    }
    const std::string_view error = messages.substr(errorStart);
    fuzz::require(startsWith(error, "Unrecognised argument: ") ||
                      error == "Input path missing." || error == "Output path or filename missing." ||
                      error == "'input' already specified. Which one did you want to use?" ||
                      error == "'output' already specified. Which one did you want to use?" ||
                      startsWith(error, "Failed to copy input path string: ") ||
                      startsWith(error, "Failed to copy output path or filename string: "),
                  "a refusal ends in one known error");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> args{L"cartolog"};
    std::wstring current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else if (data[i] == 0x01 && i + 1 < size) {
            current.push_back(static_cast<wchar_t>(0x2600 + data[++i]));
        } else {
            current.push_back(static_cast<wchar_t>(data[i]));
        }
    }
    if (size != 0) {
        args.push_back(current);
    }
    if (args.size() > MAX_ARGUMENTS) {
        return 0;
    }
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : args) {
        argv.push_back(arg.c_str());
    }

    RunOptions options;
    // Paths the parse does not write keep what they held.
    options.inputPath[0] = L'I';
    options.outputPath[0] = L'O';
    fuzz::MemoryStream messages;
    diag::setMessageStream(messages.stream());
    const bool accepted = parseArguments(options, argv);
    diag::setMessageStream(nullptr);
    const std::string_view reported = messages.close();

    if (!accepted) {
        checkOneError(reported);
        return 0;
    }
    checkWarningsOnly(reported);

    std::uint8_t wantedFlags = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (isPathOption(args[i])) {
            const bool input = args[i] == L"-input";
            fuzz::require(i + 1 < args.size(), "a path option has its value");
            const std::wstring& value = args[++i];
            fuzz::require(value.empty() || value[0] != L'-', "a value never begins with '-'");
            const auto& path = input ? options.inputPath : options.outputPath;
            const std::size_t length = boundedLength(path);
            fuzz::require(length <= platform::PATH_MAX_LENGTH, "a path holds at most 259 units");
            fuzz::require(std::wstring_view(path, length) == value, "a path is its whole value");
            wantedFlags |= input ? OPT_INPUT : OPT_OUTPUT;
            continue;
        }
        bool known = false;
        for (const Known& option : SWITCHES) {
            if (args[i] == option.name) {
                wantedFlags |= option.bit;
                known = true;
            }
        }
        fuzz::require(known, "every accepted argument is an option or its value");
    }
    fuzz::require(options.flags == wantedFlags, "flags are exactly the options given");
    if ((wantedFlags & OPT_INPUT) == 0) {
        fuzz::require(options.inputPath[0] == L'I' && options.inputPath[1] == L'\0',
                      "an input path not given is left alone");
    }
    if ((wantedFlags & OPT_OUTPUT) == 0) {
        fuzz::require(options.outputPath[0] == L'O' && options.outputPath[1] == L'\0',
                      "an output path not given is left alone");
    }
    return 0;
}
