#include "cli/options.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/capture.h"

namespace {

struct Parsed {
    bool ok;
    RunOptions options;
    std::string messages;
};

// Parses `args` as the arguments after argument zero.
Parsed parse(std::vector<const wchar_t*> args, const wchar_t* zero = L"cartolog") {
    args.insert(args.begin(), zero);
    Parsed result{false, {}, {}};
    MessageCapture capture;
    result.ok = parseArguments(result.options, args);
    result.messages = capture.contents();
    return result;
}

const std::string INPUT_REPEAT = "'input' already specified. Which one did you want to use?\n";
const std::string OUTPUT_REPEAT = "'output' already specified. Which one did you want to use?\n";
const std::string INPUT_MISSING = "Input path missing.\n";
const std::string OUTPUT_MISSING = "Output path or filename missing.\n";

TEST(ParseArguments, RefusesWithExactlyOneMessage) {
    const struct {
        std::vector<const wchar_t*> args;
        std::string message;
    } cases[] = {
        // The repeat is found before the missing value.
        {{L"-input", L"d", L"-input"}, INPUT_REPEAT},
        {{L"-output", L"f", L"-output"}, OUTPUT_REPEAT},
        {{L"-input"}, INPUT_MISSING},
        {{L"-output"}, OUTPUT_MISSING},
        // A value never begins with '-', even when it names an option.
        {{L"-input", L"-recursive"}, INPUT_MISSING},
        {{L"-input", L"-"}, INPUT_MISSING},
        {{L"-input", L"-input"}, INPUT_MISSING},
        {{L"-output", L"-stdout"}, OUTPUT_MISSING},
        {{L"-output", L"-"}, OUTPUT_MISSING},
        {{L"-input", L"d", L"-output"}, OUTPUT_MISSING},
        // Matching is exact: case, prefix and attached values all count.
        {{L"-Input", L"d"}, "Unrecognised argument: -Input\n"},
        {{L"-STDOUT"}, "Unrecognised argument: -STDOUT\n"},
        {{L"--stdout"}, "Unrecognised argument: --stdout\n"},
        {{L"--input", L"d"}, "Unrecognised argument: --input\n"},
        {{L"-input=d"}, "Unrecognised argument: -input=d\n"},
        {{L"-recursiv"}, "Unrecognised argument: -recursiv\n"},
        {{L""}, "Unrecognised argument: \n"},
        // A value is consumed only right after its option.
        {{L"-input", L"d", L"e"}, "Unrecognised argument: e\n"},
        {{L"d", L"-input"}, "Unrecognised argument: d\n"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.args);
        EXPECT_FALSE(parsed.ok) << c.message;
        EXPECT_EQ(parsed.messages, c.message);
    }
}

TEST(ParseArguments, StrayArgumentStopsTheParseAfterEarlierWarnings) {
    const Parsed parsed = parse({L"-stdout", L"-stdout", L"bogus", L"-recursive"});
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.messages,
              "Warning - More than one 'stdout' specified.\nUnrecognised argument: bogus\n");
    EXPECT_EQ(parsed.options.flags & OPT_RECURSIVE, 0);
}

TEST(ParseArguments, EverySwitchWarnsOncePerRepeatAndGoesOn) {
    const struct {
        const wchar_t* name;
        std::uint8_t bit;
        const char* word;
    } switches[] = {
        {L"-stdout", OPT_STDOUT, "stdout"},       {L"-nofile", OPT_NOFILE, "nofile"},
        {L"-recursive", OPT_RECURSIVE, "recursive"}, {L"-headless", OPT_HEADLESS, "headless"},
        {L"-append", OPT_APPEND, "append"},       {L"-gui", OPT_GUI, "gui"},
    };
    for (const auto& s : switches) {
        const std::string warning =
            std::string("Warning - More than one '") + s.word + "' specified.\n";
        const Parsed once = parse({s.name});
        EXPECT_TRUE(once.ok);
        EXPECT_EQ(once.options.flags, s.bit) << s.word;
        EXPECT_EQ(once.messages, "");

        const Parsed thrice = parse({s.name, s.name, L"-input", L"d", s.name});
        EXPECT_TRUE(thrice.ok) << s.word;
        EXPECT_EQ(thrice.options.flags, s.bit | OPT_INPUT) << s.word;
        EXPECT_EQ(thrice.messages, warning + warning);
    }
}

TEST(ParseArguments, OrderDoesNotChangeTheRecord) {
    const std::vector<std::vector<const wchar_t*>> orders = {
        {L"-recursive", L"-input", L"in", L"-stdout", L"-output", L"out"},
        {L"-input", L"in", L"-recursive", L"-output", L"out", L"-stdout"},
        {L"-stdout", L"-output", L"out", L"-input", L"in", L"-recursive"},
        {L"-output", L"out", L"-stdout", L"-recursive", L"-input", L"in"},
    };
    for (const auto& args : orders) {
        const Parsed parsed = parse(args);
        EXPECT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.options.flags, OPT_INPUT | OPT_OUTPUT | OPT_STDOUT | OPT_RECURSIVE);
        EXPECT_EQ(std::wstring(parsed.options.inputPath), L"in");
        EXPECT_EQ(std::wstring(parsed.options.outputPath), L"out");
        EXPECT_EQ(parsed.messages, "");
    }
}

TEST(ParseArguments, NoArgumentsClearsTheFlags) {
    RunOptions options;
    options.flags = 0xFF;
    const wchar_t* const zeroOnly[] = {L"cartolog"};
    EXPECT_TRUE(parseArguments(options, zeroOnly));
    EXPECT_EQ(options.flags, 0);
}

TEST(ParseArguments, ArgumentZeroIsNeverExamined) {
    for (const wchar_t* zero : {L"-gui", L"-input", L"bogus"}) {
        const Parsed parsed = parse({L"-nofile"}, zero);
        EXPECT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.options.flags, OPT_NOFILE);
        EXPECT_EQ(parsed.messages, "");
    }
}

TEST(ParseArguments, EmptyValueIsAccepted) {
    const Parsed parsed = parse({L"-input", L"", L"-output", L""});
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.options.flags, OPT_INPUT | OPT_OUTPUT);
    EXPECT_EQ(std::wstring(parsed.options.inputPath), L"");
    EXPECT_EQ(std::wstring(parsed.options.outputPath), L"");
}

TEST(ParseArguments, LongValueIsTakenWholeOrRefused) {
    const struct {
        const wchar_t* option;
        wchar_t (RunOptions::*path)[platform::PATH_CAPACITY];
        std::string failure;
    } options[] = {
        {L"-input", &RunOptions::inputPath, "Failed to copy input path string"},
        {L"-output", &RunOptions::outputPath, "Failed to copy output path or filename string"},
    };
    const std::wstring longest(platform::PATH_MAX_LENGTH, L'x');
    const std::wstring tooLong = longest + L'y';
    for (const auto& o : options) {
        const Parsed fits = parse({o.option, longest.c_str()});
        EXPECT_TRUE(fits.ok);
        EXPECT_EQ(std::wstring(fits.options.*o.path), longest);
        EXPECT_EQ(fits.messages, "");

        // Cutting would name another file than the one asked for.
        const Parsed refused = parse({o.option, tooLong.c_str()});
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.messages, o.failure + ": " + std::strerror(ERANGE) + "\n");
        EXPECT_NE(std::wstring(refused.options.*o.path), longest);
    }
}

}  // namespace
