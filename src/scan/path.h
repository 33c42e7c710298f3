// Bounded building of paths in fixed buffers. Each step fails, with errno set
// to ERANGE and the buffer holding what was built so far, when its result
// would exceed platform::PATH_MAX_LENGTH units.
#pragma once

#include <cstddef>

#include "platform/platform.h"

using PathBuffer = NativeChar[platform::PATH_CAPACITY];

/// The count of units before the terminator.
std::size_t pathLength(const NativeChar* path);

/// Copies `source` into `path`; on failure `path` is left empty.
bool copyPath(PathBuffer& path, const NativeChar* source);

/// Appends the separator unless `path` is empty or already ends in one, so
/// that a name joined to an empty path stands alone.
bool appendSeparator(PathBuffer& path);

/// Puts `segment` after the first `length` units of `path`; on failure
/// `path` holds those units alone.
bool appendSegmentAt(PathBuffer& path, std::size_t length, const NativeChar* segment);

/// Appends `segment`; on failure `path` is left as it was.
inline bool appendSegment(PathBuffer& path, const NativeChar* segment) {
    return appendSegmentAt(path, pathLength(path), segment);
}
