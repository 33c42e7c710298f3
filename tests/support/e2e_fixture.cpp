#include "support/e2e_fixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/process.h"
#include "support/snapshot.h"

namespace e2e {

const std::string NL(expect::STORED_LINE_END);
const std::string SEP(1, static_cast<char>(expect::PATH_RULES.separator));
const std::string HEADER =
    "Filename,Title,Code,Maker,ColorGB Support,SuperGB Support,Pak Type,ROM Size in KiB,"
    "RAM Size in KiB,Destination,Version" +
    NL;

RomImage titledRom(const std::string& title) {
    RomImage rom = demoRom();
    for (std::size_t i = 0; i < 11; ++i) {
        rom.set(TITLE_OFFSET + i, 0);
    }
    return rom.text(TITLE_OFFSET, title);
}

void writeTitledRom(const fs::path& path, const std::string& title) {
    writeRom(path, titledRom(title));
}

std::string romBytes(const std::string& title) {
    const RomImage rom = titledRom(title);
    return std::string(rom.bytes.begin(), rom.bytes.end());
}

std::string quoted(const std::string& text) {
    std::string field = "\"";
    for (const char byte : text) {
        field += byte == '"' ? std::string("\"\"") : std::string(1, byte);
    }
    return field + "\"";
}

std::string row(const std::string& path, const std::string& title) {
    return quoted(path) + "," + quoted(title) +
           R"(,"","None","None","No","MBC1","64","0","Worldwide","0")" + NL;
}

std::string shortRead(const std::string& path) {
    return "Not able to read at least 4 KiB from file " + path +
           ". This file is probably not a GB ROM." + NL;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string bytesOf(const fs::path& path) {
#ifdef _WIN32
    return expect::shownPath(path.native());
#else
    return path.native();
#endif
}

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

std::string makeDeepDirectory(std::string path, std::size_t length) {
    fs::create_directories(path);
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;
        const std::size_t name = room <= 100 ? room : (room - 100 >= 2 ? 100 : 50);
        path = expect::joinPath(path, std::string(name, 'd'));
        fs::create_directory(path);
    }
    return path;
}

Outcome Cartolog::cartolog(const std::vector<std::string>& args, const RunSetup& setup) {
    TreeSnapshot before = snapshotTree(temp.path());
    proc::Request request;
    request.program = setup.program.empty() ? CARTOLOG_EXE : setup.program;
    request.argumentZero = setup.argumentZero;
    request.args = args;
    request.workingDirectory = setup.cwd.empty() ? bytesOf(temp.path()) : setup.cwd;
    request.stdoutPath = setup.stdoutPath;
    const proc::Result result = proc::run(request);
    EXPECT_EQ(result.startError, "");
    EXPECT_TRUE(result.exited) << "the program did not end by itself";
    TreeSnapshot after = snapshotTree(temp.path());
    for (const std::string& name : setup.mayChange) {
        before.erase(name);
        after.erase(name);
    }
    EXPECT_EQ(snapshotChanges(before, after), "");
    return Outcome{result.exitStatus, result.out, result.err};
}

void Cartolog::check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        if (c.posixOnly && !expect::POSIX_SYSTEM) {
            continue;
        }
        SCOPED_TRACE(c.name);
        for (const auto& [name, bytes] : c.before) {
            writeBytes(temp / name, bytes);
        }
        RunSetup setup{.cwd = c.cwd, .stdoutPath = c.stdoutPath};
        for (const auto& [name, bytes] : c.wrote) {
            setup.mayChange.push_back(name);
        }
        const Outcome run = cartolog(c.args, setup);
        EXPECT_EQ(sortedRows(run.out), sortedRows(c.out));
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, c.status);
        for (const auto& [name, bytes] : c.wrote) {
            EXPECT_EQ(sortedRows(readFile(temp / name)), sortedRows(bytes)) << name;
            fs::remove(temp / name);
        }
        for (const auto& [name, bytes] : c.before) {
            fs::remove(temp / name);
        }
    }
}

}  // namespace e2e
