// The floor of the benchmark on Windows: the least a catalogue of a tree must
// do there. It lists every directory with FindFirstFileExW, recursively, and
// opens, reads 4096 bytes from and closes each file, writing nothing.
//
// Usage: floor_win32 DIRECTORY
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

namespace {

unsigned long filesRead = 0;

// The longest path the wide calls take.
wchar_t path[32768];

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Walks the directory whose path, ending in a backslash, fills `path` up to
// `length`.
bool walk(std::size_t length) {
    if (length + 2 > std::size(path)) {
        return false;
    }
    path[length] = L'*';
    path[length + 1] = L'\0';
    WIN32_FIND_DATAW found;
    const HANDLE listing =
        FindFirstFileExW(path, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    do {
        if (isDotOrDotDot(found.cFileName)) {
            continue;
        }
        const std::size_t name = std::wcslen(found.cFileName);
        if (length + name + 2 > std::size(path)) {
            ok = false;
            continue;
        }
        std::wmemcpy(path + length, found.cFileName, name + 1);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            path[length + name] = L'\\';
            ok = walk(length + name + 1) && ok;
            continue;
        }
        const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            continue;
        }
        static unsigned char buffer[4096];
        DWORD got = 0;
        if (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            ++filesRead;
        }
        CloseHandle(file);
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: floor_win32 DIRECTORY\n", stderr);
        return 2;
    }
    std::size_t length = std::wcslen(argv[1]);
    if (length + 2 > std::size(path)) {
        return 2;
    }
    std::wmemcpy(path, argv[1], length);
    if (length != 0 && path[length - 1] != L'\\' && path[length - 1] != L'/') {
        path[length++] = L'\\';
    }
    return walk(length) && filesRead != 0 ? 0 : 1;
}
