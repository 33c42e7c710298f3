#include "cli/options.h"

#include "diag/diag.h"
#include "scan/path.h"

namespace {

struct PathOption {
    platform::NativeView name;
    OptionFlags bit;
    const char* repeated;
    const char* missing;
    const char* copyFailed;
};

struct Switch {
    platform::NativeView name;
    OptionFlags bit;
    const char* repeated;
};

// clang-format off
constexpr PathOption PATH_OPTIONS[] = {
    {NATIVE("-input"), OPT_INPUT,
     "'input' already specified. Which one did you want to use?\n",
     "Input path missing.\n", "Failed to copy input path string"},
    {NATIVE("-output"), OPT_OUTPUT,
     "'output' already specified. Which one did you want to use?\n",
     "Output path or filename missing.\n", "Failed to copy output path or filename string"},
};

constexpr Switch SWITCHES[] = {
    {NATIVE("-stdout"),    OPT_STDOUT,    "Warning - More than one 'stdout' specified.\n"},
    {NATIVE("-nofile"),    OPT_NOFILE,    "Warning - More than one 'nofile' specified.\n"},
    {NATIVE("-recursive"), OPT_RECURSIVE, "Warning - More than one 'recursive' specified.\n"},
    {NATIVE("-headless"),  OPT_HEADLESS,  "Warning - More than one 'headless' specified.\n"},
    {NATIVE("-append"),    OPT_APPEND,    "Warning - More than one 'append' specified.\n"},
    {NATIVE("-gui"),       OPT_GUI,       "Warning - More than one 'gui' specified.\n"},
    {NATIVE("-verify"),    OPT_VERIFY,    "Warning - More than one 'verify' specified.\n"},
    {NATIVE("-utf8"),      OPT_UTF8,      "Warning - More than one 'utf8' specified.\n"},
    {NATIVE("-zip"),       OPT_ZIP,       "Warning - More than one 'zip' specified.\n"},
    // Asking twice for help or the version is no mistake worth a warning.
    {NATIVE("-help"),      OPT_HELP,      nullptr},
    {NATIVE("--help"),     OPT_HELP,      nullptr},
    {NATIVE("-h"),         OPT_HELP,      nullptr},
    {NATIVE("-?"),         OPT_HELP,      nullptr},
    {NATIVE("/?"),         OPT_HELP,      nullptr},
    {NATIVE("-version"),   OPT_VERSION,   nullptr},
    {NATIVE("--version"),  OPT_VERSION,   nullptr},
};
// clang-format on

NativeChar (&pathOf(RunOptions& options, OptionFlags bit))[platform::PATH_CAPACITY] {
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

bool parseArguments(RunOptions& options, std::span<const NativeChar* const> args) {
    options.flags = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const NativeChar* arg = args[i];
        bool matched = false;
        for (const PathOption& option : PATH_OPTIONS) {
            if (option.name != arg) {
                continue;
            }
            if ((options.flags & option.bit) != 0) {
                reportPlain(option.repeated);
                return false;
            }
            options.flags |= option.bit;
            ++i;
            if (i >= args.size() || args[i][0] == NATIVE('-')) {
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
            if (option.name == arg) {
                if ((options.flags & option.bit) != 0 && option.repeated != nullptr) {
                    reportPlain(option.repeated);
                }
                options.flags |= option.bit;
                matched = true;
                break;
            }
        }
        if (!matched) {
            reportPlain("Unrecognised argument: %s\n", arg);
            return false;
        }
    }
    return true;
}

bool parseArguments(RunOptions& options) {
    return parseArguments(options, platform::processArguments());
}
