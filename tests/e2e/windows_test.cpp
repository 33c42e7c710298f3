// What only a Windows build shows: text streams that store CR LF, UTF-16
// file names narrowed to bytes, backslash-ended paths, and arguments that
// travel as one command line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/e2e_fixture.h"

using namespace e2e;

namespace {

using WindowsCartolog = Cartolog;

TEST_F(WindowsCartolog, FileAndRedirectedStdoutStoreEveryNewlineAsCrLf) {
    fs::create_directory(temp / "roms");
    // 0x0A inside a field is a newline like any other; 0x0D stays alone.
    writeTitledRom(temp / "roms" / "a.gb", "LINE\nBRK\rX");
    const std::string roms = at("roms");
    const Outcome run = cartolog({"-input", roms, "-output", at("report.csv"), "-stdout"},
                                 {.mayChange = {"report.csv"}});
    const std::string expected = HEADER + "\"" + roms + "\\a.gb\",\"LINE\r\nBRK\rX" +
                                 R"(","","None","None","No","MBC1","64","0","Worldwide","0")" +
                                 "\r\n";
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(readFile(temp / "report.csv"), expected);
    EXPECT_EQ(run.status, 0);
}

TEST_F(WindowsCartolog, CharactersUpToFFBecomeTheirByteInRowsAndMessages) {
    const fs::path dir = temp / L"r\u00E9ms";
    fs::create_directory(dir);
    writeTitledRom(dir / L"caf\u00E9.gb", "CAFE");
    writeBytes(dir / L"\u00FF.txt", "not a ROM");
    // The argument's byte 0xE9 arrives as U+00E9 and names the directory.
    const std::string input = bytesOf(temp.path()) + "\\r\xE9ms";
    const Outcome run = cartolog({"-input", input, "-nofile"});
    EXPECT_EQ(run.out, HEADER + row(input + "\\caf\xE9.gb", "CAFE"));
    EXPECT_EQ(run.err, shortRead(input + "\\\xFF.txt"));
    EXPECT_EQ(run.status, 0);
}

TEST_F(WindowsCartolog, FileNameBeyondFFFailsItsRowAndEndsTheWalk) {
    const fs::path dir = temp / "roms";
    fs::create_directory(dir);
    writeTitledRom(dir / L"\u0100.gb", "WIDE");
    for (const std::string name : {"a", "b", "c", "d"}) {
        writeTitledRom(dir / (name + ".gb"), name);
    }
    // Only the files listed before it get rows, in both destinations.
    const std::string roms = at("roms");
    std::string rows = HEADER;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().native() == L"\u0100.gb") {
            break;
        }
        const std::string name = bytesOf(entry.path().filename());
        rows += row(roms + "\\" + name, name.substr(0, 1));
    }
    const Outcome run = cartolog({"-input", roms, "-output", at("out.csv"), "-stdout"},
                                 {.mayChange = {"out.csv"}});
    EXPECT_EQ(run.err, "Failed to convert filename " + roms +
                           "\\?.gb to a multibyte representation.: " + std::strerror(EILSEQ) +
                           "\r\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, rows);
    EXPECT_EQ(readFile(temp / "out.csv"), rows);
}

TEST_F(WindowsCartolog, InputEndingInASeparatorGetsNoSecondOne) {
    fs::create_directory(temp / "roms");
    writeTitledRom(temp / "roms" / "a.gb", "ALPHA");
    writeTitledRom(temp / "roms" / "out.csv", "OUTPUT");
    const std::string roms = at("roms");
    for (const std::string& input : {roms + "\\", roms + "/"}) {
        SCOPED_TRACE(input);
        // The output is passed over whatever the letter case of its name.
        const Outcome run =
            cartolog({"-input", input, "-output", roms + "\\OUT.CSV", "-append", "-stdout"},
                     {.mayChange = {"roms/out.csv"}});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + row(input + "a.gb", "ALPHA"));
        EXPECT_EQ(run.status, 0);
    }

    // The search pattern shows in the message of a failed listing; the
    // system's text after it differs between Windows and wine.
    const std::string missing = at("missing") + "\\";
    const Outcome run = cartolog({"-input", missing, "-nofile"});
    const std::string message = "Couldn't find first file in directory " + missing + "*: ";
    ASSERT_GT(run.err.size(), message.size() + 2) << run.err;
    EXPECT_EQ(run.err.substr(0, message.size()), message);
    EXPECT_NE(run.err[message.size()], '\r');
    EXPECT_TRUE(run.err.ends_with("\r\n")) << run.err;
    EXPECT_EQ(run.status, 1);
}

// Arguments travel as one command line that the program's runtime splits
// again; an unrecognised argument is echoed as it arrived.
TEST_F(WindowsCartolog, ArgumentsArriveExactlyAsGiven) {
    for (const std::string arg : {"two words", "\"quoted\"", "trailing\\", "with space\\",
                                  "back\\\\\"slash", "*.gb", "tab\there", "caf\xE9"}) {
        SCOPED_TRACE(arg);
        const Outcome run = cartolog({"-stdout", arg});
        EXPECT_EQ(run.err, "Unrecognised argument: " + arg + "\r\n");
        EXPECT_EQ(run.status, 1);
    }
}

}  // namespace
