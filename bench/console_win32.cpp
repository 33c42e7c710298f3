// What rows cost a console, whatever writes them: the lines of a file written
// to the console of standard output in one WriteConsoleW each, as the tool
// writes its rows there, or with "-whole" in one call for them all. Each byte
// becomes the character of its value and each line break CR LF, as in the
// tool. It prints the seconds the writes took to standard error.
//
// Usage: console_win32 FILE [-whole]
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

char bytes[4 << 20];
wchar_t characters[2 * sizeof bytes];

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool whole = argc == 3 && std::wcscmp(argv[2], L"-whole") == 0;
    if (argc != 2 && !whole) {
        std::fputs("usage: console_win32 FILE [-whole]\n", stderr);
        return 2;
    }
    std::FILE* file = _wfopen(argv[1], L"rb");
    if (file == nullptr) {
        std::fputs("console_win32: cannot open the file\n", stderr);
        return 1;
    }
    const std::size_t size = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);

    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::size_t units = 0;
    bool ok = true;
    for (std::size_t i = 0; i < size && ok; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r') {
            continue;
        }
        if (byte == '\n') {
            characters[units++] = L'\r';
        }
        characters[units++] = byte;
        if (byte == '\n' && !whole) {
            DWORD written = 0;
            ok = WriteConsoleW(console, characters, static_cast<DWORD>(units), &written, nullptr);
            units = 0;
        }
    }
    if (ok && units != 0) {
        DWORD written = 0;
        ok = WriteConsoleW(console, characters, static_cast<DWORD>(units), &written, nullptr);
    }
    QueryPerformanceCounter(&end);
    if (!ok) {
        std::fputs("console_win32: standard output is no console\n", stderr);
        return 1;
    }
    std::fprintf(stderr, "%.3f\n",
                 static_cast<double>(end.QuadPart - start.QuadPart) /
                     static_cast<double>(frequency.QuadPart));
    return 0;
}
