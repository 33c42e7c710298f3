#include "header/rom_header.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "diag/diag.h"
#include "header/licensee.h"
#include "platform/platform.h"

namespace {

// Copies at most `count` bytes, stopping before a zero byte, and terminates.
// Every field has room for its bytes and the terminator.
template <std::size_t N>
void copyField(char (&field)[N], const std::uint8_t* bytes, std::size_t count) {
    static_assert(N > 0);
    std::size_t length = 0;
    while (length < count && length + 1 < N && bytes[length] != 0) {
        field[length] = static_cast<char>(bytes[length]);
        ++length;
    }
    field[length] = '\0';
}

constexpr std::size_t at(std::size_t romOffset) { return romOffset - HEADER_START; }

// The logo that the console compares before it starts a cartridge.
constexpr std::uint8_t LOGO[] = {
    0xCE, 0xED, 0x66, 0x66, 0xCC, 0x0D, 0x00, 0x0B, 0x03, 0x73, 0x00, 0x83, 0x00, 0x0C, 0x00, 0x0D,
    0x00, 0x08, 0x11, 0x1F, 0x88, 0x89, 0x00, 0x0E, 0xDC, 0xCC, 0x6E, 0xE6, 0xDD, 0xDD, 0xD9, 0x99,
    0xBB, 0xBB, 0x67, 0x63, 0x6E, 0x0E, 0xEC, 0xCC, 0xDD, 0xDC, 0x99, 0x9F, 0xBB, 0xB9, 0x33, 0x3E,
};

Check checkOf(bool valid) { return valid ? Check::Valid : Check::Invalid; }

}  // namespace

void decodeHeader(std::span<const std::uint8_t, HEADER_SPAN> header, CartHeaderInfo& info,
                  bool checks) {
    const std::uint8_t colorFlag = header[at(CGB_FLAG_OFFSET)];
    // Any other value is taken as the title's sixteenth byte.
    const bool colour = colorFlag == CGB_COMPATIBLE || colorFlag == CGB_EXCLUSIVE;
    info.colorGbSupport = colour ? colorFlag : 0;
    copyField(info.title, &header[at(TITLE_OFFSET)], colour ? 15 : 16);
    copyField(info.code, &header[at(MANUFACTURER_CODE_OFFSET)], 4);
    info.superGbSupport = header[at(SGB_FLAG_OFFSET)] == SGB_SUPPORTED ? 3 : 0;
    info.pakType = header[at(CARTRIDGE_TYPE_OFFSET)];
    info.romSize = header[at(ROM_SIZE_OFFSET)];
    info.ramSize = header[at(RAM_SIZE_OFFSET)];
    info.destination = header[at(DESTINATION_OFFSET)];
    info.version = header[at(VERSION_OFFSET)];
    const std::uint8_t newCode[2] = {header[at(NEW_LICENSEE_OFFSET)],
                                     header[at(NEW_LICENSEE_OFFSET + 1)]};
    info.logo = info.headerChecksum = info.globalChecksum = Check::Unknown;
    if (checks) {
        info.logo =
            checkOf(std::equal(std::begin(LOGO), std::end(LOGO), &header[at(LOGO_OFFSET)]));
        std::uint8_t headerSum = 0;
        for (std::size_t offset = TITLE_OFFSET; offset < HEADER_CHECKSUM_OFFSET; ++offset) {
            headerSum = static_cast<std::uint8_t>(headerSum - header[at(offset)] - 1);
        }
        info.headerChecksum = checkOf(headerSum == header[at(HEADER_CHECKSUM_OFFSET)]);
    }
    const char* maker = lookupMaker(header[at(OLD_LICENSEE_OFFSET)], newCode);
    copyField(info.maker, reinterpret_cast<const std::uint8_t*>(maker), sizeof info.maker);
}

void decodeImage(std::span<const std::uint8_t, ROM_READ_SIZE> image, CartHeaderInfo& info,
                 bool checks) {
    decodeHeader(image.subspan<HEADER_START, HEADER_SPAN>(), info, checks);
}

void reportNotARom(const NativeChar* path, std::optional<std::string_view> member) {
    reportPlain(
        "Not able to read at least 4 KiB from file %s%s%s. This file is probably not a GB ROM.\n",
        path, member ? "#" : "", member.value_or(""));
}

void GlobalSum::add(std::span<const std::uint8_t> bytes) {
    // One byte past the largest ROM tells that the image is longer: what
    // follows cannot change the verdict.
    if (length > LARGEST_ROM) {
        return;
    }
    bytes = bytes.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), LARGEST_ROM + 1 - length)));
    std::uint32_t total = 0;
    for (const std::uint8_t byte : bytes) {
        total += byte;
    }
    // The two checksum bytes are kept apart from the sum.
    for (std::uint64_t at = GLOBAL_CHECKSUM_OFFSET; at <= GLOBAL_CHECKSUM_OFFSET + 1; ++at) {
        if (at >= length && at - length < bytes.size()) {
            const std::uint8_t byte = bytes[at - length];
            total -= byte;
            stored = at == GLOBAL_CHECKSUM_OFFSET
                         ? static_cast<std::uint16_t>(byte << 8 | (stored & 0xFF))
                         : static_cast<std::uint16_t>((stored & 0xFF00) | byte);
        }
    }
    length += bytes.size();
    sum = static_cast<std::uint16_t>(sum + total);
}

Check GlobalSum::verdict(bool complete) const {
    if (!complete || length > LARGEST_ROM) {
        return Check::Unknown;
    }
    return checkOf(sum == stored);
}

void addToHash(Hasher& hasher, std::span<const std::uint8_t> bytes) {
    hasher.crc = static_cast<std::uint32_t>(
        crc32_z(hasher.crc, bytes.data(), static_cast<z_size_t>(bytes.size())));
    platform::addToDigests(hasher.digests, bytes);
    hasher.length += bytes.size();
}

void takeImageBytes(Hasher* hasher, GlobalSum* sum, std::span<const std::uint8_t> bytes) {
    if (hasher != nullptr) {
        addToHash(*hasher, bytes);
    }
    if (sum != nullptr) {
        sum->add(bytes);
    }
}

bool finishHash(Hasher& hasher, FileDigest& digest) {
    digest.size = hasher.length;
    digest.crc = hasher.crc;
    hasher.length = 0;
    hasher.crc = 0;
    return platform::finishDigests(hasher.digests, digest.md5, digest.sha1);
}

namespace {

// Reads on from the first 4 KiB, up to `size`, the file's size when opened,
// into the hasher and the global sum, whichever are given; without a hasher,
// to one byte past the largest ROM at most, so as to tell that it is longer.
// False when a read fails (`error` set) or the file ends sooner: it was cut.
bool readWholeFile(const platform::File& file, std::uint64_t size,
                   std::span<const std::uint8_t> first, const RomReading& reading, GlobalSum* sum,
                   std::uint64_t& done, int& error) {
    Hasher* hasher = reading.hasher;
    const std::uint64_t end = hasher != nullptr ? size : std::min(size, LARGEST_ROM + 1);
    done = std::min<std::uint64_t>(first.size(), size);
    takeImageBytes(hasher, sum, first.first(static_cast<std::size_t>(done)));
    bool complete = true;
    while (complete && done < end &&
           (reading.abandon == nullptr || !reading.abandon->load(std::memory_order_relaxed))) {
        const auto room =
            static_cast<std::size_t>(std::min<std::uint64_t>(reading.scratch.size(), end - done));
        std::size_t got = 0;
        if (!platform::readFileAt(file, done, reading.scratch.first(room), got)) {
            error = errno;
        }
        complete = got == room;
        takeImageBytes(hasher, sum, reading.scratch.first(got));
        done += got;
    }
    return complete;
}

}  // namespace

bool consoleWouldStart(const CartHeaderInfo& info) {
    return info.logo == Check::Valid && info.headerChecksum == Check::Valid;
}

void reportRefused(const NativeChar* path, std::optional<std::string_view> member) {
    reportPlain("The logo or header checksum of file %s%s%s does not hold. This file is probably "
                "not a GB ROM.\n",
                path, member ? "#" : "", member.value_or(""));
}

RomRead readRom(const platform::File& file, const RomReading& reading, CartHeaderInfo& info,
                FileDigest& digest, std::uint64_t& bytes) {
    std::array<std::uint8_t, ROM_READ_SIZE> buffer;
    std::size_t got = 0;
    std::uint64_t size = 0;
    // A failed read counts as a short one: either way the file is no ROM.
    if (!file.isRegular || !platform::readFileAt(file, 0, buffer, got) || got < ROM_READ_SIZE ||
        (reading.hasher != nullptr && !platform::fileSize(file, size))) {
        return RomRead::NotARom;
    }
    bytes = ROM_READ_SIZE;
    // The checks are written only with the whole image's.
    decodeImage(buffer, info, reading.wholeImage || reading.romsOnly);
    if (reading.romsOnly && !consoleWouldStart(info)) {
        return RomRead::Refused;
    }
    if (reading.hasher == nullptr && !reading.wholeImage) {
        return RomRead::Read;
    }
    GlobalSum sum;
    int error = 0;
    const bool sized = reading.hasher != nullptr || platform::fileSize(file, size);
    const bool complete = sized && readWholeFile(file, size, buffer, reading,
                                                 reading.wholeImage ? &sum : nullptr, bytes, error);
    if (reading.wholeImage) {
        info.globalChecksum = sum.verdict(complete);
    }
    if (reading.hasher == nullptr) {
        return RomRead::Read;
    }
    if (!finishHash(*reading.hasher, digest)) {
        error = EIO;
    }
    errno = error;
    return complete && error == 0 ? RomRead::Read : RomRead::CutShort;
}

void reportCutShort(const NativeChar* path, int error) {
    if (error != 0) {
        errno = error;
        reportError("Failed to read ROM file %s", path);
    } else {
        reportPlain("Failed to read ROM file %s: it ended before the size it had when opened\n",
                    path);
    }
}
