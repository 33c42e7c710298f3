// Maker (licensee) names for the old one-byte code at 0x14B and the new
// two-character code at 0x144-0x145.
#pragma once

#include <cstddef>
#include <cstdint>

// Old licensee value that defers to the new two-character code.
inline constexpr std::uint8_t USE_NEW_LICENSEE_CODE = 0x33;

// Longest name, "Tsubaraya Productions Co.", in bytes.
inline constexpr std::size_t MAKER_NAME_MAX_LENGTH = 25;

/// The maker name for an old licensee byte and the two new-code bytes (read
/// only when the old byte is 0x33): a constant zero-terminated byte string of
/// at most 25 bytes, never null.
const char* lookupMaker(std::uint8_t oldCode, const std::uint8_t (&newCode)[2]);
