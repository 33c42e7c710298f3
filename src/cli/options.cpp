#include "cli/options.h"

#include "diag/diag.h"
#include "scan/path.h"

namespace {

struct PathOption {
    const wchar_t* name;
    std::uint8_t bit;
    const wchar_t* repeated;
    const wchar_t* missing;
    const wchar_t* copyFailed;
};

struct Switch {
    const wchar_t* name;
    std::uint8_t bit;
    const wchar_t* repeated;
};

// clang-format off
constexpr PathOption PATH_OPTIONS[] = {
    {L"-input", OPT_INPUT,
     L"'input' already specified. Which one did you want to use?\n",
     L"Input path missing.\n", L"Failed to copy input path string"},
    {L"-output", OPT_OUTPUT,
     L"'output' already specified. Which one did you want to use?\n",
     L"Output path or filename missing.\n", L"Failed to copy output path or filename string"},
};

constexpr Switch SWITCHES[] = {
    {L"-stdout",    OPT_STDOUT,    L"Warning - More than one 'stdout' specified.\n"},
    {L"-nofile",    OPT_NOFILE,    L"Warning - More than one 'nofile' specified.\n"},
    {L"-recursive", OPT_RECURSIVE, L"Warning - More than one 'recursive' specified.\n"},
    {L"-headless",  OPT_HEADLESS,  L"Warning - More than one 'headless' specified.\n"},
    {L"-append",    OPT_APPEND,    L"Warning - More than one 'append' specified.\n"},
    {L"-gui",       OPT_GUI,       L"Warning - More than one 'gui' specified.\n"},
};
// clang-format on

wchar_t (&pathOf(RunOptions& options, std::uint8_t bit))[platform::PATH_CAPACITY] {
    return bit == OPT_INPUT ? options.inputPath : options.outputPath;
}

}  // namespace

bool parseArguments(RunOptions& options, std::span<const wchar_t* const> args) {
    options.flags = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const wchar_t* arg = args[i];
        bool matched = false;
        for (const PathOption& option : PATH_OPTIONS) {
            if (!samePath(arg, option.name)) {
                continue;
            }
            if ((options.flags & option.bit) != 0) {
                reportPlain(option.repeated);
                return false;
            }
            options.flags |= option.bit;
            ++i;
            if (i >= args.size() || args[i][0] == L'-') {
                reportPlain(option.missing);
                return false;
            }
            // A value that does not fit is refused, never cut: a cut path
            // would name another file or directory than the one asked for.
            if (!copyPath(pathOf(options, option.bit), args[i])) {
                reportError(option.copyFailed);
                return false;
            }
            matched = true;
            break;
        }
        if (matched) {
            continue;
        }
        for (const Switch& option : SWITCHES) {
            if (samePath(arg, option.name)) {
                if ((options.flags & option.bit) != 0) {
                    reportPlain(option.repeated);
                }
                options.flags |= option.bit;
                matched = true;
                break;
            }
        }
        if (!matched) {
            reportPlain(L"Unrecognised argument: %s\n", arg);
            return false;
        }
    }
    return true;
}

bool parseArguments(RunOptions& options) {
    return parseArguments(options, platform::processArguments());
}
