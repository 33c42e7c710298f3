// The run options and the command-line parser.
#pragma once

#include <cstdint>
#include <span>

#include "platform/platform.h"

inline constexpr std::uint8_t OPT_INPUT = 0x01;      // -input
inline constexpr std::uint8_t OPT_OUTPUT = 0x02;     // -output
inline constexpr std::uint8_t OPT_STDOUT = 0x04;     // -stdout, or implied by -nofile
inline constexpr std::uint8_t OPT_NOFILE = 0x08;     // -nofile
inline constexpr std::uint8_t OPT_RECURSIVE = 0x10;  // -recursive
inline constexpr std::uint8_t OPT_HEADLESS = 0x20;   // -headless
inline constexpr std::uint8_t OPT_APPEND = 0x40;     // -append
inline constexpr std::uint8_t OPT_GUI = 0x80;        // -gui, refused by the driver

struct RunOptions {
    std::uint8_t flags = 0;
    wchar_t inputPath[platform::PATH_CAPACITY] = {};   // -input, or the current directory
    wchar_t outputPath[platform::PATH_CAPACITY] = {};  // -output, or the input path
    // Set by the driver: the output file's identity, so that the walk never
    // catalogues it, whatever path names it.
    platform::FileId outputId;
};

/// Reads `args` (argument zero first, never examined) into `options`. False
/// when the command line is unusable; the message has been printed.
bool parseArguments(RunOptions& options, std::span<const wchar_t* const> args);

/// The same, on the process's own arguments.
bool parseArguments(RunOptions& options);
