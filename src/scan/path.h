// Bounded building of paths in fixed buffers. Each step fails, with errno set
// to ERANGE and the buffer holding what was built so far, when its result
// would exceed platform::PATH_MAX_LENGTH characters.
#pragma once

#include <cstddef>

#include "platform/platform.h"

using PathBuffer = wchar_t[platform::PATH_CAPACITY];

/// True when both strings hold the same units; letter case counts.
bool samePath(const wchar_t* a, const wchar_t* b);

/// Copies `source` into `path`; on failure `path` is left empty.
bool copyPath(PathBuffer& path, const wchar_t* source);

/// Appends the separator unless `path` is empty or already ends in one, so
/// that a name joined to an empty path stands alone.
bool appendSeparator(PathBuffer& path);

/// Appends `segment`; on failure `path` is left as it was.
bool appendSegment(PathBuffer& path, const wchar_t* segment);

/// Puts `segment` after the first `length` units of `path`, which a walk
/// keeps for every entry of a directory; on failure `path` holds those units
/// alone.
bool appendSegmentAt(PathBuffer& path, std::size_t length, const wchar_t* segment);

/// Joins `directory` and `name` as the steps above do, reporting nothing.
bool joinPath(PathBuffer& path, const wchar_t* directory, const wchar_t* name);
