// The built program, run on trees that each test makes: its standard output,
// standard error and exit status, and that it leaves every file other than
// its output as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/expect.h"
#include "support/fs.h"
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
const std::string SEP(1, static_cast<char>(expect::PATH_RULES.separator));
const std::string HEADER =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,ROM Size in KiB,"
    "RAM Size in KiB,Destination,Version" +
    NL;

// Cases that need what only POSIX systems offer here (named pipes, symbolic
// links, /dev/full, a current directory beyond the path limit).
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

// A ROM that its title tells apart: MBC1, 64 KiB of ROM, no RAM, worldwide,
// old licensee 0x00, version 0.
RomImage titledRom(const std::string& title) {
    RomImage rom = demoRom();
    for (std::size_t i = 0; i < 11; ++i) {
        rom.set(TITLE_OFFSET + i, 0);
    }
    rom.text(TITLE_OFFSET, title);
    return rom;
}

std::string romBytes(const std::string& title) {
    const RomImage rom = titledRom(title);
    return std::string(rom.bytes.begin(), rom.bytes.end());
}

// Titles of at most 11 bytes stay clear of the manufacturer code.
void writeTitledRom(const fs::path& path, const std::string& title) {
    writeRom(path, titledRom(title));
}

std::string row(const std::string& path, const std::string& title) {
    return quoted(path) + "," + quoted(title) +
           R"(,"","None","None","No","MBC1","64","0","Worldwide","0")" + NL;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Rows come in the system's listing order: sorts each run of rows between
// header lines, so that reports compare as sets of rows.
std::string sortedRows(const std::string& report) {
    std::string sorted;
    std::vector<std::string> rows;
    const auto flush = [&] {
        std::sort(rows.begin(), rows.end());
        for (const std::string& line : rows) {
            sorted += line;
        }
        rows.clear();
    };
    for (std::size_t start = 0; start < report.size();) {
        const std::size_t end = report.find(NL, start);
        const std::size_t next = end == std::string::npos ? report.size() : end + NL.size();
        std::string line = report.substr(start, next - start);
        if (line == HEADER) {
            flush();
            sorted += line;
        } else {
            rows.push_back(std::move(line));
        }
        start = next;
    }
    flush();
    return sorted;
}

// Makes directories below `path` until the deepest one's path has exactly
// `length` characters, and returns that path.
std::string makeDeepDirectory(std::string path, std::size_t length) {
    fs::create_directories(path);
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;
        const std::size_t name = room <= 100 ? room : (room - 100 >= 2 ? 100 : 50);
        path = joinPath(path, std::string(name, 'd'));
        fs::create_directory(path);
    }
    return path;
}

// Names of the entries of `directory` in the order in which the system lists
// them, which is the order of the walk.
std::vector<std::string> listingOrder(const fs::path& directory) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

struct RunSetup {
    std::string cwd = {};           // empty: the temporary directory
    std::string stdoutPath = {};    // empty: captured
    std::string program = {};       // empty: the program under test
    std::string argumentZero = {};  // empty: the program's path
    // Files below the temporary directory that the run may write, relative
    // to it with '/' between names.
    std::vector<std::string> mayChange = {};
};

class Cartolog : public ::testing::Test {
protected:
    TempDir temp;

    std::string at(const std::string& relative) const { return (temp / relative).string(); }

    // Runs the program and checks that it changed nothing below the
    // temporary directory except the files named in `setup.mayChange`.
    Outcome cartolog(const std::vector<std::string>& args, const RunSetup& setup = {}) {
        TreeSnapshot before = snapshotTree(temp.path());
        proc::Request request;
        request.program = setup.program.empty() ? CARTOLOG_EXE : setup.program;
        request.argumentZero = setup.argumentZero;
        request.args = args;
        request.workingDirectory = setup.cwd.empty() ? temp.path().string() : setup.cwd;
        request.stdoutPath = setup.stdoutPath;
        const proc::Result result = proc::run(request);
        EXPECT_EQ(result.startError, "");
        EXPECT_TRUE(result.exited) << "the program did not exit by itself";
        TreeSnapshot after = snapshotTree(temp.path());
        for (const std::string& name : setup.mayChange) {
            before.erase(name);
            after.erase(name);
        }
        EXPECT_EQ(snapshotChanges(before, after), "");
        return Outcome{result.exitStatus, result.out, result.err};
    }

    // roms/a.gb and roms/b.gb, with the paths the walk gives them.
    std::string makeTwoRoms() {
        fs::create_directory(temp / "roms");
        writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
        writeTitledRom(temp / "roms" / "b.gb", "BRAVO");
        return row(joinPath(at("roms"), "a.gb"), "ALPHA") +
               row(joinPath(at("roms"), "b.gb"), "BRAVO");
    }
};

// --- Destinations and their order

TEST_F(Cartolog, DefaultOutputIsOutputCsvInTheInputDirectoryAndIsPassedOver) {
    const std::string rows = makeTwoRoms();
    // A ROM image under the output's name: read as a ROM only if the walk
    // failed to pass over the output.
    writeTitledRom(temp / "roms" / "output.csv", "STALE");
    const Outcome run = cartolog({"-input", at("roms")}, {.mayChange = {"roms/output.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(readFile(temp / "roms" / "output.csv")), sortedRows(HEADER + rows));
}

TEST_F(Cartolog, StdoutGetsTheSameReportAsTheFileAndHeadlessDropsTheHeaderLine) {
    const std::string rows = makeTwoRoms();
    const std::string file = at("report.csv");
    Outcome run =
        cartolog({"-input", at("roms"), "-output", file, "-stdout"}, {.mayChange = {"report.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + rows));
    EXPECT_EQ(sortedRows(readFile(file)), sortedRows(HEADER + rows));

    run = cartolog({"-headless", "-stdout", "-input", at("roms"), "-output", file},
                   {.mayChange = {"report.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(run.out), sortedRows(rows));
    EXPECT_EQ(sortedRows(readFile(file)), sortedRows(rows));
}

TEST_F(Cartolog, NofileWritesOnlyToStdoutAndAppendWithItOnlyWarns) {
    const std::string rows = makeTwoRoms();
    Outcome run = cartolog({"-input", at("roms"), "-nofile"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + rows));

    run = cartolog({"-input", at("roms"), "-append", "-nofile"});
    EXPECT_EQ(run.err,
              "Warning - 'append' is only useful for file output, which has been disabled by "
              "'nofile'." +
                  NL);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + rows));
}

TEST_F(Cartolog, GuiIsRefusedBeforeAnyOutputIsOpened) {
    makeTwoRoms();
    writeBytes(temp / "roms" / "output.csv", "kept" + NL);
    writeBytes(temp / "report.csv", "kept" + NL);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-input", at("roms"), "-gui"},
             {"-gui", "-input", at("roms"), "-output", at("report.csv"), "-stdout"}}) {
        const Outcome run = cartolog(args);
        EXPECT_EQ(run.err, "GUI mode is not supported yet." + NL);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
    }
}

TEST_F(Cartolog, AppendAddsOneHeaderLinePerRunAndNeverReadsTheOutput) {
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    // Appending keeps this ROM image in the output, where a walk that did not
    // pass over the output would find it.
    writeTitledRom(temp / "roms" / "output.csv", "OLD");
    const std::string output = joinPath(at("roms"), "output.csv");
    const std::string rowA = row(joinPath(at("roms"), "a.gb"), "ALPHA");
    const RunSetup setup{.mayChange = {"roms/output.csv"}};
    for (int i = 0; i < 2; ++i) {
        const Outcome run = cartolog({"-input", at("roms"), "-append"}, setup);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
    const Outcome run = cartolog({"-input", at("roms"), "-append", "-headless"}, setup);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(output), romBytes("OLD") + HEADER + rowA + HEADER + rowA + rowA);

    // Without -append the file starts again.
    EXPECT_EQ(cartolog({"-input", at("roms")}, setup).status, 0);
    EXPECT_EQ(readFile(output), HEADER + rowA);
}

TEST_F(Cartolog, OutputNamingADirectoryGetsOutputCsvInside) {
    const std::string rows = makeTwoRoms();
    fs::create_directory(temp / "out");
    const std::string expected = joinPath(at("out"), "output.csv");
    for (const std::string& output : {at("out"), joinPath(at("out"), "")}) {
        SCOPED_TRACE(output);
        const Outcome run =
            cartolog({"-input", at("roms"), "-output", output}, {.mayChange = {"out/output.csv"}});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(sortedRows(readFile(expected)), sortedRows(HEADER + rows));
    }

    // A file in a folder that does not exist: the second try names the path
    // extended with output.csv.
    const std::string missing = joinPath(joinPath(at("nowhere"), "report.csv"), "output.csv");
    const Outcome run =
        cartolog({"-input", at("roms"), "-output", joinPath(at("nowhere"), "report.csv")});
    EXPECT_EQ(run.err, "Failed to create/open output file " + missing + ": " +
                           failureText(Failure::NoSuchFile));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
}

// --- An input that cannot be listed

TEST_F(Cartolog, AFailingWalkLeavesAnExplicitOutputHoldingTheHeaderLine) {
    const std::string input = at("missing");
    const Outcome run =
        cartolog({"-input", input, "-output", at("report.csv")}, {.mayChange = {"report.csv"}});
    EXPECT_EQ(run.err, "Couldn't find first file in directory " + joinPath(input, "*") + ": " +
                           failureText(Failure::NoSuchDirectory));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(temp / "report.csv"), HEADER);
}

TEST_F(Cartolog, WithoutOutputAnInputThatIsNoDirectoryCreatesAndEmptiesNothing) {
    makeTwoRoms();
    struct Case {
        std::string input;
        Failure failure;
    };
    for (const Case& c : {Case{at("missing"), Failure::NoSuchDirectory},
                          Case{joinPath(at("roms"), "a.gb"), Failure::NotADirectory}}) {
        // "-recursive" stands for a plain run, which opens its file with "w".
        for (const char* mode : {"-recursive", "-append", "-stdout", "-nofile"}) {
            SCOPED_TRACE(c.input + " " + mode);
            // The snapshot shows that no file appeared and a.gb kept its bytes.
            const Outcome run = cartolog({"-input", c.input, mode});
            EXPECT_EQ(run.err, "Couldn't find first file in directory " + joinPath(c.input, "*") +
                                   ": " + failureText(c.failure));
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.status, 1);
        }
    }
}

// --- The walk

TEST_F(Cartolog, RecursionWalksEverySubdirectoryIncludingDotDirectories) {
    const std::string roms = at("roms");
    const std::string top = makeTwoRoms();
    for (const char* dir : {"sub", "sub/deeper", ".cache", "..x", "empty"}) {
        fs::create_directories(temp / "roms" / dir);
    }
    writeTitledRom(temp / "roms" / "sub" / "c.gb", "CHARLIE");
    writeTitledRom(temp / "roms" / "sub" / "deeper" / "d.gb", "DELTA");
    writeTitledRom(temp / "roms" / ".cache" / "e.gb", "ECHO");
    writeTitledRom(temp / "roms" / "..x" / "f.gb", "FOXTROT");
    // Only the run's own output is passed over, not every file of that name.
    writeTitledRom(temp / "roms" / "sub" / "output.csv", "GOLF");
    const std::string sub = joinPath(roms, "sub");
    const std::string below = row(joinPath(sub, "c.gb"), "CHARLIE") +
                              row(joinPath(joinPath(sub, "deeper"), "d.gb"), "DELTA") +
                              row(joinPath(joinPath(roms, ".cache"), "e.gb"), "ECHO") +
                              row(joinPath(joinPath(roms, "..x"), "f.gb"), "FOXTROT") +
                              row(joinPath(sub, "output.csv"), "GOLF");
    const RunSetup setup{.mayChange = {"roms/output.csv"}};

    Outcome run = cartolog({"-input", roms}, setup);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(readFile(temp / "roms" / "output.csv")), sortedRows(HEADER + top));

    run = cartolog({"-input", roms, "-recursive"}, setup);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(readFile(temp / "roms" / "output.csv")), sortedRows(HEADER + top + below));
}

TEST_F(Cartolog, TrailingSeparatorIsNotDoubled) {
    makeTwoRoms();
    fs::create_directory(temp / "roms" / "sub");
    writeTitledRom(temp / "roms" / "sub" / "c.gb", "CHARLIE");
    // Relative to the working directory, as a user would type it.
    const std::string input = "roms" + SEP;
    const std::string rows = row("roms" + SEP + "a.gb", "ALPHA") +
                             row("roms" + SEP + "b.gb", "BRAVO") +
                             row("roms" + SEP + "sub" + SEP + "c.gb", "CHARLIE");
    const Outcome run =
        cartolog({"-input", input, "-recursive", "-stdout"}, {.mayChange = {"roms/output.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + rows));
    EXPECT_EQ(sortedRows(readFile(temp / "roms" / "output.csv")), sortedRows(HEADER + rows));
}

TEST_F(Cartolog, EmptyPathsMeanTheCurrentDirectory) {
    makeTwoRoms();
    fs::create_directory(temp / "roms" / "sub");
    writeTitledRom(temp / "roms" / "sub" / "c.gb", "CHARLIE");
    // Entry paths are bare names, and the default output is output.csv here.
    const std::string bare =
        row("a.gb", "ALPHA") + row("b.gb", "BRAVO") + row("sub" + SEP + "c.gb", "CHARLIE");
    Outcome run = cartolog({"-input", "", "-recursive", "-stdout"},
                           {.cwd = at("roms"), .mayChange = {"roms/output.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + bare));
    EXPECT_EQ(sortedRows(readFile(temp / "roms" / "output.csv")), sortedRows(HEADER + bare));

    fs::remove(temp / "roms" / "output.csv");
    fs::create_directory(temp / "elsewhere");
    run = cartolog({"-input", at("roms"), "-output", ""},
                   {.cwd = at("elsewhere"), .mayChange = {"elsewhere/output.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(readFile(temp / "elsewhere" / "output.csv")),
              sortedRows(HEADER + row(joinPath(at("roms"), "a.gb"), "ALPHA") +
                         row(joinPath(at("roms"), "b.gb"), "BRAVO")));
}

TEST_F(Cartolog, FileThatIsNotARomIsReportedAndPassedOver) {
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    writeRom(temp / "roms" / "short.gb", titledRom("SHORT"), ROM_READ_SIZE - 1);
    const Outcome run = cartolog({"-input", at("roms"), "-nofile"});
    EXPECT_EQ(run.err, "Not able to read at least 4 KiB from file " +
                           joinPath(at("roms"), "short.gb") +
                           ". This file is probably not a GB ROM." + NL);
    EXPECT_EQ(run.out, HEADER + row(joinPath(at("roms"), "a.gb"), "ALPHA"));
    EXPECT_EQ(run.status, 0);
}

// --- The 259-character limit on paths

TEST_F(Cartolog, PathValuesLongerThanTheLimitAreRefusedNotCut) {
    const std::string rows = makeTwoRoms();
    const std::string at259 = joinPath(temp.path().string(), "");
    const std::string output = at259 + std::string(259 - at259.size(), 'o');
    Outcome run = cartolog({"-input", at("roms"), "-output", output},
                           {.mayChange = {fs::path(output).filename().string()}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sortedRows(readFile(output)), sortedRows(HEADER + rows));
    fs::remove(output);

    // Cut to 259 characters, this value would name the file above.
    run = cartolog({"-input", at("roms"), "-output", output + "o"});
    EXPECT_EQ(run.err, "Failed to copy output path or filename string: " +
                           failureText(Failure::PathTooLong));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);

    run = cartolog({"-input", at259 + std::string(260 - at259.size(), 'i')});
    EXPECT_EQ(run.err, "Failed to copy input path string: " + failureText(Failure::PathTooLong));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
}

TEST_F(Cartolog, PathOfExactlyTheLimitIsUsedAndASearchPathBeyondItEndsTheWalk) {
    const std::string deep = makeDeepDirectory(joinPath(at("limit"), "deep"), 240);
    const std::string name = std::string(259 - 241 - 3, 'f') + ".gb";
    writeTitledRom(fs::path(deep) / name, "EDGE");
    const std::string path = joinPath(deep, name);
    ASSERT_EQ(path.size(), 259U);
    Outcome run = cartolog({"-input", at("limit"), "-recursive", "-nofile"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, HEADER + row(path, "EDGE"));
    EXPECT_EQ(run.status, 0);

    // Listing this one takes its path, a separator and "*": 260 characters.
    const std::string tooDeep = makeDeepDirectory(joinPath(at("over"), "deep"), 258);
    run = cartolog({"-input", at("over"), "-recursive", "-nofile"});
    EXPECT_EQ(run.err, "Failed to append path segment \"*\" to \"" + tooDeep + SEP +
                           "\": " + failureText(Failure::PathTooLong) +
                           "Failed to prepare search path for input path " + tooDeep);
    EXPECT_EQ(run.out, HEADER);
    EXPECT_EQ(run.status, 1);
}

TEST_F(Cartolog, EntryPathBeyondTheLimitDeepInTheWalkEndsEveryLevelWithOneMessage) {
    const std::string root = at("tree");
    const std::string deep = makeDeepDirectory(joinPath(root, "deep"), 240);
    const std::string name = std::string(260 - 241 - 3, 'f') + ".gb";
    writeTitledRom(fs::path(deep) / name, "TOOFAR");
    std::vector<std::string> siblings;
    for (char c = '0'; c <= '9'; ++c) {
        siblings.push_back(std::string("s") + c + ".gb");
        writeTitledRom(fs::path(root) / siblings.back(), "S" + std::string(1, c));
    }
    // Siblings listed after the deep directory must never be read.
    std::string before;
    for (const std::string& entry : listingOrder(root)) {
        if (entry == "deep") {
            break;
        }
        before += row(joinPath(root, entry), "S" + entry.substr(1, 1));
    }
    const Outcome run = cartolog({"-input", root, "-recursive", "-nofile"});
    EXPECT_EQ(run.err, "Failed to append path segment \"" + name + "\" to \"" + deep + SEP +
                           "\": " + failureText(Failure::PathTooLong) +
                           "Failed to create path for input file " + name + " in directory " +
                           deep);
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + before));
    EXPECT_EQ(run.status, 1);
}

// --- Files of other kinds

TEST_F(Cartolog, SymbolicLinksAreFollowedAndADanglingOneIsReported) {
    REQUIRE_POSIX();
    fs::create_directories(temp / "real");
    fs::create_directories(temp / "roms");
    writeTitledRom(temp / "real" / "r.gb", "REAL");
    fs::create_symlink("../real/r.gb", temp / "roms" / "rom-link.gb");
    fs::create_directory_symlink("../real", temp / "roms" / "dir-link");
    fs::create_symlink("nowhere.gb", temp / "roms" / "broken.gb");
    const std::string roms = at("roms");
    const std::string broken = "Failed to open ROM file " + joinPath(roms, "broken.gb") + ": " +
                               failureText(Failure::NoSuchFile);
    const std::string linkRow = row(joinPath(roms, "rom-link.gb"), "REAL");

    Outcome run = cartolog({"-input", roms, "-nofile"});
    EXPECT_EQ(run.err, broken);
    EXPECT_EQ(run.out, HEADER + linkRow);
    EXPECT_EQ(run.status, 0);

    run = cartolog({"-input", roms, "-nofile", "-recursive"});
    EXPECT_EQ(run.err, broken);
    EXPECT_EQ(
        sortedRows(run.out),
        sortedRows(HEADER + linkRow + row(joinPath(joinPath(roms, "dir-link"), "r.gb"), "REAL")));
    EXPECT_EQ(run.status, 0);
}

TEST_F(Cartolog, NamedPipeGivesAShortReadInsteadOfAHang) {
    REQUIRE_POSIX();
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    ASSERT_TRUE(makeNamedPipe(temp / "roms" / "pipe.gb"));
    const Outcome run = cartolog({"-input", at("roms"), "-nofile"});
    EXPECT_EQ(run.err, "Not able to read at least 4 KiB from file " +
                           joinPath(at("roms"), "pipe.gb") +
                           ". This file is probably not a GB ROM." + NL);
    EXPECT_EQ(run.out, HEADER + row(joinPath(at("roms"), "a.gb"), "ALPHA"));
    EXPECT_EQ(run.status, 0);
}

TEST_F(Cartolog, FileNameAndTitleBytesPassThroughUnchanged) {
    REQUIRE_POSIX();  // file names here are bytes
    const std::string dir = at("r\xE9ms");
    fs::create_directory(dir);
    const std::string title = "A\"B,C\xC4";
    writeTitledRom(fs::path(dir) / "caf\xE9.gb", title);
    writeBytes(fs::path(dir) / "\xFF.txt", "not a ROM");
    const Outcome run = cartolog({"-input", dir, "-nofile"});
    EXPECT_EQ(run.err, "Not able to read at least 4 KiB from file " + joinPath(dir, "\xFF.txt") +
                           ". This file is probably not a GB ROM." + NL);
    EXPECT_EQ(run.out, HEADER + row(joinPath(dir, "caf\xE9.gb"), title));
    EXPECT_EQ(run.status, 0);
}

// --- Data that cannot be written

TEST_F(Cartolog, WriteFailureAtTheEndOfTheRunFailsIt) {
    REQUIRE_POSIX();
    const std::string rows = makeTwoRoms();
    const std::string full = "/dev/full";
    Outcome run = cartolog({"-input", at("roms"), "-output", full, "-stdout"});
    EXPECT_EQ(run.err,
              "Failed to write to output file " + full + ": " + failureText(Failure::DeviceFull));
    EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + rows));
    EXPECT_EQ(run.status, 1);

    run = cartolog({"-input", at("roms"), "-nofile"}, {.stdoutPath = full});
    EXPECT_EQ(run.err, "Failed to write to stdout: " + failureText(Failure::DeviceFull));
    EXPECT_EQ(run.status, 1);

    // A failed walk does not hide a failed write.
    run = cartolog({"-input", at("missing"), "-output", full});
    EXPECT_EQ(run.err, "Couldn't find first file in directory " + joinPath(at("missing"), "*") +
                           ": " + failureText(Failure::NoSuchDirectory) +
                           "Failed to write to output file " + full + ": " +
                           failureText(Failure::DeviceFull));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
}

TEST_F(Cartolog, WriteFailureDuringTheWalkEndsItAndIsReportedOnce) {
    REQUIRE_POSIX();
    fs::create_directory(temp / "roms");
    // Some 250 KiB of rows, several times what a stream buffers, so that the
    // file refuses them during the walk and not only when it is closed.
    constexpr int count = 1000;
    std::vector<std::string> rows;
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string(180, 'r') + std::to_string(i) + ".gb";
        writeTitledRom(temp / "roms" / name, "R" + std::to_string(i));
        rows.push_back(row(joinPath(at("roms"), name), "R" + std::to_string(i)));
    }
    const Outcome run = cartolog({"-input", at("roms"), "-output", "/dev/full", "-stdout"});
    EXPECT_EQ(run.err,
              "Failed to write header to the output file: " + failureText(Failure::DeviceFull));
    EXPECT_EQ(run.status, 1);
    // The row that failed on the file, and every later one, never reach
    // standard output.
    ASSERT_EQ(run.out.substr(0, HEADER.size()), HEADER);
    int written = 0;
    for (std::size_t start = HEADER.size(); start < run.out.size(); ++written) {
        const std::size_t end = run.out.find(NL, start);
        ASSERT_NE(end, std::string::npos) << "a row cut short";
        const std::string line = run.out.substr(start, end + NL.size() - start);
        EXPECT_NE(std::find(rows.begin(), rows.end(), line), rows.end()) << line;
        start = end + NL.size();
    }
    EXPECT_LT(written, count);
}

// --- The current directory

TEST_F(Cartolog, CurrentDirectoryLongerThanTheLimitIsRefused) {
    REQUIRE_POSIX();
    const std::string cwd = makeDeepDirectory(at("cwd"), 300);
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-gui"}, {"-nofile"}}) {
        const Outcome run = cartolog(args, {.cwd = cwd});
        EXPECT_EQ(run.err, "Failed to get current working directory as input: " +
                               failureText(Failure::CurrentDirTooLong));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
    }
}

// --- The program's own files

TEST_F(Cartolog, OutputIsNeverCataloguedWhateverItsSpelling) {
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    const std::string roms = at("roms");
    const std::string rowA = row(joinPath(roms, "a.gb"), "ALPHA");
    struct Spelling {
        std::string output;
        std::string cwd;
    };
    std::vector<Spelling> spellings = {
        {joinPath(joinPath(roms, "."), "out.csv"), ""},
        {roms + SEP + SEP + "out.csv", ""},
        {"out.csv", roms},
        {joinPath("roms", "out.csv"), ""},
    };
    if (expect::POSIX_SYSTEM) {
        fs::create_symlink(fs::path("roms") / "out.csv", temp / "link.csv");
        spellings.push_back({at("link.csv"), ""});
    }
    for (const Spelling& spelling : spellings) {
        SCOPED_TRACE(spelling.output);
        // A ROM image: appending keeps it, and it would get a row if read.
        writeTitledRom(temp / "roms" / "out.csv", "OUTPUT");
        Outcome run = cartolog({"-input", roms, "-output", spelling.output, "-append", "-stdout"},
                               {.cwd = spelling.cwd, .mayChange = {"roms/out.csv"}});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + rowA);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(readFile(temp / "roms" / "out.csv"), romBytes("OUTPUT") + HEADER + rowA);

        // With -nofile the output is only named, and still passed over.
        run = cartolog({"-input", roms, "-nofile", "-output", spelling.output},
                       {.cwd = spelling.cwd});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + rowA);
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(Cartolog, ProgramNeverCataloguesItselfWhateverItsSpelling) {
    fs::create_directory(temp / "tools");
    const fs::path copy = temp / "tools" / fs::path(CARTOLOG_EXE).filename();
    fs::copy_file(CARTOLOG_EXE, copy);
    fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
    writeTitledRom(temp / "tools" / "a.gb", "ALPHA");
    const std::string tools = at("tools");
    const std::string name = copy.filename().string();
    struct Spelling {
        std::string program;
        std::string argumentZero;
        std::string cwd;
    };
    std::vector<Spelling> spellings = {
        {copy.string(), "", ""},
        {copy.string(), "." + SEP + name, tools},
        {copy.string(), joinPath("tools", name), ""},
        {copy.string(), tools + SEP + SEP + name, ""},
    };
    if (expect::POSIX_SYSTEM) {
        fs::create_directory(temp / "bin");
        fs::create_symlink(fs::path("..") / "tools" / name, temp / "bin" / "cl");
        spellings.push_back({(temp / "bin" / "cl").string(), "", ""});
    }
    for (const Spelling& spelling : spellings) {
        SCOPED_TRACE(spelling.program + " as " + spelling.argumentZero);
        const Outcome run =
            cartolog({"-input", tools, "-nofile"}, {.cwd = spelling.cwd,
                                                    .program = spelling.program,
                                                    .argumentZero = spelling.argumentZero});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + row(joinPath(tools, "a.gb"), "ALPHA"));
        EXPECT_EQ(run.status, 0);
    }
}

}  // namespace
