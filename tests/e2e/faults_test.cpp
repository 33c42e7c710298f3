// The built program against faults and hostile input: full devices, link
// loops, a very large directory, file names that break naive CSV readers,
// and files that change between the listing and the read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/options.h"
#include "scan/scan.h"
#include "support/capture.h"
#include "support/e2e_fixture.h"
#include "support/fs.h"
#include "support/open_fault.h"

using namespace e2e;
using expect::Failure;
using expect::failureText;
using expect::joinPath;

namespace {

using Faults = Cartolog;

// The first fields of a report's rows, read by the usual rules: a quoted
// field may hold commas, line ends and doubled quotes. Fails the test unless
// the report is the header line and rows of eleven quoted fields.
std::multiset<std::string> reportedNames(const std::string& report) {
    std::multiset<std::string> names;
    EXPECT_EQ(report.substr(0, HEADER.size()), HEADER);
    std::vector<std::string> fields;
    for (std::size_t i = HEADER.size(); i < report.size();) {
        if (report[i] != '"') {
            ADD_FAILURE() << "unquoted field at byte " << i;
            return names;
        }
        std::string field;
        for (++i;;) {
            if (i >= report.size()) {
                ADD_FAILURE() << "quote left open";
                return names;
            }
            if (report[i] != '"') {
                field += report[i++];
            } else if (report.compare(i, 2, "\"\"") == 0) {
                field += '"';
                i += 2;
            } else {
                ++i;
                break;
            }
        }
        fields.push_back(field);
        if (i < report.size() && report[i] == ',') {
            ++i;
            continue;
        }
        if (report.compare(i, NL.size(), NL) != 0) {
            ADD_FAILURE() << "no comma or line end after a field at byte " << i;
            return names;
        }
        i += NL.size();
        EXPECT_EQ(fields.size(), 11U) << fields[0];
        names.insert(fields[0]);
        fields.clear();
    }
    return names;
}

TEST_F(Faults, FullDeviceMidWalkEndsTheRunWithOneMessage) {
    REQUIRE_POSIX();
    // About 170 KiB of rows, well beyond the 64 KiB buffers, so that the
    // device refuses them during the walk and not only at the end.
    const std::string roms = at("roms");
    fs::create_directory(roms);
    std::set<std::string> wholeRows = {HEADER};
    for (int i = 0; i < 600; ++i) {
        const std::string name = std::string(150, 'n') + std::to_string(i) + ".gb";
        writeTitledRom(joinPath(roms, name), "R" + std::to_string(i));
        wholeRows.insert(row(joinPath(roms, name), "R" + std::to_string(i)));
    }
    const std::string full = "/dev/full";
    const std::string refused =
        "Failed to write header to the output file: " + failureText(Failure::DeviceFull);
    check({
        {"file", {"-input", roms, "-output", full}, "", refused, 1},
        {"file, -append", {"-input", roms, "-output", full, "-append"}, "", refused, 1},
        {"file, -headless", {"-input", roms, "-output", full, "-headless"}, "", refused, 1},
        {"stdout", {"-input", roms, "-nofile"}, "", refused, 1, {}, {}, "", full},
        {"stdout, -headless", {"-input", roms, "-nofile", "-headless"}, "", refused, 1, {}, {}, "",
         full},
    });

    // The one destination that works gets whole rows, and not the one that
    // failed on the other or any later.
    const auto cutShort = [&](const std::string& text) {
        EXPECT_TRUE(text.starts_with(HEADER));
        std::size_t count = 0;
        for (std::size_t start = 0; start < text.size(); ++count) {
            const std::size_t next = text.find(NL, start) + NL.size();
            ASSERT_GT(next, start) << "a row cut short";
            EXPECT_EQ(wholeRows.count(text.substr(start, next - start)), 1U);
            start = next;
        }
        EXPECT_LT(count, wholeRows.size());
    };
    Outcome run = cartolog({"-input", roms, "-output", full, "-stdout"});
    EXPECT_EQ(run.err, refused);
    EXPECT_EQ(run.status, 1);
    cutShort(run.out);

    run = cartolog({"-input", roms, "-output", at("out.csv"), "-stdout"},
                   {.stdoutPath = full, .mayChange = {"out.csv"}});
    EXPECT_EQ(run.err, refused);
    EXPECT_EQ(run.status, 1);
    cutShort(readFile(temp / "out.csv"));

    // Both full: the one not refused mid-walk fails again when flushed at the
    // end, and which comes first is the buffers' affair.
    run = cartolog({"-input", roms, "-output", full, "-stdout"}, {.stdoutPath = full});
    const std::string atEnd = ": " + failureText(Failure::DeviceFull);
    EXPECT_TRUE(run.err == refused + "Failed to write to stdout" + atEnd ||
                run.err == refused + "Failed to write to output file " + full + atEnd)
        << run.err;
    EXPECT_EQ(run.status, 1);
}

// A walk through a loop of links goes one turn deeper with every level. It
// ends with status 1 and one message: the path limit, or for short names
// possibly first the system's refusal to follow so many links.
TEST_F(Faults, LinkLoopUnderRecursionEndsWithOneFailure) {
    REQUIRE_POSIX();
    const struct {
        std::string dir, link, target;
        bool pathLimitFirst;
    } loops[] = {
        {"short", "l", ".", false},
        {"long", std::string(60, 'l'), ".", true},
        {"parent", "sub/up", "..", false},
    };
    for (const auto& loop : loops) {
        SCOPED_TRACE(loop.dir);
        const std::string root = at(loop.dir);
        fs::create_directories(fs::path(joinPath(root, loop.link)).parent_path());
        writeTitledRom(joinPath(root, "a.gb"), "LOOP");
        fs::create_directory_symlink(loop.target, joinPath(root, loop.link));
        const Outcome run = cartolog({"-input", root, "-nofile", "-recursive"});
        EXPECT_EQ(run.status, 1);
        for (const std::string& name : reportedNames(run.out)) {
            EXPECT_TRUE(name.starts_with(root + "/") && name.ends_with("/a.gb")) << name;
        }
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        const std::string listing = "Couldn't find first file in directory " + root + "/";
        if (!loop.pathLimitFirst && run.err.starts_with(listing)) {
            EXPECT_TRUE(run.err.ends_with(std::string("/*: ") + std::strerror(ELOOP) + NL))
                << run.err;
            continue;
        }
        // The failed step, then the directory in the loop, without a line end.
        const std::string range = ": " + failureText(Failure::PathTooLong);
        EXPECT_TRUE(run.err.starts_with("Failed to append path segment \"")) << run.err;
        const std::size_t cut = run.err.find(range);
        ASSERT_NE(cut, std::string::npos) << run.err;
        const std::string last = run.err.substr(cut + range.size());
        EXPECT_TRUE(last.starts_with("Failed to create path for input file ") ||
                    last.starts_with("Failed to prepare search path for input path "))
            << last;
        EXPECT_NE(last.find(root + "/"), std::string::npos) << last;
        EXPECT_FALSE(last.ends_with(NL)) << last;
    }
}

TEST_F(Faults, HundredThousandEntriesGiveARowPerRomAndAMessagePerOtherFile) {
    const fs::path dir = temp / "many";
    fs::create_directory(dir);
    // Hard links to a few empty files, far cheaper to make than files (and
    // within the limit on links per file); far fewer under the emulator.
    const int emptyFiles = expect::POSIX_SYSTEM ? 100000 : 5000;
    for (int i = 0; i < emptyFiles; ++i) {
        if (i % 50000 == 0) {
            writeBytes(dir / std::to_string(i), "");
        } else {
            fs::create_hard_link(dir / std::to_string(i - i % 50000), dir / std::to_string(i));
        }
    }
    const std::string d = at("many");
    std::string rows = HEADER;
    for (const std::string title : {"FIRST", "SECOND", "THIRD"}) {
        writeTitledRom(dir / (title + ".gb"), title);
        rows += row(joinPath(d, title + ".gb"), title);
    }
    const Outcome run = cartolog({"-input", d, "-nofile"});
    EXPECT_EQ(sortedRows(run.out), sortedRows(rows));
    EXPECT_EQ(run.status, 0);
    std::string messages;
    for (int i = 0; i < emptyFiles; ++i) {
        messages += shortRead(joinPath(d, std::to_string(i)));
    }
    EXPECT_TRUE(sortedRows(run.err) == sortedRows(messages)) << run.err.size() << " bytes";
}

TEST_F(Faults, HostileFileNamesComeBackExactlyFromTheCsv) {
    REQUIRE_POSIX();  // file names here are bytes
    const std::string dir = at("names");
    fs::create_directory(dir);
    std::vector<std::string> names = {
        "\"", "\"\"", "a\"b\"\"c", ",", "a,b,,c", "\t", "tab\there", "\n", "line\nbreak",
        "\r\n", "cr\rlf", "\"\n\",", "\xC3\x28", "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF",
        "\xFF\xFE", "\x80", "ends with space ", " ", "-input", "%s%n%%",
    };
    for (int byte = 1; byte <= 0xFF; ++byte) {
        if (byte != '/') {
            names.push_back("b" + std::string(1, static_cast<char>(byte)) + ".gb");
        }
    }
    std::multiset<std::string> paths;
    for (const std::string& name : names) {
        writeTitledRom(joinPath(dir, name), "T");
        paths.insert(joinPath(dir, name));
    }
    const Outcome run = cartolog({"-input", dir, "-output", at("out.csv"), "-stdout"},
                                 {.mayChange = {"out.csv"}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(reportedNames(run.out), paths);
    EXPECT_EQ(readFile(temp / "out.csv"), run.out);
}

// Nothing outside the process can act between listing and read reliably, so
// the walk runs here and the fault strikes as it opens the file.
TEST(FaultsInProcess, FileChangedBetweenListingAndReadIsReportedAndPassedOver) {
    if (!fault::OPEN_FAULTS_AVAILABLE) {
        GTEST_SKIP() << "opens cannot be intercepted here";
    }
    TempDir temp;
    const std::string d = bytesOf(temp / "roms");
    const std::string victim = joinPath(d, "b.gb");
    const struct {
        fault::OnOpen what;
        std::string message;
    } cases[] = {
        {fault::OnOpen::Remove,
         "Failed to open ROM file " + victim + ": " + failureText(Failure::NoSuchFile)},
        {fault::OnOpen::Shrink, shortRead(victim)},
        {fault::OnOpen::ReplaceWithDirectory, shortRead(victim)},
    };
    for (const auto& change : cases) {
        SCOPED_TRACE(static_cast<int>(change.what));
        fs::remove_all(d);
        fs::create_directory(d);
        for (const std::string name : {"a", "b", "c"}) {
            writeTitledRom(joinPath(d, name + ".gb"), name);
        }
        const std::wstring wide = corePath(d);
        StreamCapture report;
        MessageCapture messages;
        fault::armOpenFault("b.gb", change.what, 100);
        const RunOptions options;
        EXPECT_TRUE(scanDirectory(wide.c_str(), report.stream(), options));
        EXPECT_EQ(fault::openFaultsStruck(), 1);
        EXPECT_EQ(messages.contents(), change.message);
        EXPECT_EQ(sortedRows(report.contents()),
                  row(joinPath(d, "a.gb"), "a") + row(joinPath(d, "c.gb"), "c"));
    }
}

TEST(FaultsInProcess, DirectoryRemovedBetweenListingAndWalkEndsTheWalk) {
    if (!fault::OPEN_FAULTS_AVAILABLE) {
        GTEST_SKIP() << "opens cannot be intercepted here";
    }
    TempDir temp;
    const std::string d = bytesOf(temp / "roms");
    fs::create_directories(joinPath(d, "sub"));
    writeTitledRom(joinPath(d, "a.gb"), "ALPHA");
    RunOptions options;
    options.flags = OPT_RECURSIVE;
    const std::wstring wide = corePath(d);
    StreamCapture report;
    MessageCapture messages;
    fault::armOpenFault("sub", fault::OnOpen::Remove);
    EXPECT_FALSE(scanDirectory(wide.c_str(), report.stream(), options));
    EXPECT_EQ(fault::openFaultsStruck(), 1);
    EXPECT_EQ(messages.contents(), "Couldn't find first file in directory " +
                                       joinPath(joinPath(d, "sub"), "*") + ": " +
                                       failureText(Failure::NoSuchDirectory));
    // The ROM has its row only if the listing gave it before the directory.
    const std::string rows = report.contents();
    EXPECT_TRUE(rows.empty() || rows == row(joinPath(d, "a.gb"), "ALPHA")) << rows;
}

}  // namespace
