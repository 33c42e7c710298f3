// The walk's order and the look-ahead's rule for starting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scan/lookahead.h"
#include "scan/walk.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;

FirstRead readThat(platform::CacheState state, std::chrono::microseconds took = 0us) {
    return {true, state, took};
}

TEST(Lookahead, ThreeColdLooksInARowStartTheHelpers) {
    using platform::CacheState;
    LookCount count;
    EXPECT_FALSE(countLook(count, readThat(CacheState::NotCached)));
    EXPECT_FALSE(countLook(count, readThat(CacheState::NotCached)));
    EXPECT_FALSE(countLook(count, readThat(CacheState::Cached)));  // the run of cold looks ends
    EXPECT_FALSE(countLook(count, readThat(CacheState::NotCached)));
    EXPECT_FALSE(countLook(count, FirstRead{}));  // a file not read tells nothing
    // Where the system cannot tell, the time of the read does.
    EXPECT_FALSE(countLook(count, readThat(CacheState::Unknown, 1ms)));
    EXPECT_TRUE(countLook(count, readThat(CacheState::Unknown, 1ms)));
    LookCount warm;
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(countLook(warm, readThat(CacheState::Unknown, 20us)));
    }
}

// Every file that a cursor gives, in order.
std::vector<std::basic_string<NativeChar>> filesOf(const NativeChar* root, const WalkRules& rules,
                                                   bool quiet) {
    std::vector<std::basic_string<NativeChar>> files;
    TreeCursor cursor;
    WalkFile file;
    EXPECT_TRUE(startWalk(cursor, root, rules, quiet));
    while (nextFile(cursor, file)) {
        files.emplace_back(file.path);
    }
    EXPECT_FALSE(cursor.failed);
    return files;
}

TEST(Walk, TheLookaheadMeetsTheFilesOfTheWalkInItsOrder) {
    const auto root = std::filesystem::temp_directory_path() / "cartolog-walk-test";
    std::filesystem::remove_all(root);
    for (const char* name : {"a.gb", "sub/b.gb", "sub/deeper/c.gb", "d.gb", "z/e.gb"}) {
        std::filesystem::create_directories((root / name).parent_path());
        std::ofstream(root / name) << name;
    }
    WalkRules rules;
    rules.recursive = true;
    const auto walked = filesOf(root.c_str(), rules, false);
    EXPECT_EQ(walked.size(), 5u);
    EXPECT_EQ(filesOf(root.c_str(), rules, true), walked);
    std::filesystem::remove_all(root);
}

}  // namespace
