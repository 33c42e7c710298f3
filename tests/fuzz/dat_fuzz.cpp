// Any bytes as a DAT, loaded after a DAT of one entry. A DAT that fails
// leaves the set as it was and names a line of the input. One that loads
// keeps every value exactly: written back in the text form, its entries load
// again the same. Each entry that can match is found by its own contents,
// and the first match is the first entry in DAT order that a search of every
// entry finds.
#include <algorithm>
#include <cstring>
#include <string>

#include "dat/dat.h"
#include "fuzz_check.h"

namespace {

constexpr std::string_view BASE = "game ( name base rom ( name b size 4096 crc 11111111 ) )";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void appendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        out += "0123456789ABCDEF"[byte >> 4];
        out += "0123456789abcdef"[byte & 15];  // either case is read
    }
}

// The set's entries in the text form, one game each. False when a name
// holds a quote, which that form cannot carry.
bool writeText(const DatSet& set, std::string& out) {
    for (const DatRom& rom : set.roms) {
        const std::string_view game = datText(set, rom.game);
        const std::string_view name = datText(set, rom.name);
        if (game.find('"') != std::string_view::npos || name.find('"') != std::string_view::npos) {
            return false;
        }
        out.append("game ( name \"").append(game).append("\" rom ( name \"").append(name) += '"';
        if (rom.hasSize) {
            out += " size " + std::to_string(rom.size);
        }
        if (rom.hasCrc) {
            const std::uint8_t crc[4] = {
                static_cast<std::uint8_t>(rom.crc >> 24), static_cast<std::uint8_t>(rom.crc >> 16),
                static_cast<std::uint8_t>(rom.crc >> 8), static_cast<std::uint8_t>(rom.crc)};
            appendHex(out += " crc ", crc);
        }
        if (rom.hasMd5) {
            appendHex(out += " md5 ", rom.md5);
        }
        if (rom.hasSha1) {
            appendHex(out += " sha1 ", rom.sha1);
        }
        constexpr const char* STATUS[] = {"", " status verified", " flags baddump",
                                          " flags nodump"};
        out.append(STATUS[static_cast<int>(rom.status)]).append(" ) )\n");
    }
    return true;
}

bool sameEntry(const DatSet& a, const DatRom& x, const DatSet& b, const DatRom& y) {
    return datText(a, x.game) == datText(b, y.game) && datText(a, x.name) == datText(b, y.name) &&
           x.hasSize == y.hasSize && x.size == y.size && x.hasCrc == y.hasCrc && x.crc == y.crc &&
           x.hasMd5 == y.hasMd5 && std::memcmp(x.md5, y.md5, sizeof x.md5) == 0 &&
           x.hasSha1 == y.hasSha1 && std::memcmp(x.sha1, y.sha1, sizeof x.sha1) == 0 &&
           x.status == y.status;
}

// Whether a file of `file`'s contents matches `rom`, by looking at both.
bool matches(const DatRom& rom, const DatRom& file) {
    return canMatch(rom) && rom.size == file.size && rom.crc == file.crc &&
           (!rom.hasMd5 || std::memcmp(rom.md5, file.md5, sizeof rom.md5) == 0) &&
           (!rom.hasSha1 || std::memcmp(rom.sha1, file.sha1, sizeof rom.sha1) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DatSet set;
    DatProblem problem;
    fuzz::require(parseDat(bytesOf(BASE), set, problem), "the base DAT loads");
    const DatSet before = set;
    if (!parseDat({data, size}, set, problem)) {
        // Expat ends a line at a carriage return too.
        const auto breaks =
            std::count(data, data + size, '\n') + std::count(data, data + size, '\r');
        fuzz::require(problem.line >= 1 && problem.line <= static_cast<std::uint64_t>(breaks) + 1 &&
                          problem.what[0] != '\0',
                      "a failure names a line of the DAT and what is wrong", problem.what);
        fuzz::require(set.roms.size() == 1 && sameEntry(set, set.roms[0], before, before.roms[0]) &&
                          set.text == before.text && set.index.size() == 1,
                      "a DAT that fails leaves the set as it was");
        return 0;
    }
    std::string text;
    if (writeText(set, text)) {
        DatSet again;
        fuzz::require(parseDat(bytesOf(text), again, problem), "written back, the entries load",
                      problem.what);
        fuzz::require(again.roms.size() == set.roms.size(), "written back, as many entries");
        for (std::size_t i = 0; i < set.roms.size(); ++i) {
            fuzz::require(sameEntry(set, set.roms[i], again, again.roms[i]),
                          "written back, each entry loads the same", text);
        }
    }
    for (const DatRom& file : set.roms) {
        if (!canMatch(file)) {
            continue;
        }
        // The search ends at the file's own entry at the latest.
        const DatRom* first = set.roms.data();
        while (!matches(*first, file)) {
            ++first;
        }
        fuzz::require(matchFile(set, file.size, file.crc, file.md5, file.sha1) == first,
                      "a file's first match is the first entry in DAT order that it matches");
    }
    for (const DatRom& rom : set.roms) {
        fuzz::require(rom.found == canMatch(rom), "found: every entry that can match, no other");
    }
    return 0;
}
