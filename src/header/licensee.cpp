#include "header/licensee.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr const char* UNKNOWN = "Unknown";

// clang-format off
// Old one-byte codes; every byte not listed names no maker, and 0x33 defers to
// the new code.
struct OldName { std::uint8_t code; const char* name; };
constexpr OldName OLD_NAMES[] = {
    {0x00, "None"},
    {0x01, "Nintendo"},
    {0x08, "Capcom"},
    {0x09, "Hot - B"},
    {0x0A, "Jaleco"},
    {0x0B, "Coconuts Japan"},
    {0x0C, "Elite Systems"},
    {0x13, "EA(Electronic Arts)"},
    {0x18, "Hudsonsoft"},
    {0x19, "ITC Entertainment"},
    {0x1A, "Yanoman"},
    {0x1D, "Japan Clary"},
    {0x1F, "Virgin Interactive"},
    {0x24, "PCM Complete"},
    {0x25, "San - X"},
    {0x28, "Kotobuki Systems"},
    {0x29, "Seta"},
    {0x30, "Infogrames"},
    {0x31, "Nintendo"},
    {0x32, "Bandai"},
    {0x34, "Konami"},
    {0x35, "HectorSoft"},
    {0x38, "Capcom"},
    {0x39, "Banpresto"},
    {0x3C, ".Entertainment i"},
    {0x3E, "Gremlin"},
    {0x41, "Ubisoft"},
    {0x42, "Atlus"},
    {0x44, "Malibu"},
    {0x46, "Angel"},
    {0x47, "Spectrum Holoby"},
    {0x49, "Irem"},
    {0x4A, "Virgin Interactive"},
    {0x4D, "Malibu"},
    {0x4F, "U.S.Gold"},
    {0x50, "Absolute"},
    {0x51, "Acclaim"},
    {0x52, "Activision"},
    {0x53, "American Sammy"},
    {0x54, "GameTek"},
    {0x55, "Park Place"},
    {0x56, "LJN"},
    {0x57, "Matchbox"},
    {0x59, "Milton Bradley"},
    {0x5A, "Mindscape"},
    {0x5B, "Romstar"},
    {0x5C, "Naxat Soft"},
    {0x5D, "Tradewest"},
    {0x60, "Titus"},
    {0x61, "Virgin Interactive"},
    {0x67, "Ocean Interactive"},
    {0x69, "EA(Electronic Arts)"},
    {0x6E, "Elite Systems"},
    {0x6F, "Electro Brain"},
    {0x70, "Infogrames"},
    {0x71, "Interplay"},
    {0x72, "Broderbund"},
    {0x73, "Sculptered Soft"},
    {0x75, "The Sales Curve"},
    {0x78, "t.hq"},
    {0x79, "Accolade"},
    {0x7A, "Triffix Entertainment"},
    {0x7C, "Microprose"},
    {0x7F, "Kemco"},
    {0x80, "Misawa Entertainment"},
    {0x83, "Lozc"},
    {0x86, "Tokuma Shoten Intermedia"},
    {0x8B, "Bullet - Proof Software"},
    {0x8C, "Vic Tokai"},
    {0x8E, "Ape"},
    {0x8F, "I\x92" "Max"},
    {0x91, "Chunsoft Co."},
    {0x92, "Video System"},
    {0x93, "Tsubaraya Productions Co."},
    {0x95, "Varie Corporation"},
    {0x96, "Yonezawa / S\x92" "Pal"},
    {0x97, "Kaneko"},
    {0x99, "Arc"},
    {0x9A, "Nihon Bussan"},
    {0x9B, "Tecmo"},
    {0x9C, "Imagineer"},
    {0x9D, "Banpresto"},
    {0x9F, "Nova"},
    {0xA1, "Hori Electric"},
    {0xA2, "Bandai"},
    {0xA4, "Konami"},
    {0xA6, "Kawada"},
    {0xA7, "Takara"},
    {0xA9, "Technos Japan"},
    {0xAA, "Broderbund"},
    {0xAC, "Toei Animation"},
    {0xAD, "Toho"},
    {0xAF, "Namco"},
    {0xB0, "acclaim"},
    {0xB1, "ASCII or Nexsoft"},
    {0xB2, "Bandai"},
    {0xB4, "Square Enix"},
    {0xB6, "HAL Laboratory"},
    {0xB7, "SNK"},
    {0xB9, "Pony Canyon"},
    {0xBA, "Culture Brain"},
    {0xBB, "Sunsoft"},
    {0xBD, "Sony Imagesoft"},
    {0xBF, "Sammy"},
    {0xC0, "Taito"},
    {0xC2, "Kemco"},
    {0xC3, "Squaresoft"},
    {0xC4, "Tokuma Shoten Intermedia"},
    {0xC5, "Data East"},
    {0xC6, "Tonkinhouse"},
    {0xC8, "Koei"},
    {0xC9, "UFL"},
    {0xCA, "Ultra"},
    {0xCB, "Vap"},
    {0xCC, "Use Corporation"},
    {0xCD, "Meldac"},
    {0xCE, "Pony Canyon or"},
    {0xCF, "Angel"},
    {0xD0, "Taito"},
    {0xD1, "Sofel"},
    {0xD2, "Quest"},
    {0xD3, "Sigma Enterprises"},
    {0xD4, "ASK Kodansha Co."},
    {0xD6, "Naxat Soft"},
    {0xD7, "Copya System"},
    {0xD9, "Banpresto"},
    {0xDA, "Tomy"},
    {0xDB, "LJN"},
    {0xDD, "NCS"},
    {0xDE, "Human"},
    {0xDF, "Altron"},
    {0xE0, "Jaleco"},
    {0xE1, "Towa Chiki"},
    {0xE2, "Yutaka"},
    {0xE3, "Varie"},
    {0xE5, "Epcoh"},
    {0xE7, "Athena"},
    {0xE8, "Asmik ACE Entertainment"},
    {0xE9, "Natsume"},
    {0xEA, "King Records"},
    {0xEB, "Atlus"},
    {0xEC, "Epic / Sony Records"},
    {0xEE, "IGS"},
    {0xF0, "A Wave"},
    {0xF3, "Extreme Entertainment"},
    {0xFF, "LJN"},
};

// New two-character codes, matched byte for byte: no case folding.
struct NewName { char first; char second; const char* name; };
constexpr NewName NEW_NAMES[] = {
    {'0', '0', "None"},
    {'0', '1', "Nintendo R & D1"},
    {'0', '8', "Capcom"},
    {'1', '3', "Electronic Arts"},
    {'1', '8', "Hudson Soft"},
    {'1', '9', "b - ai"},
    {'2', '0', "kss"},
    {'2', '2', "pow"},
    {'2', '4', "PCM Complete"},
    {'2', '5', "san - x"},
    {'2', '8', "Kemco Japan"},
    {'2', '9', "seta"},
    {'3', '0', "Viacom"},
    {'3', '1', "Nintendo"},
    {'3', '2', "Bandai"},
    {'3', '3', "Ocean / Acclaim"},
    {'3', '4', "Konami"},
    {'3', '5', "Hector"},
    {'3', '7', "Taito"},
    {'3', '8', "Hudson"},
    {'3', '9', "Banpresto"},
    {'4', '1', "Ubi Soft"},
    {'4', '2', "Atlus"},
    {'4', '4', "Malibu"},
    {'4', '6', "angel"},
    {'4', '7', "Bullet - Proof"},
    {'4', '9', "irem"},
    {'5', '0', "Absolute"},
    {'5', '1', "Acclaim"},
    {'5', '2', "Activision"},
    {'5', '3', "American sammy"},
    {'5', '4', "Konami"},
    {'5', '5', "Hi tech entertainment"},
    {'5', '6', "LJN"},
    {'5', '7', "Matchbox"},
    {'5', '8', "Mattel"},
    {'5', '9', "Milton Bradley"},
    {'6', '0', "Titus"},
    {'6', '1', "Virgin"},
    {'6', '4', "LucasArts"},
    {'6', '7', "Ocean"},
    {'6', '9', "Electronic Arts"},
    {'7', '0', "Infogrames"},
    {'7', '1', "Interplay"},
    {'7', '2', "Broderbund"},
    {'7', '3', "sculptured"},
    {'7', '5', "sci"},
    {'7', '8', "THQ"},
    {'7', '9', "Accolade"},
    {'8', '0', "misawa"},
    {'8', '3', "lozc"},
    {'8', '6', "Tokuma Shoten Intermedia"},
    {'8', '7', "Tsukuda Original"},
    {'9', '1', "Chunsoft"},
    {'9', '2', "Video system"},
    {'9', '3', "Ocean / Acclaim"},
    {'9', '5', "Varie"},
    {'9', '6', "Yonezawa / s\x92" "pal"},
    {'9', '7', "Kaneko"},
    {'9', '9', "Pack in soft"},
    {'9', 'H', "Bottom Up"},
    {'A', '4', "Konami(Yu - Gi - Oh!)\t"},
};
// clang-format on
// Indexed by the old code itself, so the lookup is a single load.
constexpr std::array<const char*, 256> buildOldTable() {
    std::array<const char*, 256> table{};
    table.fill(UNKNOWN);
    for (const OldName& entry : OLD_NAMES) {
        table[entry.code] = entry.name;
    }
    return table;
}

constexpr std::array<const char*, 256> OLD_TABLE = buildOldTable();

// Every name must fit the maker field with its terminator.
constexpr bool allNamesFit(const auto& names) {
    return std::all_of(std::begin(names), std::end(names), [](const auto& entry) {
        return std::string_view(entry.name).size() <= MAKER_NAME_MAX_LENGTH;
    });
}

static_assert(allNamesFit(OLD_NAMES) && allNamesFit(NEW_NAMES));
static_assert(std::size(OLD_NAMES) == 146);
static_assert(std::size(NEW_NAMES) == 62);
static_assert(std::string_view(OLD_TABLE[0x93]).size() == MAKER_NAME_MAX_LENGTH);
static_assert(std::string_view(OLD_TABLE[0x33]) == "Unknown");

}  // namespace

const char* lookupMaker(std::uint8_t oldCode, const std::uint8_t (&newCode)[2]) {
    if (oldCode != USE_NEW_LICENSEE_CODE) {
        return OLD_TABLE[oldCode];
    }
    for (const NewName& entry : NEW_NAMES) {
        if (static_cast<std::uint8_t>(entry.first) == newCode[0] &&
            static_cast<std::uint8_t>(entry.second) == newCode[1]) {
            return entry.name;
        }
    }
    return UNKNOWN;
}
