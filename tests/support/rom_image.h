// ROM images that the tests build byte by byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "header/rom_header.h"

// A zeroed 4 KiB image; tests set only the bytes under test.
struct RomImage {
    std::array<std::uint8_t, ROM_READ_SIZE> bytes{};

    RomImage& set(std::size_t offset, std::uint8_t value);
    // Writes the bytes of `text` from `offset` on, without a terminator.
    RomImage& text(std::size_t offset, std::string_view text);

    // The bytes from 0x100 on, as decodeHeader takes them.
    std::span<const std::uint8_t, HEADER_SPAN> header() const;
};

// The worked example of the report format: title DEMO, MBC1, 64 KiB ROM, no
// RAM, worldwide, old licensee 0x00, version 0.
RomImage demoRom();

// Writes the first `size` bytes of `image` (the rest zero when size > 4096).
void writeRom(const std::filesystem::path& path, const RomImage& image,
              std::size_t size = ROM_READ_SIZE);

// Writes raw bytes to a file.
void writeBytes(const std::filesystem::path& path, std::string_view bytes);
