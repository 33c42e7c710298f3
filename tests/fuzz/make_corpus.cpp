// Writes the seed inputs of the fuzz targets into OUT/header, OUT/args and
// OUT/format. The seeds are made here at build time, so that the repository
// holds no corpus of its own; each one starts the fuzzer near a case that
// matters (a real-looking header, every option, every message format).
//
// Usage: make_corpus OUT
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void writeSeed(const fs::path& dir, const std::string& name, const std::string& bytes) {
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A 4 KiB image: `name` from offset 0 (the file name the header target
// uses), then the header fields.
struct Image {
    std::string bytes = std::string(4096, '\0');

    Image& name(const std::string& text) { return put(0, text); }
    Image& put(std::size_t offset, const std::string& text) {
        bytes.replace(offset, text.size(), text);
        return *this;
    }
    Image& set(std::size_t offset, int value) {
        bytes[offset] = static_cast<char>(value);
        return *this;
    }
};

std::string join(const std::vector<std::string>& pieces) {
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i != 0) {
            joined.push_back('\0');
        }
        joined += pieces[i];
    }
    return joined;
}

void headerSeeds(const fs::path& dir) {
    // The worked example: DEMO, MBC1, 64 KiB, no RAM, worldwide.
    writeSeed(dir, "demo", Image()
                               .name("roms/demo.gb")
                               .put(0x134, "DEMO")
                               .set(0x147, 0x01)
                               .set(0x148, 0x01)
                               .set(0x14A, 0x01)
                               .bytes);
    writeSeed(dir, "color-compatible", Image()
                                           .name("a/b.gbc")
                                           .put(0x134, "COLORTITLEXAB12")
                                           .set(0x143, 0x80)
                                           .set(0x147, 0x1B)
                                           .set(0x148, 0x05)
                                           .set(0x149, 0x03)
                                           .bytes);
    writeSeed(dir, "color-exclusive", Image()
                                          .name("x.gbc")
                                          .put(0x134, "EXCLUSIVE")
                                          .put(0x13F, "BXYE")
                                          .set(0x143, 0xC0)
                                          .set(0x146, 0x03)
                                          .set(0x14C, 0xFF)
                                          .bytes);
    writeSeed(dir, "sixteen-char-title", Image().name("t.gb").put(0x134, "SIXTEENCHARTITLE").bytes);
    writeSeed(dir, "quotes-commas-newlines", Image()
                                                 .name("dir/\"odd\", name\n\t.gb")
                                                 .put(0x134, "A\"B,C\nD\rE")
                                                 .set(0x14B, 0x8F)
                                                 .bytes);
    writeSeed(dir, "high-bytes", Image()
                                     .name("\xe9\xff\x80\xc3(.gb")
                                     .put(0x134, "\x80\x92\xff\xfe")
                                     .set(0x14B, 0x96)
                                     .bytes);
    writeSeed(dir, "new-licensee", Image().name("n.gb").put(0x144, "01").set(0x14B, 0x33).bytes);
    writeSeed(dir, "new-licensee-9H", Image().name("n.gb").put(0x144, "9H").set(0x14B, 0x33).bytes);
    writeSeed(dir, "new-licensee-A4", Image().name("n.gb").put(0x144, "A4").set(0x14B, 0x33).bytes);
    writeSeed(dir, "longest-maker", Image().name("m.gb").set(0x14B, 0x93).bytes);
    writeSeed(dir, "unknown-codes", Image()
                                        .name("u.gb")
                                        .set(0x147, 0x21)
                                        .set(0x148, 0x52)
                                        .set(0x149, 0x05)
                                        .set(0x14A, 0x02)
                                        .bytes);
    writeSeed(dir, "pocket-camera", Image().name("c.gb").set(0x147, 0xFC).set(0x148, 0x08).bytes);
    writeSeed(dir, "longest-name", Image().name(std::string(259, 'n')).bytes);
    writeSeed(dir, "name-beyond-bytes", Image().name("w.gb").set(0xFF, 0xFF).bytes);
    writeSeed(dir, "short", std::string("short file"));
}

void argsSeeds(const fs::path& dir) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"-input", "roms", "-output", "out.csv"},
        {"-recursive", "-stdout", "-headless", "-append", "-nofile", "-gui"},
        {"-stdout", "-stdout", "-stdout"},
        {"-input"},
        {"-input", "-recursive"},
        {"-input", "d", "-input", "e"},
        {"-output", "f", "-output"},
        {"-input", ""},
        {"-input", std::string(259, 'p')},
        {"-input", std::string(260, 'p')},
        {"-output", std::string(300, 'q')},
        {"--input", "d"},
        {"-Input"},
        {"-stdout", "-stdout", "stray", "-recursive"},
        {"-input", "with\nnewline", "-output", "caf\xe9"},
    };
    int n = 0;
    for (const auto& line : lines) {
        writeSeed(dir, "line-" + std::to_string(n++), join(line));
    }
}

void formatSeeds(const fs::path& dir) {
    const std::vector<std::vector<std::string>> messages = {
        {"Failed to open ROM file %s", "roms/a.gb"},
        {"Failed to append path segment \"%s\" to \"%s\"", "*", "roms/"},
        {"Failed to create path for input file %s in directory %s", "name", "dir"},
        {"Unrecognised argument: %s\n", "100%s%%"},
        {"%s%s%s", "a"},
        {"%%s %% %", "x"},
        {"Couldn't find first file in directory %s", std::string(1100, 'z')},
        {"%s: %s", std::string(600, 'a'), std::string(600, 'b')},
        {"no placeholder"},
        {""},
    };
    int n = 0;
    for (const auto& message : messages) {
        writeSeed(dir, "message-" + std::to_string(n++), join(message));
    }
    // A unit above 0xFF: 0x01 makes the next byte one.
    writeSeed(dir, "wide-unit", std::string("path %s") + '\0' + "snow \x01\x03 man");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus OUT\n");
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* target : {"header", "args", "format"}) {
        fs::create_directories(out / target);
    }
    headerSeeds(out / "header");
    argsSeeds(out / "args");
    formatSeeds(out / "format");
    return 0;
}
