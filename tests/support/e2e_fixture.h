// The built program run as a child on trees that each test makes, and the
// report text it is expected to print.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/expect.h"
#include "support/rom_image.h"
#include "support/temp_dir.h"

namespace e2e {

namespace fs = std::filesystem;

extern const std::string NL;      // the stored line end
extern const std::string SEP;     // the path separator
extern const std::string HEADER;  // the header line

// Named pipes, symbolic links, /dev/full, a current directory beyond the limit.
#define REQUIRE_POSIX()                                      \
    if (!expect::POSIX_SYSTEM) {                             \
        GTEST_SKIP() << "needs POSIX file kinds or devices"; \
    }

// A ROM told apart by its title (at most 11 bytes): MBC1, 64 KiB of ROM, no
// RAM, worldwide, old licensee 0x00, version 0.
RomImage titledRom(const std::string& title);
void writeTitledRom(const fs::path& path, const std::string& title);
std::string romBytes(const std::string& title);
// The row of a titledRom at `path`.
std::string row(const std::string& path, const std::string& title);
std::string quoted(const std::string& text);
std::string shortRead(const std::string& path);  // the not-a-ROM message

std::string readFile(const fs::path& path);
// A path as the program prints it: on Windows each UTF-16 unit up to 0xFF as
// its byte.
std::string bytesOf(const fs::path& path);
// Rows come in listing order: sorts the lines between header lines.
std::string sortedRows(const std::string& report);
// Nests directories below `path` until the deepest path is `length` long.
std::string makeDeepDirectory(std::string path, std::size_t length);

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
    // What the run may write, relative to the temporary directory, '/' between names.
    std::vector<std::string> mayChange = {};
};

// One run of a table: files written before it (removed after), what it
// prints, and the files it writes, compared as sorted rows.
struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status = 0;
    std::map<std::string, std::string> wrote = {};
    std::map<std::string, std::string> before = {};
    std::string cwd = {};  // empty: the temporary directory
    std::string stdoutPath = {};
    bool posixOnly = false;
};

class Cartolog : public ::testing::Test {
protected:
    TempDir temp;

    std::string at(const std::string& relative) const { return bytesOf(temp / relative); }
    // Runs the program and checks that it ended by itself and changed nothing
    // below the temporary directory but `setup.mayChange`.
    Outcome cartolog(const std::vector<std::string>& args, const RunSetup& setup = {});
    void check(const std::vector<Case>& cases);
};

}  // namespace e2e
