// DAT files in both forms. The XML form goes through the system's parser
// behind the platform seam; the text form is read here. Both hand each ROM's
// keys and values to one routine, so that both refuse the same malformed
// values in the same words.
#include "dat/dat.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";
constexpr const char* UNBALANCED = "unbalanced parentheses";
constexpr const char* NOT_DATAFILE = "not a datafile";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Sets `problem`; always false, for `return fail(...)`.
bool fail(DatProblem& problem, std::uint64_t line, const char* what) {
    platform::setXmlProblem(problem, line, what);
    return false;
}

DatText keepText(DatSet& set, std::string_view bytes) {
    const DatText text{set.text.size(), bytes.size()};
    set.text.append(bytes);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);  // a letter in lower case
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Reads `text`, exactly two hexadecimal digits per byte of `out`, in either
// case. False when it is anything else.
bool readHex(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() != 2 * out.size()) {
        return false;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

// Reads a size in decimal digits. False when `text` is empty, holds
// anything but digits (a sign too), or does not fit 64 bits.
bool readSize(std::string_view text, std::uint64_t& size) {
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    size = value;
    return !text.empty();
}

DatStatus statusOf(std::string_view word) {
    // Any other word, as some sets carry, stands for a good dump.
    return word == "verified"  ? DatStatus::Verified
           : word == "baddump" ? DatStatus::BadDump
           : word == "nodump"  ? DatStatus::NoDump
                               : DatStatus::Good;
}

// Takes one key of a ROM entry and its value into `rom`; keys that are not
// read are passed over. False when the value is malformed, with `what`
// saying how.
bool takeRomField(DatSet& set, DatRom& rom, std::string_view key, std::string_view value,
                  const char*& what) {
    if (key == "name") {
        rom.name = keepText(set, value);
    } else if (key == "size") {
        rom.hasSize = readSize(value, rom.size);
        what = "size is not a number";
        return rom.hasSize;
    } else if (key == "crc") {
        std::uint8_t bytes[4] = {};
        rom.hasCrc = readHex(value, bytes);
        rom.crc =
            static_cast<std::uint32_t>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
        what = "crc is not 8 hexadecimal digits";
        return rom.hasCrc;
    } else if (key == "md5") {
        rom.hasMd5 = readHex(value, rom.md5);
        what = "md5 is not 32 hexadecimal digits";
        return rom.hasMd5;
    } else if (key == "sha1") {
        rom.hasSha1 = readHex(value, rom.sha1);
        what = "sha1 is not 40 hexadecimal digits";
        return rom.hasSha1;
    } else if (key == "status" || key == "flags") {
        // The text form says "flags baddump" in most sets and "status" in some.
        rom.status = statusOf(value);
    }
    return true;
}

// ---- The text form: words, quoted strings and parentheses.

enum class TokenKind : std::uint8_t { Open, Close, Word, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view text;  // a word, or the bytes between a string's quotes
    std::uint64_t line = 1;
};

struct TextReader {
    std::string_view rest;
    std::uint64_t line = 1;
};

// Reads the next token. False for a string that no quote closes.
bool nextToken(TextReader& reader, Token& token, DatProblem& problem) {
    std::string_view& rest = reader.rest;
    std::size_t skip = 0;
    for (; skip < rest.size() && isSpace(rest[skip]); ++skip) {
        reader.line += rest[skip] == '\n';
    }
    rest.remove_prefix(skip);
    token.line = reader.line;
    token.text = {};
    if (rest.empty()) {
        token.kind = TokenKind::End;
        return true;
    }
    if (rest[0] == '(' || rest[0] == ')') {
        token.kind = rest[0] == '(' ? TokenKind::Open : TokenKind::Close;
        rest.remove_prefix(1);
        return true;
    }
    token.kind = TokenKind::Word;
    if (rest[0] == '"') {
        // A string has no escapes: it ends at the next quote, whatever lies
        // between, line breaks and parentheses too.
        const std::size_t close = rest.find('"', 1);
        if (close == std::string_view::npos) {
            return fail(problem, token.line, "unterminated string");
        }
        token.text = rest.substr(1, close - 1);
        reader.line +=
            static_cast<std::uint64_t>(std::count(token.text.begin(), token.text.end(), '\n'));
        rest.remove_prefix(close + 1);
        return true;
    }
    std::size_t length = 1;
    while (length < rest.size() && !isSpace(rest[length]) && rest[length] != '(' &&
           rest[length] != ')' && rest[length] != '"') {
        ++length;
    }
    token.text = rest.substr(0, length);
    rest.remove_prefix(length);
    return true;
}

// Passes over the rest of a block whose "(" stands on line `line`. False
// when the DAT ends inside it or holds an open string.
bool skipBlock(TextReader& reader, std::uint64_t line, DatProblem& problem) {
    Token token;
    for (std::size_t depth = 1; depth != 0;) {
        if (!nextToken(reader, token, problem)) {
            return false;
        }
        if (token.kind == TokenKind::End) {
            return fail(problem, line, UNBALANCED);
        }
        depth += token.kind == TokenKind::Open;
        depth -= token.kind == TokenKind::Close;
    }
    return true;
}

// Reads the next key of the block whose "(" stands on line `line`, and its
// value: a word, or the "(" of a nested block that the caller reads or
// passes over. A nested block without a key is passed over here. At the
// block's ")" `key` is that ")". False when the DAT ends inside the block,
// a key has no value or a string is open.
bool nextPair(TextReader& reader, std::uint64_t line, Token& key, Token& value,
              DatProblem& problem) {
    for (;;) {
        if (!nextToken(reader, key, problem)) {
            return false;
        }
        if (key.kind == TokenKind::End) {
            return fail(problem, line, UNBALANCED);
        }
        if (key.kind == TokenKind::Close) {
            return true;
        }
        if (key.kind == TokenKind::Open) {
            if (!skipBlock(reader, key.line, problem)) {
                return false;
            }
            continue;
        }
        if (!nextToken(reader, value, problem)) {
            return false;
        }
        if (value.kind == TokenKind::End) {
            return fail(problem, line, UNBALANCED);
        }
        if (value.kind == TokenKind::Close) {
            return fail(problem, key.line, "a key has no value");
        }
        return true;
    }
}

// Reads a rom block whose "(" stands on line `line` into a new entry of
// `set`. False when it is malformed.
bool readTextRom(TextReader& reader, std::uint64_t line, DatSet& set, DatProblem& problem) {
    DatRom rom;
    Token key;
    Token value;
    for (;;) {
        if (!nextPair(reader, line, key, value, problem)) {
            return false;
        }
        if (key.kind == TokenKind::Close) {
            break;
        }
        const char* what = nullptr;
        if (value.kind == TokenKind::Open) {
            if (!skipBlock(reader, value.line, problem)) {
                return false;
            }
        } else if (!takeRomField(set, rom, key.text, value.text, what)) {
            return fail(problem, value.line, what);
        }
    }
    set.roms.push_back(rom);
    return true;
}

// Reads a game block whose "(" stands on line `line`: an entry of `set` for
// each of its rom blocks. False when it is malformed.
bool readTextGame(TextReader& reader, std::uint64_t line, DatSet& set, DatProblem& problem) {
    const std::size_t first = set.roms.size();
    DatText name;
    Token key;
    Token value;
    for (;;) {
        if (!nextPair(reader, line, key, value, problem)) {
            return false;
        }
        if (key.kind == TokenKind::Close) {
            break;
        }
        if (value.kind == TokenKind::Open) {
            const bool read = key.text == "rom" ? readTextRom(reader, value.line, set, problem)
                                                : skipBlock(reader, value.line, problem);
            if (!read) {
                return false;
            }
        } else if (key.text == "name") {
            name = keepText(set, value.text);
        }
    }
    // The name may follow the roms.
    for (std::size_t i = first; i < set.roms.size(); ++i) {
        set.roms[i].game = name;
    }
    return true;
}

// Reads a DAT in the text form: blocks, of which game and machine are read
// and any other passed over. False when it is malformed.
bool readTextDat(std::string_view bytes, DatSet& set, DatProblem& problem) {
    TextReader reader{bytes};
    Token word;
    Token open;
    for (;;) {
        if (!nextToken(reader, word, problem)) {
            return false;
        }
        if (word.kind == TokenKind::End) {
            return true;
        }
        if (word.kind == TokenKind::Close) {
            return fail(problem, word.line, UNBALANCED);
        }
        if (word.kind != TokenKind::Word) {
            return fail(problem, word.line, NOT_DATAFILE);
        }
        if (!nextToken(reader, open, problem)) {
            return false;
        }
        if (open.kind != TokenKind::Open) {
            return fail(problem, word.line, NOT_DATAFILE);
        }
        const bool read = word.text == "game" || word.text == "machine"
                              ? readTextGame(reader, open.line, set, problem)
                              : skipBlock(reader, open.line, problem);
        if (!read) {
            return false;
        }
    }
}

// ---- The XML form: a datafile whose game or machine elements hold roms.

struct XmlLoad {
    DatSet& set;
    DatProblem& problem;
    std::size_t depth = 0;
    bool inGame = false;  // the element open at depth 2 is a game or machine
    DatText game{};
};

bool startXmlElement(void* context, std::uint64_t line, std::string_view name,
                     std::span<const platform::XmlAttribute> attributes) {
    auto& load = *static_cast<XmlLoad*>(context);
    ++load.depth;
    if (load.depth == 1 && name != "datafile") {
        return fail(load.problem, line, NOT_DATAFILE);
    }
    if (load.depth == 2) {
        load.inGame = name == "game" || name == "machine";
        load.game = {};
        for (const auto& attribute : attributes) {
            if (load.inGame && attribute.name == "name") {
                load.game = keepText(load.set, attribute.value);
            }
        }
    }
    if (load.depth == 3 && load.inGame && name == "rom") {
        DatRom rom;
        rom.game = load.game;
        for (const auto& attribute : attributes) {
            const char* what = nullptr;
            if (!takeRomField(load.set, rom, attribute.name, attribute.value, what)) {
                return fail(load.problem, line, what);
            }
        }
        load.set.roms.push_back(rom);
    }
    return true;
}

void endXmlElement(void* context) { --static_cast<XmlLoad*>(context)->depth; }

// Reads a DAT in the XML form. False when it is not well-formed, or not a
// good DAT: then the visitor has set `problem` and stopped the parse.
bool readXmlDat(std::span<const std::uint8_t> bytes, DatSet& set, DatProblem& problem) {
    XmlLoad load{set, problem};
    return platform::parseXml(bytes, {&load, startXmlElement, endXmlElement}, problem);
}

// Puts every entry that can match in the index, by CRC32, then size, then
// DAT order.
void indexDat(DatSet& set) {
    set.index.clear();
    for (std::size_t i = 0; i < set.roms.size(); ++i) {
        if (canMatch(set.roms[i])) {
            set.index.push_back({set.roms[i].crc, set.roms[i].size, i});
        }
    }
    std::sort(set.index.begin(), set.index.end(), [](const DatKey& a, const DatKey& b) {
        return a.crc != b.crc ? a.crc < b.crc : a.size != b.size ? a.size < b.size : a.rom < b.rom;
    });
}

}  // namespace

bool parseDat(std::span<const std::uint8_t> bytes, DatSet& set, DatProblem& problem) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with(UTF8_BOM)) {
        text.remove_prefix(UTF8_BOM.size());
    }
    const std::size_t start = static_cast<std::size_t>(
        std::find_if_not(text.begin(), text.end(), isSpace) - text.begin());
    if (start == text.size()) {
        return true;  // nothing but white space: an empty DAT
    }
    const std::size_t romsBefore = set.roms.size();
    const std::size_t textBefore = set.text.size();
    const bool read =
        text[start] == '<' ? readXmlDat(bytes, set, problem) : readTextDat(text, set, problem);
    if (!read) {
        set.roms.resize(romsBefore);
        set.text.resize(textBefore);
        return false;
    }
    indexDat(set);
    return true;
}

bool canMatch(const DatRom& rom) {
    return rom.hasSize && rom.hasCrc && rom.status != DatStatus::NoDump;
}

const DatRom* matchFile(DatSet& set, std::uint64_t size, std::uint32_t crc,
                        const std::uint8_t (&md5)[16], const std::uint8_t (&sha1)[20]) {
    const auto byContents = [](const DatKey& a, const DatKey& b) {
        return a.crc != b.crc ? a.crc < b.crc : a.size < b.size;
    };
    const auto [first, last] =
        std::equal_range(set.index.begin(), set.index.end(), DatKey{crc, size, 0}, byContents);
    const DatRom* match = nullptr;
    for (auto key = first; key != last; ++key) {
        DatRom& rom = set.roms[key->rom];
        if ((rom.hasMd5 && std::memcmp(rom.md5, md5, sizeof md5) != 0) ||
            (rom.hasSha1 && std::memcmp(rom.sha1, sha1, sizeof sha1) != 0)) {
            continue;
        }
        rom.found = true;
        match = match != nullptr ? match : &rom;
    }
    return match;
}
