#include "support/rom_image.h"

#include <fstream>
#include <string>

RomImage& RomImage::set(std::size_t offset, std::uint8_t value) {
    bytes.at(offset) = value;
    return *this;
}

RomImage& RomImage::text(std::size_t offset, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes.at(offset + i) = static_cast<std::uint8_t>(text[i]);
    }
    return *this;
}

std::span<const std::uint8_t, HEADER_SPAN> RomImage::header() const {
    return std::span<const std::uint8_t, HEADER_SPAN>(bytes.data() + HEADER_START, HEADER_SPAN);
}

RomImage demoRom() {
    RomImage rom;
    rom.text(TITLE_OFFSET, "DEMO")
        .set(CARTRIDGE_TYPE_OFFSET, 0x01)
        .set(ROM_SIZE_OFFSET, 0x01)
        .set(DESTINATION_OFFSET, 0x01);
    return rom;
}

void writeRom(const std::filesystem::path& path, const RomImage& image, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size());
    bytes.resize(size);
    writeBytes(path, bytes);
}

void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
