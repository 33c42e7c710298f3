// The run options and the command-line parser.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

using OptionFlags = std::uint32_t;

inline constexpr OptionFlags OPT_INPUT = 0x01;      // -input
inline constexpr OptionFlags OPT_OUTPUT = 0x02;     // -output
inline constexpr OptionFlags OPT_STDOUT = 0x04;     // -stdout, or implied by -nofile
inline constexpr OptionFlags OPT_NOFILE = 0x08;     // -nofile
inline constexpr OptionFlags OPT_RECURSIVE = 0x10;  // -recursive
inline constexpr OptionFlags OPT_HEADLESS = 0x20;   // -headless
inline constexpr OptionFlags OPT_APPEND = 0x40;     // -append
inline constexpr OptionFlags OPT_GUI = 0x80;        // -gui, refused by the driver
inline constexpr OptionFlags OPT_VERIFY = 0x100;    // -verify
inline constexpr OptionFlags OPT_ZIP = 0x200;       // -zip
inline constexpr OptionFlags OPT_UTF8 = 0x400;      // -utf8
inline constexpr OptionFlags OPT_HELP = 0x800;      // -help and its other spellings
inline constexpr OptionFlags OPT_VERSION = 0x1000;  // -version, --version
inline constexpr OptionFlags OPT_HASH = 0x2000;     // -hash
inline constexpr OptionFlags OPT_DAT = 0x4000;      // -dat, as often as given
inline constexpr OptionFlags OPT_MISSING = 0x8000;  // -missing
inline constexpr OptionFlags OPT_ROMSONLY = 0x10000;   // -romsonly
inline constexpr OptionFlags OPT_KEEPGOING = 0x20000;  // -keepgoing

struct RunOptions {
    OptionFlags flags = 0;
    NativeChar inputPath[platform::PATH_CAPACITY] = {};   // -input, or the current directory
    NativeChar outputPath[platform::PATH_CAPACITY] = {};  // -output, or the input path
    std::vector<std::basic_string<NativeChar>> datFiles;  // -dat, in the order given
    // Set by the driver: the output file, so that the walk never catalogues
    // it, whatever path names it.
    platform::OwnFile outputFile;
    bool outputFileSettled = false;  // its identity is known, or it is no file of a tree
};

// What -help prints.
extern const char USAGE[];

/// Reads `args` (argument zero first, never examined) into `options`. False
/// when the command line is unusable; the message has been printed.
bool parseArguments(RunOptions& options, std::span<const NativeChar* const> args);
