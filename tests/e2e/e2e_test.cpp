// The built program on generated trees: every byte it prints, its status, the
// files it writes, and that it leaves everything else as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e_fixture.h"
#include "support/fs.h"

using namespace e2e;
using expect::Failure;
using expect::failureText;
using expect::joinPath;

namespace {

// The rows of the tree that makeRoms builds, listed from `roms`.
std::string romRows(const std::string& roms, bool recursive) {
    std::string rows = row(joinPath(roms, "a.gb"), "ALPHA") + row(joinPath(roms, "b.gb"), "BRAVO");
    if (recursive) {
        const std::string sub = joinPath(roms, "sub");
        rows += row(joinPath(sub, "c.gb"), "CHARLIE") +
                row(joinPath(joinPath(sub, "deeper"), "d.gb"), "DELTA") +
                row(joinPath(joinPath(roms, ".cache"), "e.gb"), "ECHO") +
                row(joinPath(joinPath(roms, "..x"), "f.gb"), "FOXTROT") +
                // Only the run's own output is passed over, not every output.csv.
                row(joinPath(sub, "output.csv"), "GOLF");
    }
    return rows;
}

std::string listingFailure(const std::string& directory, Failure failure) {
    return "Couldn't find first file in directory " + joinPath(directory, "*") + ": " +
           failureText(failure);
}

class Run : public Cartolog {
protected:
    void makeRoms() {
        for (const char* dir : {"roms/sub/deeper", "roms/.cache", "roms/..x", "roms/empty", "out"}) {
            fs::create_directories(temp / dir);
        }
        const std::pair<const char*, const char*> roms[] = {
            {"a.gb", "ALPHA"},           {"b.gb", "BRAVO"},       {"sub/c.gb", "CHARLIE"},
            {"sub/deeper/d.gb", "DELTA"}, {".cache/e.gb", "ECHO"}, {"..x/f.gb", "FOXTROT"},
            {"sub/output.csv", "GOLF"}};
        for (const auto& [name, title] : roms) {
            writeTitledRom(temp / "roms" / name, title);
        }
    }
};

TEST_F(Run, DestinationsAndTheirOrder) {
    makeRoms();
    const std::string roms = at("roms");
    const std::string top = romRows(roms, false);
    const std::string gui = "GUI mode is not supported yet." + NL;
    const std::string full = "/dev/full";
    const std::string at259 = joinPath(bytesOf(temp.path()), "");
    const std::string name259(259 - at259.size(), 'o');
    std::vector<Case> cases = {
        // A ROM image under the default output's name gets a row if not passed over.
        {"file only", {"-input", roms}, "", "", 0, {{"roms/output.csv", HEADER + top}},
         {{"roms/output.csv", romBytes("STALE")}}},
        {"-stdout", {"-input", roms, "-output", at("report.csv"), "-stdout"}, HEADER + top, "", 0,
         {{"report.csv", HEADER + top}}},
        {"-headless", {"-headless", "-stdout", "-input", roms, "-output", at("report.csv")}, top, "",
         0, {{"report.csv", top}}},
        {"-nofile", {"-input", roms, "-nofile"}, HEADER + top, ""},
        {"-nofile -append", {"-input", roms, "-append", "-nofile"}, HEADER + top,
         "Warning - 'append' is only useful for file output, which has been disabled by "
         "'nofile'." + NL},
        {"-gui", {"-input", roms, "-gui"}, "", gui, 1, {}, {{"roms/output.csv", "kept" + NL}}},
        {"-gui first", {"-gui", "-input", roms, "-output", at("report.csv"), "-stdout"}, "", gui, 1,
         {}, {{"report.csv", "kept" + NL}}},
        {"-output naming a directory", {"-input", roms, "-output", at("out")}, "", "", 0,
         {{"out/output.csv", HEADER + top}}},
        {"-output naming a directory/", {"-input", roms, "-output", joinPath(at("out"), "")}, "", "",
         0, {{"out/output.csv", HEADER + top}}},
        {"empty -output", {"-input", roms, "-output", ""}, "", "", 0,
         {{"out/output.csv", HEADER + top}}, {}, at("out")},
        // The second try to open names the path extended with output.csv.
        {"-output in a missing folder", {"-input", roms, "-output", joinPath(at("no"), "r.csv")}, "",
         "Failed to create/open output file " + joinPath(joinPath(at("no"), "r.csv"), "output.csv") +
             ": " + failureText(Failure::NoSuchFile),
         1},
        {"failing walk with -output", {"-input", at("missing"), "-output", at("report.csv")}, "",
         listingFailure(at("missing"), Failure::NoSuchDirectory), 1, {{"report.csv", HEADER}}},
        {"-output of 259 characters", {"-input", roms, "-output", at259 + name259}, "", "", 0,
         {{name259, HEADER + top}}},
        // Cut to 259 characters, this one would name the file above.
        {"-output of 260 characters", {"-input", roms, "-output", at259 + name259 + "o"}, "",
         "Failed to copy output path or filename string: " + failureText(Failure::PathTooLong), 1},
        {"-input of 260 characters", {"-input", at259 + name259 + "i"}, "",
         "Failed to copy input path string: " + failureText(Failure::PathTooLong), 1},
        {"file on /dev/full", {"-input", roms, "-output", full, "-stdout"}, HEADER + top,
         "Failed to write to output file " + full + ": " + failureText(Failure::DeviceFull), 1, {},
         {}, "", "", true},
        {"stdout on /dev/full", {"-input", roms, "-nofile"}, "",
         "Failed to write to stdout: " + failureText(Failure::DeviceFull), 1, {}, {}, "", full,
         true},
        {"failed walk, then failed write", {"-input", at("missing"), "-output", full}, "",
         listingFailure(at("missing"), Failure::NoSuchDirectory) + "Failed to write to output file " +
             full + ": " + failureText(Failure::DeviceFull),
         1, {}, {}, "", "", true},
    };
    // Without -output, an input that is no directory: no file is created or
    // emptied (the snapshot shows it) and nothing precedes the message.
    for (const auto& [input, failure] : {std::pair{at("missing"), Failure::NoSuchDirectory},
                                         std::pair{joinPath(roms, "a.gb"), Failure::NotADirectory}}) {
        for (const char* mode : {"-recursive", "-append", "-stdout", "-nofile"}) {
            cases.push_back({input + " " + mode, {"-input", input, mode}, "",
                             listingFailure(input, failure), 1});
        }
    }
    check(cases);
}

TEST_F(Run, WalkAndPathLimit) {
    makeRoms();
    const std::string roms = at("roms");
    const std::string limit = makeDeepDirectory(joinPath(at("limit"), "deep"), 240);
    const std::string edge = joinPath(limit, std::string(259 - 241 - 3, 'f') + ".gb");
    ASSERT_EQ(edge.size(), 259U);
    writeTitledRom(edge, "EDGE");
    // Listing this one takes its path, a separator and "*": 260 characters.
    const std::string over = makeDeepDirectory(joinPath(at("over"), "deep"), 258);

    // An entry path of 260 deep in the walk ends every level: siblings listed
    // after the deep directory are never read.
    const std::string tree = at("tree");
    const std::string deep = makeDeepDirectory(joinPath(tree, "deep"), 240);
    const std::string far = std::string(260 - 241 - 3, 'f') + ".gb";
    writeTitledRom(joinPath(deep, far), "FAR");
    for (char c = '0'; c <= '9'; ++c) {
        writeTitledRom(temp / "tree" / (std::string("s") + c + ".gb"), std::string("S") + c);
    }
    std::string listedBefore;
    for (const fs::directory_entry& entry : fs::directory_iterator(temp / "tree")) {
        const std::string name = entry.path().filename().string();
        if (name == "deep") {
            break;
        }
        listedBefore += row(joinPath(tree, name), "S" + name.substr(1, 1));
    }

    const std::string tooLong = ": " + failureText(Failure::PathTooLong);
    std::vector<Case> cases = {
        {"-recursive", {"-input", roms, "-recursive"}, "", "", 0,
         {{"roms/output.csv", HEADER + romRows(roms, true)}}},
        {"trailing separator", {"-input", "roms" + SEP, "-recursive", "-stdout"},
         HEADER + romRows("roms" + SEP, true), "", 0,
         {{"roms/output.csv", HEADER + romRows("roms" + SEP, true)}}},
        {"empty -input", {"-input", "", "-recursive", "-stdout"}, HEADER + romRows("", true), "", 0,
         {{"roms/output.csv", HEADER + romRows("", true)}}, {}, roms},
        {"path of 259 characters", {"-input", at("limit"), "-recursive", "-nofile"},
         HEADER + row(edge, "EDGE"), ""},
        {"search path of 260 characters", {"-input", at("over"), "-recursive", "-nofile"}, HEADER,
         "Failed to append path segment \"*\" to \"" + over + SEP + "\"" + tooLong +
             "Failed to prepare search path for input path " + over,
         1},
        {"entry path of 260 characters", {"-input", tree, "-recursive", "-nofile"},
         HEADER + listedBefore,
         "Failed to append path segment \"" + far + "\" to \"" + deep + SEP + "\"" + tooLong +
             "Failed to create path for input file " + far + " in directory " + deep,
         1},
    };
    if (expect::POSIX_SYSTEM) {
        const std::string cwd = makeDeepDirectory(at("cwd"), 300);
        const std::string refused = "Failed to get current working directory as input: " +
                                    failureText(Failure::CurrentDirTooLong);
        for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-gui"}, {"-nofile"}}) {
            cases.push_back({"long cwd", args, "", refused, 1, {}, {}, cwd});
        }
    }
    check(cases);
}

TEST_F(Run, AppendAddsOneHeaderLinePerRunAndNeverReadsTheOutput) {
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    // Appending keeps this ROM image, where a walk that did not pass over the
    // output would find it.
    writeTitledRom(temp / "roms" / "output.csv", "OLD");
    const fs::path output = temp / "roms" / "output.csv";
    const std::string rowA = row(joinPath(at("roms"), "a.gb"), "ALPHA");
    const RunSetup setup{.mayChange = {"roms/output.csv"}};
    std::vector<std::string> args = {"-input", at("roms"), "-append"};
    for (int i = 0; i < 3; ++i) {
        if (i == 2) {
            args.push_back("-headless");
        }
        const Outcome run = cartolog(args, setup);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(readFile(output), romBytes("OLD") + HEADER + rowA + HEADER + rowA + rowA);
    EXPECT_EQ(cartolog({"-input", at("roms")}, setup).status, 0);
    EXPECT_EQ(readFile(output), HEADER + rowA);
}

TEST_F(Run, EveryKindOfEntryIsReadOrReportedAndTheWalkGoesOn) {
    const fs::path dir = temp / "kinds";
    const std::string d = at("kinds");
    const auto path = [&](const std::string& name) { return joinPath(d, name); };
    fs::create_directories(dir / "sub");
    writeTitledRom(dir / "rom.gb", "A\"B,C\xC4");
    writeTitledRom(dir / "sub" / "inner.gb", "INNER");
    writeRom(dir / "short.gb", titledRom("SHORT"), ROM_READ_SIZE - 1);
    std::string messages = shortRead(path("short.gb"));
    std::string rows = row(path("rom.gb"), "A\"B,C\xC4");
    std::string inner = row(joinPath(path("sub"), "inner.gb"), "INNER");
    if (expect::POSIX_SYSTEM) {
        ASSERT_TRUE(makeNamedPipe(dir / "pipe.gb"));  // a short read, not a hang
        ASSERT_TRUE(makeSocketFile(dir / "socket.gb"));
        fs::create_symlink("missing.gb", dir / "dangling.gb");
        fs::create_symlink("rom.gb", dir / "file-link.gb");
        fs::create_directory_symlink("sub", dir / "dir-link");
        // Endless zero bytes make a header like any other.
        fs::create_symlink("/dev/zero", dir / "zeros.gb");
        messages += shortRead(path("pipe.gb")) + "Failed to open ROM file " + path("socket.gb") +
                    ": " + std::strerror(ENXIO) + NL + "Failed to open ROM file " +
                    path("dangling.gb") + ": " + failureText(Failure::NoSuchFile);
        rows += row(path("file-link.gb"), "A\"B,C\xC4") + quoted(path("zeros.gb")) +
                R"(,"","","None","None","No","ROM ONLY","32","0","Japan","0")" + NL;
        inner += row(joinPath(path("dir-link"), "inner.gb"), "INNER");
        // Opens, then fails every read.
        if (fs::exists("/proc/self/mem")) {
            fs::create_symlink("/proc/self/mem", dir / "unreadable.gb");
            messages += shortRead(path("unreadable.gb"));
        }
    }
    std::vector<std::string> args = {"-input", d, "-nofile"};
    for (const std::string& expected : {rows, rows + inner}) {
        const Outcome run = cartolog(args);
        EXPECT_EQ(sortedRows(run.err), sortedRows(messages));
        EXPECT_EQ(sortedRows(run.out), sortedRows(HEADER + expected));
        EXPECT_EQ(run.status, 0);
        args.push_back("-recursive");
    }
}

TEST_F(Run, OwnOutputIsPassedOverWhateverItsSpelling) {
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    const std::string roms = at("roms");
    const std::string rowA = row(joinPath(roms, "a.gb"), "ALPHA");
    std::vector<std::pair<std::string, std::string>> spellings = {  // output, cwd
        {joinPath(joinPath(roms, "."), "out.csv"), ""},
        {roms + SEP + SEP + "out.csv", ""},
        {"out.csv", roms},
        {joinPath("roms", "out.csv"), ""},
    };
    if (expect::POSIX_SYSTEM) {
        fs::create_symlink(fs::path("roms") / "out.csv", temp / "link.csv");
        spellings.emplace_back(at("link.csv"), "");
    }
    for (const auto& [output, cwd] : spellings) {
        SCOPED_TRACE(output);
        // A ROM image: appending keeps it, and it would get a row if read.
        writeTitledRom(temp / "roms" / "out.csv", "OUTPUT");
        Outcome run = cartolog({"-input", roms, "-output", output, "-append", "-stdout"},
                               {.cwd = cwd, .mayChange = {"roms/out.csv"}});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + rowA);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(readFile(temp / "roms" / "out.csv"), romBytes("OUTPUT") + HEADER + rowA);
        // With -nofile the output is only named, and still passed over.
        run = cartolog({"-input", roms, "-nofile", "-output", output}, {.cwd = cwd});
        EXPECT_EQ(run.out, HEADER + rowA);
    }
}

TEST_F(Run, OwnProgramIsPassedOverWhateverItsSpelling) {
    fs::create_directory(temp / "tools");
    const fs::path copy = temp / "tools" / fs::path(CARTOLOG_EXE).filename();
    fs::copy_file(CARTOLOG_EXE, copy);
    fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
    writeTitledRom(temp / "tools" / "a.gb", "ALPHA");
    const std::string tools = at("tools");
    const std::string name = bytesOf(copy.filename());
    struct Spelling {
        std::string program, argumentZero, cwd;
    };
    std::vector<Spelling> spellings = {
        {bytesOf(copy), "", ""},
        {bytesOf(copy), "." + SEP + name, tools},
        {bytesOf(copy), joinPath("tools", name), ""},
        {bytesOf(copy), tools + SEP + SEP + name, ""},
    };
    if (expect::POSIX_SYSTEM) {
        fs::create_directory(temp / "bin");
        fs::create_symlink(fs::path("..") / "tools" / name, temp / "bin" / "cl");
        spellings.push_back({at("bin/cl"), "", ""});
    }
    for (const Spelling& s : spellings) {
        SCOPED_TRACE(s.program + " as " + s.argumentZero);
        const Outcome run = cartolog(
            {"-input", tools, "-nofile"},
            {.cwd = s.cwd, .program = s.program, .argumentZero = s.argumentZero});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + row(joinPath(tools, "a.gb"), "ALPHA"));
        EXPECT_EQ(run.status, 0);
    }
}

}  // namespace
