#include "support/snapshot.h"

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

TreeSnapshot snapshotTree(const fs::path& root) {
    TreeSnapshot snapshot;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).generic_string();
        const fs::file_status status = entry.symlink_status();
        if (fs::is_symlink(status)) {
            snapshot[name] = "<link> " + fs::read_symlink(entry.path()).string();
        } else if (fs::is_directory(status)) {
            snapshot[name] = "<directory>";
        } else if (fs::is_regular_file(status)) {
            std::string& content = snapshot[name];
            if (entry.file_size() != 0) {  // large trees are mostly empty files
                std::ifstream in(entry.path(), std::ios::binary);
                content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        } else {
            snapshot[name] = "<other>";
        }
    }
    return snapshot;
}

std::string snapshotChanges(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::string changes;
    for (const auto& [name, content] : before) {
        const auto found = after.find(name);
        if (found == after.end()) {
            changes += "removed " + name + "\n";
        } else if (found->second != content) {
            changes += "changed " + name + "\n";
        }
    }
    for (const auto& [name, content] : after) {
        if (before.count(name) == 0) {
            changes += "created " + name + "\n";
        }
    }
    return changes;
}
