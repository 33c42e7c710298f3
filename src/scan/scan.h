// The directory walk.
#pragma once

#include <cstdio>

struct RunOptions;

/// Lists `directory` and writes one row per ROM in it to `output` (when not
/// null) and then to standard output (with OPT_STDOUT); with OPT_RECURSIVE it
/// walks every sub-directory too, depth first. Files that are not ROMs are
/// reported and passed over. False at the first failure to build a path, to
/// list a directory or to write a row, which has then been reported; the walk
/// ends there at every level.
bool scanDirectory(const wchar_t* directory, std::FILE* output, const RunOptions& options);
