// POSIX side of the platform layer. Paths are the system's own bytes, so any
// file name, in any encoding, goes through the core and back unchanged.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <expat.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

const NativeChar PATH_SEPARATOR = '/';

// A backslash is an ordinary byte in a POSIX file name.
bool isTrailingSeparator(NativeChar unit) { return unit == '/'; }

namespace {

FileId idOf(const struct stat& status) {
    return FileId{static_cast<std::uint64_t>(status.st_dev),
                  static_cast<std::uint64_t>(status.st_ino), true};
}

// An empty path is the current directory.
const char* directoryOrDot(const char* path) { return path[0] == '\0' ? "." : path; }

// A listing's own state: the system's, and whether opens of its entries ask
// to leave their access times alone.
struct ListingState {
    DIR* dir;
    bool keepAccessTimes;
};

DIR* dirOf(const DirListing& listing) { return static_cast<ListingState*>(listing.system)->dir; }

EntryKind kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return EntryKind::Directory;
    }
    return S_ISREG(mode) ? EntryKind::File : EntryKind::Special;
}

// Fills `entry` from a directory entry. The kind comes from the listing
// itself; only links and entries of unknown kind cost a stat, which follows
// the link so that a link to a directory is walked as one.
void fillEntry(const DirListing& listing, const struct dirent* found, DirEntry& entry) {
    entry.name = found->d_name;
    entry.id = FileId{listing.id.volume, static_cast<std::uint64_t>(found->d_ino), true};
    entry.plain = found->d_type == DT_REG;
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
            if (fstatat(dirfd(dirOf(listing)), found->d_name, &status, 0) == 0) {
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

// Opens for reading without blocking and, with `keepAccessTime`, without
// updating the file's access time: a catalogue is no reading of a
// collection, and on a collection left untouched for a day the update would
// otherwise write every file's metadata back to the disk. Only the file's
// owner may ask so: a file of someone else's is opened again without asking.
// Non-blocking, so that a named pipe never stops the run.
int openForReading(int directory, const char* name, bool keepAccessTime, int more = 0) {
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | more;
    if (keepAccessTime) {
        const int fd = openat(directory, name, flags | O_NOATIME);
        if (fd >= 0 || errno != EPERM) {
            return fd;
        }
    }
    return openat(directory, name, flags);
}

// Takes the descriptor that an open gave, and learns from the file itself
// what it is: the name may have come to stand for a device or a pipe since
// it was listed.
bool adoptDescriptor(int fd, File& file) {
    struct stat status;
    if (fd < 0) {
        return false;
    }
    file.handle = fd;
    if (fstat(fd, &status) == 0) {
        file.id = idOf(status);
        file.isRegular = S_ISREG(status.st_mode);
    }
    return true;
}

}  // namespace

void prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free descriptor: the closed one. It is
        // opened for reading only, so that a write to it still fails as a
        // write to a closed stream does, and no row is lost unnoticed.
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDONLY) != fd) {
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

// The listing tells every entry's identity, so the directory of an own file
// is never needed: it is left unknown.
bool ownFileOfStatus(int result, const struct stat& status, OwnFile& own) {
    own = OwnFile{};
    if (result == 0 && S_ISREG(status.st_mode)) {
        own.file = idOf(status);
    }
    return result == 0;
}

bool ownFileOfPath(const NativeChar* path, OwnFile& own) {
    struct stat status;
    return ownFileOfStatus(stat(directoryOrDot(path), &status), status, own);
}

bool ownFileOfStream(std::FILE* stream, OwnFile& own) {
    struct stat status;
    return ownFileOfStatus(fstat(fileno(stream), &status), status, own);
}

bool ownFileOfRunningProgram(OwnFile& own) {
    struct stat status;
    return ownFileOfStatus(stat("/proc/self/exe", &status), status, own);
}

bool isDirectory(const NativeChar* path) {
    struct stat status;
    return stat(directoryOrDot(path), &status) == 0 && S_ISDIR(status.st_mode);
}

// Paths reach the system as built: no rule of this system changes a name.
bool adoptWalkRoot(const NativeChar* path) { return isDirectory(path); }

bool currentDirectory(NativeChar (&buffer)[PATH_CAPACITY]) {
    return getcwd(buffer, sizeof buffer) != nullptr;
}

bool openListing(const NativeChar* pattern, DirListing& listing, DirEntry& first, bool& atEnd) {
    listing = DirListing{};
    atEnd = false;
    // The directory is the pattern without its "*".
    char directory[PATH_CAPACITY];
    const std::size_t length = std::strlen(pattern) - 1;
    std::memcpy(directory, pattern, length);
    directory[length] = '\0';
    const int fd = open(directoryOrDot(directory), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) {
            const int error = errno;
            close(fd);
            errno = error;
        }
        return false;
    }
    // Files are asked to keep their access times where they are likely the
    // user's own: in the user's own directories, or everywhere for the
    // superuser. Elsewhere every such open would be refused and made again.
    struct stat status;
    const bool known = fstat(fd, &status) == 0;
    if (known) {
        listing.id = idOf(status);
    }
    listing.system = new ListingState{dir, geteuid() == 0 || (known && status.st_uid == geteuid())};
    // Every directory lists "." and "..": a listing without a first entry
    // fails as a failed open does.
    bool ended = false;
    if (!nextEntry(listing, first, ended)) {
        const int error = ended ? ENOENT : errno;
        closeListing(listing);
        errno = error;
        return false;
    }
    return true;
}

bool nextEntry(DirListing& listing, DirEntry& entry, bool& atEnd) {
    errno = 0;
    const struct dirent* found = readdir(dirOf(listing));
    if (found == nullptr) {
        // A directory removed while it is listed reads as ended.
        atEnd = errno == 0 || errno == ENOENT;
        return false;
    }
    atEnd = false;
    fillEntry(listing, found, entry);
    return true;
}

void closeListing(DirListing& listing) {
    if (listing.system != nullptr) {
        closedir(dirOf(listing));
        delete static_cast<ListingState*>(listing.system);
        listing.system = nullptr;
    }
}

// Opening by the listing's own name, inside the listed directory, spares the
// system a walk of the whole path. A name that the listing gave as a regular
// file is opened without following a link: what could stand in its place
// since the listing without a superuser's help is a link, which is then
// looked at as any link is, or a named pipe, a socket or a directory, whose
// open or reads fail. It is not asked again what it is, a call a file.
bool openEntry(const DirListing& listing, const DirEntry& entry, File& file) {
    file = File{};
    const auto& state = *static_cast<const ListingState*>(listing.system);
    if (entry.plain) {
        const int fd =
            openForReading(dirfd(state.dir), entry.name, state.keepAccessTimes, O_NOFOLLOW);
        if (fd >= 0) {
            file.handle = fd;
            file.id = entry.id;
            return true;
        }
        if (errno != ELOOP) {
            return false;
        }
    }
    return adoptDescriptor(openForReading(dirfd(state.dir), entry.name, state.keepAccessTimes),
                           file);
}

bool openPath(const NativeChar* path, File& file) {
    file = File{};
    return adoptDescriptor(openForReading(AT_FDCWD, path, true), file);
}

bool fileIdentity(File& file) { return file.id.known; }

bool readFileAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> buffer,
                std::size_t& got) {
    const int fd = static_cast<int>(file.handle);
    got = 0;
    while (got < buffer.size()) {
        const ssize_t n = pread(fd, buffer.data() + got, buffer.size() - got,
                                static_cast<off_t>(offset + got));
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool fileSize(const File& file, std::uint64_t& size) {
    struct stat status;
    if (fstat(static_cast<int>(file.handle), &status) != 0) {
        return false;
    }
    // Only a regular file has a size to read to.
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool sameSizeAndTime(const File& file, std::FILE* stream) {
    struct stat a;
    struct stat b;
    return fstat(static_cast<int>(file.handle), &a) == 0 && fstat(fileno(stream), &b) == 0 &&
           a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

void closeFile(File& file) {
    if (file.handle >= 0) {
        close(static_cast<int>(file.handle));
        file.handle = -1;
    }
}

void adviseFile(const File& file, std::uint64_t bytes) {
    // The hint starts the reads and returns without waiting for them.
    posix_fadvise(static_cast<int>(file.handle), 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
}

std::size_t openFileLimit() {
    rlimit limit{};
    return getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
               ? static_cast<std::size_t>(limit.rlim_cur)
               : SIZE_MAX;
}

namespace {

// The tail of the regular file open for writing as `fd`, which `path` names:
// it is read through a second open, since the first may not read.
FileTail tailOf(const char* path, int fd) {
    FileTail tail;
    struct stat written;
    struct stat read;
    if (fstat(fd, &written) != 0 || !S_ISREG(written.st_mode) || written.st_size == 0) {
        return tail;
    }
    const off_t length = std::min<off_t>(written.st_size, sizeof tail.bytes);
    const int reader = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (reader >= 0 && fstat(reader, &read) == 0 && read.st_dev == written.st_dev &&
        read.st_ino == written.st_ino &&
        pread(reader, tail.bytes, static_cast<std::size_t>(length), written.st_size - length) ==
            length) {
        tail.size = static_cast<std::uint64_t>(written.st_size);
        tail.length = static_cast<std::size_t>(length);
    }
    if (reader >= 0) {
        close(reader);
    }
    return tail;
}

}  // namespace

std::FILE* openOutputFile(const NativeChar* path, bool append, FileTail& tail) {
    tail = FileTail{};
    const int fd = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                  (append ? O_APPEND : O_TRUNC), 0666);
    if (fd < 0) {
        return nullptr;
    }
    // The rows then wait for a slow reader as usual.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* stream = fdopen(fd, append ? "a" : "w");
    if (stream == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    if (append) {
        tail = tailOf(path, fd);
    }
    return stream;
}

// The report takes a name's bytes as they are, in a UTF-8 report too.
bool pathBytes(const NativeChar* path, bool /*utf8*/, std::span<char, 4 * PATH_CAPACITY> out,
               std::size_t& length) {
    length = std::strlen(path);
    std::memcpy(out.data(), path, length);
    return true;
}

void putBytes(std::string_view bytes, std::FILE* stream) {
    fwrite_unlocked(bytes.data(), 1, bytes.size(), stream);
}

// A terminal takes the bytes themselves.
bool putTerminalRow(std::string_view bytes, bool /*utf8*/, std::FILE* stream) {
    putBytes(bytes, stream);
    return std::fflush(stream) == 0 && std::ferror(stream) == 0;
}

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::size_t terminalColumns(std::FILE* stream) {
    winsize size{};
    return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col != 0 ? size.ws_col : 80;
}

// The same device, or both this process's controlling terminal: /dev/tty
// is a device of its own that stands for whichever terminal that is.
bool sameTerminal(std::FILE* a, std::FILE* b) {
    struct stat first;
    struct stat second;
    return isTerminal(a) && isTerminal(b) && fstat(fileno(a), &first) == 0 &&
           fstat(fileno(b), &second) == 0 &&
           (first.st_rdev == second.st_rdev ||
            (tcgetsid(fileno(a)) != -1 && tcgetsid(fileno(b)) != -1));
}

std::uint32_t lastSystemError() { return static_cast<std::uint32_t>(errno); }

void systemErrorText(std::uint32_t code, std::span<char> text) {
    std::snprintf(text.data(), text.size(), "%s", std::strerror(static_cast<int>(code)));
}

}  // namespace platform

// Digests through OpenSSL's libcrypto: each fetched once, one context each,
// started anew after every file.
namespace platform {

namespace {

struct DigestState {
    EVP_MD* md5 = nullptr;
    EVP_MD* sha1 = nullptr;
    EVP_MD_CTX* md5Context = nullptr;
    EVP_MD_CTX* sha1Context = nullptr;
};

}  // namespace

bool openDigests(Digests& digests) {
    auto* state = new DigestState{EVP_MD_fetch(nullptr, "MD5", nullptr),
                                  EVP_MD_fetch(nullptr, "SHA1", nullptr), EVP_MD_CTX_new(),
                                  EVP_MD_CTX_new()};
    digests.system = state;
    if (state->md5 == nullptr || state->sha1 == nullptr || state->md5Context == nullptr ||
        state->sha1Context == nullptr ||
        EVP_DigestInit_ex2(state->md5Context, state->md5, nullptr) != 1 ||
        EVP_DigestInit_ex2(state->sha1Context, state->sha1, nullptr) != 1) {
        closeDigests(digests);
        return false;
    }
    return true;
}

void addToDigests(Digests& digests, std::span<const std::uint8_t> bytes) {
    auto& state = *static_cast<DigestState*>(digests.system);
    EVP_DigestUpdate(state.md5Context, bytes.data(), bytes.size());
    EVP_DigestUpdate(state.sha1Context, bytes.data(), bytes.size());
}

bool finishDigests(Digests& digests, std::uint8_t (&md5)[16], std::uint8_t (&sha1)[20]) {
    auto& state = *static_cast<DigestState*>(digests.system);
    return EVP_DigestFinal_ex(state.md5Context, md5, nullptr) == 1 &&
           EVP_DigestFinal_ex(state.sha1Context, sha1, nullptr) == 1 &&
           EVP_DigestInit_ex2(state.md5Context, nullptr, nullptr) == 1 &&
           EVP_DigestInit_ex2(state.sha1Context, nullptr, nullptr) == 1;
}

void closeDigests(Digests& digests) {
    auto* state = static_cast<DigestState*>(digests.system);
    if (state != nullptr) {
        EVP_MD_CTX_free(state->md5Context);
        EVP_MD_CTX_free(state->sha1Context);
        EVP_MD_free(state->md5);
        EVP_MD_free(state->sha1);
        delete state;
        digests.system = nullptr;
    }
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
