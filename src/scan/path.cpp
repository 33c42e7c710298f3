#include "scan/path.h"

#include <cerrno>
#include <cwchar>

namespace {

std::size_t pathLength(const wchar_t* path) { return std::wcslen(path); }

}  // namespace

bool samePath(const wchar_t* a, const wchar_t* b) {
    while (*a != L'\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool copyPath(PathBuffer& path, const wchar_t* source) {
    const std::size_t length = pathLength(source);
    if (length > platform::PATH_MAX_LENGTH) {
        path[0] = L'\0';
        errno = ERANGE;
        return false;
    }
    for (std::size_t i = 0; i <= length; ++i) {
        path[i] = source[i];
    }
    return true;
}

bool appendSeparator(PathBuffer& path) {
    const std::size_t length = pathLength(path);
    if (length == 0 || platform::isTrailingSeparator(path[length - 1])) {
        return true;
    }
    if (length + 1 > platform::PATH_MAX_LENGTH) {
        errno = ERANGE;
        return false;
    }
    path[length] = platform::PATH_SEPARATOR;
    path[length + 1] = L'\0';
    return true;
}

bool appendSegment(PathBuffer& path, const wchar_t* segment) {
    return appendSegmentAt(path, pathLength(path), segment);
}

bool appendSegmentAt(PathBuffer& path, std::size_t length, const wchar_t* segment) {
    const std::size_t added = pathLength(segment);
    if (length + added > platform::PATH_MAX_LENGTH) {
        path[length] = L'\0';
        errno = ERANGE;
        return false;
    }
    std::wmemcpy(path + length, segment, added + 1);
    return true;
}

bool joinPath(PathBuffer& path, const wchar_t* directory, const wchar_t* name) {
    return copyPath(path, directory) && appendSeparator(path) && appendSegment(path, name);
}
