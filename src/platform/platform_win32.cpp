// Windows side of the platform layer. Paths are UTF-16 strings here as in
// the core, so they go to the system's wide calls unchanged.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace platform {

const bool PATH_UNITS_ARE_UTF16 = true;
const wchar_t PATH_SEPARATOR = L'\\';

// Windows takes either slash as a separator.
bool isTrailingSeparator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

namespace {

std::vector<const wchar_t*> argumentList;

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE findHandle(const DirListing& listing) { return static_cast<HANDLE>(listing.handle); }

FileId idOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information)) {
        return FileId{};
    }
    return FileId{information.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) |
                      information.nFileIndexLow,
                  true};
}

// Opens a file or directory for its attributes only: no data access, so no
// sharing mode of another opener stands in the way, and the backup flag lets
// directories be opened too. Links are followed.
FileId idOfNamedFile(const wchar_t* path) {
    const HANDLE handle = CreateFileW(path[0] == L'\0' ? L"." : path, 0, SHARE_ALL, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return FileId{};
    }
    const FileId id = idOfHandle(handle);
    CloseHandle(handle);
    return id;
}

void fillEntry(const WIN32_FIND_DATAW& found, DirEntry& entry) {
    std::size_t i = 0;
    for (; found.cFileName[i] != L'\0' && i + 1 < PATH_CAPACITY; ++i) {
        entry.name[i] = found.cFileName[i];
    }
    entry.name[i] = L'\0';
    // A link to a directory carries the directory bit and is walked as one.
    // The listing shows no devices: whatever is not a directory is taken for
    // a file, and its open tells what it is.
    entry.kind = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory
                                                                          : EntryKind::File;
    entry.id = FileId{};
}

}  // namespace

// The runtime keeps descriptors 0 to 2 for the standard streams even when
// they were closed, so no file takes their place; and no signal ends a
// process whose pipe reader has gone: the write fails and is reported.
void prepareStandardStreams() {}

bool readerGone(std::FILE* /*stream*/) { return false; }

void endAsBrokenPipe() {}

void adoptArguments(int argc, wchar_t** argv) {
    argumentList.assign(argv, argv + argc);
}

std::span<const wchar_t* const> processArguments() { return argumentList; }

bool fileIdOfPath(const wchar_t* path, FileId& id) {
    id = idOfNamedFile(path);
    return id.known;
}

bool fileIdOfStream(std::FILE* stream, FileId& id) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    id = GetFileType(handle) == FILE_TYPE_DISK ? idOfHandle(handle) : FileId{};
    return id.known;
}

bool fileIdOfRunningProgram(FileId& id) {
    // Long enough for any path the system can start a program from.
    std::vector<wchar_t> path(32768);
    const DWORD length =
        GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    id = length == 0 || length >= path.size() ? FileId{} : idOfNamedFile(path.data());
    return id.known;
}

bool isExistingDirectory(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path[0] == L'\0' ? L"." : path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool currentDirectory(wchar_t (&buffer)[PATH_CAPACITY]) {
    const DWORD length = GetCurrentDirectoryW(PATH_CAPACITY, buffer);
    if (length == 0) {
        buffer[0] = L'\0';
        return false;
    }
    // A directory that does not fit gives the size it would need instead.
    if (length > PATH_MAX_LENGTH) {
        buffer[0] = L'\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

bool openListing(const wchar_t* /*directory*/, const wchar_t* pattern, DirListing& listing,
                 DirEntry& first) {
    WIN32_FIND_DATAW found;
    const HANDLE handle =
        FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        listing.handle = nullptr;
        return false;
    }
    listing.handle = handle;
    fillEntry(found, first);
    return true;
}

bool nextEntry(DirListing& listing, DirEntry& entry, bool& atEnd) {
    WIN32_FIND_DATAW found;
    if (!FindNextFileW(findHandle(listing), &found)) {
        // ERROR_NO_MORE_FILES, or no error code at all, is the normal end of
        // a listing.
        const DWORD error = GetLastError();
        atEnd = error == ERROR_NO_MORE_FILES || error == 0;
        return false;
    }
    atEnd = false;
    fillEntry(found, entry);
    return true;
}

void closeListing(DirListing& listing) {
    if (listing.handle != nullptr) {
        FindClose(findHandle(listing));
        listing.handle = nullptr;
    }
}

bool openFile(const wchar_t* path, const DirListing* /*listing*/, const DirEntry* /*entry*/,
              bool wantId, File& file) {
    file = File{};
    int fd = -1;
    const errno_t error =
        _wsopen_s(&fd, path, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0);
    if (error != 0 || fd < 0) {
        errno = error != 0 ? error : EINVAL;
        return false;
    }
    file.handle = fd;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    // A console, printer port or pipe behind the name is never read: reading
    // one can wait for ever.
    file.isRegular = GetFileType(handle) == FILE_TYPE_DISK;
    if (wantId) {
        // The listing gives no identity; the open handle does, without a
        // second open.
        file.id = idOfHandle(handle);
    }
    return true;
}

bool readFile(const File& file, std::span<std::uint8_t> buffer, std::size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        const std::size_t want = std::min<std::size_t>(buffer.size() - got, 1u << 30);
        const int n = _read(static_cast<int>(file.handle), buffer.data() + got,
                            static_cast<unsigned>(want));
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool fileSize(const File& file, std::uint64_t& size) {
    const __int64 length = _filelengthi64(static_cast<int>(file.handle));
    if (length < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(length);
    return true;
}

bool readFileAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got) {
    got = 0;
    if (_lseeki64(static_cast<int>(file.handle), static_cast<__int64>(offset), SEEK_SET) < 0) {
        return false;
    }
    return readFile(file, buffer, got);
}

void closeFile(File& file) {
    if (file.handle >= 0) {
        _close(static_cast<int>(file.handle));
        file.handle = -1;
    }
}

std::FILE* openOutputFile(const wchar_t* path, bool append) {
    std::FILE* file = nullptr;
    // "w" and "a" alone: the runtime's default text mode stores "\n" as CR LF.
    const errno_t error = _wfopen_s(&file, path, append ? L"a" : L"w");
    if (error != 0 || file == nullptr) {
        errno = error != 0 ? error : EINVAL;
        return nullptr;
    }
    return file;
}

int putByte(int byte, std::FILE* stream) { return _fputc_nolock(byte, stream); }

bool isTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::uint32_t lastSystemError() { return GetLastError(); }

void systemErrorText(std::uint32_t code, std::span<wchar_t> text) {
    if (text.empty()) {
        return;
    }
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        // No text for this code: its number at least.
        wchar_t digits[10];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + code % 10);
            code /= 10;
        } while (code != 0);
        std::size_t i = 0;
        for (const wchar_t* p = L"System error "; *p != L'\0' && i + 1 < text.size(); ++p) {
            text[i++] = *p;
        }
        while (count != 0 && i + 1 < text.size()) {
            text[i++] = digits[--count];
        }
        text[i] = L'\0';
        return;
    }
    // Written as returned, its own line end included.
    std::size_t i = 0;
    for (; i < length && message[i] != L'\0' && i + 1 < text.size(); ++i) {
        text[i] = message[i];
    }
    text[i] = L'\0';
    LocalFree(message);
}

}  // namespace platform
