#include "scan/path.h"

#include <cerrno>
#include <string_view>

std::size_t pathLength(const NativeChar* path) { return platform::NativeView(path).size(); }

bool copyPath(PathBuffer& path, const NativeChar* source) {
    path[0] = NATIVE('\0');
    return appendSegmentAt(path, 0, source);
}

bool appendSeparator(PathBuffer& path) {
    const std::size_t length = pathLength(path);
    if (length == 0 || platform::isTrailingSeparator(path[length - 1])) {
        return true;
    }
    const NativeChar separator[] = {platform::PATH_SEPARATOR, NATIVE('\0')};
    return appendSegmentAt(path, length, separator);
}

bool appendSegmentAt(PathBuffer& path, std::size_t length, const NativeChar* segment) {
    const std::size_t added = pathLength(segment);
    if (length + added > platform::PATH_MAX_LENGTH) {
        path[length] = NATIVE('\0');
        errno = ERANGE;
        return false;
    }
    std::char_traits<NativeChar>::copy(path + length, segment, added + 1);
    return true;
}
