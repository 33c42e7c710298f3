// Windows side of the platform layer. Paths are UTF-16 strings here as in
// the core. A path that the walk built reaches the system in the \\?\ form:
// the typed rules (trailing dots and spaces dropped, device names such as
// "aux" or "nul.gb") would otherwise open another file than the one listed.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <bcrypt.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

const NativeChar PATH_SEPARATOR = L'\\';

// Windows takes either slash as a separator.
bool isTrailingSeparator(NativeChar unit) { return unit == L'\\' || unit == L'/'; }

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A listing's own state: the system's search, the entry it gave last, and
// the listed directory as the system's calls reach it, ending in a
// backslash, to which each entry's name is joined.
struct ListingState {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW found;
    std::wstring directory;
};

ListingState& stateOf(const DirListing& listing) {
    return *static_cast<ListingState*>(listing.system);
}

HANDLE osHandle(const File& file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(file.handle)));
}

// The longest path that the wide calls take in the \\?\ form, terminator
// included.
constexpr std::size_t SYSTEM_PATH_CAPACITY = 32768;

// A path as the system's calls get it. Its room is on the stack of the call
// that needs it: no allocation per file.
struct SystemPath {
    wchar_t units[SYSTEM_PATH_CAPACITY];
};

constexpr std::wstring_view LONG_FORM = L"\\\\?\\";
constexpr std::wstring_view LONG_UNC_FORM = L"\\\\?\\UNC\\";

// The walk's root as the user gave it, and the directory that it names made
// absolute once, in the \\?\ form and ending in a backslash. Set once, before
// any listing is open, and only read afterwards.
std::wstring rootAsGiven;
std::wstring rootForSystem;
bool rootKnown = false;

// Puts `head` then `tail` in `out`. False, with the system's error code set,
// when they do not fit.
bool joinSystemPath(std::wstring_view head, std::wstring_view tail, SystemPath& out) {
    if (head.size() + tail.size() >= SYSTEM_PATH_CAPACITY) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wmemcpy(out.units, head.data(), head.size());
    std::wmemcpy(out.units + head.size(), tail.data(), tail.size());
    out.units[head.size() + tail.size()] = L'\0';
    return true;
}

// `path` made absolute by the system's rules for typed paths, in the long
// form (\\?\C:\dir, and \\?\UNC\server\share for \\server\share). A path in
// that form already stays as it is.
bool absoluteSystemPath(const wchar_t* path, SystemPath& out) {
    const std::wstring_view given(path);
    if (given.starts_with(LONG_FORM)) {
        return joinSystemPath(given, {}, out);
    }
    // GetFullPathNameW writes behind the room that the longest prefix needs,
    // and the result then moves to just behind its prefix.
    wchar_t* const full = out.units + LONG_UNC_FORM.size();
    const auto room = static_cast<DWORD>(SYSTEM_PATH_CAPACITY - LONG_UNC_FORM.size());
    const DWORD length = GetFullPathNameW(given.empty() ? L"." : path, room, full, nullptr);
    if (length == 0) {
        return false;
    }
    if (length >= room) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wstring_view body(full, length);
    std::wstring_view prefix = LONG_FORM;
    if (body.starts_with(LONG_FORM)) {
        prefix = {};
    } else if (body.starts_with(L"\\\\.\\")) {
        // The device namespace would put the names below through the rules
        // for typed paths: they are reached in the \\?\ form instead.
        body.remove_prefix(LONG_FORM.size());
    } else if (body.starts_with(L"\\\\")) {
        prefix = LONG_UNC_FORM;
        body.remove_prefix(2);
    }
    std::wmemmove(out.units + prefix.size(), body.data(), body.size());
    std::wmemcpy(out.units, prefix.data(), prefix.size());
    out.units[prefix.size() + body.size()] = L'\0';
    return true;
}

// The path by which the system's calls reach what `walkPath` names. Below the
// walk's root every name is taken exactly as the listing gave it; any other
// path is made absolute by the system's rules for typed paths. False, with
// the system's error code set, when that fails or the result does not fit.
bool toSystemPath(const wchar_t* walkPath, SystemPath& out) {
    const std::wstring_view path(walkPath);
    // Below an empty root, the current directory, the walk builds bare
    // names: a path that starts at a drive or a separator is none of them.
    const bool rooted = path.size() >= 2 && (path[1] == L':' || isTrailingSeparator(path[0]));
    if (rootKnown && path.starts_with(rootAsGiven) && !(rootAsGiven.empty() && rooted)) {
        std::wstring_view rest = path.substr(rootAsGiven.size());
        // The walk puts a backslash after the root unless it ends in a
        // separator; the absolute root ends in one already.
        const bool joined = rootAsGiven.empty() || isTrailingSeparator(rootAsGiven.back());
        if (joined || rest.empty() || rest.front() == PATH_SEPARATOR) {
            if (!joined && !rest.empty()) {
                rest.remove_prefix(1);
            }
            return joinSystemPath(rootForSystem, rest, out);
        }
    }
    return absoluteSystemPath(walkPath, out);
}

bool directoryAt(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

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
// directories be opened too. Links are followed. The handle is closed by the
// caller.
HANDLE openForAttributes(const wchar_t* path) {
    return CreateFileW(path[0] == L'\0' ? L"." : path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

FileId idOfNamedFile(const wchar_t* path) {
    const HANDLE handle = openForAttributes(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return FileId{};
    }
    const FileId id = idOfHandle(handle);
    CloseHandle(handle);
    return id;
}

// An own file open as `handle`: a file on a disk, whose identity and the
// directory that holds it, learnt from the handle's final path, settle it;
// or none that a walk meets.
bool ownFileOfAnyHandle(HANDLE handle, OwnFile& own) {
    own = OwnFile{};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        return true;
    }
    own.file = idOfHandle(handle);
    FILE_ID_INFO information;
    if (!own.file.known &&
        GetFileInformationByHandleEx(handle, FileIdInfo, &information, sizeof information)) {
        // Some handles answer this query alone; wine's, for a standard output
        // that a Linux shell opened, then know no volume either.
        std::uint64_t index = 0;
        std::memcpy(&index, information.FileId.Identifier, sizeof index);
        own.file = FileId{information.VolumeSerialNumber, index, true,
                          information.VolumeSerialNumber == 0};
    }
    if (!own.file.known) {
        return false;
    }
    SystemPath path;
    const DWORD length = GetFinalPathNameByHandleW(handle, path.units, SYSTEM_PATH_CAPACITY,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length != 0 && length < SYSTEM_PATH_CAPACITY) {
        const std::wstring_view final(path.units, length);
        const std::size_t last = final.rfind(L'\\');
        if (last != std::wstring_view::npos) {
            // The backslash stays: a drive's root needs it.
            path.units[last + 1] = L'\0';
            own.directory = idOfNamedFile(path.units);
        }
    }
    return true;
}

void fillEntry(const WIN32_FIND_DATAW& found, DirEntry& entry) {
    entry.name = found.cFileName;
    // A link to a directory carries the directory bit and is walked as one.
    // The listing shows no devices: whatever is not a directory is taken for
    // a file, and its open tells what it is.
    entry.kind = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory
                                                                          : EntryKind::File;
}

// Opens a file at a path in the system's form, for reading.
bool openSystemPath(const SystemPath& path, File& file) {
    int fd = -1;
    const errno_t error =
        _wsopen_s(&fd, path.units, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0);
    if (error != 0 || fd < 0) {
        errno = error != 0 ? error : EINVAL;
        return false;
    }
    file.handle = fd;
    // A console, printer port or pipe behind the name is never read: reading
    // one can wait for ever.
    file.isRegular = GetFileType(osHandle(file)) == FILE_TYPE_DISK;
    return true;
}

// The errno value for a failed read's system error code.
int readErrno(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_LOCK_VIOLATION ? EACCES : EIO;
}

}  // namespace

// The runtime keeps descriptors 0 to 2 for the standard streams even when
// they were closed, so no file takes their place; and no signal ends a
// process whose pipe reader has gone: the write fails and is reported.
void prepareStandardStreams() {}

bool stdoutReaderGone() { return false; }

void endAsBrokenPipe() {}

bool ownFileOfPath(const NativeChar* path, OwnFile& own) {
    const HANDLE handle = openForAttributes(path);
    if (handle == INVALID_HANDLE_VALUE) {
        own = OwnFile{};
        return false;
    }
    const bool settled = ownFileOfAnyHandle(handle, own);
    CloseHandle(handle);
    return settled;
}

bool ownFileOfStream(std::FILE* stream, OwnFile& own) {
    return ownFileOfAnyHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), own);
}

bool ownFileOfRunningProgram(OwnFile& own) {
    SystemPath path;
    const DWORD length = GetModuleFileNameW(nullptr, path.units, SYSTEM_PATH_CAPACITY);
    if (length == 0 || length >= SYSTEM_PATH_CAPACITY) {
        own = OwnFile{};
        return false;
    }
    return ownFileOfPath(path.units, own);
}

bool adoptWalkRoot(const NativeChar* path) {
    rootAsGiven = path;
    // The prefix that the walk builds every path from: the system resolves it
    // as it always resolved the paths that started with it.
    std::wstring prefix = rootAsGiven;
    if (!prefix.empty() && !isTrailingSeparator(prefix.back())) {
        prefix += PATH_SEPARATOR;
    }
    SystemPath absolute;
    rootKnown = absoluteSystemPath(prefix.empty() ? L".\\" : prefix.c_str(), absolute);
    if (!rootKnown) {
        return false;
    }
    rootForSystem = absolute.units;
    if (rootForSystem.back() != L'\\') {
        rootForSystem += L'\\';
    }
    return directoryAt(rootForSystem.c_str());
}

bool isDirectory(const NativeChar* path) { return directoryAt(path[0] == L'\0' ? L"." : path); }

bool currentDirectory(NativeChar (&buffer)[PATH_CAPACITY]) {
    const DWORD length = GetCurrentDirectoryW(PATH_CAPACITY, buffer);
    // A directory that does not fit gives the size it would need instead.
    if (length > PATH_MAX_LENGTH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    return length != 0 && length <= PATH_MAX_LENGTH;
}

bool openListing(const NativeChar* pattern, DirListing& listing, DirEntry& first, bool& atEnd) {
    listing = DirListing{};
    atEnd = false;
    SystemPath path;
    if (!toSystemPath(pattern, path)) {
        return false;
    }
    auto state = std::make_unique<ListingState>();
    state->find = FindFirstFileExW(path.units, FindExInfoBasic, &state->found,
                                   FindExSearchNameMatch, nullptr, 0);
    const DWORD error = state->find == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    // The directory itself: the pattern without its "*".
    path.units[std::wcslen(path.units) - 1] = L'\0';
    if (state->find == INVALID_HANDLE_VALUE) {
        // A drive's root lists no "." or "..": when empty it has no first
        // entry at all, and is an empty listing all the same.
        atEnd = error == ERROR_FILE_NOT_FOUND && directoryAt(path.units);
        SetLastError(error);
        return atEnd;
    }
    state->directory = path.units;
    fillEntry(state->found, first);
    // One identity per directory tells whether the run's own files may lie
    // in it; the listing gives none for its entries.
    listing.id = idOfNamedFile(path.units);
    listing.system = state.release();
    return true;
}

bool nextEntry(DirListing& listing, DirEntry& entry, bool& atEnd) {
    ListingState& state = stateOf(listing);
    if (!FindNextFileW(state.find, &state.found)) {
        // ERROR_NO_MORE_FILES, or no error code at all, is the normal end of
        // a listing.
        const DWORD error = GetLastError();
        atEnd = error == ERROR_NO_MORE_FILES || error == 0;
        return false;
    }
    atEnd = false;
    fillEntry(state.found, entry);
    return true;
}

void closeListing(DirListing& listing) {
    if (listing.system != nullptr) {
        FindClose(stateOf(listing).find);
        delete &stateOf(listing);
        listing.system = nullptr;
    }
}

bool openEntry(const DirListing& listing, const DirEntry& entry, File& file) {
    file = File{};
    SystemPath path;
    if (!joinSystemPath(stateOf(listing).directory, entry.name, path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return openSystemPath(path, file);
}

bool openPath(const NativeChar* path, File& file) {
    file = File{};
    SystemPath systemPath;
    if (!toSystemPath(path, systemPath)) {
        errno = GetLastError() == ERROR_FILENAME_EXCED_RANGE ? ENAMETOOLONG : EINVAL;
        return false;
    }
    return openSystemPath(systemPath, file);
}

// The listing gives no identity; the open handle does, without a second
// open. The walk asks only in a directory that may hold one of the run's
// own files.
bool fileIdentity(File& file) {
    if (!file.id.known) {
        file.id = idOfHandle(osHandle(file));
    }
    return file.id.known;
}

// Each read says where it reads, so that no call moves the file's position
// first.
bool readFileAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        const std::uint64_t at = offset + got;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const auto want = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - got, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(osHandle(file), buffer.data() + got, want, &n, &where)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) {
                break;
            }
            errno = readErrno(error);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    return true;
}

// Windows takes no request to read ahead: the first read waits.
void adviseFile(const File& /*file*/, std::uint64_t /*bytes*/) {}

bool fileSize(const File& file, std::uint64_t& size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(osHandle(file), &length)) {
        errno = readErrno(GetLastError());
        return false;
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

bool sameSizeAndTime(const File& file, std::FILE* stream) {
    const auto other = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    LARGE_INTEGER sizes[2];
    FILETIME times[2];
    return GetFileSizeEx(osHandle(file), &sizes[0]) && GetFileSizeEx(other, &sizes[1]) &&
           GetFileTime(osHandle(file), nullptr, nullptr, &times[0]) &&
           GetFileTime(other, nullptr, nullptr, &times[1]) &&
           sizes[0].QuadPart == sizes[1].QuadPart &&
           CompareFileTime(&times[0], &times[1]) == 0;
}

void closeFile(File& file) {
    if (file.handle >= 0) {
        _close(static_cast<int>(file.handle));
        file.handle = -1;
    }
}

namespace {

// The tail of the file at `path`, through an open of its own for reading.
FileTail tailOf(const NativeChar* path) {
    FileTail tail;
    const HANDLE handle =
        CreateFileW(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return tail;
    }
    LARGE_INTEGER size{};
    DWORD got = 0;
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size) && size.QuadPart > 0) {
        const DWORD length =
            static_cast<DWORD>(std::min<LONGLONG>(size.QuadPart, sizeof tail.bytes));
        const auto at = static_cast<std::uint64_t>(size.QuadPart - length);
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        if (ReadFile(handle, tail.bytes, length, &got, &where) && got == length) {
            tail.size = static_cast<std::uint64_t>(size.QuadPart);
            tail.length = length;
        }
    }
    CloseHandle(handle);
    return tail;
}

}  // namespace

// The runtime's own limit on its descriptors, which every open of a file
// takes; the system's handles are not limited so.
std::size_t openFileLimit() { return 2048; }

// A named pipe here is opened as a client, which fails at once when no one
// serves it.
std::FILE* openOutputFile(const NativeChar* path, bool append, FileTail& tail) {
    tail = FileTail{};
    std::FILE* file = nullptr;
    // "w" and "a" alone: the runtime's default text mode stores "\n" as CR LF.
    const errno_t error = _wfopen_s(&file, path, append ? L"a" : L"w");
    if (error != 0 || file == nullptr) {
        errno = error != 0 ? error : EINVAL;
        return nullptr;
    }
    if (append) {
        tail = tailOf(path);
    }
    return file;
}

bool pathBytes(const NativeChar* path, bool utf8, std::span<char, 4 * PATH_CAPACITY> out,
               std::size_t& length) {
    const int units = static_cast<int>(std::wcslen(path));
    if (utf8) {
        // The system's own reading: a lone surrogate becomes U+FFFD.
        const int bytes = units == 0 ? 0
                                     : WideCharToMultiByte(CP_UTF8, 0, path, units, out.data(),
                                                           static_cast<int>(out.size()), nullptr,
                                                           nullptr);
        length = static_cast<std::size_t>(bytes);
        return bytes != 0 || units == 0;
    }
    for (int i = 0; i < units; ++i) {
        if (static_cast<std::uint32_t>(path[i]) > 0xFF) {
            errno = EILSEQ;
            return false;
        }
        out[static_cast<std::size_t>(i)] = static_cast<char>(path[i]);
    }
    length = static_cast<std::size_t>(units);
    return true;
}

// The runtime has no unlocked form of fwrite; one lock a row costs little.
void putBytes(std::string_view bytes, std::FILE* stream) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// A console takes characters: the row's bytes each the character of its
// value, or its UTF-8, with the line break as CR LF, in one write so that
// the row shows whole.
bool putTerminalRow(std::string_view bytes, bool utf8, std::FILE* stream) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    static std::wstring characters;
    const std::string_view text = bytes.substr(0, bytes.size() - 1);
    characters.assign(text.size() + 2, L'\0');
    int units = static_cast<int>(text.size());
    if (utf8 && !text.empty()) {
        // Never more units than bytes; a malformed sequence becomes U+FFFD.
        units = MultiByteToWideChar(CP_UTF8, 0, text.data(), units, characters.data(), units);
        if (units == 0) {
            return false;
        }
    } else {
        std::transform(text.begin(), text.end(), characters.begin(),
                       [](char byte) { return static_cast<wchar_t>(static_cast<unsigned char>(byte)); });
    }
    // Bytes that were UTF-8 to the report can be C1 controls as characters.
    std::replace_if(characters.begin(), characters.begin() + units,
                    [](wchar_t c) { return c >= 0x80 && c < 0xA0; }, L'?');
    characters[static_cast<std::size_t>(units++)] = L'\r';
    characters[static_cast<std::size_t>(units++)] = L'\n';
    DWORD written = 0;
    return WriteConsoleW(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))),
                         characters.data(), static_cast<DWORD>(units), &written, nullptr) != 0 &&
           written == static_cast<DWORD>(units);
}

// The runtime takes every character device for a terminal, a null device
// too; only a console answers the console's own query.
bool isTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

std::size_t terminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO information;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return GetConsoleScreenBufferInfo(handle, &information) && information.dwSize.X > 0
               ? static_cast<std::size_t>(information.dwSize.X)
               : 80;
}

// A process has one console at most.
bool sameTerminal(std::FILE* a, std::FILE* b) { return isTerminal(a) && isTerminal(b); }

std::uint32_t lastSystemError() { return GetLastError(); }

void systemErrorText(std::uint32_t code, std::span<char> text) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        // No text for this code: its number at least.
        std::snprintf(text.data(), text.size(), "System error %lu",
                      static_cast<unsigned long>(code));
        return;
    }
    // Written as returned, its own line end included; a character that no
    // byte stands for shows as '?'.
    std::size_t i = 0;
    for (; i < length && message[i] != L'\0' && i + 1 < text.size(); ++i) {
        text[i] = static_cast<std::uint32_t>(message[i]) <= 0xFF ? static_cast<char>(message[i]) : '?';
    }
    text[i] = '\0';
    LocalFree(message);
}

}  // namespace platform

// Digests through the system's cryptography (CNG): each algorithm opened
// once, one reusable hash each, which finishing starts anew.
namespace platform {

namespace {

struct DigestState {
    BCRYPT_ALG_HANDLE algorithms[2] = {};
    BCRYPT_HASH_HANDLE hashes[2] = {};
};

}  // namespace

bool openDigests(Digests& digests) {
    auto* state = new DigestState;
    digests.system = state;
    const wchar_t* const names[] = {BCRYPT_MD5_ALGORITHM, BCRYPT_SHA1_ALGORITHM};
    for (int i = 0; i < 2; ++i) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state->algorithms[i], names[i], nullptr,
                                                        BCRYPT_HASH_REUSABLE_FLAG)) ||
            !BCRYPT_SUCCESS(BCryptCreateHash(state->algorithms[i], &state->hashes[i], nullptr, 0,
                                             nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG))) {
            closeDigests(digests);
            return false;
        }
    }
    return true;
}

void addToDigests(Digests& digests, std::span<const std::uint8_t> bytes) {
    auto& state = *static_cast<DigestState*>(digests.system);
    // One call takes at most 4 GiB less one byte.
    while (!bytes.empty()) {
        const auto part = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        for (const BCRYPT_HASH_HANDLE hash : state.hashes) {
            BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()), part, 0);
        }
        bytes = bytes.subspan(part);
    }
}

bool finishDigests(Digests& digests, std::uint8_t (&md5)[16], std::uint8_t (&sha1)[20]) {
    auto& state = *static_cast<DigestState*>(digests.system);
    return BCRYPT_SUCCESS(BCryptFinishHash(state.hashes[0], md5, sizeof md5, 0)) &&
           BCRYPT_SUCCESS(BCryptFinishHash(state.hashes[1], sha1, sizeof sha1, 0));
}

void closeDigests(Digests& digests) {
    auto* state = static_cast<DigestState*>(digests.system);
    if (state != nullptr) {
        for (int i = 0; i < 2; ++i) {
            if (state->hashes[i] != nullptr) {
                BCryptDestroyHash(state->hashes[i]);
            }
            if (state->algorithms[i] != nullptr) {
                BCryptCloseAlgorithmProvider(state->algorithms[i], 0);
            }
        }
        delete state;
        digests.system = nullptr;
    }
}

}  // namespace platform

// XML through XmlLite, which every Windows has since Vista. mingw-w64 has no
// import library for it: it is loaded at run time, from the system's folder
// only. Its default refuses any DOCTYPE, so the DTD is parsed; but no
// resolver is set, and with none nothing outside the document is fetched.
namespace platform {

namespace {

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateXmlReaderFunction xmlReaderMaker() {
    // Loaded once; the library stays for the rest of the process.
    static const CreateXmlReaderFunction make = [] {
        const HMODULE module =
            LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        // Through a plain function pointer, which GCC lets any function
        // pointer become without a warning.
        return module == nullptr ? nullptr
                                 : reinterpret_cast<CreateXmlReaderFunction>(
                                       reinterpret_cast<void (*)()>(
                                           GetProcAddress(module, "CreateXmlReader")));
    }();
    return make;
}

// XmlLite's errors in expat's words where both have one; others by number.
struct XmlErrorText {
    std::uint32_t code;
    const char* text;
};
// clang-format off
constexpr XmlErrorText XML_ERROR_TEXTS[] = {
    {MX_E_INPUTEND,           "unexpected end of input"},
    {static_cast<std::uint32_t>(E_NOTIMPL),
                              "not supported by the system's XML reader"},
    {MX_E_ENCODING,           "unknown encoding"},
    {WC_E_ENCNAME,            "unknown encoding"},
    {WC_E_WHITESPACE,         "white space expected"},
    {WC_E_SEMICOLON,          "';' expected"},
    {WC_E_GREATERTHAN,        "'>' expected"},
    {WC_E_QUOTE,              "quote expected"},
    {WC_E_EQUAL,              "'=' expected"},
    {WC_E_LESSTHAN,           "'<' in an attribute value"},
    {WC_E_XMLCHARACTER,       "not well-formed (invalid token)"},
    {WC_E_NAMECHARACTER,      "not well-formed (invalid token)"},
    {WC_E_SYNTAX,             "syntax error"},
    {WC_E_ROOTELEMENT,        "junk after document element"},
    {WC_E_ELEMENTMATCH,       "mismatched tag"},
    {WC_E_UNIQUEATTRIBUTE,    "duplicate attribute"},
    {WC_E_UNDECLAREDENTITY,   "undefined entity"},
    {WC_E_NORECURSION,        "recursive entity reference"},
    {SC_E_MAXELEMENTDEPTH,    "elements nested too deeply"},
    {SC_E_MAXENTITYEXPANSION, "entities expand too far"},
};
// clang-format on
const HRESULT INPUT_ENDS = static_cast<HRESULT>(static_cast<std::uint32_t>(MX_E_INPUTEND));

void setXmlProblem(XmlProblem& problem, std::uint64_t line, HRESULT result) {
    const auto code = static_cast<std::uint32_t>(result);
    for (const auto& entry : XML_ERROR_TEXTS) {
        if (entry.code == code) {
            platform::setXmlProblem(problem, line, entry.text);
            return;
        }
    }
    problem.line = line;
    std::snprintf(problem.what, sizeof problem.what, "XML error 0x%08X", code);
}

// What each element's texts become: their UTF-8 one after another, where
// each ends, and the attributes as views of them.
struct XmlLiteTexts {
    std::string utf8;
    std::vector<std::size_t> ends;
    std::vector<XmlAttribute> attributes;
};

void appendUtf8(XmlLiteTexts& texts, const wchar_t* text, UINT length) {
    const int units = static_cast<int>(length);
    const int need = length == 0 ? 0
                                 : WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0,
                                                       nullptr, nullptr);
    const std::size_t at = texts.utf8.size();
    texts.utf8.resize(at + static_cast<std::size_t>(need));
    if (need > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, units, texts.utf8.data() + at, need, nullptr,
                            nullptr);
    }
    texts.ends.push_back(texts.utf8.size());
}

// Gives the element that `reader` stands on, on line `line`, to `events`;
// `empty` tells that it has no end tag, `stopped` that its start callback
// returned false. The reader's failure, or S_OK.
HRESULT giveElement(IXmlReader* reader, UINT line, bool empty, const XmlEvents& events,
                    XmlLiteTexts& texts, bool& stopped) {
    texts.utf8.clear();
    texts.ends.clear();
    const wchar_t* text = nullptr;
    UINT length = 0;
    HRESULT result = reader->GetQualifiedName(&text, &length);
    if (FAILED(result)) {
        return result;
    }
    appendUtf8(texts, text, length);
    for (result = reader->MoveToFirstAttribute(); result == S_OK;
         result = reader->MoveToNextAttribute()) {
        if (FAILED(result = reader->GetQualifiedName(&text, &length))) {
            return result;
        }
        appendUtf8(texts, text, length);
        if (FAILED(result = reader->GetValue(&text, &length))) {
            return result;
        }
        appendUtf8(texts, text, length);
    }
    if (FAILED(result)) {
        return result;
    }
    const std::string_view all(texts.utf8);
    texts.attributes.clear();
    for (std::size_t i = 1; i + 1 < texts.ends.size(); i += 2) {
        texts.attributes.push_back(
            {all.substr(texts.ends[i - 1], texts.ends[i] - texts.ends[i - 1]),
             all.substr(texts.ends[i], texts.ends[i + 1] - texts.ends[i])});
    }
    stopped = !events.start(events.context, line, all.substr(0, texts.ends[0]), texts.attributes);
    if (!stopped && empty) {
        events.end(events.context);
    }
    return S_OK;
}

}  // namespace

bool parseXml(std::span<const std::uint8_t> bytes, const XmlEvents& events, XmlProblem& problem) {
    const CreateXmlReaderFunction make = xmlReaderMaker();
    if (make == nullptr) {
        setXmlProblem(problem, 0, "XmlLite cannot be loaded");
        return false;
    }
    if (bytes.size() > 0xFFFFFFFFu) {
        setXmlProblem(problem, 0, "too large for XmlLite");
        return false;
    }
    // The stream holds a copy of the bytes.
    IStream* stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    IXmlReader* reader = nullptr;
    HRESULT result = stream == nullptr ? E_OUTOFMEMORY
                                       : make(__uuidof(IXmlReader),
                                              reinterpret_cast<void**>(&reader), nullptr);
    if (SUCCEEDED(result)) {
        result = reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
    }
    if (SUCCEEDED(result)) {
        // No resolver: external entities, the DTD among them, stay unread.
        result = reader->SetProperty(XmlReaderProperty_XmlResolver, 0);
    }
    if (SUCCEEDED(result)) {
        result = reader->SetInput(stream);
    }
    XmlLiteTexts texts;
    bool stopped = false;
    XmlNodeType type = XmlNodeType_None;
    XmlNodeType lastType = XmlNodeType_None;
    std::pair<UINT, UINT> last{0, 0};                // line and column of the last node
    std::vector<std::pair<UINT, UINT>> openElements;  // where each open element begins
    bool rootSeen = false;
    while (SUCCEEDED(result) && !stopped && (result = reader->Read(&type)) == S_OK) {
        std::pair<UINT, UINT> at{0, 0};
        reader->GetLineNumber(&at.first);
        reader->GetLinePosition(&at.second);
        // Wine's reader meets the end of a document cut short by giving the
        // same node again and again, or by closing the open elements itself,
        // each end placed at its start. In a document no node follows one
        // of its kind at the same place, and no end tag stands where its
        // start does: both are the end of input.
        const bool again = type == lastType && at == last;
        lastType = type;
        last = at;
        if (again) {
            result = INPUT_ENDS;
        } else if (type == XmlNodeType_Element) {
            // Asked before the reader moves to the attributes.
            const bool empty = reader->IsEmptyElement() != FALSE;
            if (!empty) {
                openElements.push_back(at);
            }
            rootSeen = true;
            result = giveElement(reader, at.first, empty, events, texts, stopped);
        } else if (type == XmlNodeType_EndElement) {
            if (openElements.empty() || openElements.back() == at) {
                result = INPUT_ENDS;
            } else {
                openElements.pop_back();
                events.end(events.context);
            }
        }
    }
    // Read gives S_FALSE at the end of the document, which ends its root.
    if (result == S_FALSE && (!openElements.empty() || !rootSeen)) {
        result = INPUT_ENDS;
    }
    if (FAILED(result)) {
        UINT line = 0;
        if (reader != nullptr) {
            reader->GetLineNumber(&line);
        }
        // Past the last node the reader may know no line at all; the last
        // node's own line is the nearest it gave, and no text has a line 0.
        setXmlProblem(problem, std::max({line, last.first, UINT{1}}), result);
    }
    if (reader != nullptr) {
        reader->Release();
    }
    if (stream != nullptr) {
        stream->Release();
    }
    return SUCCEEDED(result) && !stopped;
}

}  // namespace platform
