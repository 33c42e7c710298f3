#include "header/rom_header.h"

#include <array>

#include "diag/diag.h"
#include "header/licensee.h"
#include "platform/platform.h"

namespace {

// Copies at most `count` bytes, stopping before a zero byte, and terminates.
// False, with the field left empty, when the bytes and the terminator would
// not fit it.
template <std::size_t N>
bool copyField(char (&field)[N], const std::uint8_t* bytes, std::size_t count) {
    std::size_t length = 0;
    while (length < count && bytes[length] != 0) {
        ++length;
    }
    if (length >= N) {
        field[0] = '\0';
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        field[i] = static_cast<char>(bytes[i]);
    }
    field[length] = '\0';
    return true;
}

constexpr std::size_t at(std::size_t romOffset) { return romOffset - HEADER_START; }

}  // namespace

bool decodeHeader(std::span<const std::uint8_t, HEADER_SPAN> header, CartHeaderInfo& info) {
    const std::uint8_t colorFlag = header[at(CGB_FLAG_OFFSET)];
    std::size_t titleLength = 16;
    if (colorFlag == CGB_COMPATIBLE || colorFlag == CGB_EXCLUSIVE) {
        info.colorGbSupport = colorFlag;
        titleLength = 15;
    } else {
        // Any other value is taken as the title's sixteenth byte.
        info.colorGbSupport = 0;
    }
    if (!copyField(info.title, &header[at(TITLE_OFFSET)], titleLength) ||
        !copyField(info.code, &header[at(MANUFACTURER_CODE_OFFSET)], 4)) {
        return false;
    }
    info.superGbSupport = header[at(SGB_FLAG_OFFSET)] == SGB_SUPPORTED ? 3 : 0;
    info.pakType = header[at(CARTRIDGE_TYPE_OFFSET)];
    info.romSize = header[at(ROM_SIZE_OFFSET)];
    info.ramSize = header[at(RAM_SIZE_OFFSET)];
    info.destination = header[at(DESTINATION_OFFSET)];
    info.version = header[at(VERSION_OFFSET)];
    const std::uint8_t newCode[2] = {header[at(NEW_LICENSEE_OFFSET)],
                                     header[at(NEW_LICENSEE_OFFSET + 1)]};
    const char* maker = lookupMaker(header[at(OLD_LICENSEE_OFFSET)], newCode);
    return copyField(info.maker, reinterpret_cast<const std::uint8_t*>(maker),
                     sizeof info.maker);
}

void reportNotARom(const wchar_t* path) {
    reportPlain(
        L"Not able to read at least 4 KiB from file %s. This file is probably not a GB ROM.\n",
        path);
}

bool openRomFile(const wchar_t* path, const platform::DirListing* listing,
                 const platform::DirEntry* entry, bool wantId, platform::File& file) {
    if (!platform::openFile(path, listing, entry, wantId, file)) {
        reportError(L"Failed to open ROM file %s", path);
        return false;
    }
    return true;
}

bool readRom(platform::File& file, const wchar_t* path, CartHeaderInfo& info) {
    std::array<std::uint8_t, ROM_READ_SIZE> buffer;
    std::size_t got = 0;
    // A failed read counts as a short one: either way the file is no ROM.
    if (!file.isRegular || !platform::readFile(file, buffer, got) || got < ROM_READ_SIZE) {
        reportNotARom(path);
        return false;
    }
    const std::span<const std::uint8_t, HEADER_SPAN> header(buffer.data() + HEADER_START,
                                                            HEADER_SPAN);
    if (!decodeHeader(header, info)) {
        reportError(L"Failed to read GB header from file %s", path);
        return false;
    }
    return true;
}

bool readRomHeader(const wchar_t* path, CartHeaderInfo& info) {
    platform::File file;
    if (!openRomFile(path, nullptr, nullptr, false, file)) {
        return false;
    }
    const bool decoded = readRom(file, path, info);
    platform::closeFile(file);
    return decoded;
}
