// Writes a few seeds per fuzz target, each near a case that matters, into
// OUT/header, OUT/args and OUT/format.
// Usage: make_corpus OUT
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace std::literals;

namespace {

// The pieces joined by zero bytes, as the args and format targets split them.
std::string joined(const std::vector<std::string>& pieces) {
    std::string bytes = pieces.front();
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        bytes += '\0' + pieces[i];
    }
    return bytes;
}

// A 4 KiB image with each text at its offset; offset 0 names the file.
std::string image(const std::vector<std::pair<std::size_t, std::string>>& texts) {
    std::string bytes(4096, '\0');
    for (const auto& [offset, text] : texts) {
        bytes.replace(offset, text.size(), text);
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const std::pair<const char*, std::vector<std::string>> seeds[] = {
        {"header",
         {image({{0, "roms/demo.gb"}, {0x134, "DEMO"}, {0x147, "\1\1\0\1"s}}),
          image({{0, "a/b.gbc"}, {0x134, "COLORTITLEXAB12"}, {0x143, "\x80"}, {0x147, "\x1B"}}),
          image({{0, "x.gbc"}, {0x134, "EXCLUSIVE"}, {0x13F, "BXYE\xC0"}, {0x146, "\3"},
                 {0x14C, "\xFF"}}),
          image({{0, "dir/\"odd\", \xE9\xFF\n.gb"}, {0x134, "A\"B,C\nD"}, {0x14B, "\x8F"}}),
          image({{0, "n.gb"}, {0x144, "01"}, {0x14B, "\x33"}}),
          image({{0, std::string(259, 'n')}, {0x134, "SIXTEENCHARTITLE"}})}},
        {"args",
         {joined({"-input", "roms", "-output", "out.csv"}),
          joined({"-recursive", "-stdout", "-headless", "-append", "-nofile", "-gui", "-stdout"}),
          joined({"-input", std::string(259, 'p')}), joined({"-output", std::string(260, 'q')}),
          joined({"-input", "-recursive"}), joined({"--input", "d"})}},
        {"format",
         {joined({"Failed to open ROM file %s", "roms/a.gb"}),
          joined({"%s: %s", std::string(600, 'a'), std::string(600, 'b')}),
          joined({"%%s %% %", "x"}), joined({"path %s", "snow \1\3 man"})}},
    };
    for (const auto& [target, inputs] : seeds) {
        const std::filesystem::path dir = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(dir);
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            std::ofstream(dir / std::to_string(i), std::ios::binary) << inputs[i];
        }
    }
    return 0;
}
