#include "cli/options.h"

#include <iterator>

#include "diag/diag.h"
#include "scan/path.h"

namespace {

// An option: a switch, or with `missing` set a path option, whose value is
// the next argument. `repeated` is what a second use says: a warning for a
// switch, an error for a path option; none where asking twice is no mistake,
// or a path option takes a value each time.
struct Option {
    platform::NativeView name;
    OptionFlags bit;
    const char* repeated;
    const char* missing = nullptr;
    const char* copyFailed = nullptr;
};

// clang-format off
constexpr Option OPTIONS[] = {
    {NATIVE("-input"),     OPT_INPUT,     "'input' already specified. Which one did you want to use?\n",
     "Input path missing.\n", "Failed to copy input path string"},
    {NATIVE("-output"),    OPT_OUTPUT,    "'output' already specified. Which one did you want to use?\n",
     "Output path or filename missing.\n", "Failed to copy output path or filename string"},
    {NATIVE("-dat"),       OPT_DAT,       nullptr,
     "DAT file path missing.\n", "Failed to copy DAT file path string"},
    {NATIVE("-stdout"),    OPT_STDOUT,    "Warning - More than one 'stdout' specified.\n"},
    {NATIVE("-nofile"),    OPT_NOFILE,    "Warning - More than one 'nofile' specified.\n"},
    {NATIVE("-recursive"), OPT_RECURSIVE, "Warning - More than one 'recursive' specified.\n"},
    {NATIVE("-headless"),  OPT_HEADLESS,  "Warning - More than one 'headless' specified.\n"},
    {NATIVE("-append"),    OPT_APPEND,    "Warning - More than one 'append' specified.\n"},
    {NATIVE("-gui"),       OPT_GUI,       "Warning - More than one 'gui' specified.\n"},
    {NATIVE("-verify"),    OPT_VERIFY,    "Warning - More than one 'verify' specified.\n"},
    {NATIVE("-utf8"),      OPT_UTF8,      "Warning - More than one 'utf8' specified.\n"},
    {NATIVE("-zip"),       OPT_ZIP,       "Warning - More than one 'zip' specified.\n"},
    {NATIVE("-hash"),      OPT_HASH,      "Warning - More than one 'hash' specified.\n"},
    {NATIVE("-missing"),   OPT_MISSING,   "Warning - More than one 'missing' specified.\n"},
    {NATIVE("-romsonly"),  OPT_ROMSONLY,  "Warning - More than one 'romsonly' specified.\n"},
    {NATIVE("-keepgoing"), OPT_KEEPGOING, "Warning - More than one 'keepgoing' specified.\n"},
    {NATIVE("-help"),      OPT_HELP,      nullptr},
    {NATIVE("--help"),     OPT_HELP,      nullptr},
    {NATIVE("-h"),         OPT_HELP,      nullptr},
    {NATIVE("-?"),         OPT_HELP,      nullptr},
    {NATIVE("/?"),         OPT_HELP,      nullptr},
    {NATIVE("-version"),   OPT_VERSION,   nullptr},
    {NATIVE("--version"),  OPT_VERSION,   nullptr},
};
// clang-format on

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
    "  -hash          add four columns: File Size, CRC32, MD5 and SHA1 of every byte\n"
    "  -dat FILE      match each ROM against a DAT file (as often as given): -hash's\n"
    "                 columns and DAT Game, DAT ROM and DAT Status\n"
    "  -missing       with -dat: a row for every ROM of the DATs that no file had\n"
    "  -romsonly      rows only for images whose logo and header checksum hold\n"
    "  -keepgoing     go on past folders that cannot be listed, paths too long and\n"
    "                 names that cannot be written; the status is 1 if anything was\n"
    "                 passed over\n"
    "  -help          show this text and stop (also --help, -h, -?, /?)\n"
    "  -version       show the version and stop (also --version)\n";

bool parseArguments(RunOptions& options, std::span<const NativeChar* const> args) {
    options.flags = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const Option* option = std::begin(OPTIONS);
        while (option != std::end(OPTIONS) && option->name != args[i]) {
            ++option;
        }
        if (option == std::end(OPTIONS)) {
            reportPlain("Unrecognised argument: %s\n", args[i]);
            return false;
        }
        const bool repeated = (options.flags & option->bit) != 0;
        options.flags |= option->bit;
        if (repeated && option->repeated != nullptr) {
            reportPlain(option->repeated);
            if (option->missing != nullptr) {
                return false;
            }
        }
        if (option->missing == nullptr) {
            continue;
        }
        if (++i >= args.size() || args[i][0] == NATIVE('-')) {
            reportPlain(option->missing);
            return false;
        }
        // A value that does not fit is refused, never cut: a cut path would
        // name another file or directory than the one asked for.
        PathBuffer value;
        if (!copyPath(option->bit == OPT_INPUT    ? options.inputPath
                      : option->bit == OPT_OUTPUT ? options.outputPath
                                                  : value,
                      args[i])) {
            reportError(option->copyFailed);
            return false;
        }
        if (option->bit == OPT_DAT) {
            options.datFiles.emplace_back(value);
        }
    }
    if ((options.flags & OPT_MISSING) != 0 && (options.flags & OPT_DAT) == 0) {
        reportPlain("'missing' lists the ROMs of a DAT file: give one with 'dat'.\n");
        return false;
    }
    return true;
}
