#include "cli/options.h"

#include "diag/diag.h"
#include "scan/path.h"

namespace {

struct PathOption {
    const wchar_t* name;
    OptionFlags bit;
    const wchar_t* repeated;
    const wchar_t* missing;
    const wchar_t* copyFailed;
};

struct Switch {
    const wchar_t* name;
    OptionFlags bit;
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
    {L"-verify",    OPT_VERIFY,    L"Warning - More than one 'verify' specified.\n"},
    {L"-utf8",      OPT_UTF8,      L"Warning - More than one 'utf8' specified.\n"},
    {L"-zip",       OPT_ZIP,       L"Warning - More than one 'zip' specified.\n"},
    // Asking twice for help or the version is no mistake worth a warning.
    {L"-help",      OPT_HELP,      nullptr},
    {L"--help",     OPT_HELP,      nullptr},
    {L"-h",         OPT_HELP,      nullptr},
    {L"-?",         OPT_HELP,      nullptr},
    {L"/?",         OPT_HELP,      nullptr},
    {L"-version",   OPT_VERSION,   nullptr},
    {L"--version",  OPT_VERSION,   nullptr},
};
// clang-format on

wchar_t (&pathOf(RunOptions& options, OptionFlags bit))[platform::PATH_CAPACITY] {
    return bit == OPT_INPUT ? options.inputPath : options.outputPath;
}

}  // namespace

const char USAGE[] =
    "Usage: cartolog [option]...\n"
    "Writes one CSV row for each Game Boy ROM image in a folder.\n"
    "\n"
    "  -input DIR     the folder to catalogue (default: the current folder)\n"
    "  -output PATH   the CSV file, or a folder to hold output.csv (default: the input folder)\n"
    "  -stdout        write the CSV to standard output as well\n"
    "  -nofile        write no file: the CSV goes to standard output only\n"
    "  -recursive     catalogue every folder below the input folder too\n"
    "  -headless      leave out the line of column names\n"
    "  -append        add to the end of the output file instead of replacing it\n"
    "  -verify        add three columns: Logo, Header Checksum and Global Checksum\n"
    "  -utf8          write the CSV in UTF-8\n"
    "  -zip           read each .zip file as an archive: one row per ROM inside it\n"
    "  -help          show this text and stop (also --help, -h, -?, /?)\n"
    "  -version       show the version and stop (also --version)\n";

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
                if ((options.flags & option.bit) != 0 && option.repeated != nullptr) {
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
