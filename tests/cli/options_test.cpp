#include "cli/options.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/capture.h"

struct Parsed { bool ok; RunOptions options; std::string messages; };

static Parsed parse(std::vector<const wchar_t*> args) {
    args.insert(args.begin(), L"cartolog");
    Parsed result{false, {}, {}};
    result.options.flags = 0xFF;  // the parse must clear them
    MessageCapture capture;
    result.ok = parseArguments(result.options, args);
    result.messages = capture.contents();
    return result;
}

TEST(ParseArguments, RefusesWithTheFirstProblemOnly) {
    const std::wstring tooLong(platform::PATH_MAX_LENGTH + 1, L'x');  // never cut
    const std::string range = std::string(": ") + std::strerror(ERANGE) + "\n";
    const std::string again = " already specified. Which one did you want to use?\n";
    const struct {
        std::vector<const wchar_t*> args;
        std::string message;
    } cases[] = {
        {{L"-input", L"d", L"-input"}, "'input'" + again},  // the repeat before the missing value
        {{L"-output", L"f", L"-output"}, "'output'" + again},
        {{L"-input"}, "Input path missing.\n"},
        {{L"-input", L"-recursive"}, "Input path missing.\n"},  // a value never begins with '-'
        {{L"-output", L"-"}, "Output path or filename missing.\n"},
        {{L"-input", tooLong.c_str()}, "Failed to copy input path string" + range},
        {{L"-output", tooLong.c_str()}, "Failed to copy output path or filename string" + range},
        {{L"-Input", L"d"}, "Unrecognised argument: -Input\n"},  // matching is exact
        {{L"-input=d"}, "Unrecognised argument: -input=d\n"},
        {{L"-recursiv"}, "Unrecognised argument: -recursiv\n"},
        {{L""}, "Unrecognised argument: \n"},
        {{L"-input", L"d", L"e"}, "Unrecognised argument: e\n"},
        {{L"d", L"-input"}, "Unrecognised argument: d\n"},  // a stray argument stops the parse
        {{L"-gui", L"-gui", L"d", L"-x"},
         "Warning - More than one 'gui' specified.\nUnrecognised argument: d\n"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.args);
        EXPECT_FALSE(parsed.ok) << c.message;
        EXPECT_EQ(parsed.messages, c.message);
    }
}

TEST(ParseArguments, EverySwitchWarnsOncePerRepeatAndGoesOn) {
    const std::pair<std::string, std::uint8_t> switches[] = {
        {"stdout", OPT_STDOUT}, {"nofile", OPT_NOFILE}, {"recursive", OPT_RECURSIVE},
        {"headless", OPT_HEADLESS}, {"append", OPT_APPEND}, {"gui", OPT_GUI}};
    for (const auto& [word, bit] : switches) {
        const std::wstring name = L"-" + std::wstring(word.begin(), word.end());
        const std::string warning = "Warning - More than one '" + word + "' specified.\n";
        const Parsed parsed = parse({name.c_str(), name.c_str(), L"-input", L"d", name.c_str()});
        EXPECT_TRUE(parsed.ok) << word;
        EXPECT_EQ(parsed.options.flags, bit | OPT_INPUT) << word;
        EXPECT_EQ(parsed.messages, warning + warning);
    }
}

TEST(ParseArguments, AnyOrderGivesTheSameRecord) {
    const std::wstring in(platform::PATH_MAX_LENGTH, L'i'), out(platform::PATH_MAX_LENGTH, L'o');
    for (const auto& args : std::vector<std::vector<const wchar_t*>>{
             {L"-recursive", L"-input", in.c_str(), L"-stdout", L"-output", out.c_str()},
             {L"-stdout", L"-output", out.c_str(), L"-input", in.c_str(), L"-recursive"}}) {
        const Parsed parsed = parse(args);
        EXPECT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.options.flags, OPT_INPUT | OPT_OUTPUT | OPT_STDOUT | OPT_RECURSIVE);
        EXPECT_EQ(parsed.options.inputPath, in);  // 259 characters fit
        EXPECT_EQ(parsed.options.outputPath, out);
        EXPECT_EQ(parsed.messages, "");
    }
    const Parsed empty = parse({L"-input", L"", L"-output", L""});
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(std::wstring(empty.options.inputPath) + empty.options.outputPath, L"");
}
