// What only a Windows build shows: text streams that store CR LF, UTF-16
// file names narrowed to bytes, backslash-ended directory paths, and
// arguments that travel as one command line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/expect.h"
#include "support/process.h"
#include "support/rom_image.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string CRLF = "\r\n";
const std::string HEADER =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,ROM Size in KiB,"
    "RAM Size in KiB,Destination,Version\r\n";

RomImage titledRom(const std::string& title) {
    RomImage rom = demoRom();
    for (std::size_t i = 0; i < 11; ++i) {
        rom.set(TITLE_OFFSET + i, 0);
    }
    return rom.text(TITLE_OFFSET, title);
}

// A row as stored: each "\n", the line end and any inside the title, as CR LF.
std::string row(const std::string& path, const std::string& title) {
    std::string field;
    for (const char byte : title) {
        field += byte == '\n' ? CRLF : std::string(1, byte);
    }
    return "\"" + path + "\",\"" + field +
           R"(","","None","None","No","MBC1","64","0","Worldwide","0")" + CRLF;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Paths as the program prints them: UTF-16 units up to 0xFF as single bytes.
std::string bytesOf(const fs::path& path) { return expect::shownPath(path.native()); }

class WindowsCartolog : public ::testing::Test {
protected:
    TempDir temp;

    proc::Result cartolog(const std::vector<std::string>& args) {
        proc::Request request;
        request.program = CARTOLOG_EXE;
        request.args = args;
        request.workingDirectory = bytesOf(temp.path());
        proc::Result result = proc::run(request);
        EXPECT_EQ(result.startError, "");
        EXPECT_TRUE(result.exited);
        return result;
    }
};

TEST_F(WindowsCartolog, FileAndRedirectedStdoutStoreEveryNewlineAsCrLf) {
    fs::create_directory(temp / "roms");
    // 0x0A inside a field is a newline like any other; 0x0D stays alone.
    writeRom(temp / "roms" / "a.gb", titledRom("LINE\nBRK\rX"));
    const std::string roms = bytesOf(temp / "roms");
    const std::string report = bytesOf(temp / "report.csv");
    const proc::Result run = cartolog({"-input", roms, "-output", report, "-stdout"});
    const std::string expected = HEADER + row(roms + "\\a.gb", "LINE\nBRK\rX");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(readFile(temp / "report.csv"), expected);
    EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(WindowsCartolog, CharactersUpToFFBecomeTheirByteInRowsAndMessages) {
    const fs::path dir = temp / L"r\u00E9ms";
    fs::create_directory(dir);
    writeRom(dir / L"caf\u00E9.gb", titledRom("CAFE"));
    writeBytes(dir / L"\u00FF.txt", "not a ROM");
    // The argument's byte 0xE9 arrives as U+00E9 and names the directory.
    const std::string input = bytesOf(temp.path()) + "\\r\xE9ms";
    const proc::Result run = cartolog({"-input", input, "-nofile"});
    EXPECT_EQ(run.out, HEADER + row(input + "\\caf\xE9.gb", "CAFE"));
    EXPECT_EQ(run.err, "Not able to read at least 4 KiB from file " + input +
                           "\\\xFF.txt. This file is probably not a GB ROM.\r\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(WindowsCartolog, FileNameBeyondFFFailsItsRowAndEndsTheWalk) {
    const fs::path dir = temp / "roms";
    fs::create_directory(dir);
    writeRom(dir / L"\u0100.gb", titledRom("WIDE"));
    for (const char* name : {"a.gb", "b.gb", "c.gb", "d.gb"}) {
        writeRom(dir / name, titledRom(name));
    }
    // Only the files listed before the one that cannot be written get rows.
    const std::string roms = bytesOf(dir);
    std::vector<std::string> before;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::wstring name = entry.path().filename().native();
        if (name == L"\u0100.gb") {
            break;
        }
        const std::string narrow = bytesOf(name);
        before.push_back(row(roms + "\\" + narrow, narrow));
    }
    const proc::Result run = cartolog({"-input", roms, "-output", bytesOf(temp / "out.csv"),
                                       "-stdout"});
    EXPECT_EQ(run.err, "Failed to convert filename " + roms +
                           "\\?.gb to a multibyte representation.: " +
                           std::strerror(EILSEQ) + CRLF);
    EXPECT_EQ(run.exitStatus, 1);
    // Neither destination got a row for it, and the rows before it are in
    // both in the same order.
    std::string rows;
    for (const std::string& line : before) {
        rows += line;
    }
    EXPECT_EQ(run.out, HEADER + rows);
    EXPECT_EQ(readFile(temp / "out.csv"), HEADER + rows);
}

TEST_F(WindowsCartolog, InputEndingInASeparatorGetsNoSecondOne) {
    fs::create_directory(temp / "roms");
    writeRom(temp / "roms" / "a.gb", titledRom("ALPHA"));
    const std::string roms = bytesOf(temp / "roms");
    for (const std::string& input : {roms + "\\", roms + "/"}) {
        SCOPED_TRACE(input);
        const proc::Result run = cartolog({"-input", input, "-nofile"});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, HEADER + row(input + "a.gb", "ALPHA"));
        EXPECT_EQ(run.exitStatus, 0);
    }

    // The search pattern shows in the message of a failed listing. The
    // system's text differs between Windows and wine: some text must follow.
    const std::string missing = bytesOf(temp / "missing") + "\\";
    const proc::Result run = cartolog({"-input", missing, "-nofile"});
    const std::string message = "Couldn't find first file in directory " + missing + "*: ";
    ASSERT_GT(run.err.size(), message.size() + CRLF.size()) << run.err;
    EXPECT_EQ(run.err.substr(0, message.size()), message);
    EXPECT_NE(run.err[message.size()], '\r');
    EXPECT_EQ(run.err.substr(run.err.size() - CRLF.size()), CRLF);
    EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(WindowsCartolog, OutputIsPassedOverWhateverTheLetterCaseOfItsName) {
    fs::create_directory(temp / "roms");
    writeRom(temp / "roms" / "a.gb", titledRom("ALPHA"));
    writeRom(temp / "roms" / "out.csv", titledRom("OUTPUT"));
    const std::string roms = bytesOf(temp / "roms");
    const std::string upper = roms + "\\OUT.CSV";
    const proc::Result run = cartolog({"-input", roms, "-output", upper, "-append", "-stdout"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, HEADER + row(roms + "\\a.gb", "ALPHA"));
    EXPECT_EQ(run.exitStatus, 0);
}

// Arguments travel as one command line that the program's runtime splits
// again; an unrecognised argument is echoed, so it shows what arrived.
TEST_F(WindowsCartolog, ArgumentsArriveExactlyAsGiven) {
    for (const std::string& arg :
         {std::string("two words"), std::string("\"quoted\""), std::string("trailing\\"),
          std::string("with space\\"), std::string("back\\\\\"slash"), std::string("*.gb"),
          std::string("tab\there"), std::string("caf\xE9")}) {
        SCOPED_TRACE(arg);
        const proc::Result run = cartolog({"-stdout", arg});
        EXPECT_EQ(run.err, "Unrecognised argument: " + arg + CRLF);
        EXPECT_EQ(run.exitStatus, 1);
    }
}

}  // namespace
