// Everything under a directory, to show afterwards that a run left it as it
// was.
#pragma once

#include <filesystem>
#include <map>
#include <string>

// Each entry's path relative to the root (with '/' between names) and its
// content: a regular file's bytes; "<directory>", "<link> " and the link's
// target, or "<other>" for any other kind. Links are not followed, and named
// pipes are never opened.
using TreeSnapshot = std::map<std::string, std::string>;

TreeSnapshot snapshotTree(const std::filesystem::path& root);

// The paths that one snapshot lacks, gained or has changed against the
// other, one a line; empty when they are equal.
std::string snapshotChanges(const TreeSnapshot& before, const TreeSnapshot& after);
