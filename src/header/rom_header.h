// Reading a ROM file's first 4 KiB and decoding its cartridge header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/platform.h"

// Every file must yield this many bytes to count as a ROM.
inline constexpr std::size_t ROM_READ_SIZE = 4096;
// The header starts here; decodeHeader addresses its bytes from this offset.
inline constexpr std::size_t HEADER_START = 0x100;
inline constexpr std::size_t HEADER_SPAN = ROM_READ_SIZE - HEADER_START;

// Header fields by their ROM offset.
inline constexpr std::size_t LOGO_OFFSET = 0x104;
inline constexpr std::size_t TITLE_OFFSET = 0x134;
inline constexpr std::size_t MANUFACTURER_CODE_OFFSET = 0x13F;
inline constexpr std::size_t CGB_FLAG_OFFSET = 0x143;
inline constexpr std::size_t NEW_LICENSEE_OFFSET = 0x144;
inline constexpr std::size_t SGB_FLAG_OFFSET = 0x146;
inline constexpr std::size_t CARTRIDGE_TYPE_OFFSET = 0x147;
inline constexpr std::size_t ROM_SIZE_OFFSET = 0x148;
inline constexpr std::size_t RAM_SIZE_OFFSET = 0x149;
inline constexpr std::size_t DESTINATION_OFFSET = 0x14A;
inline constexpr std::size_t OLD_LICENSEE_OFFSET = 0x14B;
inline constexpr std::size_t VERSION_OFFSET = 0x14C;
inline constexpr std::size_t HEADER_CHECKSUM_OFFSET = 0x14D;
inline constexpr std::size_t GLOBAL_CHECKSUM_OFFSET = 0x14E;  // two bytes, high byte first

// The largest ROM there is: a longer file's global checksum is not worked out.
inline constexpr std::uint64_t LARGEST_ROM = 8u << 20;

inline constexpr std::uint8_t CGB_COMPATIBLE = 0x80;
inline constexpr std::uint8_t CGB_EXCLUSIVE = 0xC0;
inline constexpr std::uint8_t SGB_SUPPORTED = 0x03;

// What a check of -verify found.
enum class Check : std::uint8_t { Unknown, Valid, Invalid };

// The decoded header. Text fields hold the ROM's bytes unchanged, up to the
// first zero byte.
struct CartHeaderInfo {
    char title[17] = {};                     // 16 bytes, 15 when the colour flag is set
    char code[5] = {};                       // manufacturer code, 0x13F-0x142
    char maker[26] = {};                     // licensee name
    std::int32_t colorGbSupport = 0;         // 0x80, 0xC0 or 0
    std::int32_t superGbSupport = 0;         // 3 or 0
    std::int32_t pakType = 0;                // cartridge type byte, unchanged
    std::int32_t romSize = 0;                // ROM size code, unchanged
    std::int32_t ramSize = 0;                // RAM size code, unchanged
    std::int32_t destination = 0;            // destination code, unchanged
    std::uint8_t version = 0;                // mask ROM version
    Check logo = Check::Unknown;             // the logo at 0x104-0x133 (-verify)
    Check headerChecksum = Check::Unknown;   // 0x14D against 0x134-0x14C (-verify)
    Check globalChecksum = Check::Unknown;   // 0x14E-0x14F against the whole image (-verify)
};

// Sums an image for its global checksum as its bytes arrive in order; the two
// bytes of the checksum itself are kept apart.
struct GlobalSum {
    std::uint64_t length = 0;
    std::uint16_t sum = 0;
    std::uint16_t stored = 0;

    /// Adds the next bytes, up to one past the largest ROM.
    void add(std::span<const std::uint8_t> bytes);
    /// Valid or Invalid for an image summed whole; Unknown when it could not
    /// be read to its end (`complete` false) or is longer than the largest ROM.
    Check verdict(bool complete) const;
};

/// Fills `info` from `header`, the bytes from ROM offset 0x100 on, with
/// `checks` the logo and header checksum checks too (else they stay Unknown,
/// as the global checksum does).
void decodeHeader(std::span<const std::uint8_t, HEADER_SPAN> header, CartHeaderInfo& info,
                  bool checks);

/// Decodes the header in the first 4 KiB of a ROM image, as decodeHeader does.
void decodeImage(std::span<const std::uint8_t, ROM_READ_SIZE> image, CartHeaderInfo& info,
                 bool checks);

/// Reports `path`, or its archive entry `member` when one is given, as a
/// file that is no ROM (too short, or not a file at all).
void reportNotARom(const NativeChar* path, std::optional<std::string_view> member = {});

// What identifies a dump: its size and the digests of all its bytes.
struct FileDigest {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::uint8_t md5[16] = {};
    std::uint8_t sha1[20] = {};
};

// The digests of the bytes that a file or archive entry gives, one read of
// each part feeding all three. Made once for a run.
struct Hasher {
    platform::Digests digests;
    std::uint64_t length = 0;
    std::uint32_t crc = 0;
};

/// Adds the next bytes of the file being hashed.
void addToHash(Hasher& hasher, std::span<const std::uint8_t> bytes);

/// Takes the next bytes of an image into the hasher and the global sum, each
/// where one is given.
void takeImageBytes(Hasher* hasher, GlobalSum* sum, std::span<const std::uint8_t> bytes);

/// The digest of every byte added since the last call, into `digest`; the
/// hasher starts anew. False when the system's digests failed.
bool finishHash(Hasher& hasher, FileDigest& digest);

// What the walk wants from each ROM file, and what it reads through.
struct RomReading {
    bool wholeImage = false;            // -verify: on to the end for the global checksum
    bool romsOnly = false;              // -romsonly: only what the console would start
    Hasher* hasher = nullptr;           // -hash: every byte, for the digest
    std::span<std::uint8_t> scratch;    // the rest of a file, in large reads
    const std::atomic<bool>* abandon = nullptr;  // set: a long read stops where it is
};

enum class RomRead : std::uint8_t {
    NotARom,   // too short, unreadable or no file at all
    Refused,   // with romsOnly: its logo or header checksum does not hold
    Read,      // decoded, and hashed when asked
    CutShort,  // decoded, but not hashed to its end: a read failed (errno set,
               // else 0: the file ended before the size it had when opened)
};

/// Reads the first 4 KiB of an open file and decodes its header into `info`;
/// with `wholeImage`, reads on to the end (at most the largest ROM and one
/// byte more) for the global checksum; with a hasher, reads every byte up to
/// the size the file had when opened and puts its digest into `digest`.
/// `bytes` tells how many bytes were read.
RomRead readRom(const platform::File& file, const RomReading& reading, CartHeaderInfo& info,
                FileDigest& digest, std::uint64_t& bytes);

/// Whether the console would start the image: its logo and header checksum
/// hold. `info` must have been decoded with its checks.
bool consoleWouldStart(const CartHeaderInfo& info);

/// Reports `path`, or its archive entry `member`, as an image whose logo or
/// header checksum does not hold, with -romsonly.
void reportRefused(const NativeChar* path, std::optional<std::string_view> member = {});

/// Reports a ROM file whose hash could not be read to its end, after
/// readRom gave CutShort with `error`.
void reportCutShort(const NativeChar* path, int error);
