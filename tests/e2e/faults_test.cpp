// The built program against faults and hostile input: devices that refuse
// every write, link loops, entries of every kind, a very large directory,
// file names that break naive CSV readers, and files that change between the
// listing and the read. Every run also checks that the input tree is left as
// it was, the run's own output apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cli/options.h"
#include "diag/diag.h"
#include "scan/scan.h"
#include "support/capture.h"
#include "support/expect.h"
#include "support/fs.h"
#include "support/open_fault.h"
#include "support/process.h"
#include "support/rom_image.h"
#include "support/snapshot.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using expect::Failure;
using expect::failureText;
using expect::joinPath;

namespace {

const std::string NL(expect::STORED_LINE_END);
const std::string HEADER =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,ROM Size in KiB,"
    "RAM Size in KiB,Destination,Version" +
    NL;
const std::string SHORT_READ_TAIL = ". This file is probably not a GB ROM." + NL;

#define REQUIRE_POSIX()                                      \
    if (!expect::POSIX_SYSTEM) {                             \
        GTEST_SKIP() << "needs POSIX file kinds or devices"; \
    }

std::string quoted(const std::string& text) {
    std::string field = "\"";
    for (const char byte : text) {
        field += byte == '"' ? std::string("\"\"") : std::string(1, byte);
    }
    return field + "\"";
}

// A ROM told apart by its title: MBC1, 64 KiB of ROM, no RAM, worldwide,
// old licensee 0x00, version 0.
void writeTitledRom(const fs::path& path, const std::string& title) {
    RomImage rom = demoRom();
    for (std::size_t i = 0; i < 11; ++i) {
        rom.set(TITLE_OFFSET + i, 0);
    }
    rom.text(TITLE_OFFSET, title);
    writeRom(path, rom);
}

std::string row(const std::string& path, const std::string& title) {
    return quoted(path) + "," + quoted(title) +
           R"(,"","None","None","No","MBC1","64","0","Worldwide","0")" + NL;
}

std::string shortReadMessage(const std::string& path) {
    return "Not able to read at least 4 KiB from file " + path + SHORT_READ_TAIL;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of `text`, each with its line end, sorted: rows and messages come
// in the system's listing order.
std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find(NL, start);
        const std::size_t next = end == std::string::npos ? text.size() : end + NL.size();
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// One record of a CSV text, read by the usual rules: a field in double quotes
// may hold commas, line ends and doubled quotes.
struct Record {
    std::vector<std::string> fields;
    bool allQuoted = true;
};

// Reads `text` into records. False when it is no well-formed CSV: a quote
// left open, or bytes between a closing quote and the next separator.
bool readCsv(const std::string& text, std::vector<Record>& records) {
    std::size_t at = 0;
    while (at < text.size()) {
        Record record;
        for (;;) {
            std::string field;
            if (at < text.size() && text[at] == '"') {
                ++at;
                for (;;) {
                    if (at >= text.size()) {
                        return false;
                    }
                    if (text[at] == '"') {
                        if (at + 1 < text.size() && text[at + 1] == '"') {
                            field += '"';
                            at += 2;
                            continue;
                        }
                        ++at;
                        break;
                    }
                    field += text[at++];
                }
            } else {
                record.allQuoted = false;
                while (at < text.size() && text[at] != ',' && text.compare(at, NL.size(), NL) != 0) {
                    field += text[at++];
                }
            }
            record.fields.push_back(field);
            if (at < text.size() && text[at] == ',') {
                ++at;
                continue;
            }
            if (text.compare(at, NL.size(), NL) == 0) {
                at += NL.size();
                break;
            }
            return false;  // after a field comes a comma or the line end
        }
        records.push_back(record);
    }
    return true;
}

// The file names of a report's rows, after checking that it is the header
// line and rows of eleven quoted fields.
std::multiset<std::string> reportedNames(const std::string& report) {
    std::vector<Record> records;
    EXPECT_TRUE(readCsv(report, records)) << report;
    std::multiset<std::string> names;
    if (records.empty()) {
        ADD_FAILURE() << "no header line";
        return names;
    }
    EXPECT_EQ(records[0].fields.size(), 11u);
    EXPECT_FALSE(records[0].allQuoted);
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].fields.size(), 11u) << "record " << i;
        EXPECT_TRUE(records[i].allQuoted) << "record " << i;
        names.insert(records[i].fields[0]);
    }
    return names;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

struct RunSetup {
    std::string stdoutPath = {};              // empty: captured
    std::vector<std::string> mayChange = {};  // paths below the temporary directory
};

class Faults : public ::testing::Test {
protected:
    TempDir temp;

    std::string at(const std::string& relative) const { return (temp / relative).string(); }

    // Runs the program and checks that it ended by itself and changed nothing
    // below the temporary directory but the files in `setup.mayChange`.
    Outcome cartolog(const std::vector<std::string>& args, const RunSetup& setup = {}) {
        TreeSnapshot before = snapshotTree(temp.path());
        proc::Request request;
        request.program = CARTOLOG_EXE;
        request.args = args;
        request.workingDirectory = temp.path().string();
        request.stdoutPath = setup.stdoutPath;
        const proc::Result result = proc::run(request);
        EXPECT_EQ(result.startError, "");
        EXPECT_TRUE(result.exited) << "the program did not end by itself";
        TreeSnapshot after = snapshotTree(temp.path());
        for (const std::string& name : setup.mayChange) {
            before.erase(name);
            after.erase(name);
        }
        std::string changed;
        for (const auto& [name, content] : before) {
            const auto found = after.find(name);
            changed += found == after.end() ? "removed " + name + "\n"
                       : found->second != content ? "changed " + name + "\n"
                                                  : "";
        }
        for (const auto& [name, content] : after) {
            changed += before.count(name) == 0 ? "created " + name + "\n" : "";
        }
        EXPECT_EQ(changed, "") << "the run changed the input tree";
        return Outcome{result.exitStatus, result.out, result.err};
    }
};

// --- Devices that take nothing

TEST_F(Faults, FullDeviceMidWalkFailsTheRunWithOneMessageWhereverRowsGo) {
    REQUIRE_POSIX();
    const std::string full = "/dev/full";
    fs::create_directory(temp / "roms");
    // Far more rows than a stream buffers (about 170 KiB of them), so that
    // the device refuses them during the walk and not only at the end.
    constexpr int count = 600;
    const std::string padding(150, 'n');
    std::set<std::string> rows;
    for (int i = 0; i < count; ++i) {
        const std::string name = padding + std::to_string(i) + ".gb";
        writeTitledRom(temp / "roms" / name, "R" + std::to_string(i));
        rows.insert(row(joinPath(at("roms"), name), "R" + std::to_string(i)));
    }
    const std::string roms = at("roms");
    const std::string refused =
        "Failed to write header to the output file: " + failureText(Failure::DeviceFull);
    const struct {
        std::vector<std::string> args;
        std::string stdoutPath;
    } cases[] = {
        {{"-input", roms, "-output", full}, ""},
        {{"-input", roms, "-output", full, "-append"}, ""},
        {{"-input", roms, "-output", full, "-headless"}, ""},
        {{"-input", roms, "-nofile"}, full},
        {{"-input", roms, "-nofile", "-headless"}, full},
    };
    for (const auto& run : cases) {
        SCOPED_TRACE(run.args.back() + " with standard output on " + run.stdoutPath);
        const Outcome outcome = cartolog(run.args, {.stdoutPath = run.stdoutPath});
        EXPECT_EQ(outcome.err, refused);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.status, 1);
    }

    // Both destinations full: the walk ends at the row that one of them
    // refused, and the other, a stream of its own, fails again when it is
    // flushed at the end. Which one comes first is the buffers' affair.
    {
        const Outcome outcome =
            cartolog({"-input", roms, "-output", full, "-stdout"}, {.stdoutPath = full});
        const std::string stdoutEnd = "Failed to write to stdout: " + failureText(Failure::DeviceFull);
        const std::string fileEnd =
            "Failed to write to output file " + full + ": " + failureText(Failure::DeviceFull);
        EXPECT_TRUE(outcome.err == refused + stdoutEnd || outcome.err == refused + fileEnd)
            << outcome.err;
        EXPECT_EQ(outcome.status, 1);
    }

    // Standard output full, the file fine: the file holds the rows written
    // before the failure, each one whole, and the row that failed on
    // standard output (written to the file first).
    const Outcome outcome = cartolog({"-input", roms, "-output", at("out.csv"), "-stdout"},
                                     {.stdoutPath = full, .mayChange = {"out.csv"}});
    EXPECT_EQ(outcome.err, refused);
    EXPECT_EQ(outcome.status, 1);
    const std::vector<std::string> written = sortedLines(readFile(temp / "out.csv"));
    ASSERT_FALSE(written.empty());
    EXPECT_LT(written.size(), static_cast<std::size_t>(count) + 1);
    for (const std::string& line : written) {
        EXPECT_TRUE(line == HEADER || rows.count(line) == 1) << line;
    }
}

// --- Link loops

// A walk through a loop of links goes one turn deeper with every call. It
// must end with one failure and status 1: the path limit, or the system's
// refusal to follow that many links in one path, whichever comes first.
TEST_F(Faults, LinkLoopUnderRecursionEndsWithOneFailure) {
    REQUIRE_POSIX();
    struct Loop {
        std::string name;
        std::string root;  // the directory given to the program
        std::string turn;  // what each turn of the loop adds to a path
        // Set where the path limit comes long before any system's limit on
        // links (the turns are long).
        bool endsAtThePathLimit;
    };
    const std::string longName(60, 'l');
    fs::create_directories(temp / "short");
    writeTitledRom(temp / "short" / "a.gb", "SHORT");
    fs::create_directory_symlink(".", temp / "short" / "l");
    fs::create_directories(temp / "long");
    writeTitledRom(temp / "long" / "a.gb", "LONG");
    fs::create_directory_symlink(".", temp / "long" / longName);
    fs::create_directories(temp / "parent" / "sub");
    writeTitledRom(temp / "parent" / "a.gb", "PARENT");
    fs::create_directory_symlink("..", temp / "parent" / "sub" / "up");
    const Loop loops[] = {
        {"short link to itself", at("short"), "/l", false},
        {"long link to itself", at("long"), "/" + longName, true},
        {"link to its parent", at("parent"), "/sub/up", false},
    };
    const std::string outOfRange = ": " + failureText(Failure::PathTooLong);
    const std::string tooManyLinks = std::string(": ") + std::strerror(ELOOP) + NL;
    for (const Loop& loop : loops) {
        SCOPED_TRACE(loop.name);
        // A path the walk can reach: the root, whole turns of the loop, then
        // possibly a part of a turn that is a directory of its own.
        const auto onTheLoop = [&](std::string path) {
            if (path.rfind(loop.root, 0) != 0) {
                return false;
            }
            path.erase(0, loop.root.size());
            while (!path.empty() && path.rfind(loop.turn, 0) == 0) {
                path.erase(0, loop.turn.size());
            }
            return path.empty() || path == "/sub";
        };
        const Outcome run = cartolog({"-input", loop.root, "-nofile", "-recursive"});
        EXPECT_EQ(run.status, 1);

        // Rows only for the one ROM, seen through the loop at various depths.
        for (const std::string& name : reportedNames(run.out)) {
            EXPECT_TRUE(name.size() > 5 && name.substr(name.size() - 5) == "/a.gb" &&
                        onTheLoop(name.substr(0, name.size() - 5)))
                << name;
        }

        const std::string listing = "Couldn't find first file in directory ";
        if (!loop.endsAtThePathLimit && run.err.rfind(listing, 0) == 0) {
            // One line: the listing that the system refused.
            ASSERT_GE(run.err.size(), listing.size() + tooManyLinks.size());
            const std::size_t end = run.err.size() - tooManyLinks.size();
            EXPECT_EQ(run.err.substr(end), tooManyLinks);
            const std::string pattern = run.err.substr(listing.size(), end - listing.size());
            EXPECT_TRUE(pattern.size() > 2 && pattern.substr(pattern.size() - 2) == "/*" &&
                        onTheLoop(pattern.substr(0, pattern.size() - 2)))
                << pattern;
            continue;
        }

        // Two lines: the failed step with the range error, then the plain
        // line naming the directory, without a line end of its own.
        const std::size_t cut = run.err.find(outOfRange);
        ASSERT_NE(cut, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(outOfRange, cut + 1), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("Failed to append path ", 0), 0u) << run.err;
        const std::string last = run.err.substr(cut + outOfRange.size());
        EXPECT_EQ(last.find('\n'), std::string::npos) << last;
        const std::string entry = "Failed to create path for input file ";
        const std::string search = "Failed to prepare search path for input path ";
        std::string directory;
        std::size_t wanted = 0;  // the length the failed path would have had
        if (last.rfind(entry, 0) == 0) {
            const std::size_t in = last.rfind(" in directory ");
            ASSERT_NE(in, std::string::npos) << last;
            directory = last.substr(in + 14);
            wanted = directory.size() + 1 + (in - entry.size());
        } else {
            ASSERT_EQ(last.rfind(search, 0), 0u) << last;
            directory = last.substr(search.size());
            wanted = directory.size() + 2;
        }
        EXPECT_TRUE(onTheLoop(directory)) << directory;
        EXPECT_GT(wanted, 259u) << last;
    }
}

// --- Entries of every kind

TEST_F(Faults, EveryKindOfEntryIsReadOrReportedAndTheWalkGoesOn) {
    REQUIRE_POSIX();
    const fs::path dir = temp / "kinds";
    fs::create_directories(dir / "sub");
    writeTitledRom(dir / "rom.gb", "PLAIN");
    writeTitledRom(dir / "sub" / "inner.gb", "INNER");
    ASSERT_TRUE(makeNamedPipe(dir / "pipe.gb"));
    ASSERT_TRUE(makeSocketFile(dir / "socket.gb"));
    fs::create_symlink("missing.gb", dir / "dangling.gb");
    fs::create_symlink("rom.gb", dir / "file-link.gb");
    fs::create_directory_symlink("sub", dir / "dir-link");
    // Devices behind links: one that gives endless zero bytes, which make a
    // header like any other, and one that opens but fails every read.
    fs::create_symlink("/dev/zero", dir / "zeros.gb");
    const bool haveProcMem = fs::exists("/proc/self/mem");
    if (haveProcMem) {
        fs::create_symlink("/proc/self/mem", dir / "unreadable.gb");
    }

    const std::string d = dir.string();
    const auto path = [&](const std::string& name) { return joinPath(d, name); };
    std::vector<std::string> messages = {
        shortReadMessage(path("pipe.gb")),
        "Failed to open ROM file " + path("socket.gb") + ": " + std::strerror(ENXIO) + NL,
        "Failed to open ROM file " + path("dangling.gb") + ": " + failureText(Failure::NoSuchFile),
    };
    if (haveProcMem) {
        messages.push_back(shortReadMessage(path("unreadable.gb")));
    }
    std::sort(messages.begin(), messages.end());
    std::vector<std::string> rows = {
        HEADER,
        row(path("rom.gb"), "PLAIN"),
        row(path("file-link.gb"), "PLAIN"),
        quoted(path("zeros.gb")) +
            R"(,"","","None","None","No","ROM ONLY","32","0","Japan","0")" + NL,
    };

    Outcome run = cartolog({"-input", d, "-nofile"});
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(sortedLines(run.err), messages);
    EXPECT_EQ(sortedLines(run.out), rows);
    EXPECT_EQ(run.status, 0);

    // Walked, the directory and the link to it each give the inner ROM.
    rows.push_back(row(joinPath(path("sub"), "inner.gb"), "INNER"));
    rows.push_back(row(joinPath(path("dir-link"), "inner.gb"), "INNER"));
    std::sort(rows.begin(), rows.end());
    run = cartolog({"-input", d, "-nofile", "-recursive"});
    EXPECT_EQ(sortedLines(run.err), messages);
    EXPECT_EQ(sortedLines(run.out), rows);
    EXPECT_EQ(run.status, 0);
}

// --- A very large directory

TEST_F(Faults, HundredThousandEntriesGiveARowPerRomAndAMessagePerOtherFile) {
    const fs::path dir = temp / "many";
    fs::create_directory(dir);
    // The cross build runs under an emulator, where every file costs far more.
    const int emptyFiles = expect::POSIX_SYSTEM ? 100000 : 5000;
    for (int i = 0; i < emptyFiles; ++i) {
        std::ofstream(dir / std::to_string(i));
    }
    const std::string d = dir.string();
    std::vector<std::string> rows = {HEADER};
    for (const std::string title : {"FIRST", "SECOND", "THIRD"}) {
        writeTitledRom(dir / (title + ".gb"), title);
        rows.push_back(row(joinPath(d, title + ".gb"), title));
    }
    std::sort(rows.begin(), rows.end());

    const Outcome run = cartolog({"-input", d, "-nofile"});
    EXPECT_EQ(sortedLines(run.out), rows);
    EXPECT_EQ(run.status, 0);
    const std::vector<std::string> messages = sortedLines(run.err);
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(emptyFiles));
    std::set<std::string> wanted;
    for (int i = 0; i < emptyFiles; ++i) {
        wanted.insert(shortReadMessage(joinPath(d, std::to_string(i))));
    }
    EXPECT_TRUE(std::equal(messages.begin(), messages.end(), wanted.begin(), wanted.end()));
}

// --- File names that break naive readers

TEST_F(Faults, HostileFileNamesComeBackExactlyFromTheCsv) {
    REQUIRE_POSIX();  // file names here are bytes
    const fs::path dir = temp / "names";
    fs::create_directory(dir);
    std::vector<std::string> names = {
        "\"", "\"\"", "a\"b\"\"c", ",", "a,b,,c", "\t", "tab\there", "\n", "line\nbreak",
        "\r\n", "cr\rlf", "\"\n\",", "\xC3\x28", "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF",
        "\xFF\xFE", "\x80", "ends with space ", " ", "-input", "%s%n%%",
    };
    // Every byte that a name may hold, once each.
    for (int byte = 1; byte <= 0xFF; ++byte) {
        if (byte != '/') {
            names.push_back("b" + std::string(1, static_cast<char>(byte)) + ".gb");
        }
    }
    std::multiset<std::string> paths;
    for (const std::string& name : names) {
        writeTitledRom(dir / name, "T");
        paths.insert(joinPath(dir.string(), name));
    }

    const Outcome run = cartolog({"-input", dir.string(), "-output", at("out.csv"), "-stdout"},
                                 {.mayChange = {"out.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(reportedNames(run.out), paths);
    EXPECT_EQ(readFile(temp / "out.csv"), run.out);
}

// --- Files that change between the listing and the read

// Nothing outside the process can act at that moment reliably, so the walk
// runs here and the fault strikes as it opens the file.
TEST(FaultsInProcess, FileChangedBetweenListingAndReadIsReportedAndPassedOver) {
    if (!fault::OPEN_FAULTS_AVAILABLE) {
        GTEST_SKIP() << "opens cannot be intercepted here";
    }
    TempDir temp;
    const fs::path dir = temp / "roms";
    const std::string d = dir.string();
    const std::string victim = joinPath(d, "b.gb");
    const struct {
        const char* name;
        fault::OnOpen what;
        std::string message;
    } cases[] = {
        {"removed", fault::OnOpen::Remove,
         "Failed to open ROM file " + victim + ": " + failureText(Failure::NoSuchFile)},
        {"shrunk", fault::OnOpen::Shrink, shortReadMessage(victim)},
        {"replaced by a directory", fault::OnOpen::ReplaceWithDirectory, shortReadMessage(victim)},
    };
    for (const auto& change : cases) {
        SCOPED_TRACE(change.name);
        fs::remove_all(dir);
        fs::create_directory(dir);
        writeTitledRom(dir / "a.gb", "ALPHA");
        writeTitledRom(dir / "b.gb", "BRAVO");
        writeTitledRom(dir / "c.gb", "CHARLIE");

        RunOptions options;
        const std::wstring wide = corePath(dir);
        StreamCapture report;
        MessageCapture messages;
        fault::armOpenFault("b.gb", change.what, 100);
        const bool walked = scanDirectory(wide.c_str(), report.stream(), options);

        EXPECT_EQ(fault::openFaultsStruck(), 1);
        EXPECT_TRUE(walked);
        EXPECT_EQ(messages.contents(), change.message);
        std::vector<std::string> rows = {row(joinPath(d, "a.gb"), "ALPHA"),
                                         row(joinPath(d, "c.gb"), "CHARLIE")};
        EXPECT_EQ(sortedLines(report.contents()), rows);
    }
}

TEST(FaultsInProcess, DirectoryRemovedBetweenListingAndWalkEndsTheWalk) {
    if (!fault::OPEN_FAULTS_AVAILABLE) {
        GTEST_SKIP() << "opens cannot be intercepted here";
    }
    TempDir temp;
    const fs::path dir = temp / "roms";
    fs::create_directories(dir / "sub");
    writeTitledRom(dir / "a.gb", "ALPHA");
    const std::string d = dir.string();

    RunOptions options;
    options.flags = OPT_RECURSIVE;
    const std::wstring wide = corePath(dir);
    StreamCapture report;
    MessageCapture messages;
    fault::armOpenFault("sub", fault::OnOpen::Remove);
    const bool walked = scanDirectory(wide.c_str(), report.stream(), options);

    EXPECT_EQ(fault::openFaultsStruck(), 1);
    EXPECT_FALSE(walked);
    EXPECT_EQ(messages.contents(), "Couldn't find first file in directory " +
                                       joinPath(joinPath(d, "sub"), "*") + ": " +
                                       failureText(Failure::NoSuchDirectory));
    // The ROM has its row only if the listing gave it before the directory.
    const std::string rows = report.contents();
    EXPECT_TRUE(rows.empty() || rows == row(joinPath(d, "a.gb"), "ALPHA")) << rows;
}

}  // namespace
