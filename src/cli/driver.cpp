#include "cli/driver.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <new>
#include <vector>

#include "cli/options.h"
#include "dat/dat.h"
#include "diag/diag.h"
#include "report/csv.h"
#include "scan/path.h"
#include "scan/scan.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;

bool completeDefaults(RunOptions& options) {
    if ((options.flags & OPT_INPUT) == 0 && !platform::currentDirectory(options.inputPath)) {
        reportSystemError("Failed to get current working directory as input");
        return false;
    }
    if ((options.flags & OPT_OUTPUT) == 0 && !copyPath(options.outputPath, options.inputPath)) {
        reportError("Failed to set output path to the same value as input path %s",
                    options.inputPath);
        return false;
    }
    return true;
}

// Opens the output path, or, when it names a directory, "output.csv" inside
// it.
bool openOutput(RunOptions& options, std::FILE*& output, platform::FileTail& tail) {
    const bool append = (options.flags & OPT_APPEND) != 0;
    output = platform::openOutputFile(options.outputPath, append, tail);
    if (output != nullptr) {
        return true;
    }
    const int error = errno;
    if (!platform::isDirectory(options.outputPath)) {
        errno = error;
        reportError("Failed to create/open output file %s", options.outputPath);
        return false;
    }
    if (!appendSeparator(options.outputPath)) {
        reportError("Failed to append path separator to \"%s\"", options.outputPath);
        return false;
    }
    if (!appendSegment(options.outputPath, NATIVE("output.csv"))) {
        reportError("Failed to append path segment \"%s\" to \"%s\"", "output.csv",
                    options.outputPath);
        return false;
    }
    output = platform::openOutputFile(options.outputPath, append, tail);
    if (output == nullptr) {
        reportError("Failed to create/open output file %s", options.outputPath);
        return false;
    }
    return true;
}

// Decides where rows go and opens the file among them. `output` stays null
// when no file is to be written: with -nofile, and when the input cannot be
// listed, since the run cannot succeed then and must leave every file as it
// was (no stray file named like the directory meant, no catalogue emptied).
bool openDestinations(RunOptions& options, bool listable, std::FILE*& output) {
    output = nullptr;
    if ((options.flags & OPT_NOFILE) != 0) {
        options.flags |= OPT_STDOUT;
        if ((options.flags & OPT_APPEND) != 0) {
            reportPlain(
                "Warning - 'append' is only useful for file output, which has been disabled by "
                "'nofile'.\n");
        }
        options.outputFileSettled = platform::ownFileOfPath(options.outputPath, options.outputFile);
        return true;
    }
    if (!listable) {
        return true;
    }
    platform::FileTail tail;
    if (!openOutput(options, output, tail)) {
        return false;
    }
    // Rows reach the file in large writes rather than page by page.
    static char outputBuffer[64 * 1024];
    std::setvbuf(output, outputBuffer, _IOFBF, sizeof outputBuffer);
    // What this run appends starts on a line of its own. A file that holds
    // the byte order mark alone has no line yet.
    const std::string_view last(tail.bytes, tail.length);
    if (!last.empty() && last.back() != '\n' && !(tail.size == last.size() && last == UTF8_MARK)) {
        std::fputc('\n', output);
    }
    // A UTF-8 report file starts with the mark that spreadsheets look for,
    // unless it is appended to a file that has content already.
    if ((options.flags & OPT_UTF8) != 0 &&
        ((options.flags & OPT_APPEND) == 0 ||
         (std::fseek(output, 0, SEEK_END) == 0 && std::ftell(output) == 0))) {
        std::fputs(UTF8_MARK, output);
    }
    options.outputFileSettled = platform::ownFileOfStream(output, options.outputFile);
    options.outputFile.stream = output;
    return true;
}

// Standard output whose reader has gone is not reported: the run ends as
// filters end.
void reportWriteFailure(std::FILE* stream, const RunOptions& options) {
    if (stream == stdout) {
        if (!platform::stdoutReaderGone()) {
            reportError("Failed to write to stdout");
        }
    } else {
        reportError("Failed to write to output file %s", options.outputPath);
    }
}

bool writeHeaderLines(const RunOptions& options, const Report& report, bool flushStdout) {
    std::FILE* output = report.file;
    const std::string text = headerLine(report.fileStyle);
    const char* line = text.c_str();
    if ((options.flags & OPT_STDOUT) != 0 &&
        (std::fputs(line, stdout) == EOF || (flushStdout && std::fflush(stdout) != 0))) {
        reportWriteFailure(stdout, options);
        return false;
    }
    if (output != nullptr && std::fputs(line, output) == EOF) {
        reportWriteFailure(output, options);
        return false;
    }
    return true;
}

// Flushes a stream and tells whether every byte handed to it arrived, with
// errno set by the failure. The flush is explicit because some runtimes'
// fclose does not report a final flush that failed.
bool flushed(std::FILE* stream) {
    return std::fflush(stream) == 0 && std::ferror(stream) == 0;
}

// Rows are buffered: a run counts as complete only once they have reached
// the file and standard output. A stream whose error was met during the run
// has been reported there already.
bool finishStreams(const RunOptions& options, std::FILE* output, bool runSucceeded) {
    bool ok = true;
    if (output != nullptr) {
        const bool failedBefore = std::ferror(output) != 0;
        // The flush's failure is reported before the close, while errno
        // still tells it.
        bool arrived = flushed(output);
        if (!arrived && (runSucceeded || !failedBefore)) {
            reportWriteFailure(output, options);
        }
        if (std::fclose(output) != 0 && arrived) {
            reportError("Failed to write to output file %s", options.outputPath);
            arrived = false;
        }
        ok = arrived;
    }
    const bool failedBefore = std::ferror(stdout) != 0;
    if (!flushed(stdout)) {
        if (runSucceeded || !failedBefore) {
            reportWriteFailure(stdout, options);
        }
        ok = false;
    }
    return ok;
}

// Reads the whole of a regular file into `bytes`. False with errno set.
bool readWholeFile(const NativeChar* path, std::vector<std::uint8_t>& bytes) {
    platform::File file;
    std::uint64_t size = 0;
    std::size_t got = 0;
    if (!platform::openPath(path, file)) {
        return false;
    }
    bool read = file.isRegular && platform::fileSize(file, size);
    if (!file.isRegular) {
        errno = platform::isDirectory(path) ? EISDIR : EINVAL;
    }
    if (read) {
        bytes.resize(static_cast<std::size_t>(size));
        read = platform::readFileAt(file, 0, bytes, got);
        bytes.resize(got);
    }
    const int error = errno;
    platform::closeFile(file);
    errno = error;
    return read;
}

// Reads every DAT given, in order, into `set`. False after a failure, which
// has been reported: the run then opens and writes nothing more.
bool loadDats(const RunOptions& options, DatSet& set) {
    std::vector<std::uint8_t> bytes;
    for (const auto& path : options.datFiles) {
        DatProblem problem;
        bool read = false;
        // A DAT is held whole, and what is read from it grows with it: one
        // larger than memory is a failure to read it, not an abort. The
        // standard containers' failing allocation is the one exception
        // the program meets.
        try {
            read = readWholeFile(path.c_str(), bytes) && parseDat(bytes, set, problem);
        } catch (const std::bad_alloc&) {
            problem.what[0] = '\0';
            errno = ENOMEM;
        }
        if (!read && problem.what[0] == '\0') {
            reportError("Failed to read DAT file %s", path.c_str());
            return false;
        }
        if (!read) {
            char line[24];
            *std::to_chars(line, line + sizeof line - 1, problem.line).ptr = '\0';
            reportPlain("Failed to read DAT file %s: line %s: %s\n", path.c_str(), line,
                        problem.what);
            return false;
        }
    }
    return true;
}

// -help and -version: a text on standard output, and nothing else done.
int writeAnswer(const RunOptions& options) {
    if ((options.flags & OPT_HELP) != 0) {
        std::fputs(USAGE, stdout);
    } else {
        std::fputs("cartolog " CARTOLOG_VERSION "\n", stdout);
    }
    if (!flushed(stdout)) {
        reportError("Failed to write to stdout");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

}  // namespace

int runCartolog(std::span<const NativeChar* const> args) {
    // Each message reaches standard error in one write, as it is flushed
    // whole: some runtimes write an unbuffered stream a byte at a time, which
    // a console shows slowly.
    static char stderrBuffer[4096];
    std::setvbuf(stderr, stderrBuffer, _IOFBF, sizeof stderrBuffer);
    diag::maskControlsInArguments(platform::isTerminal(stderr));
    RunOptions options;
    if (!parseArguments(options, args)) {
        return EXIT_FAILED;
    }
    if ((options.flags & (OPT_HELP | OPT_VERSION)) != 0) {
        return writeAnswer(options);
    }
    if (!completeDefaults(options)) {
        return EXIT_FAILED;
    }
    if ((options.flags & OPT_GUI) != 0) {
        reportPlain("GUI mode is not supported yet.\n");
        return EXIT_FAILED;
    }
    DatSet dats;
    if (!loadDats(options, dats)) {
        return EXIT_FAILED;
    }
    std::FILE* output = nullptr;
    if (!openDestinations(options, platform::adoptWalkRoot(options.inputPath), output)) {
        return EXIT_FAILED;
    }
    // A person reading a terminal sees each row as it is written, and no
    // control bytes, in rows or in messages: a file name could otherwise
    // rewrite what the terminal shows.
    const bool stdoutIsTerminal = platform::isTerminal(stdout);
    if ((options.flags & OPT_STDOUT) != 0) {
        // Rows reach a pipe or file in large writes, and a terminal in one
        // write per row: some runtimes leave a terminal's stream unbuffered,
        // one write per byte.
        static char stdoutBuffer[64 * 1024];
        std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
    }
    Report report;
    report.file = output;
    report.toStdout = (options.flags & OPT_STDOUT) != 0;
    report.fileStyle.utf8 = (options.flags & OPT_UTF8) != 0;
    report.fileStyle.verify = (options.flags & OPT_VERIFY) != 0;
    const bool matching = (options.flags & OPT_DAT) != 0;
    report.fileStyle.hash = (options.flags & OPT_HASH) != 0 || matching;
    report.fileStyle.dat = matching;
    report.dat = matching ? &dats : nullptr;
    report.stdoutStyle = report.fileStyle;
    // An output file that is a terminal (a console named as the output) is
    // written as one.
    report.fileStyle.maskControls = report.fileStyle.flushEachRow =
        output != nullptr && platform::isTerminal(output);
    report.stdoutStyle.maskControls = stdoutIsTerminal;
    report.stdoutStyle.flushEachRow = stdoutIsTerminal;
    WalkSettings walk;
    walk.report = &report;
    walk.wholeImages = (options.flags & OPT_VERIFY) != 0;
    walk.archives = (options.flags & OPT_ZIP) != 0;
    walk.hash = report.fileStyle.hash;
    walk.romsOnly = (options.flags & OPT_ROMSONLY) != 0;
    walk.rules.keepGoing = (options.flags & OPT_KEEPGOING) != 0;
    walk.rules.recursive = (options.flags & OPT_RECURSIVE) != 0;
    // The run's own files are passed over by identity, or where it cannot be
    // learnt, by their paths.
    walk.rules.ownFiles[0] = options.outputFile;
    if (!options.outputFileSettled) {
        walk.rules.outputPath = options.outputPath;
    }
    if (!platform::ownFileOfRunningProgram(walk.rules.ownFiles[1]) && !args.empty()) {
        walk.rules.programPath = args[0];
    }
    // A catalogue redirected into the tree it lists is not catalogued either.
    platform::ownFileOfStream(stdout, walk.rules.ownFiles[2]);
    walk.rules.ownFiles[2].stream = stdout;

    // A person at a terminal sees how far a long run has come, unless the rows
    // themselves come to that terminal: a terminal named as the output file
    // may be it under another name (/dev/tty).
    if (platform::isTerminal(stderr) &&
        (!report.toStdout || !platform::sameTerminal(stdout, stderr)) &&
        (output == nullptr || !platform::isTerminal(output))) {
        diag::startProgress(platform::terminalColumns(stderr));
    }
    bool walkedWhole = false;
    bool ok = ((options.flags & OPT_HEADLESS) != 0 ||
               writeHeaderLines(options, report, stdoutIsTerminal)) &&
              scanDirectory(options.inputPath, walk, walkedWhole);
    // A walk that ended early leaves no list of what it did not find; one
    // that went on past failures lists it, the failures told above it.
    if (walkedWhole && (options.flags & OPT_MISSING) != 0) {
        ok = writeMissingRows(report) && ok;
    }
    diag::endProgress();
    ok = finishStreams(options, output, ok) && ok;
    if (std::ferror(stdout) != 0 && platform::stdoutReaderGone()) {
        platform::endAsBrokenPipe();
    }
    return ok ? EXIT_OK : EXIT_FAILED;
}
