// POSIX side of the platform layer. Paths are wide strings in the core; here
// each unit is the byte of the same value, so that any file name, in any
// encoding, goes through the core and back unchanged. Directories are listed
// with Linux's getdents64.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {

const bool PATH_UNITS_ARE_UTF16 = false;
const wchar_t PATH_SEPARATOR = L'/';

// A backslash is an ordinary byte in a POSIX file name.
bool isTrailingSeparator(wchar_t unit) { return unit == L'/'; }

namespace {

std::vector<std::vector<wchar_t>> argumentStore;
std::vector<const wchar_t*> argumentList;

// A narrowed path: the core's paths hold at most 259 units, each one byte.
struct NativePath {
    char bytes[PATH_CAPACITY];
};

// Narrows a core path for a system call. False, with errno set, when it does
// not fit; units above 0xFF cannot come from this system and are refused.
bool toNative(const wchar_t* path, NativePath& native) {
    std::size_t i = 0;
    for (; path[i] != L'\0'; ++i) {
        const auto unit = static_cast<std::uint32_t>(path[i]);
        if (i + 1 >= PATH_CAPACITY) {
            errno = ENAMETOOLONG;
            return false;
        }
        if (unit > 0xFF) {
            errno = EILSEQ;
            return false;
        }
        native.bytes[i] = static_cast<char>(unit);
    }
    native.bytes[i] = '\0';
    return true;
}

// An empty path is the current directory.
const char* directoryOrDot(const NativePath& native) {
    return native.bytes[0] == '\0' ? "." : native.bytes;
}

// Gives the name's length.
std::size_t widenName(const char* name, wchar_t (&out)[PATH_CAPACITY]) {
    // Measured first, so that the copy is a loop the compiler widens.
    const std::size_t length = std::min(std::strlen(name), PATH_MAX_LENGTH);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    out[length] = L'\0';
    return length;
}

FileId idOf(const struct stat& status) {
    return FileId{static_cast<std::uint64_t>(status.st_dev),
                  static_cast<std::uint64_t>(status.st_ino), true};
}

// A listing reads entries in blocks into a buffer of its own. The buffers are
// static, one for each listing open at once, so that a walk allocates nothing
// however many directories it lists (opendir would allocate one for each);
// the pages of a buffer are touched only when a walk reaches its depth.
constexpr std::size_t LISTING_BLOCK = 32 * 1024;
// Each level of a walk adds a name and a separator to a path that holds at
// most PATH_MAX_LENGTH units, and the walk's look-ahead lists the same
// directories beside it: no more listings than this are open at once.
constexpr std::size_t MAX_LISTINGS = 2 * (PATH_CAPACITY / 2 + 2);

struct ListingState {
    int fd;
    bool inUse;
    std::size_t next;    // offset of the next entry in `block`
    std::size_t filled;  // bytes that the last read put in `block`
    alignas(struct dirent64) char block[LISTING_BLOCK];
};

ListingState listingStates[MAX_LISTINGS];
// Guards `inUse`: the walk and its look-ahead list from two threads.
std::mutex listingStatesLock;

// Null when every state is in use.
ListingState* claimListingState() {
    const std::lock_guard<std::mutex> hold(listingStatesLock);
    for (ListingState& candidate : listingStates) {
        if (!candidate.inUse) {
            candidate.inUse = true;
            return &candidate;
        }
    }
    return nullptr;
}

void releaseListingState(ListingState& state) {
    const std::lock_guard<std::mutex> hold(listingStatesLock);
    state.inUse = false;
}

ListingState& stateOf(const DirListing& listing) {
    return *static_cast<ListingState*>(listing.handle);
}

EntryKind kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return EntryKind::Directory;
    }
    return S_ISREG(mode) ? EntryKind::File : EntryKind::Special;
}

// Fills `entry` from a directory entry. The kind comes from the listing
// itself; only links and entries of unknown kind cost a stat, which follows
// the link so that a link to a directory is walked as one.
void fillEntry(const DirListing& listing, const struct dirent64* found, DirEntry& entry) {
    entry.nameBytes = {found->d_name, widenName(found->d_name, entry.name)};
    entry.id = FileId{listing.volume, static_cast<std::uint64_t>(found->d_ino), true};
    switch (found->d_type) {
        case DT_REG:
            entry.kind = EntryKind::File;
            break;
        case DT_DIR:
            entry.kind = EntryKind::Directory;
            break;
        case DT_LNK:
        case DT_UNKNOWN: {
            struct stat status;
            if (fstatat(stateOf(listing).fd, found->d_name, &status, 0) == 0) {
                entry.kind = kindOf(status.st_mode);
                entry.id = idOf(status);
            } else {
                // A dangling link: its open then reports why.
                entry.kind = EntryKind::Unknown;
                entry.id = FileId{};
            }
            break;
        }
        default:
            entry.kind = EntryKind::Special;
            break;
    }
}

bool readNext(DirListing& listing, DirEntry& entry, bool& atEnd) {
    ListingState& state = stateOf(listing);
    if (state.next >= state.filled) {
        const ssize_t got = getdents64(state.fd, state.block, sizeof state.block);
        if (got <= 0) {
            // A directory removed while it is listed reads as ended.
            atEnd = got == 0 || errno == ENOENT;
            return false;
        }
        state.filled = static_cast<std::size_t>(got);
        state.next = 0;
    }
    const auto* found = reinterpret_cast<const struct dirent64*>(state.block + state.next);
    state.next += found->d_reclen;
    atEnd = false;
    fillEntry(listing, found, entry);
    return true;
}

}  // namespace

void prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free descriptor: the closed one.
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) {
            break;
        }
    }
    signal(SIGPIPE, SIG_IGN);
}

bool stdoutReaderGone() {
    pollfd target{STDOUT_FILENO, POLLOUT, 0};
    return poll(&target, 1, 0) == 1 && (target.revents & POLLERR) != 0;
}

void endAsBrokenPipe() {
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
}

void adoptArguments(int argc, char** argv) {
    argumentStore.clear();
    argumentList.clear();
    for (int i = 0; i < argc; ++i) {
        std::vector<wchar_t> wide;
        for (const char* p = argv[i]; *p != '\0'; ++p) {
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        }
        wide.push_back(L'\0');
        argumentStore.push_back(std::move(wide));
    }
    for (const auto& wide : argumentStore) {
        argumentList.push_back(wide.data());
    }
}

std::span<const wchar_t* const> processArguments() { return argumentList; }

// The listing tells every entry's identity, so the directory of an own file
// is never needed: it is left unknown.
bool ownFileOfPath(const wchar_t* path, OwnFile& own) {
    own = OwnFile{};
    NativePath native;
    struct stat status;
    if (!toNative(path, native) || stat(directoryOrDot(native), &status) != 0) {
        return false;
    }
    own.file = idOf(status);
    return true;
}

bool ownFileOfStream(std::FILE* stream, OwnFile& own) {
    own = OwnFile{};
    struct stat status;
    if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    own.file = idOf(status);
    return true;
}

bool ownFileOfRunningProgram(OwnFile& own) {
    own = OwnFile{};
    struct stat status;
    if (stat("/proc/self/exe", &status) != 0) {
        return false;
    }
    own.file = idOf(status);
    return true;
}

// Paths reach the system as built: no rule of this system changes a name.
bool adoptWalkRoot(const wchar_t* path) {
    NativePath native;
    struct stat status;
    return toNative(path, native) && stat(directoryOrDot(native), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

bool currentDirectory(wchar_t (&buffer)[PATH_CAPACITY]) {
    char bytes[PATH_CAPACITY];
    if (getcwd(bytes, sizeof bytes) == nullptr) {
        return false;
    }
    widenName(bytes, buffer);
    return true;
}

bool openListing(const wchar_t* directory, const wchar_t* /*pattern*/, DirListing& listing,
                 DirEntry& first, bool& atEnd) {
    // Every directory lists "." and "..": a listing without a first entry
    // fails.
    atEnd = false;
    NativePath native;
    if (!toNative(directory, native)) {
        return false;
    }
    ListingState* state = claimListingState();
    if (state == nullptr) {
        errno = EMFILE;
        return false;
    }
    const int fd = open(directoryOrDot(native), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        releaseListingState(*state);
        return false;
    }
    state->fd = fd;
    state->next = 0;
    state->filled = 0;
    listing.handle = state;
    struct stat status;
    listing.volume = fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_dev) : 0;
    bool ended = false;
    if (!readNext(listing, first, ended)) {
        // A listing with no entry at all fails as a failed open does.
        const int error = ended ? ENOENT : errno;
        closeListing(listing);
        errno = error;
        return false;
    }
    return true;
}

bool nextEntry(DirListing& listing, DirEntry& entry, bool& atEnd) {
    return readNext(listing, entry, atEnd);
}

void closeListing(DirListing& listing) {
    if (listing.handle != nullptr) {
        ListingState& state = stateOf(listing);
        close(state.fd);
        releaseListingState(state);
        listing.handle = nullptr;
    }
}

namespace {

// Whether opens still ask to leave access times alone: until the first file
// that is not the user's own refuses it, after which no open asks again.
bool keepAccessTimes = true;

// Opens for reading without blocking and, where the system allows it,
// without updating the file's access time: a catalogue is no reading of a
// collection, and on a collection left untouched for a day the update would
// otherwise write every file's metadata back to the disk.
int openForReading(int directory, const char* name) {
    // Non-blocking, so that a file that turns into a named pipe after it was
    // listed gives a short read instead of stopping the run.
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (keepAccessTimes) {
        const int fd = openat(directory, name, flags | O_NOATIME);
        // Only the file's owner may ask so.
        if (fd >= 0 || errno != EPERM) {
            return fd;
        }
        keepAccessTimes = false;
    }
    return openat(directory, name, flags);
}

}  // namespace

bool openFile(const wchar_t* path, const DirListing* listing, const DirEntry* entry,
              bool /*wantId*/, File& file) {
    file = File{};
    int fd = -1;
    if (listing != nullptr && listing->handle != nullptr && entry != nullptr) {
        // Opening by the listing's own bytes of the name, inside the listed
        // directory, spares a conversion and the kernel a walk of the path.
        fd = openForReading(stateOf(*listing).fd, entry->nameBytes.data());
        // The listing's identity costs nothing more.
        file.id = entry->id;
    } else {
        NativePath native;
        if (!toNative(path, native)) {
            return false;
        }
        fd = openForReading(AT_FDCWD, native.bytes);
    }
    if (fd < 0) {
        return false;
    }
    file.handle = fd;
    return true;
}

namespace {

// The first read of a file whose cache is looked at: one that declines to
// wait for the device, so that the look costs no call of its own. Gives the
// count of bytes read: none when they were not in memory, or when the system
// cannot tell.
std::size_t readLooking(const File& file, const std::uint64_t* offset,
                        std::span<std::uint8_t> buffer) {
    file.lookAtCache = false;
    const int saved = errno;
    iovec part{buffer.data(), buffer.size()};
    // An offset of -1 reads from the file's position and moves it, as read does.
    const ssize_t n = preadv2(static_cast<int>(file.handle), &part, 1,
                              offset == nullptr ? -1 : static_cast<off_t>(*offset), RWF_NOWAIT);
    if (n >= 0) {
        file.cache = CacheState::Cached;
        return static_cast<std::size_t>(n);
    }
    // Not every file system takes the flag: the usual read then tells why,
    // or reads.
    if (errno == EAGAIN) {
        file.cache = CacheState::NotCached;
    }
    errno = saved;
    return 0;
}

// Reads until `buffer` is full or the file ends: on from where the last read
// left off, or from `offset` when one is given.
bool readFully(const File& file, const std::uint64_t* offset, std::span<std::uint8_t> buffer,
               std::size_t& got) {
    got = 0;
    bool timed = false;
    std::chrono::steady_clock::time_point readStart;
    if (file.lookAtCache && !buffer.empty()) {
        // The rest, if any, is read as usual, and timed where the flag was
        // refused.
        got = readLooking(file, offset, buffer);
        timed = file.cache == CacheState::Unknown;
        readStart = std::chrono::steady_clock::now();
    }
    while (got < buffer.size()) {
        const int fd = static_cast<int>(file.handle);
        const ssize_t n =
            offset == nullptr
                ? read(fd, buffer.data() + got, buffer.size() - got)
                : pread(fd, buffer.data() + got, buffer.size() - got,
                        static_cast<off_t>(*offset + got));
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return false;
        }
    }
    if (timed) {
        file.cache = cacheStateByTime(readStart);
    }
    return true;
}

}  // namespace

bool readFile(const File& file, std::span<std::uint8_t> buffer, std::size_t& got) {
    return readFully(file, nullptr, buffer, got);
}

bool fileSize(const File& file, std::uint64_t& size) {
    struct stat status;
    if (fstat(static_cast<int>(file.handle), &status) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool readFileAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got) {
    return readFully(file, &offset, buffer, got);
}

void closeFile(File& file) {
    if (file.handle >= 0) {
        close(static_cast<int>(file.handle));
        file.handle = -1;
    }
}


const bool READ_AHEAD_WAITS = false;

void readAhead(const wchar_t* path, std::span<std::uint8_t> scratch) {
    NativePath native;
    if (!toNative(path, native)) {
        return;
    }
    const int fd = open(native.bytes, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        // The hint starts the reads and returns without waiting for them.
        posix_fadvise(fd, 0, static_cast<off_t>(scratch.size()), POSIX_FADV_WILLNEED);
        close(fd);
    }
}

std::FILE* openOutputFile(const wchar_t* path, bool append) {
    NativePath native;
    if (!toNative(path, native)) {
        return nullptr;
    }
    return std::fopen(native.bytes, append ? "a" : "w");
}

void putBytes(const char* bytes, std::size_t count, std::FILE* stream) {
    fwrite_unlocked(bytes, 1, count, stream);
}

// A terminal takes the bytes themselves.
bool putTerminalRow(const char* bytes, std::size_t count, bool /*utf8*/, std::FILE* stream) {
    fwrite_unlocked(bytes, 1, count, stream);
    return std::fflush(stream) == 0 && std::ferror(stream) == 0;
}

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::uint32_t lastSystemError() { return static_cast<std::uint32_t>(errno); }

void systemErrorText(std::uint32_t code, std::span<wchar_t> text) {
    if (text.empty()) {
        return;
    }
    const char* message = std::strerror(static_cast<int>(code));
    std::size_t i = 0;
    for (; message[i] != '\0' && i + 1 < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(message[i]));
    }
    text[i] = L'\0';
}

}  // namespace platform

// XML through expat. No handler for external entities is set, and parameter
// entities are not parsed: the DTD that a DAT's DOCTYPE names, or any other
// entity outside the document, is never fetched.
namespace platform {

namespace {

struct ExpatRun {
    XML_Parser parser;
    const XmlEvents& events;
    std::vector<XmlAttribute> attributes;
};

void XMLCALL startElement(void* data, const XML_Char* name, const XML_Char** pairs) {
    auto& run = *static_cast<ExpatRun*>(data);
    run.attributes.clear();
    for (; pairs[0] != nullptr; pairs += 2) {
        run.attributes.push_back({pairs[0], pairs[1]});
    }
    const std::uint64_t line = XML_GetCurrentLineNumber(run.parser);
    if (!run.events.start(run.events.context, line, name, run.attributes)) {
        XML_StopParser(run.parser, XML_FALSE);
    }
}

void XMLCALL endElement(void* data, const XML_Char* /*name*/) {
    const auto& run = *static_cast<ExpatRun*>(data);
    run.events.end(run.events.context);
}

void setXmlProblem(XmlProblem& problem, std::uint64_t line, const char* what) {
    const std::size_t length = std::min(std::strlen(what), sizeof problem.what - 1);
    problem.line = line;
    std::memcpy(problem.what, what, length);
    problem.what[length] = '\0';
}

}  // namespace

bool parseXml(std::span<const std::uint8_t> bytes, const XmlEvents& events, XmlProblem& problem) {
    ExpatRun run{XML_ParserCreate(nullptr), events, {}};
    if (run.parser == nullptr) {
        setXmlProblem(problem, 0, "out of memory");
        return false;
    }
    XML_SetUserData(run.parser, &run);
    XML_SetElementHandler(run.parser, startElement, endElement);
    // Expat takes at most INT_MAX bytes a call.
    constexpr std::size_t PIECE = 1 << 30;
    std::size_t offset = 0;
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t length = std::min(PIECE, bytes.size() - offset);
        const bool last = offset + length == bytes.size();
        status = XML_Parse(run.parser, reinterpret_cast<const char*>(bytes.data() + offset),
                           static_cast<int>(length), last);
        offset += length;
    } while (status == XML_STATUS_OK && offset < bytes.size());
    const XML_Error error = XML_GetErrorCode(run.parser);
    if (status != XML_STATUS_OK && error != XML_ERROR_ABORTED) {
        setXmlProblem(problem, XML_GetCurrentLineNumber(run.parser), XML_ErrorString(error));
    }
    XML_ParserFree(run.parser);
    return status == XML_STATUS_OK;
}

}  // namespace platform
