// Any bytes as a DAT, loaded after a DAT of one entry. A DAT that fails
// leaves the set as it was and names a line of the input. One that loads
// keeps every value: written in the text form, it loads again the same. A
// file's first match is the first entry in DAT order that a search of every
// entry finds, and the entries found are those that can match.
#include <algorithm>
#include <string>

#include "dat/dat.h"
#include "fuzz_check.h"

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Puts `key` and `bytes` in hexadecimal when the entry gives them.
void putHex(std::string& out, bool given, const char* key, std::span<const std::uint8_t> bytes) {
    if (!given) {
        return;
    }
    out += key;
    for (const std::uint8_t byte : bytes) {
        out += "0123456789ABCDEF"[byte >> 4];
        out += "0123456789abcdef"[byte & 15];  // either case is read
    }
}

// The set in the text form, every value given. False when a name holds a
// quote, which that form cannot carry.
bool writeText(const DatSet& set, std::string& out) {
    for (const DatRom& rom : set.roms) {
        const std::string game(datText(set, rom.game));
        const std::string name(datText(set, rom.name));
        if ((game + name).find('"') != std::string::npos) {
            return false;
        }
        out += "game ( name \"" + game + "\" rom ( name \"" + name + '"';
        const std::uint8_t crc[4] = {
            static_cast<std::uint8_t>(rom.crc >> 24), static_cast<std::uint8_t>(rom.crc >> 16),
            static_cast<std::uint8_t>(rom.crc >> 8), static_cast<std::uint8_t>(rom.crc)};
        out += rom.hasSize ? " size " + std::to_string(rom.size) : "";
        putHex(out, rom.hasCrc, " crc ", crc);
        putHex(out, rom.hasMd5, " md5 ", rom.md5);
        putHex(out, rom.hasSha1, " sha1 ", rom.sha1);
        constexpr const char* STATUS[] = {"", " status verified", " flags baddump",
                                          " flags nodump"};
        out += STATUS[static_cast<int>(rom.status)] + std::string(" ) )\n");
    }
    return true;
}

// Whether a file of the contents that `file` gives matches `rom`.
bool matches(const DatRom& rom, const DatRom& file) {
    return canMatch(rom) && rom.size == file.size && rom.crc == file.crc &&
           (!rom.hasMd5 || std::equal(rom.md5, rom.md5 + 16, file.md5)) &&
           (!rom.hasSha1 || std::equal(rom.sha1, rom.sha1 + 20, file.sha1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DatSet set;
    DatProblem problem;
    fuzz::require(
        parseDat(bytesOf("game ( name g rom ( name r size 1 crc 00000000 ) )"), set, problem),
        "the first DAT loads");
    std::string before;
    writeText(set, before);
    std::string text;
    if (!parseDat({data, size}, set, problem)) {
        // Expat ends a line at a carriage return too.
        const auto breaks =
            std::count(data, data + size, '\n') + std::count(data, data + size, '\r');
        fuzz::require(problem.line >= 1 && problem.line <= static_cast<std::uint64_t>(breaks) + 1 &&
                          problem.what[0] != '\0',
                      "a failure names a line of the DAT and what is wrong", problem.what);
        fuzz::require(
            writeText(set, text) && text == before && set.text == "gr" && set.index.size() == 1,
            "a DAT that fails leaves the set as it was", text);
        return 0;
    }
    if (writeText(set, text)) {
        DatSet again;
        std::string textAgain;
        fuzz::require(parseDat(bytesOf(text), again, problem) && writeText(again, textAgain) &&
                          textAgain == text,
                      "written in the text form, the entries load again the same", text);
    }
    for (const DatRom& file : set.roms) {
        // The search ends at the file's own entry at the latest.
        const DatRom* first = set.roms.data();
        while (canMatch(file) && !matches(*first, file)) {
            ++first;
        }
        fuzz::require(
            !canMatch(file) || matchFile(set, file.size, file.crc, file.md5, file.sha1) == first,
            "a file's first match is the first entry in DAT order that it matches");
    }
    for (const DatRom& rom : set.roms) {
        fuzz::require(rom.found == canMatch(rom), "found: every entry that can match, no other");
    }
    return 0;
}
