// Lists of known dumps (DAT files), in their XML form or the older text form,
// and the matching of files against them. A set holds any number of DATs,
// loaded once per run; matching a file allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// A dump's standing in its DAT; an entry without a status is a good dump.
enum class DatStatus : std::uint8_t { Good, Verified, BadDump, NoDump };

// Where one of a set's names lies in DatSet::text.
struct DatText {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// One ROM of a DAT. Its names are the DAT's bytes: what the XML parser gives
// (UTF-8, references decoded), or the bytes between the quotes of the text
// form. Each has* flag tells whether the DAT gave the value beside it.
struct DatRom {
    DatText game;
    DatText name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::uint8_t md5[16] = {};
    std::uint8_t sha1[20] = {};
    bool hasSize = false;
    bool hasCrc = false;
    bool hasMd5 = false;
    bool hasSha1 = false;
    DatStatus status = DatStatus::Good;
    bool found = false;  // a file of this run matched it
};

// An entry that can match, in the order that matchFile searches.
struct DatKey {
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::size_t rom = 0;  // its place in DatSet::roms
};

// The entries of every DAT loaded, in the order of loading and then the
// order of each file. Filled by parseDat only.
struct DatSet {
    std::vector<DatRom> roms;
    std::string text;  // the bytes of every name
    std::vector<DatKey> index;
};

// Why a DAT could not be read: its line (from 1) and a short English text.
using DatProblem = platform::XmlProblem;

/// Appends the entries of the DAT in `bytes`, XML or text form, to `set` and
/// indexes them for matchFile. False when the DAT is malformed: `problem`
/// then tells where and what, and `set` is left as it was.
bool parseDat(std::span<const std::uint8_t> bytes, DatSet& set, DatProblem& problem);

/// True when a file can match `rom`: it gives size and CRC32 and is not a
/// known missing dump. Such entries that no file matched are the ROMs
/// missing from a collection.
bool canMatch(const DatRom& rom);

/// The first entry, in DAT order, that the file of these size and hashes
/// matches: size and CRC32 agree, and each hash that the entry gives. Marks
/// every matching entry found. Null when none matches. The entry lasts until
/// the next parseDat.
const DatRom* matchFile(DatSet& set, std::uint64_t size, std::uint32_t crc,
                        const std::uint8_t (&md5)[16], const std::uint8_t (&sha1)[20]);

/// The bytes of one of the set's names.
inline std::string_view datText(const DatSet& set, DatText text) {
    return std::string_view(set.text).substr(text.offset, text.length);
}
